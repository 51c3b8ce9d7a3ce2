#pragma once

#include "cli/sweep_command.h"
#include "scan/scan_table.h"

#include <atomic>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace dravo2 {

// Exit statuses of the scan command besides those of the sweep command (0, 1, 2).
inline constexpr int kExitRefused = 3;       // shards that do not make one scan, or a file not read or written
inline constexpr int kExitInterrupted = 130; // stopped by an interrupt; nothing written

// A heat map (or, for one parameter, a line plot) of a scan to draw into Path.
struct ScanPlotRequest {
    std::string Path;
    ScanMap Map;
    std::vector<std::string> AxisUnits; // the unit text of each axis' key
};

// What the scan command gets from its program: whether standard error is a terminal, the
// default thread count, the interrupt flag and the map drawer with the file types it writes
// (none in a build without it). The drawer throws ProgramError when it cannot write the file.
struct ScanEnvironment {
    bool Progress = false;
    unsigned Threads = 1;
    const std::atomic<bool>* Cancel = nullptr;
    std::function<void(const ScanPlotRequest&)> Plot;
    std::vector<std::string> PlotTypes;
};

// The loop of one grid point, Start then one Reverse with `keyArgs` (KEY=VALUE), and the row of
// `parameters` with its features; a loop cut short by `stop` has none. Throws ProgramError for a
// bad key or value.
ScanRow SimulateGridPoint(const std::vector<std::string>& keyArgs, std::vector<double> parameters,
                          const std::atomic<bool>* stop = nullptr);

// Runs the scan command on `args` (without the program name) and returns the exit status.
int RunScanCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const ScanEnvironment& environment);

} // namespace dravo2
