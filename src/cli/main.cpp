#include "cli/cli_common.h"
#include "cli/sweep_command.h"

#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
    dravo2::PrepareCommandProcess();
    // The process keeps the "C" locale (setlocale is never called): the command reads and writes
    // numbers with a full stop whatever the user's locale, so a script gives the same result
    // everywhere.
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return dravo2::RunSweepCommand(args, dravo2::StandardOutput(), std::cerr, ::isatty(STDERR_FILENO) == 1);
}
