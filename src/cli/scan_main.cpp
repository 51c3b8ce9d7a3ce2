#include "cli/cli_common.h"
#include "cli/scan_command.h"
#include "cli/scan_plot.h"

#include <iostream>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace {

// The cores this process may run on (a Slurm task's allocation, taskset), else all of them.
unsigned UsableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&set));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace

int main(int argc, char** argv) {
    dravo2::PrepareCommandProcess();
    // The "C" locale is kept: numbers are read and written with a full stop everywhere.
    std::ios::sync_with_stdio(false);
    dravo2::ScanEnvironment environment;
    environment.Progress = ::isatty(STDERR_FILENO) == 1;
    environment.Threads = UsableCores();
    environment.Interrupted = dravo2::InterruptRequested;
    environment.Plot = dravo2::DrawScanMap;
    environment.PlotTypes = {"png", "svg", "pdf"};
    const std::vector<std::string> args(argv + 1, argv + argc);
    return dravo2::RunScanCommand(args, std::cout, std::cerr, environment);
}
