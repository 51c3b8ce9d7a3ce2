#pragma once

#include <atomic>
#include <iosfwd>
#include <string>
#include <vector>

namespace dravo2 {

inline constexpr int kExitInterrupted = 130; // stopped by Ctrl-C; the best result so far is written

// Runs the headless fit command on `args` (without the program name): fits the free parameters
// to the measured loop in FILE and writes the parameter set after the fit as KEY=VALUE lines to
// `out`, the progress (when `progress`) and a summary to `err`. Setting `interrupt` stops the
// search; the best result so far is still written. Returns the exit status.
int RunFitCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool progress,
                  const std::atomic<bool>& interrupt, char separator = '.');

} // namespace dravo2
