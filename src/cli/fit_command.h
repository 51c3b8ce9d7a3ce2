#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace dravo2 {
inline namespace cli {

// Runs the headless fit command on `args` (without the program name): fits the free parameters
// to the measured loop in FILE and writes the parameter set after the fit as KEY=VALUE lines to
// `out`, the progress (when `progress`) and a summary to `err`. The search stops once
// `interrupted` returns true; the best result so far is still written (exit status 130). A
// `threadLimit` (the cores the process may use; 0 for none) lowers --threads beyond it, with a note.
// Returns the exit status (cli_common.h).
int RunFitCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool progress,
                  const std::function<bool()>& interrupted, char separator = '.', unsigned threadLimit = 0);

} // namespace cli
} // namespace dravo2
