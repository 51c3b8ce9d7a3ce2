#include "cli/sweep_command.h"

#include "analysis/misfit.h"
#include "analysis/model_units.h"
#include "cli/figure_output.h"
#include "cli/measured_options.h"
#include "cli/option_table.h"

#include "data/errors.h"
#include "data/experiment_reader.h"
#include "data/file_io.h"
#include "data/number_text.h"
#include "data/result_writer.h"
#include "engine/parameter_registry.h"
#include "engine/resonance_modes.h"
#include "plot/figure.h"
#include "sweep/display_preset.h"
#include "sweep/run_loop.h"
#include "sweep/sweep_driver.h"
#include "version/version.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <ostream>
#include <sstream>

namespace dravo2 {
inline namespace cli {
namespace {

struct Options : SweepKeys {
    bool Modes = false;             // --modes: the mode columns in the CSV table
    std::string ResonanceFrequency; // --resonance-fields: its text
    int Reversals = 0;
    std::string OutputPath;
    std::string ReadPath;
    std::string Filter;
    MeasuredOptions Measured;
    OutputOptions Output;
    bool Help = false;
    bool Version = false;
    bool Reading = false;        // --read was given
    bool OutputGiven = false;    // -o was given
    bool SweepArguments = false; // a KEY=VALUE or --reverse was given
};

// The "modes" figure draws the resonance modes along the loop that "M vs Hx" runs.
constexpr const char* kModesFigure = "modes";

// One KEY=VALUE argument: a parameter of the registry, or the display mode (null entry).
struct Key {
    std::string_view Name;
    std::string_view Note;
    std::string_view Default;
    const ParameterEntry* Entry = nullptr;
};

constexpr std::string_view kModeNote = "MvHx, MvHy, theta-theta, DeltaR or FMR; modes: the resonance modes";

// The registry's keys with the display mode before the solver.
std::vector<Key> Keys() {
    std::vector<Key> keys;
    for (const ParameterEntry& entry : ParameterRegistry()) {
        if (entry.Key == "solver") {
            keys.push_back({"mode", kModeNote, "MvHx", nullptr});
        }
        keys.push_back({entry.Key, entry.Note, entry.DefaultText, &entry});
    }
    return keys;
}

// A frequency in Hz from a number with an optional unit Hz, kHz, MHz or GHz ("9.8GHz", "9.8 GHz").
double FrequencyOfText(const std::string& text) {
    static constexpr std::pair<const char*, double> kUnits[] = {{"GHz", 1e9}, {"MHz", 1e6}, {"kHz", 1e3}, {"Hz", 1}};
    std::string number = text;
    double scale = 1;
    for (const auto& [unit, factor] : kUnits) {
        const std::string_view name(unit);
        if (number.size() > name.size() && number.ends_with(name)) {
            number.resize(number.size() - name.size());
            scale = factor;
            break;
        }
    }
    double value = 0;
    try {
        value = TextToDouble(number) * scale;
    } catch (const ProgramError&) {
        value = 0;
    }
    if (!(value > 0) || !std::isfinite(value)) {
        throw ProgramError("'" + text + "' is not a frequency above 0 (a number with Hz, kHz, MHz or GHz)");
    }
    return value;
}

// The command's options, taken into `options`.
OptionTable SweepOptions(Options& options) {
    OptionTable table;
    AddHelpAndVersion(table, options.Help, options.Version);
    table.Add(CommandOption{
        {"--reverse"}, OptionValue::None, [&options](const std::string&) {
            ++options.Reversals;
            options.SweepArguments = true;
        }}.Repeated());
    table.Add({{"-o"}, OptionValue::Path, [&options](const std::string& path) {
                   options.OutputPath = path;
                   options.OutputGiven = true;
               }});
    table.Add({{"--read"}, OptionValue::Path, [&options](const std::string& path) {
                   options.ReadPath = path;
                   options.Reading = true;
               }});
    table.Add({{"--filter"}, OptionValue::Text, [&options](const std::string& filter) { options.Filter = filter; }});
    AddMeasuredOptions(table, options.Measured);
    AddOutputOptions(table, options.Output);
    table.Add(CommandOption{
        {"--modes"},
        OptionValue::None,
        [&options](const std::string&) {
            options.Modes = true;
            options.SweepArguments = true;
        }}.Listed("--modes",
                  "with --format csv, append the columns f1 (Hz) .. f4 (Hz): every\n"
                  "resonance mode of the stack at each step, ascending, empty where\n"
                  "there is none (fewer layers, or a step that is no stable minimum)",
                  kOutputSection));
    table.Add(CommandOption{
        {"--resonance-fields"},
        OptionValue::Text,
        [&options](const std::string& frequency) {
            FrequencyOfText(frequency);
            options.ResonanceFrequency = frequency;
            options.SweepArguments = true;
        }}.Listed("--resonance-fields F",
                  "print to standard error the fields where a mode crosses the\n"
                  "frequency F (Hz, kHz, MHz or GHz, as 9.8GHz), by branch and mode",
                  kOutputSection));
    return table;
}

void PrintHelp(std::ostream& out) {
    out << "Usage: dravo2-sweep [KEY=VALUE]... [--reverse]... [-o FILE] [--format dat|csv] [--plot FILE]\n"
           "  or:  dravo2-sweep --read FILE --filter dat|da2\n"
           "  or:  dravo2-sweep [KEY=VALUE]... [KEY@N=VALUE]... --dataset-index N [options]\n";
    PrintMeasuredUsage(out);
    out << "  or:  dravo2-sweep --help | --version\n\n"
           "Runs a field sweep of the layer stack as the window's Start does (and one reversed\n"
           "branch per --reverse, as pressing Reverse after the sweep ended) and writes the\n"
           "result file, eight columns of 23 characters, CR LF lines, to FILE or standard output.\n"
           "With --read, loads FILE as the window's \"Read .DA2\" would with that filter and prints\n"
           "the rows it would hold.\n";
    Options scratch;
    const OptionTable table = SweepOptions(scratch);
    PrintMeasuredHelp(out, table);
    out << "\nKeys (unit, default):\n";
    for (const Key& key : Keys()) {
        std::string name = "  " + std::string(key.Name);
        name.resize(15, ' ');
        out << name << key.Note << ", default " << key.Default << "\n";
    }
    out << "\nOutput options:\n" << table.HelpText(kOutputSection, {23, false});
    out << "\nA repeated key takes its last value; every value is checked. KEY@N=VALUE, as a fit of several\n"
           "data sets writes the values of its data set N, counts as KEY=VALUE with --dataset-index N and\n"
           "is left out for another N.\n"
           "\nExit status: 0 done; 1 a floating-point error during a step; 2 a bad argument or value;\n"
           "3 a file or standard output that cannot be read or written; 130 interrupted by Ctrl-C or\n"
           "SIGTERM. After 1 and 130 the rows recorded so far are written; no rows leave FILE alone.\n";
}

// The words of a joint fit's output for one data set: with --dataset-index N, KEY@N=VALUE becomes
// KEY=VALUE and the words of other data sets are left out; without it such words are refused.
std::vector<std::string> ChooseDataSet(const std::vector<std::string>& args) {
    std::string index;
    OptionTable choice;
    choice.Add({{"--dataset-index"}, OptionValue::Text, [&index](const std::string& text) {
                    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text[0] == '0') {
                        throw ProgramError("--dataset-index takes a data set number from 1, not '" + text + "'");
                    }
                    index = text;
                }});
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!choice.Take(args, i)) {
            rest.push_back(args[i]);
        }
    }
    const std::vector<Key> keys = Keys();
    std::vector<std::string> chosen;
    for (const std::string& arg : rest) {
        const std::size_t equals = arg.find('=');
        const std::size_t at = arg.find('@');
        const bool own =
            equals != std::string::npos && at < equals && at + 1 < equals &&
            arg.find_first_not_of("0123456789", at + 1) == equals &&
            std::any_of(keys.begin(), keys.end(), [&](const Key& key) { return key.Name == arg.substr(0, at); });
        if (!own) {
            chosen.push_back(arg);
            continue;
        }
        if (index.empty()) {
            throw ProgramError("'" + arg +
                               "' belongs to one data set of a joint fit: choose it with --dataset-index N");
        }
        if (arg.substr(at + 1, equals - at - 1) == index) {
            chosen.push_back(arg.substr(0, at) + arg.substr(equals));
        }
    }
    return chosen;
}

