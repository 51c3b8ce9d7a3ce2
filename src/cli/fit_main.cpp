#include "cli/cli_common.h"
#include "cli/fit_command.h"

#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
    dravo2::PrepareCommandProcess();
    // The "C" locale is kept, as in the sweep command: numbers read and print with a full stop, so
    // that the KEY=VALUE output feeds the sweep command on any system.
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return dravo2::RunFitCommand(args, dravo2::StandardOutput(), std::cerr, ::isatty(STDERR_FILENO) == 1,
                                 dravo2::InterruptRequested, '.', dravo2::UsableCores());
}
