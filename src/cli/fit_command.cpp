#include "cli/fit_command.h"

#include "cli/cli_common.h"
#include "cli/measured_options.h"
#include "cli/option_table.h"
#include "data/errors.h"
#include "data/file_io.h"
#include "data/number_text.h"
#include "fit/fit_job.h"
#include "fit/project.h"

#include "version/version.h"
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>
#include <numbers>
#include <optional>
#include <ostream>
#include <sstream>
#include <thread>

namespace dravo2 {
inline namespace cli {
namespace {

// A measured curve given with --dataset and what follows it: its own curve options and its own
// KEY=VALUE words.
struct DataSetOptions {
    std::string File;
    MeasuredOptions Measured;
    std::string Observable;
    std::vector<std::string> Words;
};

struct FitOptions {
    std::string File;
    MeasuredOptions Measured; // --columns, --field-unit, --rows and --background
    std::string Observable;   // --observable before the first --dataset
    std::vector<DataSetOptions> DataSets;
    std::string ProjectPath;                             // a project file given in place of FILE
    std::string SaveProjectPath;                         // --save-project
    std::vector<std::pair<std::string, bool>> FreeLocal; // the free names, each local (NAME@) or shared
    bool TimeGiven = false;
    bool ThreadsGiven = false;
    std::vector<std::string> Free;
    std::vector<std::pair<std::string, fit::Bounds>> Bounds;
    fit::SearchSettings Search;
    bool Newton = true;
    std::string Solver; // as given, empty for the default
    std::string Gamma;  // gamma= as given, empty for the default gyromagnetic ratio
    double StepKam = 0;
    std::string ReportPath;
    ParameterTexts Texts;
    bool Help = false;
    bool Version = false;
};

void PrintHelp(std::ostream& out, const OptionTable& table) {
    out << "Usage: dravo2-fit FILE [--columns FIELD,MOMENT] [--field-unit UNIT] [--rows thin|first]\n"
           "                  [--sigma COLUMN] [--moment-unit emu|Am2] [--area AREA]\n"
           "                  --free NAME[,NAME...] [--bounds NAME=LO:HI]... [--background slope|offset|both]\n"
           "                  [--evals N] [--time SECONDS] [--threads N] [--seed N]\n"
           "                  [--solver newton|descent] [--step KAM] [--report REPORT.json] [KEY=VALUE...]\n"
           "  or:  dravo2-fit [KEY=VALUE...] --free NAME[,NAME@...] [options] --dataset FILE [--columns C]\n"
           "                  [--field-unit U] [--sigma C] [--background B] [--area A]\n"
           "                  [--observable projection|magnetoresistance|resonance] [--frequency-unit U]\n"
           "                  [--mode-column C] [KEY=VALUE...] --dataset FILE ...\n"
           "  or:  dravo2-fit PROJECT.json [options]\n"
           "  or:  dravo2-fit --help | --version\n\n"
           "Fits the free layer parameters to the measured loop in FILE: the loop is simulated along\n"
           "the measured branches (a Start to the end of the first branch, then one sweep to the end\n"
           "of each further branch) and compared with the measured moment, scaled, with the chosen\n"
           "background. The misfit is the weighted RMS residual over half the measured moment's\n"
           "peak-to-peak. KEY=VALUE sets the other parameters as in dravo2-sweep; the sweep keys start,\n"
           "steps and step follow from the measured branches.\n\n"
           "FILE is read as the window's import reads it (delimited text, a magnetometer export or a\n"
           "result file).\n";
    out << table.HelpText("", {20, false}) << "\n";
    out << "Standard output: the parameter set after the fit as KEY=VALUE lines, for\n"
           "  dravo2-sweep $(cat fitted) --reverse --compare FILE\n"
           "with several data sets a value that differs between them as KEY@N=VALUE (N from 1), for\n"
           "  dravo2-sweep $(cat fitted) --dataset-index N --reverse --compare FILE_N\n"
           "Exit status: 0 done, 1 the search failed, 2 a bad argument or value, 3 a file that cannot be\n"
           "read or written, 130 stopped by Ctrl-C or SIGTERM (the best set so far is written).\n";
}

std::vector<std::string> SplitList(const std::string& text, char separator) {
    std::vector<std::string> items;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, separator)) {
        items.push_back(item);
    }
    return items;
}

std::size_t FittableIndex(const std::string& name) {
    if (const auto index = fit::ParameterIndex(name)) {
        return *index;
    }
    throw ProgramError("'" + name + "' is not a fittable parameter (see --help)");
}

double PlainNumber(const std::string& text, const std::string& what) {
    try {
        return TextToDouble(text, '.');
    } catch (const ProgramError&) {
        throw ProgramError("'" + text + "' is not a number for " + what);
    }
}

// A whole number from `least` to `most`, so that no count wraps around where it is used.
std::int64_t Count(const std::string& text, const std::string& what, std::int64_t least, std::int64_t most) {
    const double value = PlainNumber(text, what);
    if (value != std::floor(value) || value < static_cast<double>(least) || value > static_cast<double>(most)) {
        throw ProgramError("'" + text + "' is not a whole number from " + std::to_string(least) + " to " +
                           std::to_string(most) + " for " + what);
    }
    return static_cast<std::int64_t>(value);
}

// The search's budget of evaluations is an int; threads beyond a few thousand cannot be started.
constexpr std::int64_t kMaxEvaluations = std::numeric_limits<int>::max();
constexpr std::int64_t kMaxThreads = 4096;
constexpr std::int64_t kMaxSeed = 1'000'000'000'000'000;
constexpr double kMaxSeconds = 1e8;

// KEY=VALUE: a fittable parameter's field or one of the solver and sweep settings, into `t`
// (the fields of all data sets, or with `local` those of one data set).
void ApplyKey(FitOptions& options, ParameterTexts& t, const std::string& arg, char separator, bool local = false) {
    const std::size_t equals = arg.find('=');
    const std::string key = arg.substr(0, equals);
    const std::string value = arg.substr(equals + 1);
    if (const auto index = fit::ParameterIndex(key)) {
        fit::SetParameterText(t, *index, value);
    } else if (key == "noise") {
        t.Ramp = value;
    } else if (key == "conv") {
        t.Conv = value;
    } else if (key == "maxiter") {
        t.MaxIter = value;
    } else if (key == "aniso") {
        if (value != "UA" && value != "QU") {
            throw ProgramError("'" + value + "' is not an anisotropy form (UA or QU)");
        }
        t.UniaxialChecked = value == "UA";
        t.QuarticChecked = value == "QU";
    } else if (key == "solver") {
        if (local) {
            throw ProgramError("solver= applies to every data set: give it before the first --dataset");
        }
        if (value != "newton" && value != "descent") {
            throw ProgramError("'" + value + "' is not a solver (newton or descent)");
        }
        if (!options.Solver.empty() && options.Solver != value) {
            throw ProgramError("Two solvers given (" + options.Solver + " and " + value + "): give one");
        }
        options.Solver = value;
        options.Newton = value == "newton";
    } else if (key == "gamma") {
        if (local) {
            throw ProgramError("gamma= applies to every data set: give it before the first --dataset");
        }
        if (!(TextToDouble(value, separator) > 0)) {
            throw ProgramError("gamma takes a positive gyromagnetic ratio in rad/(s T), not '" + value + "'");
        }
        options.Gamma = value;
    } else if (key == "start" || key == "steps" || key == "step" || key == "DR") {
        // The sweep follows the measured branches; the magnetoresistance amplitude only sets the
        // unit of the simulated DeltaR, which a fitted scale absorbs.
        TextToReal(value, separator);
    } else if (key == "mode") {
        if (value != "MvHx") {
            throw ProgramError("A fit compares the magnetisation along x: mode must be MvHx");
        }
    } else {
        throw ProgramError("Unknown argument '" + arg + "' (see --help)");
    }
}

bool IsKeyWord(const std::string& arg) {
    return arg.find('=') != std::string::npos && arg.rfind("--", 0) != 0;
}

// The options that, after a --dataset, belong to that data set.
bool IsDataSetOption(const std::string& arg) {
    return arg == "--columns" || arg == "--field-unit" || arg == "--rows" || arg == "--sigma" ||
           arg == "--moment-unit" || arg == "--background" || arg == "--area" || arg == "--observable" ||
           arg == "--frequency-unit" || arg == "--mode-column";
}

// Refuses resonance options on a curve that is not a resonance table, and the terms of a loop on
// one that is.
void CheckResonanceOptions(const MeasuredOptions& options, const std::string& observable) {
    const bool resonance = observable == "resonance";
    if (!resonance && (!options.FrequencyUnit.empty() || !options.ModeColumn.empty())) {
        throw ProgramError("--frequency-unit and --mode-column go with --observable resonance");
    }
    if (resonance && (!options.Background.empty() || !options.Area.empty() || !options.MomentUnit.empty())) {
        throw ProgramError("A resonance table takes no --background, --area or --moment-unit");
    }
}

void CheckObservable(const std::string& observable) {
    if (!observable.empty() && observable != "projection" && observable != "magnetoresistance" &&
        observable != "resonance") {
        throw ProgramError("'" + observable + "' is not an observable (projection, magnetoresistance or resonance)");
    }
}

// A data set's curve options: its own, else those given before the first --dataset.
MeasuredOptions MergedOptions(const MeasuredOptions& all, const DataSetOptions& set) {
    MeasuredOptions merged = set.Measured;
    auto fill = [](std::string& own, const std::string& shared) {
        if (own.empty()) {
            own = shared;
        }
    };
    fill(merged.Columns, all.Columns);
    fill(merged.FieldUnit, all.FieldUnit);
    fill(merged.Background, all.Background);
    fill(merged.Rows, all.Rows);
    fill(merged.Sigma, all.Sigma);
    fill(merged.MomentUnit, all.MomentUnit);
    fill(merged.Area, all.Area);
    fill(merged.FrequencyUnit, all.FrequencyUnit);
    fill(merged.ModeColumn, all.ModeColumn);
    merged.ComparePath = set.File;
    return merged;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The command's options, taken into `options`; those of a measured curve into `curve` and
// `observable` (the shared ones, or a --dataset's own).
OptionTable FitOptionTable(FitOptions& options, MeasuredOptions& curve, std::string& observable, char separator) {
    OptionTable table;
    AddHelpAndVersion(table, options.Help, options.Version);
    auto measured = [&curve](const char* name, const char* synopsis, const char* help) {
        return MeasuredOption(name, curve).Listed(synopsis, help);
    };
    table.Add(measured("--columns", "--columns F,M", "field and moment columns, by number from 1 or by name"));
    table.Add(measured("--field-unit", "--field-unit U",
                       "A/m, kA/m, Oe, mT or T (mT and T of mu0 H); default the unit the file states"));
    table.Add(measured("--rows", "--rows R",
                       "thin (every k-th row, the default) or first (the first 4096) for longer curves"));
    table.Add(measured("--sigma", "--sigma C",
                       "the moment's standard uncertainty column: weights 1/sigma^2, chi2 and\n"
                       "standard errors scaled by the reduced chi2"));
    table.Add(
        measured("--moment-unit", "--moment-unit U", "emu or Am2, where the file does not state the moment's unit"));
    table.Add(measured("--area", "--area A",
                       "the sample's area (0.2947cm2, mm2 or m2): the scale is the computed\n"
                       "saturated moment sum(M t) A / mu0, so that M and t can be fitted"));
    table.Add(CommandOption{{"--free"},
                            OptionValue::Text,
                            [&options](const std::string& names) {
                                for (std::string name : SplitList(names, ',')) {
                                    const bool local = EndsWith(name, "@");
                                    if (local) {
                                        name.pop_back();
                                    }
                                    FittableIndex(name);
                                    if (std::find(options.Free.begin(), options.Free.end(), name) !=
                                        options.Free.end()) {
                                        throw ProgramError(name + " is freed twice");
                                    }
                                    options.Free.push_back(name);
                                    options.FreeLocal.emplace_back(name, local);
                                }
                            }}
                  .Listed("--free NAMES", "parameters to fit: M1..M4 t1..t4 K1..K4 J1..J3 Jbq1 Jbq2 bias\n"
                                          "axis1..axis4 field_angle")
                  .Repeated());
    table.Add(CommandOption{{"--bounds"},
                            OptionValue::Text,
                            [&options](const std::string& text) {
                                const std::size_t equals = text.find('=');
                                const std::size_t colon = text.find(':', equals == std::string::npos ? 0 : equals);
                                if (equals == std::string::npos || colon == std::string::npos) {
                                    throw ProgramError("--bounds takes NAME=LO:HI, not '" + text + "'");
                                }
                                const std::string name = text.substr(0, equals);
                                FittableIndex(name);
                                for (const auto& [bounded, range] : options.Bounds) {
                                    if (bounded == name) {
                                        throw ProgramError("--bounds given twice for " + name);
                                    }
                                }
                                options.Bounds.push_back(
                                    {name,
                                     {PlainNumber(text.substr(equals + 1, colon - equals - 1), "--bounds"),
                                      PlainNumber(text.substr(colon + 1), "--bounds")}});
                            }}
                  .Listed("--bounds N=LO:HI", "bounds of a free parameter (default: M, t, K from v/10 to 10 v, M at\n"
                                              "most 2.5 T and t at most 100 nm, couplings and bias -10|v| to 10|v|,\n"
                                              "angles 0 to 90)")
                  .Repeated());
    table.Add(measured("--background", "--background B", "fit a slope, an offset or both besides the scale"));
    table.Add(CommandOption{
        {"--evals"}, OptionValue::Text, [&options](const std::string& text) {
            options.Search.Evaluations = Count(text, "--evals", 1, kMaxEvaluations);
        }}.Listed("--evals N", "evaluations of each search (default 2000)"));
    table.Add(CommandOption{
        {"--time"}, OptionValue::Text, [&options](const std::string& text) {
            const double seconds = PlainNumber(text, "--time");
            if (!(seconds > 0) || seconds > kMaxSeconds) {
                throw ProgramError("--time takes a positive number of seconds, at most 1e8");
            }
            options.Search.TimeLimit = seconds;
            options.TimeGiven = true;
        }}.Listed("--time SECONDS", "stop after this wall time"));
    table.Add(CommandOption{
        {"--threads"}, OptionValue::Text, [&options](const std::string& text) {
            options.Search.Threads = static_cast<int>(Count(text, "--threads", 1, kMaxThreads));
            options.ThreadsGiven = true;
        }}.Listed("--threads N", "independent searches at once (default: all cores)"));
    table.Add(CommandOption{
        {"--seed"}, OptionValue::Text, [&options](const std::string& text) {
            options.Search.Seed = static_cast<std::uint64_t>(Count(text, "--seed", 0, kMaxSeed));
        }}.Listed("--seed N", "seed of the first search (default 1)"));
    table.Add(CommandOption{
        {"--solver"}, OptionValue::Text, [&options, separator](const std::string& solver) {
            ApplyKey(options, options.Texts, "solver=" + solver, separator);
        }}.Listed("--solver S", "newton (default) or descent"));
    table.Add(CommandOption{
        {"--step"}, OptionValue::Text, [&options](const std::string& text) {
            options.StepKam = PlainNumber(text, "--step");
            if (!(options.StepKam > 0)) {
                throw ProgramError("--step takes a positive field step in kA/m");
            }
        }}.Listed("--step KAM", "field step of the simulated branches, kA/m (default: median spacing)"));
    table.Add(CommandOption{
        {"--report"}, OptionValue::Path, [&options](const std::string& path) {
            options.ReportPath = path;
        }}.Listed("--report FILE", "the summary as JSON"));
    table.Add(CommandOption{
        {"--observable"},
        OptionValue::Text,
        [&observable](const std::string& value) {
            observable = value;
        }}.Listed("--observable O", "projection (the default) or magnetoresistance: the curve is the DeltaR\n"
                                    "column over its amplitude, with a scale and an offset of its own\n"
                                    "or resonance: an (H, f) table compared with the stack's resonance modes along a\n"
                                    "loop from its largest |H| down and back up, each point with its mode (else the\n"
                                    "nearest one) on the branch of its sweep direction; residuals in Hz over the\n"
                                    "uncertainties (--sigma, also a linewidth), else over the half frequency range"));
    table.Add(measured("--frequency-unit", "--frequency-unit U",
                       "Hz, kHz, MHz or GHz of a resonance table; default the unit the file states"));
    table.Add(measured("--mode-column", "--mode-column C",
                       "the column giving each resonance point's mode, 1 for the lowest\n"
                       "(gamma=VALUE before the first --dataset sets the gyromagnetic ratio, rad/(s T))"));
    table.Add(CommandOption{{"--dataset"},
                            OptionValue::Path,
                            [&options](const std::string& path) {
                                options.DataSets.push_back({path, {}, {}, {}});
                            }}
                  .Listed("--dataset FILE",
                          "one of several curves fitted together; the curve options and KEY=VALUE\n"
                          "words after it are its own, those before the first --dataset apply to all.\n"
                          "A free NAME is shared by all curves, NAME@ has one value per curve; each\n"
                          "curve's residuals count over its uncertainties, or else over its half range")
                  .Repeated());
    table.Add(CommandOption{
        {"--save-project"},
        OptionValue::Path,
        [&options](const std::string& path) {
            options.SaveProjectPath = path;
        }}.Listed("--save-project P", "writes the set-up as a JSON project (curve files relative to it), which\n"
                                      "dravo2-fit P reruns; further options on that command line add to it"));
    return table;
}

FitOptions ParseArguments(const std::vector<std::string>& args, char separator) {
    FitOptions options;
    OptionTable table = FitOptionTable(options, options.Measured, options.Observable, separator);
    std::optional<OptionTable> setTable; // the options of the last --dataset
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (setTable) {
            if (setTable->Take(args, i)) {
                continue;
            }
            if (IsKeyWord(arg)) {
                ParameterTexts scratch;
                ApplyKey(options, scratch, arg, separator, true);
                options.DataSets.back().Words.push_back(arg);
                continue;
            }
        }
        if (table.Take(args, i)) {
            if (arg == "--dataset") {
                DataSetOptions& set = options.DataSets.back();
                setTable = FitOptionTable(options, set.Measured, set.Observable, separator).Only(IsDataSetOption);
            }
        } else if (IsKeyWord(arg)) {
            ApplyKey(options, options.Texts, arg, separator);
        } else if (arg.rfind("-", 0) != 0 && options.File.empty()) {
            options.File = arg;
        } else {
            throw ProgramError("Unknown argument '" + arg + "' (see --help)");
        }
    }
    if (options.Help || options.Version) {
        return options;
    }
    if (options.DataSets.empty() && EndsWith(options.File, ".json")) {
        // A project: its set-up is read and parsed with the rest of the command line.
        options.ProjectPath = options.File;
        return options;
    }
    if (!options.File.empty() && !options.DataSets.empty()) {
        throw ProgramError("Give the measured curve as FILE or each curve after --dataset, not both");
    }
    if (options.File.empty() && options.DataSets.empty()) {
        throw ProgramError("Give the measured FILE to fit (see --help)");
    }
    CheckObservable(options.Observable);
    PathOptions inputs;
    if (options.DataSets.empty()) {
        options.Measured.ComparePath = options.File; // the curve the choices apply to
        CheckMeasuredOptions(options.Measured);
        CheckResonanceOptions(options.Measured, options.Observable);
        inputs.emplace_back("FILE", options.File);
    } else {
        for (const DataSetOptions& set : options.DataSets) {
            CheckMeasuredOptions(MergedOptions(options.Measured, set));
            CheckObservable(set.Observable);
            CheckResonanceOptions(MergedOptions(options.Measured, set),
                                  set.Observable.empty() ? options.Observable : set.Observable);
            inputs.emplace_back("--dataset", set.File);
        }
    }
    CheckDistinctFiles(inputs, {{"--report", options.ReportPath}, {"--save-project", options.SaveProjectPath}});
    if (options.Free.empty()) {
        throw ProgramError("Give the parameters to fit with --free NAME[,NAME...] (see --help)");
    }
    for (const auto& [name, bounds] : options.Bounds) {
        if (std::find(options.Free.begin(), options.Free.end(), name) == options.Free.end()) {
            throw ProgramError("--bounds given for " + name + ", which is not free");
        }
    }
    return options;
}

// The whole set-up of a fit as a project: the fields, the free parameters and their bounds, the
// search settings and every data set with its options and own values.
fit::Project ProjectOf(const FitOptions& options) {
    fit::Project project;
    const auto& table = fit::FittableParameters();
    for (std::size_t i = 0; i < table.size(); ++i) {
        project.Parameters.emplace_back(table[i].Name, fit::ParameterText(options.Texts, i));
    }
    project.Parameters.emplace_back("aniso", options.Texts.UniaxialChecked ? "UA" : "QU");
    project.Parameters.emplace_back("noise", options.Texts.Ramp);
    project.Parameters.emplace_back("conv", options.Texts.Conv);
    project.Parameters.emplace_back("maxiter", options.Texts.MaxIter);
    if (!options.Solver.empty()) {
        project.Parameters.emplace_back("solver", options.Solver);
    }
    if (!options.Gamma.empty()) {
        project.Parameters.emplace_back("gamma", options.Gamma);
    }
    auto curveOptions = [](const MeasuredOptions& measured, const std::string& observable) {
        return fit::NamedTexts{{"columns", measured.Columns},
                               {"field_unit", measured.FieldUnit},
                               {"rows", measured.Rows},
                               {"sigma", measured.Sigma},
                               {"moment_unit", measured.MomentUnit},
                               {"background", measured.Background},
                               {"area", measured.Area},
                               {"observable", observable},
                               {"frequency_unit", measured.FrequencyUnit},
                               {"mode_column", measured.ModeColumn}};
    };
    if (options.DataSets.empty()) {
        project.DataSets.push_back({options.File, curveOptions(options.Measured, options.Observable), {}, false});
    } else {
        project.CurveOptions = curveOptions(options.Measured, options.Observable);
        for (const DataSetOptions& given : options.DataSets) {
            fit::ProjectDataSet set{given.File, curveOptions(given.Measured, given.Observable), {}, true};
            for (const std::string& word : given.Words) {
                const std::size_t equals = word.find('=');
                set.Parameters.emplace_back(word.substr(0, equals), word.substr(equals + 1));
            }
            project.DataSets.push_back(std::move(set));
        }
    }
    for (const auto& [name, local] : options.FreeLocal) {
        project.Free.push_back(local ? name + "@" : name);
    }
    project.BoundsOf = options.Bounds;
    project.Evaluations = options.Search.Evaluations;
    project.Seed = options.Search.Seed;
    if (options.ThreadsGiven) {
        project.Threads = options.Search.Threads;
    }
    if (options.TimeGiven) {
        project.TimeLimit = options.Search.TimeLimit;
    }
    if (options.StepKam > 0) {
        project.StepKam = options.StepKam;
    }
    return project;
}

// The command-line words of a project file's set-up: the words that come before the data sets,
// and those of the data sets (paths made relative to the project's folder again).
std::pair<std::vector<std::string>, std::vector<std::string>> ProjectArguments(const std::string& path) {
    const fit::Project project = fit::ReadProjectFile(path);
    std::vector<std::string> before;
    std::vector<std::string> sets;
    for (const auto& [key, value] : project.Parameters) {
        before.push_back(key + "=" + value);
    }
    std::string free;
    for (const std::string& name : project.Free) {
        free += (free.empty() ? "" : ",") + name;
    }
    if (!free.empty()) {
        before.insert(before.end(), {"--free", free});
    }
    for (const auto& [name, range] : project.BoundsOf) {
        before.insert(before.end(),
                      {"--bounds", name + "=" + fit::ShortestText(range.Lower) + ":" + fit::ShortestText(range.Upper)});
    }
    before.insert(before.end(),
                  {"--evals", std::to_string(project.Evaluations), "--seed", std::to_string(project.Seed)});
    if (project.Threads) {
        before.insert(before.end(), {"--threads", std::to_string(*project.Threads)});
    }
    if (project.TimeLimit) {
        before.insert(before.end(), {"--time", fit::ShortestText(*project.TimeLimit)});
    }
    if (project.StepKam) {
        before.insert(before.end(), {"--step", fit::ShortestText(*project.StepKam)});
    }
    auto curveWords = [](const fit::NamedTexts& curve, std::vector<std::string>& words) {
        for (const auto& [key, value] : curve) {
            std::string option = "--" + key;
            std::replace(option.begin(), option.end(), '_', '-');
            words.insert(words.end(), {option, value});
        }
    };
    curveWords(project.CurveOptions, before);
    for (const fit::ProjectDataSet& set : project.DataSets) {
        sets.insert(sets.end(), {"--dataset", set.File});
        curveWords(set.Options, sets);
        for (const auto& [key, value] : set.Parameters) {
            sets.push_back(key + "=" + value);
        }
    }
    return {before, sets};
}

// The keys made local: the free parameters with one value per data set and the keys a data set
// gives its own value.
std::vector<std::string> LocalKeys(const FitOptions& options) {
    std::vector<std::string> keys;
    for (const auto& [name, local] : options.FreeLocal) {
        if (local) {
            keys.push_back(name);
        }
    }
    for (const DataSetOptions& set : options.DataSets) {
        for (const std::string& word : set.Words) {
            keys.push_back(word.substr(0, word.find('=')));
        }
    }
    return keys;
}

void ShowProgress(std::ostream& err, fit::Search& search, std::int64_t total) {
    const fit::ProgressPoint best = search.Best();
    DrawProgressBar(err, "fit", best.Evaluations, total, 30,
                    " evaluations, best misfit " +
                        (std::isfinite(best.Misfit) ? GeneralNumberText(best.Misfit, 4, '.') : std::string("none")) +
                        "   ");
}

} // namespace

int RunFitCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool progress,
                  const std::function<bool()>& interrupted, char separator, unsigned threadLimit) {
    FitOptions options;
    std::unique_ptr<fit::FitJob> job;
    try {
        options = ParseArguments(args, separator);
        if (options.Help || options.Version) {
            std::ostringstream text;
            if (options.Help) {
                FitOptions scratch;
                PrintHelp(text, FitOptionTable(scratch, scratch.Measured, scratch.Observable, separator));
            } else {
                text << VersionText("dravo2-fit");
            }
            try {
                WriteStandardOutput(out, text.str());
            } catch (const InputOutputError& error) {
                return WriteFailureStatus(error, err);
            }
            return kExitOk;
        }
        if (!options.ProjectPath.empty()) {
            const std::string project = options.ProjectPath;
            std::pair<std::vector<std::string>, std::vector<std::string>> words;
            try {
                words = ProjectArguments(project);
            } catch (const InputOutputError& error) {
                err << project << ": " << error.what() << "\n";
                return kExitFileError;
            }
            // The project's set-up, then the rest of the command line, then the project's data sets.
            std::vector<std::string> all = words.first;
            bool skipped = false;
            for (const std::string& arg : args) {
                if (!skipped && arg == project) {
                    skipped = true;
                    continue;
                }
                all.push_back(arg);
            }
            all.insert(all.end(), words.second.begin(), words.second.end());
            options = ParseArguments(all, separator);
            if (!options.ProjectPath.empty()) {
                throw ProgramError(project + ": a project cannot name another project");
            }
        }
        fit::FitRequest request;
        request.Texts = options.Texts;
        for (const std::string& path : {options.ReportPath, options.SaveProjectPath}) {
            try {
                if (!path.empty()) {
                    CheckOutputLocation(path);
                }
            } catch (const InputOutputError& error) {
                err << path << ": " << error.what() << "\n";
                return kExitFileError;
            }
        }
        // Every curve in the order given: the single FILE, or each --dataset.
        std::vector<DataSetOptions> curves = options.DataSets;
        if (curves.empty()) {
            curves.push_back({options.File, options.Measured, options.Observable, {}});
        }
        std::vector<fit::DataSet> sets;
        for (std::size_t k = 0; k < curves.size(); ++k) {
            const DataSetOptions& curve = curves[k];
            const MeasuredOptions measured =
                options.DataSets.empty() ? options.Measured : MergedOptions(options.Measured, curve);
            fit::DataSet set;
            set.Label = curve.File;
            set.Texts = options.Texts;
            for (const std::string& word : curve.Words) {
                ApplyKey(options, set.Texts, word, separator, true);
            }
            const std::string observable = curve.Observable.empty() ? options.Observable : curve.Observable;
            try {
                if (curves.size() > 1) {
                    err << "data set " << k + 1 << ": " << curve.File << "\n";
                }
                if (observable == "resonance") {
                    ResonanceTable table = ImportResonance(curve.File, measured, err);
                    set.Measured.Field = std::move(table.Field);
                    set.Measured.Moment = std::move(table.Frequency);
                    set.Measured.Sigma = std::move(table.Sigma);
                    set.Measured.Mode = std::move(table.Mode);
                } else {
                    auto experiment = std::make_unique<ExperimentData>();
                    ImportMeasured(curve.File, measured, *experiment, err);
                    const auto rows = static_cast<std::size_t>(experiment->ExpRows);
                    set.Measured.Field.assign(experiment->ExpTable.Column(1), experiment->ExpTable.Column(1) + rows);
                    set.Measured.Moment.assign(experiment->ExpTable.Column(2), experiment->ExpTable.Column(2) + rows);
                    if (experiment->SigmaColumn > 0) {
                        const double* sigma = experiment->ExpTable.Column(experiment->SigmaColumn);
                        set.Measured.Sigma.assign(sigma, sigma + rows);
                    }
                    set.Measured.MomentUnit = experiment->MomentUnit;
                    ComparisonTerms(measured, *experiment, 1.0); // refuses an area without a moment unit
                }
            } catch (const InputOutputError& error) {
                err << curve.File << ": " << error.what() << "\n";
                return kExitFileError;
            }
            set.Simulation.Step = options.StepKam * 1000;
            set.Simulation.Newton = options.Newton;
            set.Simulation.Terms = BackgroundOf(measured);
            set.Simulation.Area = measured.Area.empty() ? 0.0 : AreaFromText(measured.Area);
            set.Simulation.Separator = separator;
            set.Simulation.Gamma = options.Gamma.empty() ? 0.0 : TextToDouble(options.Gamma, separator);
            set.Simulation.Observable = observable == "magnetoresistance" ? fit::FitObservable::Magnetoresistance
                                        : observable == "resonance"       ? fit::FitObservable::Resonance
                                                                          : fit::FitObservable::Projection;
            sets.push_back(std::move(set));
        }
        for (const auto& [name, local] : options.FreeLocal) {
            fit::FreeChoice choice{FittableIndex(name), std::nullopt, local};
            for (const auto& [bounded, bounds] : options.Bounds) {
                if (bounded == name) {
                    choice.Range = bounds;
                }
            }
            request.Free.push_back(choice);
        }
        request.Texts = sets.front().Texts;
        request.Measured = sets.front().Measured;
        request.Simulation = sets.front().Simulation;
        if (sets.size() > 1) {
            request.DataSets = std::move(sets);
        }
        request.Settings = options.Search;
        if (threadLimit > 0 && request.Settings.Threads > static_cast<int>(threadLimit)) {
            err << "Note: --threads " << request.Settings.Threads << " lowered to " << threadLimit
                << ", the cores this process may use (the result is that of --threads " << threadLimit << ")\n";
            request.Settings.Threads = static_cast<int>(threadLimit);
            options.Search.Threads = request.Settings.Threads;
        }
        job = std::make_unique<fit::FitJob>(std::move(request));
        if (!options.SaveProjectPath.empty()) {
            try {
                WriteOutputFile(options.SaveProjectPath, fit::ProjectText(ProjectOf(options), options.SaveProjectPath),
                                err);
            } catch (const InputOutputError& error) {
                return WriteFailureStatus(error, err);
            }
        }
    } catch (const ProgramError& error) {
        err << error.what() << "\n";
        return kExitBadInput;
    }

    fit::Search& search = job->TheSearch();
    const std::int64_t total = options.Search.Evaluations * search.ThreadCount();
    fit::FitOutcome outcome;
    std::exception_ptr failure;
    std::atomic<bool> finished{false};
    std::jthread worker([&] {
        try {
            outcome = job->Run();
        } catch (...) {
            failure = std::current_exception();
        }
        finished = true;
    });
    bool stopped = false;
    while (!finished.load()) {
        if (!stopped && interrupted()) {
            job->Cancel();
            stopped = true;
        }
        if (progress) {
            ShowProgress(err, search, total);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    worker.join();
    if (progress) {
        ShowProgress(err, search, total);
        err << "\n";
    }
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& error) {
            err << error.what() << "\n";
            return kExitStepError;
        }
    }
    err << fit::SummaryText(outcome.Summary, separator);
    if (!outcome.NoMisfit.empty() && !stopped) {
        // Nothing was fitted: no parameter set is written, and the search counts as failed.
        err << "The fit failed: " << outcome.NoMisfit << "\n";
        return kExitStepError;
    }
    try {
        // The gyromagnetic ratio given is part of the set that the sweep command reproduces.
        WriteStandardOutput(out, (outcome.FittedSets.empty()
                                      ? fit::KeyValueLines(outcome.Fitted, options.Newton)
                                      : fit::KeyValueLines(outcome.FittedSets, options.Newton, LocalKeys(options))) +
                                     (options.Gamma.empty() ? "" : "gamma=" + options.Gamma + "\n"));
        if (!options.ReportPath.empty()) {
            WriteOutputFile(options.ReportPath, fit::SummaryJson(outcome.Summary).dump(2) + "\n", err);
        }
    } catch (const InputOutputError& error) {
        return WriteFailureStatus(error, err);
    }
    return stopped ? kExitInterrupted : kExitOk;
}

} // namespace cli
} // namespace dravo2