Options ParseArguments(const std::vector<std::string>& rawArgs) {
    const std::vector<std::string> args = ChooseDataSet(rawArgs);
    Options options;
    OptionTable table = SweepOptions(options);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (table.Take(args, i)) {
            continue;
        }
        const std::size_t equals = arg.find('=');
        if (equals == std::string::npos || !SetSweepKey(arg.substr(0, equals), arg.substr(equals + 1), options)) {
            throw ProgramError("Unknown argument '" + arg + "' (see --help)");
        }
        options.SweepArguments = true;
    }
    if (options.Reading && (options.OutputGiven || options.SweepArguments)) {
        throw ProgramError("--read prints the rows it reads: -o, --reverse and KEY=VALUE do not go with it");
    }
    if (!options.Filter.empty() && !options.Reading) {
        throw ProgramError("--filter goes with --read FILE");
    }
    if (!options.Measured.ImportPath.empty() && (options.Reading || options.OutputGiven || options.SweepArguments)) {
        throw ProgramError("--import prints the table it would load: --read, -o, --reverse and KEY=VALUE do not go "
                           "with it");
    }
    if (options.Reading && !options.Measured.ComparePath.empty()) {
        throw ProgramError("--read and --compare do not go together");
    }
    if (options.Modes && options.Output.Format != "csv") {
        throw ProgramError("--modes adds the columns f1 (Hz) .. f4 (Hz) to the CSV table: it goes with --format csv");
    }
    CheckMeasuredOptions(options.Measured);
    if (options.Output.Residuals && (options.Measured.ComparePath.empty() || options.Output.PlotPath.empty())) {
        throw ProgramError("--residuals goes with --compare and --plot");
    }
    CheckOutputOptions(options.Output, options.Reading || !options.Measured.ImportPath.empty());
    CheckDistinctFiles({{"--compare", options.Measured.ComparePath}},
                       {{"-o", options.OutputPath}, {"--plot", options.Output.PlotPath}});
    return options;
}

