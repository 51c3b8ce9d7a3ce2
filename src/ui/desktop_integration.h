#pragma once

#include <QString>

namespace dravo2 {

class AppWindow;

// The text of "Help" > "About Dravo2": the version, the licence and the libraries the program
// uses with their licences (rich text).
QString AboutText();

// The window's icon from the program's resources, and "Help" > "About Dravo2".
void InstallAboutActions(AppWindow& window);

} // namespace dravo2
