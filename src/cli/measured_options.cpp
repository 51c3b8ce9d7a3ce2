#include "cli/measured_options.h"

#include "cli/cli_common.h"
#include "data/errors.h"
#include "data/file_io.h"
#include "data/number_text.h"
#include "data/result_writer.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <utility>

namespace dravo2 {
inline namespace cli {
namespace {

constexpr const char* kMeasuredSection = "measured";

std::string ColumnText(const ParsedCurveFile& file, std::int32_t column) {
    return "column " + std::to_string(column + 1) + " '" + file.Columns[static_cast<std::size_t>(column)].Name + "'";
}

} // namespace

CommandOption MeasuredOption(std::string_view name, MeasuredOptions& options) {
    const std::pair<std::string_view, std::string MeasuredOptions::*> kSlots[] = {
        {"--import", &MeasuredOptions::ImportPath},
        {"--compare", &MeasuredOptions::ComparePath},
        {"--columns", &MeasuredOptions::Columns},
        {"--field-unit", &MeasuredOptions::FieldUnit},
        {"--background", &MeasuredOptions::Background},
        {"--rows", &MeasuredOptions::Rows},
        {"--sigma", &MeasuredOptions::Sigma},
        {"--moment-unit", &MeasuredOptions::MomentUnit},
        {"--area", &MeasuredOptions::Area},
        {"--frequency-unit", &MeasuredOptions::FrequencyUnit},
        {"--mode-column", &MeasuredOptions::ModeColumn},
    };
    const auto found =
        std::find_if(std::begin(kSlots), std::end(kSlots), [name](const auto& slot) { return slot.first == name; });
    if (found == std::end(kSlots)) {
        throw std::logic_error("no measured-curve option " + std::string(name));
    }
    std::string& slot = options.*(found->second);
    CommandOption option{{std::string(name)}, OptionValue::Text, [&slot](const std::string& value) { slot = value; }};
    if (&slot == &options.ImportPath || &slot == &options.ComparePath) {
        option.Value = OptionValue::Path;
    }
    if (&slot == &options.FrequencyUnit) {
        option.Take = [&slot](const std::string& value) {
            if (!FrequencyUnitFromText(value)) {
                throw ProgramError("'" + value + "' is not a frequency unit (Hz, kHz, MHz or GHz)");
            }
            slot = value;
        };
    }
    return option;
}

void AddMeasuredOptions(OptionTable& table, MeasuredOptions& options) {
    const std::pair<std::string_view, std::string_view> kListed[] = {
        {"--import", ""},
        {"--compare", ""},
        {"--columns", "the field and moment columns, by number from 1 or by name"},
        {"--field-unit", "A/m, kA/m, Oe, mT or T (mT and T of mu0 H); default the unit the file states"},
        {"--rows", "thin (every k-th row, the default) or first (the first 4096) for longer curves"},
        {"--background", "fit a background slope, an offset or both besides the scale"},
        {"--sigma", "the column of the moment's standard uncertainty: weights 1/sigma^2 and chi2"},
        {"--moment-unit", "emu or Am2, where the file does not state the moment's unit"},
        {"--area", "the sample's area (0.2947cm2, mm2 or m2): the scale becomes the computed\n"
                   "saturated moment sum(M t) A / mu0 instead of a fitted number"},
    };
    for (const auto& [name, help] : kListed) {
        CommandOption option = MeasuredOption(name, options);
        table.Add(help.empty() ? std::move(option)
                               : std::move(option).Listed(std::string(name), std::string(help), kMeasuredSection));
    }
}

void CheckMeasuredOptions(const MeasuredOptions& options) {
    const bool curve = !options.ImportPath.empty() || !options.ComparePath.empty();
    if (!curve && (!options.Columns.empty() || !options.FieldUnit.empty() || !options.Rows.empty() ||
                   !options.Sigma.empty() || !options.MomentUnit.empty())) {
        throw ProgramError("--columns, --field-unit, --rows, --sigma and --moment-unit go with --import or --compare");
    }
    if (!options.Background.empty() && options.ComparePath.empty()) {
        throw ProgramError("--background goes with --compare");
    }
    if (!options.Area.empty()) {
        if (options.ComparePath.empty()) {
            throw ProgramError("--area goes with --compare");
        }
        AreaFromText(options.Area);
    }
    if (!options.MomentUnit.empty() && !MomentUnitFromText(options.MomentUnit)) {
        throw ProgramError("'" + options.MomentUnit + "' is not a moment unit (emu or Am2)");
    }
    if (!options.ImportPath.empty() && !options.ComparePath.empty()) {
        throw ProgramError("--import and --compare cannot be given together");
    }
    if (!options.FieldUnit.empty() && !FieldUnitFromText(options.FieldUnit)) {
        throw ProgramError("'" + options.FieldUnit + "' is not a field unit (A/m, kA/m, Oe, mT or T)");
    }
    if (!options.Background.empty() && options.Background != "slope" && options.Background != "offset" &&
        options.Background != "both") {
        throw ProgramError("'" + options.Background + "' is not a background (slope, offset or both)");
    }
    if (!options.Rows.empty() && options.Rows != "thin" && options.Rows != "first") {
        throw ProgramError("'" + options.Rows + "' is not a choice for long curves (thin or first)");
    }
    if (!options.Columns.empty() && options.Columns.find(',') == std::string::npos) {
        throw ProgramError("--columns takes FIELD,MOMENT");
    }
}

double AreaFromText(const std::string& text) {
    if (const auto area = SampleAreaFromText(text)) {
        return *area;
    }
    throw ProgramError("'" + text + "' is not a sample area: give a positive number with cm2, mm2 or m2 (0.2947cm2)");
}

void PrintMeasuredUsage(std::ostream& out) {
    out << "  or:  dravo2-sweep --import FILE [--columns FIELD,MOMENT] [--field-unit UNIT] [--rows thin|first]\n"
           "                    [--sigma COLUMN] [--moment-unit emu|Am2]\n"
           "  or:  dravo2-sweep [KEY=VALUE]... [--reverse]... [-o FILE] --compare FILE [--background "
           "slope|offset|both]\n"
           "                    [--sigma COLUMN] [--area AREA] [--moment-unit emu|Am2]\n";
}

void PrintMeasuredHelp(std::ostream& out, const OptionTable& table) {
    out << "\nWith --import, reads a measured curve (delimited text, a magnetometer export with [Header]\n"
           "and [Data], or a result file), and prints the table the window's import would load: the\n"
           "field in A/m, the moment as in the file, then up to six further columns; the columns and\n"
           "unit taken are stated on standard error. With --compare, runs the sweep, writes the result\n"
           "and prints on standard error \"misfit M scale S slope B offset C points N/TOTAL\": the\n"
           "weighted RMS difference of the measured curve from s m + b H + c, divided by half the\n"
           "measured moment's peak-to-peak, with m the simulated projection over its saturation;\n"
           "with --sigma also \"chi2 X dof D reduced R\". --compare takes --columns, --field-unit,\n"
           "--rows, --sigma and --moment-unit as --import does. The figure (--plot) then draws the\n"
           "measured points in the simulated projection's units, (y - b H - c) / s times the saturation\n"
           "projection, with the misfit in the legend (and a residual panel with --residuals), and the\n"
           "CSV table (--format csv) adds them as rows of branch \"measured\".\n";
    out << table.HelpText(kMeasuredSection, {17, false});
}

namespace {

// The columns, field unit and row choice of `options` (else those the file suggests), with where
// the field unit came from.
ImportChoice ChooseImport(const ParsedCurveFile& file, const MeasuredOptions& options, std::string& unitSource) {
    const ImportSuggestion suggestion = SuggestImport(file);
    ImportChoice choice;
    choice.FieldColumn = suggestion.FieldColumn;
    choice.MomentColumn = suggestion.MomentColumn;
    if (!options.Columns.empty()) {
        const std::size_t comma = options.Columns.find(',');
        choice.FieldColumn = FindColumn(file, options.Columns.substr(0, comma));
        choice.MomentColumn = FindColumn(file, options.Columns.substr(comma + 1));
    }
    if (choice.FieldColumn < 0 || choice.MomentColumn < 0) {
        throw ProgramError("The file has fewer than two columns with values");
    }
    if (!options.FieldUnit.empty()) {
        choice.Unit = *FieldUnitFromText(options.FieldUnit);
        unitSource = "as given";
    } else if (const auto stated = FieldUnitFromText(file.Columns[static_cast<std::size_t>(choice.FieldColumn)].Unit)) {
        choice.Unit = *stated;
        unitSource = "as the file states";
    } else {
        choice.Unit = FieldUnit::AmperePerMetre;
        unitSource = "the file does not state the unit; give --field-unit";
    }
    choice.Long = options.Rows == "first" ? LongCurve::FirstRows : LongCurve::Thin;
    if (!options.Sigma.empty()) {
        choice.SigmaColumn = FindColumn(file, options.Sigma);
    }
    return choice;
}

void RowsLine(const ImportSummary& summary, std::ostream& err) {
    err << "rows: " << summary.KeptRows << " loaded";
    if (summary.SkippedRows > 0) {
        err << ", " << summary.SkippedRows << " without both values skipped";
    }
    if (summary.UsableRows > summary.KeptRows) {
        err << (summary.Stride > 1 ? ", one in " + std::to_string(summary.Stride) + " of " : ", the first of ")
            << summary.UsableRows << " usable";
    }
    err << "\n";
}

} // namespace

void ImportMeasured(const std::string& path, const MeasuredOptions& options, ExperimentData& experiment,
                    std::ostream& err) {
    const ParsedCurveFile file = ParseCurveFile(ReadCurveFileBytes(path));
    std::string unitSource;
    const ImportChoice choice = ChooseImport(file, options, unitSource);
    const ImportSummary summary = FillExperiment(file, choice, experiment);
    std::string momentUnitSource = "as the file states";
    if (!options.MomentUnit.empty()) {
        experiment.MomentUnit = *MomentUnitFromText(options.MomentUnit);
        momentUnitSource = "as given";
    }
    err << DescribeCurveFile(file) << "\n"
        << "field: " << ColumnText(file, choice.FieldColumn) << " in " << FieldUnitName(choice.Unit) << " ("
        << unitSource << ")\n"
        << "moment: " << ColumnText(file, choice.MomentColumn);
    if (experiment.MomentUnit > 0) {
        err << " in " << MomentUnitName(experiment.MomentUnit) << " (" << momentUnitSource << ")";
    }
    err << "\n";
    if (choice.SigmaColumn >= 0) {
        err << "uncertainty: " << ColumnText(file, choice.SigmaColumn) << "\n";
    }
    RowsLine(summary, err);
}

ResonanceTable ImportResonance(const std::string& path, const MeasuredOptions& options, std::ostream& err) {
    const ParsedCurveFile file = ParseCurveFile(ReadCurveFileBytes(path));
    std::string unitSource;
    ImportChoice choice = ChooseImport(file, options, unitSource);
    if (options.Columns.empty()) {
        for (std::size_t c = 0; c < file.Columns.size(); ++c) {
            if (static_cast<std::int32_t>(c) != choice.FieldColumn && file.Columns[c].HasValues &&
                FrequencyUnitFromText(file.Columns[c].Unit)) {
                choice.MomentColumn = static_cast<std::int32_t>(c);
                break;
            }
        }
    }
    if (!options.ModeColumn.empty()) {
        choice.ModeColumn = FindColumn(file, options.ModeColumn);
    }
    double factor = 1;
    std::string frequencySource = "the file does not state the unit; give --frequency-unit";
    const std::string& stated = file.Columns[static_cast<std::size_t>(choice.MomentColumn)].Unit;
    if (!options.FrequencyUnit.empty()) {
        factor = *FrequencyUnitFromText(options.FrequencyUnit);
        frequencySource = "as given";
    } else if (const auto unit = FrequencyUnitFromText(stated)) {
        factor = *unit;
        frequencySource = "as the file states";
    }
    auto experiment = std::make_unique<ExperimentData>();
    const ImportSummary summary = FillExperiment(file, choice, *experiment);
    ResonanceTable table;
    const auto rows = static_cast<std::size_t>(experiment->ExpRows);
    for (std::size_t r = 0; r < rows; ++r) {
        const auto row = static_cast<std::int32_t>(r + 1);
        table.Field.push_back(experiment->ExpTable.At(1, row));
        table.Frequency.push_back(experiment->ExpTable.At(2, row) * factor);
        if (experiment->SigmaColumn > 0) {
            table.Sigma.push_back(experiment->ExpTable.At(experiment->SigmaColumn, row) * factor);
        }
    }
    table.Mode = summary.Modes;
    const char* const names[] = {"Hz", "kHz", "MHz", "GHz"};
    const double factors[] = {1, 1e3, 1e6, 1e9};
    std::string unitName = "Hz";
    for (std::size_t u = 0; u < 4; ++u) {
        if (factors[u] == factor) {
            unitName = names[u];
        }
    }
    err << DescribeCurveFile(file) << "\n"
        << "field: " << ColumnText(file, choice.FieldColumn) << " in " << FieldUnitName(choice.Unit) << " ("
        << unitSource << ")\n"
        << "frequency: " << ColumnText(file, choice.MomentColumn) << " in " << unitName << " (" << frequencySource
        << ")\n";
    if (choice.SigmaColumn >= 0) {
        err << "uncertainty: " << ColumnText(file, choice.SigmaColumn) << " in " << unitName << "\n";
    }
    if (choice.ModeColumn >= 0) {
        err << "mode: " << ColumnText(file, choice.ModeColumn) << " (1 the lowest)\n";
    }
    RowsLine(summary, err);
    return table;
}

int RunImportCommand(const MeasuredOptions& options, std::ostream& out, std::ostream& err) {
    auto experiment = std::make_unique<ExperimentData>();
    experiment->ClearExpTable();
    ImportMeasured(options.ImportPath, options, *experiment, err);
    WriteStandardOutput(out, TableText(experiment->ExpTable, experiment->ExpRows, experiment->ExpCols));
    return kExitOk;
}

MisfitOptions BackgroundOf(const MeasuredOptions& options) {
    return {options.Background == "slope" || options.Background == "both",
            options.Background == "offset" || options.Background == "both"};
}

MisfitOptions ComparisonTerms(const MeasuredOptions& options, const ExperimentData& measured, double sheetMoment) {
    MisfitOptions terms = BackgroundOf(options);
    if (!options.Area.empty()) {
        if (!(measured.MomentUnit > 0)) {
            throw ProgramError("--area needs the moment's unit, which the file does not state: give --moment-unit "
                               "emu or Am2");
        }
        terms.FixedScale = sheetMoment * AreaFromText(options.Area) / measured.MomentUnit;
    }
    return terms;
}

std::string MisfitLine(const MisfitResult& result, char separator) {
    const std::string points = " points " + std::to_string(result.Covered) + "/" + std::to_string(result.Total);
    if (!result.Valid) {
        return "misfit none (" + result.Reason + ")" + points;
    }
    auto number = [separator](double value) { return GeneralNumberText(value, 6, separator); };
    std::string line = "misfit " + number(result.Misfit) + " scale " + number(result.Scale) + " slope " +
                       number(result.Slope) + " offset " + number(result.Offset) + points;
    if (result.HasChiSquare) {
        const std::int32_t dof = DegreesOfFreedom(result, 0);
        line += " chi2 " + number(result.ChiSquare) + " dof " + std::to_string(dof) + " reduced " +
                (dof > 0 ? number(result.ChiSquare / dof) : std::string("none"));
    }
    if (!result.Degenerate.empty()) {
        line += " (" + DegenerateText(result) + ")";
    }
    return line;
}

double StackSaturation(const LayerStack& stack) {
    const LayerValues layers = LayersOf(stack);
    return SaturationProjection(layers.M, layers.t);
}

MisfitResult CompareMeasured(const ExperimentData& measured, const SimulationData& simulated, const LayerStack& stack,
                             const MeasuredOptions& options) {
    const LayerValues layers = LayersOf(stack);
    return ComputeMisfit(MeasuredCurve(measured), SimulatedCurve(simulated), SaturationProjection(layers.M, layers.t),
                         ComparisonTerms(options, measured, SaturatedMoment(layers.M, layers.t, 1.0, 1.0)));
}

std::string CompareLine(const ExperimentData& measured, const SimulationData& simulated, const LayerStack& stack,
                        const MeasuredOptions& options, char separator) {
    return MisfitLine(CompareMeasured(measured, simulated, stack, options), separator);
}

} // namespace cli
} // namespace dravo2
