#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace dravo2 {

// Exit statuses of the headless sweep command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitStepError = 1; // a floating-point error during a step
inline constexpr int kExitBadInput = 2;  // a bad argument or value

// Runs the headless sweep command on `args` (without the program name): Start with the given
// parameters, then one reversed branch per --reverse, and writes the result file; or, with
// --read, loads a measured file as the window would and prints its rows. `progress` says whether
// to draw a progress bar on `err`; `separator` is the regional decimal separator. Returns the
// exit status.
int RunSweepCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool progress,
                    char separator = '.');

} // namespace dravo2
