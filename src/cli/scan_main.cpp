#include "cli/scan_command.h"
#ifdef DRAVO2_SCAN_PLOT
#include "cli/scan_plot.h"
#endif

#include <atomic>
#include <csignal>
#include <iostream>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<bool> interrupted{false};

// The first interrupt lets the loops under way finish and writes nothing; a second one ends at once.
extern "C" void Interrupt(int signal) {
    interrupted = true;
    std::signal(signal, SIG_DFL);
}

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
    std::ios::sync_with_stdio(false);
    std::signal(SIGINT, Interrupt);
    std::signal(SIGTERM, Interrupt);
    dravo2::ScanEnvironment environment;
    environment.Progress = ::isatty(STDERR_FILENO) == 1;
    environment.Threads = UsableCores();
    environment.Cancel = &interrupted;
#ifdef DRAVO2_SCAN_PLOT
    environment.Plot = dravo2::DrawScanMapPng;
    environment.PlotTypes = {"png"};
#endif
    const std::vector<std::string> args(argv + 1, argv + argc);
    return dravo2::RunScanCommand(args, std::cout, std::cerr, environment);
}