// The plan of Start and `reversals` Reverses, and the start state the display mode's preset
// gives a fresh window's session.
LoopPlan PlanOf(const Options& options, int reversals, InitialState& initial) {
    const DisplayMode mode = ModeNamed(options.Mode);
    LoopPlan plan;
    plan.ProjectionAlongY = mode == DisplayMode::MvHy;
    plan.Modes = options.Modes || options.Mode == kModesFigure || !options.ResonanceFrequency.empty();
    plan.Branches.push_back(options.Parameters.Sweep);
    for (int branch = 1; branch <= reversals; ++branch) {
        plan.Branches.push_back(ReversedBranch(plan.Branches.back()));
    }
    initial = mode == DisplayMode::MvHx || mode == DisplayMode::MvHy ? InitialState::Saturated() : InitialState{};
    return plan;
}

// Runs Start and the Reverses of `options` with a progress bar per branch on a terminal.
LoopResult RunBranches(const Options& options, int reversals, std::ostream& err, bool progressBar,
                       const std::atomic<bool>* stop) {
    CheckLoopStart(options);
    InitialState initial;
    const LoopPlan plan = PlanOf(options, reversals, initial);
    std::size_t ended = 0; // branches whose bar has its closing line
    auto progress = [&](std::size_t branch, std::int32_t step, std::int32_t steps) {
        for (; ended < branch; ++ended) {
            err << "\n";
        }
        DrawProgressBar(err, branch == 0 ? "start" : "reverse " + std::to_string(branch), step, steps > 0 ? steps : 1,
                        40);
    };
    LoopResult result =
        RunLoop(options.Parameters.Model, plan, initial, stop, progressBar ? LoopProgress(progress) : LoopProgress());
    if (progressBar) {
        // A line ends every branch begun, except one ended by a failed step.
        const std::size_t lines = result.BranchRows.size() - (result.End == LoopEnd::FloatingPointError ? 1 : 0);
        for (; ended < lines; ++ended) {
            err << "\n";
        }
    }
    return result;
}

