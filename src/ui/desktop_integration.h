#pragma once

#include <QString>

namespace dravo2 {
inline namespace ui {

class AppWindow;

// The text of "Help" > "About Dravo2": the version, the licence and the libraries the program
// uses with their licences (rich text).
QString AboutText();

// The window's icon from the program's resources, and "Help" > "About Dravo2".
void InstallAboutActions(AppWindow& window);

} // namespace ui
} // namespace dravo2
