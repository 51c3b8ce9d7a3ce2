#include "cli/measured_options.h"

#include "cli/cli_common.h"
#include "data/errors.h"
#include "data/file_io.h"
#include "data/number_text.h"
#include "data/result_writer.h"

#include <array>

#include <memory>
#include <ostream>

namespace dravo2 {
namespace {

std::string ColumnText(const ParsedCurveFile& file, std::int32_t column) {
    return "column " + std::to_string(column + 1) + " '" + file.Columns[static_cast<std::size_t>(column)].Name + "'";
}

} // namespace

bool TakeMeasuredOption(const std::vector<std::string>& args, std::size_t& i, MeasuredOptions& options) {
    const std::string& arg = args[i];
    std::string* slot = nullptr;
    if (arg == "--import") {
        slot = &options.ImportPath;
    } else if (arg == "--compare") {
        slot = &options.ComparePath;
    } else if (arg == "--columns") {
        slot = &options.Columns;
    } else if (arg == "--field-unit") {
        slot = &options.FieldUnit;
    } else if (arg == "--background") {
        slot = &options.Background;
    } else if (arg == "--rows") {
        slot = &options.Rows;
    } else {
        return false;
    }
    *slot = NextOptionValue(args, i);
    return true;
}

void CheckMeasuredOptions(const MeasuredOptions& options) {
    const bool curve = !options.ImportPath.empty() || !options.ComparePath.empty();
    if (!curve && (!options.Columns.empty() || !options.FieldUnit.empty() || !options.Rows.empty())) {
        throw ProgramError("--columns, --field-unit and --rows go with --import or --compare");
    }
    if (!options.Background.empty() && options.ComparePath.empty()) {
        throw ProgramError("--background goes with --compare");
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

void PrintMeasuredUsage(std::ostream& out) {
    out << "  or:  dravo2-sweep --import FILE [--columns FIELD,MOMENT] [--field-unit UNIT] [--rows thin|first]\n"
           "  or:  dravo2-sweep [KEY=VALUE]... [--reverse]... [-o FILE] --compare FILE [--background "
           "slope|offset|both]\n";
}

void PrintMeasuredHelp(std::ostream& out) {
    out << "\nWith --import, reads a measured curve (delimited text, a magnetometer export with [Header]\n"
           "and [Data], or a result file), and prints the table the window's import would load: the\n"
           "field in A/m, the moment as in the file, then up to six further columns; the columns and\n"
           "unit taken are stated on standard error. With --compare, runs the sweep, writes the result\n"
           "and prints on standard error \"misfit M scale S slope B offset C points N/TOTAL\": the\n"
           "weighted RMS difference of the measured curve from s m + b H + c, in units of the fitted\n"
           "saturation, with m the simulated projection over its saturation. --compare takes\n"
           "--columns, --field-unit and --rows as --import does.\n"
           "  --columns      the field and moment columns, by number from 1 or by name\n"
           "  --field-unit   A/m, kA/m, Oe, mT or T (mT and T of mu0 H); default the unit the file states\n"
           "  --rows         thin (every k-th row, the default) or first (the first 4096) for longer curves\n"
           "  --background   fit a background slope, an offset or both besides the scale\n";
}

void ImportMeasured(const std::string& path, const MeasuredOptions& options, ExperimentData& experiment,
                    std::ostream& err) {
    const ParsedCurveFile file = ParseCurveFile(ReadWholeFile(path));
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
    std::string unitSource;
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
    const ImportSummary summary = FillExperiment(file, choice, experiment);
    err << DescribeCurveFile(file) << "\n"
        << "field: " << ColumnText(file, choice.FieldColumn) << " in " << FieldUnitName(choice.Unit) << " ("
        << unitSource << ")\n"
        << "moment: " << ColumnText(file, choice.MomentColumn) << "\n"
        << "rows: " << summary.KeptRows << " loaded";
    if (summary.SkippedRows > 0) {
        err << ", " << summary.SkippedRows << " without both values skipped";
    }
    if (summary.UsableRows > summary.KeptRows) {
        err << (summary.Stride > 1 ? ", one in " + std::to_string(summary.Stride) + " of " : ", the first of ")
            << summary.UsableRows << " usable";
    }
    err << "\n";
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

std::string MisfitLine(const MisfitResult& result, char separator) {
    const std::string points = " points " + std::to_string(result.Covered) + "/" + std::to_string(result.Total);
    if (!result.Valid) {
        return "misfit none (" + result.Reason + ")" + points;
    }
    auto number = [separator](double value) { return GeneralNumberText(value, 6, separator); };
    return "misfit " + number(result.Misfit) + " scale " + number(result.Scale) + " slope " + number(result.Slope) +
           " offset " + number(result.Offset) + points;
}

std::string CompareLine(const ExperimentData& measured, const SimulationData& simulated, const LayerStack& stack,
                        const MeasuredOptions& options, char separator) {
    std::array<double, kLayers> m{};
    std::array<double, kLayers> t{};
    for (std::size_t i = 0; i < kLayers; ++i) {
        m[i] = static_cast<double>(stack.M[i]);
        t[i] = static_cast<double>(stack.t[i]);
    }
    const MisfitResult result = ComputeMisfit(MeasuredCurve(measured), SimulatedCurve(simulated),
                                              SaturationProjection(m, t), BackgroundOf(options));
    return MisfitLine(result, separator);
}

} // namespace dravo2