// The resonance fields at the frequency of --resonance-fields, for standard error.
std::string ResonanceFieldsText(const std::string& frequencyText, const SimulationData& table,
                                const std::vector<ModeRow>& modes) {
    const double frequency = FrequencyOfText(frequencyText);
    const std::int32_t rows = std::max(table.SimRows, 0);
    const std::vector<ResonanceField> found = ResonanceFields(
        {table.SimTable.Column(1), static_cast<std::size_t>(rows)}, modes, TableBranchNumbers(table), frequency);
    std::string text = "Resonance fields at " + RoundTripText(frequency) + " Hz";
    if (found.empty()) {
        return text + ": none\n";
    }
    text += ":\nbranch,mode,H (A/m)\n";
    for (const ResonanceField& field : found) {
        text += std::to_string(field.Branch) + "," + std::to_string(field.Mode) + "," + RoundTripText(field.H) + "\n";
    }
    return text;
}

int ReadCommand(const Options& options, std::ostream& out, std::ostream& err, char separator) {
    ExperimentFormat format = ExperimentFormat::Dat;
    if (options.Filter == "da2") {
        format = ExperimentFormat::Da2;
    } else if (options.Filter != "dat" && !options.Filter.empty()) {
        err << "'" << options.Filter << "' is not a filter (dat or da2)\n";
        return kExitBadInput;
    }
    InputFile file(options.ReadPath);
    TextReader text([&file](char* buffer, std::size_t size) { return file.Read(buffer, size); }, true);
    auto experiment = std::make_unique<ExperimentData>();
    experiment->ClearExpTable();
    int status = kExitOk;
    try {
        if (ReadExperiment(text, format, *experiment, separator, nullptr)) {
            err << kRowsCutMessage << "\n";
        }
    } catch (const ProgramError& error) {
        err << error.what() << "\n";
        status = kExitFileError;
    }
    WriteStandardOutput(out, TableText(experiment->ExpTable, experiment->ExpRows, experiment->ExpCols));
    return status;
}

} // namespace

DisplayMode ModeNamed(const std::string& name) {
    if (name == "MvHx" || name == kModesFigure) {
        return DisplayMode::MvHx;
    }
    if (name == "MvHy") {
        return DisplayMode::MvHy;
    }
    if (name == "theta-theta") {
        return DisplayMode::ThetaTheta;
    }
    if (name == "DeltaR") {
        return DisplayMode::DeltaR;
    }
    if (name == "FMR") {
        return DisplayMode::Fmr;
    }
    throw ProgramError("'" + name + "' is not a display mode (MvHx, MvHy, theta-theta, DeltaR or FMR)");
}

bool SetSweepKey(const std::string& name, const std::string& value, SweepKeys& keys) {
    if (name == "mode") {
        ModeNamed(value);
        keys.Mode = value;
        return true;
    }
    const ParameterEntry* entry = FindParameter(name);
    if (entry == nullptr) {
        return false;
    }
    entry->Set(keys.Parameters, ParseParameter(*entry, value));
    if (name == "gamma" && !(keys.Parameters.Model.Gamma > 0)) {
        throw ProgramError("'" + value + "' is not a gyromagnetic ratio above 0");
    }
    keys.Typed[name] = value;
    if (name == "DR") {
        keys.DeltaRText = value;
    }
    return true;
}

void CheckLoopStart(const SweepKeys& keys) {
    CheckLayerSigns(keys.Parameters.Model.Stack, [&keys](std::string_view key) {
        const auto typed = keys.Typed.find(key);
        return typed != keys.Typed.end() ? typed->second : std::string(Parameter(key).DefaultText);
    });
    CheckStartPlot(keys.Parameters.Model, keys.Parameters.Sweep, ModeNamed(keys.Mode), keys.DeltaRText);
}

bool IsSweepKey(const std::string& name) {
    const std::vector<Key> keys = Keys();
    return std::any_of(keys.begin(), keys.end(), [&name](const Key& key) { return key.Name == name; });
}

