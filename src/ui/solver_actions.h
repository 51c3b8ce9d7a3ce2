#pragma once

namespace dravo2 {
inline namespace ui {

class AppWindow;

// The "Sweep" > "Solver" choice of how each sweep step relaxes: "Gradient descent" (checked at
// start) or "Newton (fast)". A choice takes effect at the next step, like any other edit between
// ticks, and stays through Start and Reverse.
void InstallSolverActions(AppWindow& window);

} // namespace ui
} // namespace dravo2
