#pragma once

#include "cli/sweep_command.h"
#include "data/data_table.h"
#include "data/file_io.h"
#include "plot/map_figure.h"
#include "scan/grid_point.h"
#include "scan/scan_table.h"

#include <atomic>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace dravo2 {
inline namespace cli {

// A heat map (or, for one parameter, a line plot) of a scan to draw into Path.
struct ScanPlotRequest {
    std::string Path;
    MapFigure Figure;
};

// What the scan command gets from its program: whether standard error is a terminal, the
// default thread count, whether an interrupt arrived (polled a few times a second) and the map
// drawer with the file types it writes (DrawScanMap with png, svg and pdf; a test's recorder with
// its own). The drawer throws ProgramError when it cannot draw or write the file, and returns the
// note of the write.
struct ScanEnvironment {
    bool Progress = false;
    unsigned Threads = 1;
    unsigned ThreadLimit = 0; // the cores the process may use: --threads beyond is lowered; 0 for no limit
    std::function<bool()> Interrupted;
    std::function<WriteNote(const ScanPlotRequest&)> Plot;
    std::vector<std::string> PlotTypes;
};

// The map of a scan table's feature: the parameters' titles with their units and the feature's
// resolution, the field step (kA/m) of the loops for a field (`fieldStep`), one for a count.
MapFigure ScanMapFigure(const ScanMap& map, double fieldStep);

// Draws the map into its file (PNG, SVG or PDF by its extension) on Qt's offscreen platform when
// no application runs. Throws ProgramError when it cannot be drawn, InputOutputError when it
// cannot be written; the file is left alone then.
WriteNote DrawScanMap(const ScanPlotRequest& request);

// Runs the scan command on `args` (without the program name) and returns the exit status (see
// cli_common.h; 3 also for shards that do not make one scan; an interrupted scan writes nothing).
int RunScanCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const ScanEnvironment& environment);

} // namespace cli
} // namespace dravo2
