#pragma once

#include "cli/sweep_command.h"

#include <sstream>
#include <string>
#include <vector>

namespace dravo2::testing {

// What a command gave back: its exit status and everything it wrote on each stream.
struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs `command(out, err)` on two string streams.
template <typename Command> Outcome Capture(Command command) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = command(out, err);
    return {status, out.str(), err.str()};
}

// dravo2-sweep with `args`, no progress bar.
inline Outcome RunCommand(const std::vector<std::string>& args) {
    return Capture([&](std::ostream& out, std::ostream& err) { return RunSweepCommand(args, out, err, false); });
}

} // namespace dravo2::testing
