#include "cli/scan_command.h"

#include "cli/cli_common.h"
#include "cli/measured_options.h"
#include "cli/option_table.h"
#include "cli/sweep_command.h"
#include "data/errors.h"
#include "data/file_io.h"
#include "data/number_text.h"
#include "engine/parameter_registry.h"
#include "engine/physical_constants.h"
#include "figure/figure_export.h"
#include "scan/grid_point.h"
#include "scan/scan_runner.h"
#include "version/version.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <new>
#include <ostream>
#include <set>
#include <span>
#include <sstream>

namespace dravo2 {
inline namespace cli {
namespace {

struct ScanOptions {
    ScanGrid Grid;
    std::vector<std::string> Keys; // KEY=VALUE, passed on to every loop as given
    std::string Solver;
    unsigned Threads = 0;
    std::optional<Shard> Part;
    std::string OutputPath;
    std::vector<std::string> MergePaths;
    MeasuredOptions Measured;
    bool Merge = false;
    std::string PlotPath;
    std::string PlotValue;
    std::string FromPath; // --from: the table to draw, no scan
    bool Help = false;
    bool Version = false;
};

void PrintHelp(std::ostream& out, const OptionTable& table) {
    out << "Usage: dravo2-scan NAME=LO:HI:N... [KEY=VALUE]... [OPTION]...\n"
           "  or:  dravo2-scan --merge SHARD.csv... [-o OUT.csv] [--plot MAP.png --value FEATURE]\n"
           "  or:  dravo2-scan --from TABLE.csv --plot MAP.png --value FEATURE [step=STEP]\n"
           "  or:  dravo2-scan --help | --version\n\n"
           "Maps features of the hysteresis loop over a grid of sweep parameters. Each NAME and KEY\n"
           "is a key of dravo2-sweep (see dravo2-sweep --help); NAME takes N evenly spaced values from\n"
           "LO to HI. Every grid point runs Start and one Reverse and writes one CSV row: the\n"
           "parameters, then, on the projection divided by the saturation projection, the coercive\n"
           "field of each branch, the exchange-bias shift, the coercivity, the remanence of each\n"
           "branch, the saturation field, the number of jumps above 0.1, the misfit and the\n"
           "relaxation iterations. Rows are in grid order (the last NAME varies fastest).\n\n";
    out << table.HelpText("", {16, true}) << "\n";
    out << "Exit status: 0 done, 1 a floating-point error in some loop (its features are left empty),\n"
           "2 a bad argument or value, 3 shards that do not make one scan or a file not read or\n"
           "written, 130 interrupted.\n";
}

// The command's options, taken into `options`.
OptionTable ScanOptionTable(ScanOptions& options) {
    OptionTable table;
    AddHelpAndVersion(table, options.Help, options.Version);
    table.Add(CommandOption{
        {"--solver"},
        OptionValue::Text,
        [&options](const std::string& solver) {
            if (solver != "newton" && solver != "descent") {
                throw ProgramError("'" + solver + "' is not a solver (newton or descent)");
            }
            options.Solver = solver;
        }}.Listed("--solver S", "the relaxation of every step: newton (the default where this build has\n"
                                "it) or descent"));
    table.Add(CommandOption{
        {"--threads"}, OptionValue::Text, [&options](const std::string& text) {
            int threads = 0;
            if (std::sscanf(text.c_str(), "%d", &threads) != 1 || threads < 1 || std::to_string(threads) != text) {
                throw ProgramError("'" + text + "' is not a thread count of at least 1");
            }
            options.Threads = static_cast<unsigned>(threads);
        }}.Listed("--threads N", "worker threads (default: every core this process may use)"));
    table.Add(CommandOption{
        {"--shard"},
        OptionValue::Text,
        [&options](const std::string& text) {
            options.Part = ParseShard(text);
        }}.Listed("--shard K/N", "only the points whose index modulo N is K, with a first line naming\n"
                                 "the shard (for a Slurm array: $SLURM_ARRAY_TASK_ID/$SLURM_ARRAY_TASK_COUNT)"));
    table.Add(CommandOption{
        {"--merge"}, OptionValue::Paths, [&options](const std::string& path) {
            options.MergePaths.push_back(path);
        }}.Listed("--merge", "join the shards of one scan into the file of the unsharded run"));
    table.Add(CommandOption{
        {"-o"}, OptionValue::Path, [&options](const std::string& path) {
            options.OutputPath = path;
        }}.Listed("-o FILE", "write the table to FILE (default: standard output)"));
    table.Add(MeasuredOption("--compare", options.Measured)
                  .Listed("--compare FILE [--columns FIELD,MOMENT] [--field-unit UNIT] [--rows thin|first]\n"
                          "[--background slope|offset|both]",
                          "the misfit of every loop against the measured curve in FILE, read and\n"
                          "fitted as dravo2-sweep --compare does"));
    for (const char* name :
         {"--columns", "--field-unit", "--background", "--rows", "--sigma", "--moment-unit", "--area"}) {
        table.Add(MeasuredOption(name, options.Measured));
    }
    table.Add(
        CommandOption{{"--plot"}, OptionValue::Path, [&options](const std::string& path) { options.PlotPath = path; }}
            .Listed("--plot FILE --value FEATURE",
                    "draw FEATURE (a column title without its unit, e.g. H_eb) over the\n"
                    "first two NAMEs as a heat map, or over one NAME as a line, into a\n"
                    "PNG, SVG or PDF file. The colour scale is never narrower than what a\n"
                    "loop resolves: the field step for a field, one for a count; the caption\n"
                    "says when the values differ by less"));
    table.Add({{"--value"}, OptionValue::Text, [&options](const std::string& feature) {
                   CheckScanFeature(feature);
                   options.PlotValue = feature;
               }});
    table.Add(
        CommandOption{{"--from"}, OptionValue::Path, [&options](const std::string& path) { options.FromPath = path; }}
            .Listed("--from TABLE", "draw the map of an existing table (of a scan or a merge) without\n"
                                    "running a loop; give the scan's step=STEP when it was not the default\n"
                                    "and is not a column of the table"));
    table.Add({{"--import"}, OptionValue::None, [](const std::string&) {
                   throw ProgramError("--import belongs to dravo2-sweep; a scan takes --compare");
               }});
    return table;
}

ScanOptions ParseScanArguments(const std::vector<std::string>& args, const ScanEnvironment& environment) {
    ScanOptions options;
    OptionTable table = ScanOptionTable(options);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (table.Take(args, i)) {
            continue;
        }
        if (LooksLikeAxis(arg)) {
            ScanAxis axis = ParseAxis(arg);
            if (!IsSweepKey(axis.Name)) {
                throw ProgramError("'" + axis.Name + "' is not a key of dravo2-sweep (see dravo2-sweep --help)");
            }
            for (const ScanAxis& other : options.Grid.Axes) {
                if (other.Name == axis.Name) {
                    throw ProgramError("'" + axis.Name + "' is scanned twice");
                }
            }
            options.Grid.Axes.push_back(std::move(axis));
        } else if (arg.find('=') != std::string::npos && arg.rfind("-", 0) != 0) {
            options.Keys.push_back(arg);
        } else {
            throw ProgramError("Unknown argument '" + arg + "' (see --help)");
        }
    }
    options.Merge = table.Given("--merge");
    if (options.Help || options.Version) {
        return options;
    }
    for (const std::string& key : options.Keys) {
        const std::string name = key.substr(0, key.find('='));
        for (const ScanAxis& axis : options.Grid.Axes) {
            if (axis.Name == name) {
                throw ProgramError("'" + name + "' is both scanned and set to one value");
            }
        }
    }
    CheckMeasuredOptions(options.Measured);
    if (!options.FromPath.empty()) {
        const bool onlyStep = std::all_of(options.Keys.begin(), options.Keys.end(),
                                          [](const std::string& key) { return key.rfind("step=", 0) == 0; });
        if (options.Merge || !options.Grid.Axes.empty() || !onlyStep || options.Part || !options.OutputPath.empty() ||
            !options.Solver.empty() || !options.Measured.ComparePath.empty() || options.PlotPath.empty()) {
            throw ProgramError("--from draws the map of a table: it takes --plot, --value and the scan's step=, "
                               "nothing to compute");
        }
        for (const std::string& key : options.Keys) {
            ParseParameter(Parameter("step"), key.substr(5));
        }
    } else if (options.Merge) {
        if (options.MergePaths.empty() || !options.Grid.Axes.empty() || !options.Keys.empty() || options.Part ||
            !options.Measured.ComparePath.empty()) {
            throw ProgramError("--merge takes the shard files and nothing to compute");
        }
    } else if (options.Grid.Axes.empty()) {
        throw ProgramError("Nothing to scan: give at least one NAME=LO:HI:N (see --help)");
    }
    if (options.PlotPath.empty() != options.PlotValue.empty()) {
        throw ProgramError("--plot and --value go together");
    }
    if (!options.PlotPath.empty()) {
        if (options.Part) {
            throw ProgramError("A shard holds part of the map: plot the merged scan");
        }
        const std::size_t dot = options.PlotPath.rfind('.');
        const std::string type = dot == std::string::npos ? "" : options.PlotPath.substr(dot + 1);
        const auto& types = environment.PlotTypes;
        if (std::find(types.begin(), types.end(), type) == types.end()) {
            std::string list;
            for (const std::string& t : types) {
                list += (list.empty() ? "" : ", ") + t;
            }
            throw ProgramError("'" + options.PlotPath + "': this build draws maps as " +
                               (list.empty() ? std::string("nothing") : list));
        }
    }
    for (const std::string& key : options.Keys) {
        if (!options.Solver.empty() && key.rfind("solver=", 0) == 0 && key != "solver=" + options.Solver) {
            throw ProgramError("'" + key + "' contradicts --solver " + options.Solver + ": give the solver once");
        }
    }
    PathOptions inputs;
    if (!options.Measured.ComparePath.empty()) {
        inputs.emplace_back("--compare", options.Measured.ComparePath);
    }
    for (const std::string& shard : options.MergePaths) {
        inputs.emplace_back("--merge", shard);
    }
    if (!options.FromPath.empty()) {
        inputs.emplace_back("--from", options.FromPath);
    }
    CheckDistinctFiles(inputs, {{"-o", options.OutputPath}, {"--plot", options.PlotPath}});
    if (options.Solver.empty()) {
        options.Solver = "newton";
    }
    options.Keys.insert(options.Keys.begin(), "solver=" + options.Solver);
    return options;
}

// Everything that decides the scan's rows, for the shard files' first line.
std::string ScanIdentity(const ScanOptions& options) {
    std::string identity;
    for (const ScanAxis& axis : options.Grid.Axes) {
        identity += axis.Text() + " ";
    }
    for (const std::string& key : options.Keys) {
        identity += key + " ";
    }
    identity += "--solver " + options.Solver;
    const MeasuredOptions& measured = options.Measured;
    for (const auto& [option, value] :
         {std::pair{"--compare", measured.ComparePath}, std::pair{"--columns", measured.Columns},
          std::pair{"--field-unit", measured.FieldUnit}, std::pair{"--background", measured.Background},
          std::pair{"--rows", measured.Rows}}) {
        if (!value.empty()) {
            identity += std::string(" ") + option + " " + value;
        }
    }
    return identity;
}

// The field step (kA/m) of a scan's loops: the largest of the table's step column when it was
// scanned, else the last step= among `words`, else the default step.
double FieldStep(const std::string& table, const std::vector<std::string>& words) {
    if (const std::optional<double> scanned = LargestOfParameter(table, "step")) {
        return *scanned;
    }
    std::string text(Parameter("step").DefaultText);
    for (const std::string& word : words) {
        if (word.rfind("step=", 0) == 0) {
            text = word.substr(5);
        }
    }
    return std::abs(static_cast<double>(ParseParameter(Parameter("step"), text)));
}

int Plot(const ScanOptions& options, const std::string& table, const std::vector<std::string>& words,
         const ScanEnvironment& environment, std::ostream& err) {
    ScanPlotRequest request;
    request.Path = options.PlotPath;
    try {
        request.Figure = ScanMapFigure(BuildScanMap(table, options.PlotValue), FieldStep(table, words));
    } catch (const ProgramError& error) {
        err << error.what() << "\n";
        return kExitBadInput;
    }
    try {
        if (environment.Plot(request) == WriteNote::LinksBroken) {
            err << "'" << request.Path << "' is a new file: its other hard links keep the old content.\n";
        }
    } catch (const InputOutputError& error) {
        return WriteFailureStatus(error, err);
    } catch (const ProgramError& error) {
        err << error.what() << "\n";
        return kExitFileError;
    }
    return kExitOk;
}

// The words a shard's first line gives its scan, for the keys of a merged map.
std::vector<std::string> ShardWords(const std::string& shard) {
    const std::string line = shard.substr(0, shard.find('\n'));
    const std::size_t points = line.find(" points: ");
    std::vector<std::string> words;
    std::istringstream identity(points == std::string::npos ? std::string() : line.substr(points + 9));
    for (std::string word; identity >> word;) {
        words.push_back(word);
    }
    return words;
}

int Draw(const ScanOptions& options, std::ostream& err, const ScanEnvironment& environment) {
    std::string table;
    try {
        table = ReadWholeFile(options.FromPath);
    } catch (const InputOutputError& error) {
        err << error.what() << "\n";
        return kExitFileError;
    }
    return Plot(options, table, options.Keys, environment, err);
}

int Merge(const ScanOptions& options, std::ostream& out, std::ostream& err, const ScanEnvironment& environment) {
    std::string merged;
    std::vector<std::string> words;
    try {
        std::vector<std::pair<std::string, std::string>> files;
        for (const std::string& path : options.MergePaths) {
            files.emplace_back(path, ReadWholeFile(path));
        }
        merged = MergeShards(files);
        words = ShardWords(files.front().second);
        WriteResult(options.OutputPath, merged, out, err);
    } catch (const InputOutputError& error) {
        return WriteFailureStatus(error, err);
    } catch (const ProgramError& error) {
        err << error.what() << "\n";
        return kExitFileError;
    }
    return options.PlotPath.empty() ? kExitOk : Plot(options, merged, words, environment, err);
}

// The loop settings of a scan: the fixed keys over the defaults, and for every value of every
// axis the number its shortest text converts to, or why that text is refused. The texts are
// read once here, as the KEY=VALUE words are read; the loops take numbers.
struct ScanSetup {
    SweepKeys Fixed;
    std::vector<const ParameterEntry*> Entries;            // per axis; null for the display mode
    std::vector<std::vector<Real>> Values;                 // per axis and value
    std::vector<std::vector<std::exception_ptr>> Refusals; // per axis and value; null where it converts
    ScanPlan Plan;
    bool ChecksVary = false; // whether an axis is read by Start's checks: each point is checked then
};

// The keys Start's checks read (CheckLoopStart): the layers' signs, and the display range from the
// sweep, the saturated projections and the magnetoresistance amplitude. A scan over none of them
// passes or fails the checks at every point as at its first.
bool ReadByStartChecks(const std::string& key) {
    static const std::set<std::string, std::less<>> keys{"M1", "M2", "M3",    "M4",    "t1",   "t2",  "t3",
                                                         "t4", "DR", "start", "steps", "step", "mode"};
    return keys.contains(key);
}

ScanSetup SetUpScan(const ScanOptions& options) {
    ScanSetup setup;
    for (const std::string& key : options.Keys) {
        const std::size_t equals = key.find('=');
        if (!SetSweepKey(key.substr(0, equals), key.substr(equals + 1), setup.Fixed)) {
            throw ProgramError("Unknown argument '" + key + "' (see --help)");
        }
    }
    const DisplayMode mode = ModeNamed(setup.Fixed.Mode);
    setup.Plan.SaturatedStart = mode == DisplayMode::MvHx || mode == DisplayMode::MvHy;
    setup.Plan.ProjectionAlongY = mode == DisplayMode::MvHy;
    SweepKeys scratch = setup.Fixed;
    for (const ScanAxis& axis : options.Grid.Axes) {
        setup.ChecksVary = setup.ChecksVary || ReadByStartChecks(axis.Name);
        const ParameterEntry* entry = FindParameter(axis.Name);
        setup.Entries.push_back(entry);
        setup.Values.emplace_back(axis.Count);
        setup.Refusals.emplace_back(axis.Count);
        for (std::size_t i = 0; i < axis.Count; ++i) {
            const std::string text = RoundTripText(axis.Value(i));
            try {
                SetSweepKey(axis.Name, text, scratch);
                if (entry != nullptr) {
                    setup.Values.back()[i] = ParseParameter(*entry, text);
                }
            } catch (const ProgramError&) {
                setup.Refusals.back()[i] = std::current_exception();
            }
        }
    }
    return setup;
}

// The keys of one grid point: the fixed keys with the axes' values, each as its text reads.
// Throws the refusal of the first axis value that does not convert.
SweepKeys PointKeys(const ScanSetup& setup, const ScanGrid& grid, std::size_t point) {
    SweepKeys keys = setup.Fixed;
    const std::vector<std::size_t> indices = grid.Indices(point);
    for (std::size_t a = 0; a < indices.size(); ++a) {
        const ScanAxis& axis = grid.Axes[a];
        const std::size_t i = indices[a];
        if (setup.Refusals[a][i]) {
            std::rethrow_exception(setup.Refusals[a][i]);
        }
        const std::string text = RoundTripText(axis.Value(i));
        if (setup.Entries[a] == nullptr) {
            SetSweepKey(axis.Name, text, keys);
            continue;
        }
        setup.Entries[a]->Set(keys.Parameters, setup.Values[a][i]);
        keys.Typed[axis.Name] = text;
        if (axis.Name == "DR") {
            keys.DeltaRText = text;
        }
    }
    return keys;
}

int ScanCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                const ScanEnvironment& environment) {
    ScanOptions options;
    std::size_t gridSize = 0;
    try {
        options = ParseScanArguments(args, environment);
        gridSize = options.Grid.Size();
    } catch (const ProgramError& error) {
        err << error.what() << "\n";
        return kExitBadInput;
    }
    if (options.Help || options.Version) {
        std::ostringstream text;
        if (options.Help) {
            ScanOptions scratch;
            PrintHelp(text, ScanOptionTable(scratch));
        } else {
            text << VersionText("dravo2-scan");
        }
        try {
            WriteStandardOutput(out, text.str());
        } catch (const InputOutputError& error) {
            return WriteFailureStatus(error, err);
        }
        return kExitOk;
    }
    if (options.Merge) {
        return Merge(options, out, err, environment);
    }
    if (!options.FromPath.empty()) {
        return Draw(options, err, environment);
    }
    // The measured curve is read once and shared, unchanged, by every worker.
    auto measured = std::make_unique<ExperimentData>();
    ScanComparison comparison{nullptr, BackgroundOf(options.Measured)};
    try {
        // Where the table and the map go is checked before the loops, not after them.
        for (const std::string& path : {options.OutputPath, options.PlotPath}) {
            if (!path.empty()) {
                CheckOutputLocation(path);
            }
        }
        if (!options.Measured.ComparePath.empty()) {
            measured->ClearExpTable();
            ImportMeasured(options.Measured.ComparePath, options.Measured, *measured, err);
            comparison.Measured = measured.get();
            comparison.AreaPerMomentUnit = ComparisonTerms(options.Measured, *measured, 1.0).FixedScale;
        }
    } catch (const InputOutputError& error) {
        err << error.what() << "\n";
        return kExitFileError;
    } catch (const ProgramError& error) {
        // A measured file that does not read as a curve with the columns asked for.
        err << error.what() << "\n";
        return kExitBadInput;
    }

    ScanSetup setup;
    try {
        setup = SetUpScan(options);
        // The first and the last grid point are checked as every loop is, so that a value the
        // sweep refuses ends the scan before any loop rather than in the middle of it.
        for (const std::size_t point : {std::size_t{0}, gridSize - 1}) {
            CheckLoopStart(PointKeys(setup, options.Grid, point));
        }
    } catch (const ProgramError& error) {
        err << error.what() << "\n";
        return kExitBadInput;
    }

    const Shard part = options.Part.value_or(Shard{});
    const std::vector<std::size_t> points = part.Points(gridSize);
    unsigned threads = options.Threads > 0 ? options.Threads : std::max(1u, environment.Threads);
    if (environment.ThreadLimit > 0 && threads > environment.ThreadLimit) {
        err << "Note: --threads " << threads << " lowered to " << environment.ThreadLimit
            << ", the cores this process may use\n";
        threads = environment.ThreadLimit;
    }
    // Raised from the progress calls on this thread when an interrupt arrived; the loops under
    // way end after their step.
    std::atomic<bool> cancel{false};
    auto compute = [&options, &cancel, &comparison, &setup](std::size_t point) {
        const SweepKeys keys = PointKeys(setup, options.Grid, point);
        if (setup.ChecksVary) {
            CheckLoopStart(keys);
        }
        ScanRow row = SimulateGridPoint(keys.Parameters, setup.Plan, &cancel, &comparison);
        row.Parameters = options.Grid.Point(point);
        return row;
    };
    auto progress = [&](std::size_t done) {
        if (environment.Interrupted && environment.Interrupted()) {
            cancel = true;
        }
        if (environment.Progress) {
            DrawProgressBar(err, "scan", static_cast<std::int64_t>(done), static_cast<std::int64_t>(points.size()), 40);
        }
    };

    const auto began = std::chrono::steady_clock::now();
    std::vector<ScanRow> rows;
    try {
        rows = RunScanPoints(points, threads, compute, cancel, progress);
    } catch (const ProgramError& error) {
        if (environment.Progress) {
            err << "\n";
        }
        err << error.what() << "\n";
        return kExitBadInput;
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - began;
    if (environment.Progress) {
        err << "\n";
    }
    if (cancel.load()) {
        err << "Interrupted: nothing is written.\n";
        return kExitInterrupted;
    }
    const unsigned used = std::min<unsigned>(threads, static_cast<unsigned>(std::max<std::size_t>(points.size(), 1)));
    char timing[96];
    std::snprintf(timing, sizeof timing, "%zu loop%s in %.2f s on %u thread%s\n", points.size(),
                  points.size() == 1 ? "" : "s", seconds.count(), used, used == 1 ? "" : "s");
    err << timing;

    int status = kExitOk;
    std::string table = options.Part ? ShardLine(part, gridSize, ScanIdentity(options)) : std::string();
    table += ScanHeaderLine(options.Grid);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        table += ScanRowLine(rows[i]);
        if (!rows[i].Problem.empty()) {
            err << "Point " << points[i] << " stopped: " << rows[i].Problem << "\n";
            status = kExitStepError;
        }
    }
    try {
        WriteResult(options.OutputPath, table, out, err);
    } catch (const InputOutputError& error) {
        return WriteFailureStatus(error, err);
    }
    if (!options.PlotPath.empty()) {
        const int plotted = Plot(options, table, options.Keys, environment, err);
        return plotted != kExitOk ? plotted : status;
    }
    return status;
}

} // namespace