SweepLoop RunSweepLoop(const std::vector<std::string>& keyArgs, char separator, const std::atomic<bool>* stop) {
    (void)separator;
    const Options options = ParseArguments(keyArgs);
    std::ostringstream quiet;
    const LoopResult result = RunBranches(options, 1, quiet, false, stop != nullptr ? stop : &InterruptFlag());
    SweepLoop loop;
    loop.StartRows = result.BranchRows.empty() ? 0 : result.BranchRows.front();
    if (!result.Error.empty()) {
        loop.StepError = result.Error;
    }
    loop.TableFilled = result.End == LoopEnd::TableFull;
    loop.Stopped = result.End == LoopEnd::Stopped;
    loop.Iterations = result.Iterations;
    const LayerValues layers = LayersOf(options.Parameters.Model.Stack);
    loop.SaturationProjection = SaturationProjection(layers.M, layers.t);
    loop.SheetMoment = SaturatedMoment(layers.M, layers.t, 1.0, 1.0);
    loop.Table = std::make_unique<SimulationData>();
    FillTable(result, *loop.Table);
    return loop;
}

int RunSweepCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool progress,
                    char separator) {
    Options options;
    try {
        options = ParseArguments(args);
    } catch (const ProgramError& error) {
        err << error.what() << "\n";
        return kExitBadInput;
    } catch (const std::bad_alloc&) {
        err << kOutOfMemoryMessage << "\n";
        return kExitFileError;
    }
    try {
        if (options.Help || options.Version) {
            std::ostringstream text;
            if (options.Help) {
                PrintHelp(text);
            } else {
                text << VersionText("dravo2-sweep");
            }
            WriteStandardOutput(out, text.str());
            return kExitOk;
        }
        if (options.Reading) {
            return ReadCommand(options, out, err, separator);
        }
        CheckOutputLocation(options.OutputPath);
        if (!options.Measured.ImportPath.empty()) {
            return RunImportCommand(options.Measured, out, err);
        }
        auto measured = std::make_unique<ExperimentData>();
        if (!options.Measured.ComparePath.empty()) {
            ImportMeasured(options.Measured.ComparePath, options.Measured, *measured, err);
            ComparisonTerms(options.Measured, *measured, 1.0); // refuses an area without a moment unit
        }
        CheckOutputLocation(options.Output.PlotPath);
        const LoopResult result = RunBranches(options, options.Reversals, err, progress, &InterruptFlag());
        int status = kExitOk;
        if (result.End == LoopEnd::FloatingPointError) {
            err << result.Error << "\n";
            status = kExitStepError;
        }
        if (result.End == LoopEnd::TableFull) {
            err << kTableFullMessage << "\n";
        }
        if (result.End == LoopEnd::Stopped) {
            err << kInterruptedMessage << "\n";
            status = kExitInterrupted;
        }
        auto table = std::make_unique<SimulationData>();
        FillTable(result, *table);
        const LayerStack& stack = options.Parameters.Model.Stack;
        const bool comparing = !options.Measured.ComparePath.empty();
        FigureComparison comparison;
        ModelUnitsCurve measuredRows;
        if (comparing) {
            comparison.Misfit = CompareMeasured(*measured, *table, stack, options.Measured);
            comparison.Saturation = StackSaturation(stack);
            measuredRows = MeasuredInModelUnits(MeasuredCurve(*measured), SimulatedCurve(*table), comparison.Misfit,
                                                comparison.Saturation);
        }
        const std::vector<ModeRow>& modes = result.Modes;
        WriteResult(options.OutputPath,
                    TableOutputText(options.Output, *table, stack, comparing ? &measuredRows : nullptr,
                                    options.Modes ? &modes : nullptr),
                    out, err);
        WritePlotFile(options.Output, *table, ModeNamed(options.Mode), comparing ? measured.get() : nullptr,
                      comparing ? &comparison : nullptr, options.Mode == kModesFigure ? &modes : nullptr, err);
        if (!options.ResonanceFrequency.empty()) {
            err << ResonanceFieldsText(options.ResonanceFrequency, *table, modes);
        }
        if (comparing) {
            err << MisfitLine(comparison.Misfit, separator) << "\n";
        }
        return status;
    } catch (const InputOutputError& error) {
        return WriteFailureStatus(error, err);
    } catch (const ProgramError& error) {
        err << error.what() << "\n";
        return kExitBadInput;
    } catch (const std::bad_alloc&) {
        err << kOutOfMemoryMessage << "\n";
        return kExitFileError;
    }
}

} // namespace cli
} // namespace dravo2
