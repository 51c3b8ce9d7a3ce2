#pragma once

#include <QString>

namespace dravo2 {
inline namespace ui {

class AppWindow;

// What the window computes and shows, as rich text: the energy per unit area with each term and
// its sign, the units of every field, the noise kick, each button and option, and the formats of
// the result file and of a measured curve.
QString ModelHelpText();

// "Help" > "The model": a window of its own that does not block the panel.
void InstallModelHelp(AppWindow& window);

} // namespace ui
} // namespace dravo2
