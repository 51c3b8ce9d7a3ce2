#pragma once

#include "cli/cli_common.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace dravo2 {

// Runs the headless sweep command on `args` (without the program name): Start with the given
// parameters, then one reversed branch per --reverse, and writes the result file; or, with
// --read, loads a measured file as the window would and prints its rows. `progress` says whether
// to draw a progress bar on `err`; `separator` is the decimal separator of the numbers (the
// command itself always uses the full stop). A sweep stops early when InterruptRequested().
// Returns the exit status (see cli_common.h).
int RunSweepCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool progress,
                    char separator = '.');

} // namespace dravo2
