#include "cli/cli_common.h"
#include "cli/scan_command.h"

#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
    dravo2::PrepareCommandProcess();
    // The "C" locale is kept: numbers are read and written with a full stop everywhere.
    std::ios::sync_with_stdio(false);
    dravo2::ScanEnvironment environment;
    environment.Progress = ::isatty(STDERR_FILENO) == 1;
    environment.Threads = dravo2::UsableCores();
    environment.ThreadLimit = environment.Threads;
    environment.Interrupted = dravo2::InterruptRequested;
    environment.Plot = dravo2::DrawScanMap;
    environment.PlotTypes = {"png", "svg", "pdf"};
    const std::vector<std::string> args(argv + 1, argv + argc);
    return dravo2::RunScanCommand(args, dravo2::StandardOutput(), std::cerr, environment);
}
