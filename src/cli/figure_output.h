#pragma once

#include "analysis/model_units.h"
#include "cli/option_table.h"
#include "data/data_table.h"
#include "engine/resonance_modes.h"
#include "plot/figure.h"
#include "sweep/display_preset.h"
#include "sweep/parameter_intake.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace dravo2 {
inline namespace cli {

// The command's choices of what it writes besides the sweep: the table's format and a figure.
struct OutputOptions {
    std::string Format = "dat"; // "dat": the result file; "csv": the table with names and units
    std::string PlotPath;       // a figure of the sweep, its format from the extension
    int Dpi = 300;
    double WidthCm = 8.5;
    double HeightCm = 6.5;
    double FontPt = 8;
    bool Residuals = false; // a residual panel under a figure with a measured curve
};

// The help section of the output options in a command's option table.
inline constexpr const char* kOutputSection = "output";

// Adds --format, --plot, --dpi, --plot-size, --font-size and --residuals, taken into `options`, to
// a command's options, listed in --help's section kOutputSection. A number out of its range is
// refused when taken.
void AddOutputOptions(OptionTable& table, OutputOptions& options);

// Refuses a format other than dat or csv, a figure file of another type, a PNG figure of more
// pixels than a figure may have, and either of them when the command runs no sweep (`noSweep`:
// --read, --import), before any work.
void CheckOutputOptions(const OutputOptions& options, bool noSweep);

// The table in the chosen format: the result file, or CSV with the angles of the layers of no
// thickness left empty, the columns f1 (Hz) .. f4 (Hz) appended with `modes` (one row per table
// row, empty where a mode does not exist), followed by the measured curve in model units (when
// given) as rows of branch "measured". Empty when the sweep recorded no rows.
std::string TableOutputText(const OutputOptions& options, const SimulationData& simulation, const LayerStack& stack,
                            const ModelUnitsCurve* measured = nullptr, const std::vector<ModeRow>* modes = nullptr);

// Draws the figure of the sweep in the display mode (and the measured curve when given, in model
// units with a comparison, with a residual panel when options.Residuals asks), or with `modes`
// every resonance mode against the field, into PlotPath, on Qt's offscreen platform when no
// application is running; `err` gets the notes of the write. Nothing without a path or without
// anything to draw. A figure that cannot be drawn throws ProgramError and leaves the file alone.
void WritePlotFile(const OutputOptions& options, const SimulationData& simulation, DisplayMode mode,
                   const ExperimentData* measured, const FigureComparison* comparison,
                   const std::vector<ModeRow>* modes, std::ostream& err);

} // namespace cli
} // namespace dravo2