MapFigure ScanMapFigure(const ScanMap& map, double fieldStep) {
    auto title = [](const std::string& name) {
        const ParameterEntry* entry = FindParameter(name);
        return entry == nullptr || entry->Unit.empty() ? name : name + " (" + std::string(entry->Unit) + ")";
    };
    Resolution resolution;
    if (map.FeatureTitle.ends_with("(A/m)")) {
        resolution = {fieldStep * kAmperesPerKiloAmpere, "the field step", "A/m"};
    } else if (map.FeatureTitle == "jumps" || map.FeatureTitle == "iterations") {
        resolution.Step = 1;
    }
    const bool twoAxes = map.AxisValues.size() == 2;
    return BuildMapFigure(title(map.AxisNames[0]), map.AxisValues[0], twoAxes ? title(map.AxisNames[1]) : "",
                          twoAxes ? map.AxisValues[1] : std::vector<double>{}, map.FeatureTitle, map.Values,
                          resolution);
}

WriteNote DrawScanMap(const ScanPlotRequest& request) {
    const OffscreenGui gui;
    const FigureFormat format = FigureFormatForPath(request.Path).value_or(FigureFormat::Png);
    return WriteFileSafely(request.Path, FigureFileBytes(request.Figure, format));
}

int RunScanCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const ScanEnvironment& environment) {
    try {
        return ScanCommand(args, out, err, environment);
    } catch (const std::bad_alloc&) {
        err << kOutOfMemoryMessage << "\n";
        return kExitFileError;
    }
}

} // namespace cli
} // namespace dravo2
