#include "cli/figure_output.h"

#include "cli/cli_common.h"
#include "data/csv_writer.h"
#include "data/errors.h"
#include "data/file_io.h"
#include "data/number_text.h"
#include "data/result_writer.h"
#include "figure/figure_export.h"
#include "plot/figure.h"
#include "plot/modes_figure.h"

#include <cmath>

namespace dravo2 {
inline namespace cli {
namespace {

double PositiveNumber(const std::string& option, const std::string& text, double most) {
    const double value = TextToDouble(text, '.');
    if (!(value > 0 && value <= most)) {
        throw ProgramError("Option " + option + " needs a number above 0 and at most " +
                           GeneralNumberText(most, 5, '.'));
    }
    return value;
}

} // namespace

void AddOutputOptions(OptionTable& table, OutputOptions& options) {
    table.Add(
        CommandOption{{"--format"}, OptionValue::Text, [&options](const std::string& value) { options.Format = value; }}
            .Listed("--format dat|csv",
                    "the table as the result file (dat, default) or as CSV with a header\n"
                    "of names and units and the branch number of each row",
                    kOutputSection));
    table.Add(
        CommandOption{{"--plot"}, OptionValue::Path, [&options](const std::string& value) { options.PlotPath = value; }}
            .Listed("--plot FILE", "also draw the figure of the display mode into FILE (.png, .svg, .pdf)",
                    kOutputSection));
    table.Add(CommandOption{
        {"--dpi"}, OptionValue::Text, [&options](const std::string& value) {
            options.Dpi = static_cast<int>(std::lround(PositiveNumber("--dpi", value, 2400)));
        }}.Listed("--dpi N", "resolution of a PNG figure (default 300)", kOutputSection));
    table.Add(CommandOption{
        {"--plot-size"}, OptionValue::Text, [&options](const std::string& size) {
            const std::size_t cross = size.find('x');
            if (cross == std::string::npos) {
                throw ProgramError("Option --plot-size needs WIDTHxHEIGHT in cm, for example 8.5x6.5");
            }
            options.WidthCm = PositiveNumber("--plot-size", size.substr(0, cross), 100);
            options.HeightCm = PositiveNumber("--plot-size", size.substr(cross + 1), 100);
        }}.Listed("--plot-size WxH", "figure size in cm (default 8.5x6.5)", kOutputSection));
    table.Add(CommandOption{
        {"--font-size"}, OptionValue::Text, [&options](const std::string& value) {
            options.FontPt = PositiveNumber("--font-size", value, 72);
        }}.Listed("--font-size PT", "figure font size in points (default 8)", kOutputSection));
    table.Add(
        CommandOption{{"--residuals"}, OptionValue::None, [&options](const std::string&) { options.Residuals = true; }}
            .Listed("--residuals",
                    "with --compare, a panel of the measured minus the simulated curve\n"
                    "under the figure, on the same field axis",
                    kOutputSection));
}

void CheckOutputOptions(const OutputOptions& options, bool noSweep) {
    if (noSweep && (options.Format != "dat" || !options.PlotPath.empty())) {
        throw ProgramError("--format and --plot go with a sweep, not with --read or --import");
    }
    if (options.Format != "dat" && options.Format != "csv") {
        throw ProgramError("'" + options.Format + "' is not a table format (dat or csv)");
    }
    if (!options.PlotPath.empty() && !FigureFormatForPath(options.PlotPath)) {
        throw ProgramError("'" + options.PlotPath + "' is not a figure file name (.png, .svg or .pdf)");
    }
    if (!options.PlotPath.empty() && FigureFormatForPath(options.PlotPath) == FigureFormat::Png) {
        CheckFigurePixels(options.WidthCm, options.HeightCm, options.Dpi);
    }
}

std::string TableOutputText(const OutputOptions& options, const SimulationData& simulation, const LayerStack& stack,
                            const ModelUnitsCurve* measured, const std::vector<ModeRow>* modes) {
    if (options.Format != "csv") {
        return ResultFileText(simulation);
    }
    if (simulation.SimRows <= 0) {
        return {}; // as for the result file: no rows, nothing to write over a file
    }
    // A layer takes part in the sweep, and has its angle recorded, when its thickness is above 0.
    std::array<bool, 4> present{};
    for (std::size_t i = 0; i < present.size(); ++i) {
        present[i] = stack.Present(static_cast<int>(i));
    }
    CsvExtraColumns extra;
    if (modes != nullptr) {
        extra.Titles = {"f1 (Hz)", "f2 (Hz)", "f3 (Hz)", "f4 (Hz)"};
        for (const ModeRow& row : *modes) {
            extra.Values.emplace_back(row.begin(), row.end());
        }
    }
    std::string text = CsvTableText(simulation, present, TableBranchNumbers(simulation), extra);
    if (measured != nullptr) {
        text += CsvMeasuredRows(measured->Field, measured->Value, extra.Titles.size());
    }
    return text;
}

void WritePlotFile(const OutputOptions& options, const SimulationData& simulation, DisplayMode mode,
                   const ExperimentData* measured, const FigureComparison* comparison,
                   const std::vector<ModeRow>* modes, std::ostream& err) {
    const bool nothingToDraw = simulation.SimRows <= 0 && (measured == nullptr || measured->ExpRows <= 0);
    if (options.PlotPath.empty() || nothingToDraw) {
        return; // like the table, an empty figure never replaces a file
    }
    const auto columns = DisplayColumnsFor(mode);
    FigureColumns figureColumns;
    if (columns) {
        figureColumns.X = (*columns)[0];
        figureColumns.Y = (*columns)[1];
    }
    figureColumns.ProjectionAlongY = mode == DisplayMode::MvHy;
    FigureComparison withResiduals;
    if (comparison != nullptr) {
        withResiduals = *comparison;
        withResiduals.Residuals = options.Residuals;
    }
    FigureDescription figure = modes != nullptr ? BuildModesFigure(simulation, *modes)
                                                : BuildFigure(simulation, figureColumns, measured, nullptr,
                                                              comparison != nullptr ? &withResiduals : nullptr);
    figure.WidthCm = options.WidthCm;
    figure.HeightCm = options.HeightCm;
    figure.FontPt = options.FontPt;
    const OffscreenGui gui;
    const std::string bytes = FigureFileBytes(figure, *FigureFormatForPath(options.PlotPath), options.Dpi);
    WriteOutputFile(options.PlotPath, bytes, err);
}

} // namespace cli
} // namespace dravo2
