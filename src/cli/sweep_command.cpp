#include "cli/sweep_command.h"

#include "analysis/misfit.h"
#include "analysis/model_units.h"
#include "cli/figure_output.h"
#include "cli/measured_options.h"

#include "data/errors.h"
#include "data/experiment_reader.h"
#include "data/file_io.h"
#include "data/number_text.h"
#include "data/result_writer.h"
#include "engine/resonance_modes.h"
#include "plot/figure.h"
#include "sweep/sweep_driver.h"
#include "version/version.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <ostream>
#include <sstream>

namespace dravo2 {
namespace {

struct Options {
    SweepParameters Sweep;
    std::string Mode = "MvHx";
    std::string Aniso = "UA";
    std::string Solver = "descent";
    std::string Gamma = "1.76e11";  // rad/(s T), as the table's resonance column takes it
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

// The checks of a value as it is read, each with the conversion the sweep applies to that field,
// so that a value overridden by a repeated key is refused with the same message.
using ValueCheck = void (*)(const std::string&);

void CheckReal(const std::string& text) {
    TextToReal(text);
}
void CheckDouble(const std::string& text) {
    TextToDouble(text);
}
void CheckInteger(const std::string& text) {
    TextToInteger(text);
}
void CheckAniso(const std::string& text) {
    if (text != "UA" && text != "QU") {
        throw ProgramError("'" + text + "' is not an anisotropy form (UA or QU)");
    }
}
void CheckMode(const std::string& text) {
    ModeNamed(text);
}
void CheckGamma(const std::string& text) {
    if (!(TextToDouble(text) > 0)) {
        throw ProgramError("'" + text + "' is not a gyromagnetic ratio above 0");
    }
}
void CheckSolver(const std::string& text) {
    if (text != "descent" && text != "newton") {
        throw ProgramError("'" + text + "' is not a solver (descent or newton)");
    }
}

// One KEY=VALUE argument: a text field, a whole-degree scroll-bar position or a choice.
struct Key {
    std::string Name;
    std::string Unit;
    std::function<std::string*(Options&)> Text;
    std::function<int*(Options&)> Degrees;
    ValueCheck Check = nullptr;
};

std::vector<Key> Keys() {
    std::vector<Key> keys;
    auto text = [&keys](std::string name, std::string unit, ValueCheck check,
                        std::function<std::string*(Options&)> field) {
        keys.push_back({std::move(name), std::move(unit), std::move(field), nullptr, check});
    };
    auto numbered = [](std::string stem, std::size_t i) { return stem.append(1, static_cast<char>('1' + i)); };
    for (std::size_t i = 0; i < 4; ++i) {
        text(numbered("M", i), "T", CheckReal, [i](Options& o) { return &o.Sweep.Texts.M[i]; });
    }
    for (std::size_t i = 0; i < 4; ++i) {
        text(numbered("t", i), "m", CheckReal, [i](Options& o) { return &o.Sweep.Texts.t[i]; });
    }
    for (std::size_t i = 0; i < 4; ++i) {
        text(numbered("K", i), "J/m^3", CheckReal, [i](Options& o) { return &o.Sweep.Texts.K[i]; });
    }
    for (std::size_t i = 0; i < 4; ++i) {
        keys.push_back(
            {numbered("axis", i), "deg, 0 to 90", nullptr, [i](Options& o) { return &o.Sweep.Texts.AxisDegrees[i]; }});
    }
    keys.push_back(
        {"field_angle", "deg, 0 to 90", nullptr, [](Options& o) { return &o.Sweep.Texts.FieldAngleDegrees; }});
    text("J1", "J/m^2, layers 1-2", CheckReal, [](Options& o) { return &o.Sweep.Texts.J1; });
    text("J2", "J/m^2, layers 2-3", CheckReal, [](Options& o) { return &o.Sweep.Texts.J2; });
    text("J3", "J/m^2, layers 3-4", CheckReal, [](Options& o) { return &o.Sweep.Texts.J3; });
    text("Jbq1", "J/m^2, biquadratic 1-2", CheckReal, [](Options& o) { return &o.Sweep.Texts.Jbq1; });
    text("Jbq2", "J/m^2, biquadratic 2-3", CheckReal, [](Options& o) { return &o.Sweep.Texts.Jbq2; });
    text("bias", "J/m^2, on layer 4", CheckDouble, [](Options& o) { return &o.Sweep.Texts.Bias; });
    text("DR", "GMR %", CheckReal, [](Options& o) { return &o.Sweep.DeltaR; });
    text("start", "kA/m", CheckDouble, [](Options& o) { return &o.Sweep.Texts.StartF; });
    text("steps", "count", CheckInteger, [](Options& o) { return &o.Sweep.Texts.Nstep; });
    text("step", "kA/m", CheckDouble, [](Options& o) { return &o.Sweep.Texts.StepF; });
    text("noise", "rad", CheckDouble, [](Options& o) { return &o.Sweep.Texts.Ramp; });
    text("conv", "per rad", CheckReal, [](Options& o) { return &o.Sweep.Texts.Conv; });
    text("maxiter", "count", CheckInteger, [](Options& o) { return &o.Sweep.Texts.MaxIter; });
    text("aniso", "UA or QU", CheckAniso, [](Options& o) { return &o.Aniso; });
    text("mode", "MvHx, MvHy, theta-theta, DeltaR or FMR; modes: the resonance modes", CheckMode,
         [](Options& o) { return &o.Mode; });
    text("solver", "descent (gradient descent) or newton (fast)", CheckSolver, [](Options& o) { return &o.Solver; });
    text("gamma", "rad/(s T), of the resonance modes", CheckGamma, [](Options& o) { return &o.Gamma; });
    return keys;
}

void PrintHelp(std::ostream& out) {
    Options defaults;
    out << "Usage: dravo2-sweep [KEY=VALUE]... [--reverse]... [-o FILE] [--format dat|csv] [--plot FILE]\n"
           "  or:  dravo2-sweep --read FILE --filter dat|da2\n";
    PrintMeasuredUsage(out);
    out << "  or:  dravo2-sweep --help | --version\n\n"
           "Runs a field sweep of the layer stack as the window's Start does (and one reversed\n"
           "branch per --reverse, as pressing Reverse after the sweep ended) and writes the\n"
           "result file, eight columns of 23 characters, CR LF lines, to FILE or standard output.\n"
           "With --read, loads FILE as the window's \"Read .DA2\" would with that filter and prints\n"
           "the rows it would hold.\n";
    PrintMeasuredHelp(out);
    out << "\nKeys (unit, default):\n";
    for (const Key& key : Keys()) {
        const std::string value = key.Text ? *key.Text(defaults) : std::to_string(*key.Degrees(defaults));
        std::string name = "  " + key.Name;
        name.resize(15, ' ');
        out << name << key.Unit << ", default " << value << "\n";
    }
    out << "\nOutput options:\n" << OutputOptionsHelp();
    out << "  --modes              with --format csv, append the columns f1 (Hz) .. f4 (Hz): every\n"
           "                       resonance mode of the stack at each step, ascending, empty where\n"
           "                       there is none (fewer layers, or a step that is no stable minimum)\n"
           "  --resonance-fields F print to standard error the fields where a mode crosses the\n"
           "                       frequency F (Hz, kHz, MHz or GHz, as 9.8GHz), by branch and mode\n";
    out << "\nA repeated key takes its last value; every value is checked.\n"
           "\nExit status: 0 done; 1 a floating-point error during a step; 2 a bad argument or value;\n"
           "3 a file or standard output that cannot be read or written; 130 interrupted by Ctrl-C or\n"
           "SIGTERM. After 1 and 130 the rows recorded so far are written; no rows leave FILE alone.\n";
}

int ParseDegrees(const std::string& text) {
    const std::int32_t value = TextToInteger(text);
    if (value < 0 || value > 90) {
        throw ConversionError("'" + text + "' is not a whole number of degrees from 0 to 90");
    }
    return value;
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

Options ParseArguments(const std::vector<std::string>& args) {
    Options options;
    const std::vector<Key> keys = Keys();
    OptionsSeen seen({"--reverse"});
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        seen.Meet(arg);
        if (arg == "--help" || arg == "-h") {
            options.Help = true;
        } else if (arg == "--version") {
            options.Version = true;
        } else if (arg == "--reverse") {
            ++options.Reversals;
            options.SweepArguments = true;
        } else if (arg == "-o") {
            options.OutputPath = NextOptionValue(args, i);
            CheckOutputName(options.OutputPath);
            options.OutputGiven = true;
        } else if (arg == "--read") {
            options.ReadPath = NextOptionValue(args, i);
            options.Reading = true;
        } else if (arg == "--modes") {
            options.Modes = true;
            options.SweepArguments = true;
        } else if (arg == "--resonance-fields") {
            options.ResonanceFrequency = NextOptionValue(args, i);
            FrequencyOfText(options.ResonanceFrequency);
            options.SweepArguments = true;
        } else if (arg == "--filter") {
            options.Filter = NextOptionValue(args, i);
        } else if (TakeMeasuredOption(args, i, options.Measured)) {
            continue;
        } else if (ParseOutputOption(
                       arg, [&] { return NextOptionValue(args, i); }, options.Output)) {
            // taken into options.Output
        } else {
            const std::size_t equals = arg.find('=');
            const std::string name = arg.substr(0, equals);
            bool known = false;
            for (const Key& key : keys) {
                if (equals != std::string::npos && key.Name == name) {
                    const std::string value = arg.substr(equals + 1);
                    if (key.Text) {
                        key.Check(value);
                        *key.Text(options) = value;
                    } else {
                        *key.Degrees(options) = ParseDegrees(value);
                    }
                    known = true;
                    options.SweepArguments = true;
                }
            }
            if (!known) {
                throw ProgramError("Unknown argument '" + arg + "' (see --help)");
            }
        }
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
    options.Sweep.Texts.UniaxialChecked = options.Aniso == "UA";
    options.Sweep.Texts.QuarticChecked = options.Aniso == "QU";
    return options;
}

// Start and the ticks of each branch, as the window runs them, with a progress bar on a terminal.
class HeadlessRun {
public:
    HeadlessRun(const Options& options, char separator, std::ostream& err, bool progress)
        : Opts(options), Mode(ModeNamed(options.Mode)), Err(err), Progress(progress), Driver(separator) {
        Driver.Create(SweepFieldsOf(ParameterTexts{}));
        Driver.Session.Solver.Method = options.Solver == "newton" ? SolverMethod::Newton : SolverMethod::Descent;
        CollectModes = options.Modes || options.Mode == kModesFigure || !options.ResonanceFrequency.empty();
        Gamma = TextToDouble(options.Gamma);
    }

    void Start() { Driver.Start(Opts.Sweep, Mode); }

    void Reverse(int branch) {
        Driver.Reverse();
        Sweep("reverse " + std::to_string(branch));
    }

    const SimulationData& Table() const { return *Driver.Simulation; }
    const LayerStack& Stack() const { return Driver.Session.Model.Stack; }
    std::unique_ptr<SimulationData> TakeTable() { return std::move(Driver.Simulation); }
    bool TableFilled() const { return Filled; }
    bool Interrupted() const { return Stopped; }
    std::int64_t Iterations() const { return IterationSum; }

    // The resonance modes of rows 1..SimRows (none for a row whose step failed).
    std::vector<ModeRow> Modes() const {
        std::vector<ModeRow> modes = RowModes;
        ModeRow none;
        none.fill(std::numeric_limits<double>::quiet_NaN());
        modes.resize(static_cast<std::size_t>(std::max(Table().SimRows, 0)), none);
        return modes;
    }

    // A flag besides Ctrl-C that ends the branch before its next step (a scan's own stop).
    void StopWhen(const std::atomic<bool>* stop) { StopFlag = stop; }

    // The ticks of one branch until its last step, until the table is full or until Ctrl-C.
    void Sweep(const std::string& label) {
        for (;;) {
            if (InterruptRequested() || (StopFlag != nullptr && StopFlag->load(std::memory_order_relaxed))) {
                Stopped = true;
                break;
            }
            const TickResult result = Driver.Tick(Opts.Sweep.DeltaR, Mode);
            if (Driver.Recorded) {
                IterationSum += Driver.Session.IterationCount;
                if (CollectModes) {
                    RowModes.resize(static_cast<std::size_t>(Table().SimRows - 1));
                    RowModes.push_back(ResonanceModes(Driver.Session.Model, Driver.Session.Theta, Gamma));
                }
                ShowProgress(label);
            }
            if (result == TickResult::TableFull) {
                Filled = true;
            }
            if (result != TickResult::Continue) {
                break;
            }
        }
        if (Progress) {
            Err << "\n";
        }
    }

private:
    void ShowProgress(const std::string& label) {
        if (!Progress) {
            return;
        }
        const SweepSession& session = Driver.Session;
        const std::int32_t total = session.Nstep > 0 ? session.Nstep : 1;
        const int width = 40;
        const int filled = static_cast<int>(static_cast<long long>(session.StepIndex) * width / total);
        Err << "\r" << label << " [" << std::string(static_cast<std::size_t>(filled > width ? width : filled), '#')
            << std::string(static_cast<std::size_t>(filled > width ? 0 : width - filled), ' ') << "] "
            << session.StepIndex << "/" << total << std::flush;
    }

    const Options& Opts;
    DisplayMode Mode;
    std::ostream& Err;
    bool Progress;
    SweepDriver Driver;
    bool Filled = false;
    bool Stopped = false;
    std::int64_t IterationSum = 0;
    const std::atomic<bool>* StopFlag = nullptr;
    bool CollectModes = false;
    double Gamma = 0;
    std::vector<ModeRow> RowModes;
};

// The resonance fields at the frequency of --resonance-fields, for standard error.
std::string ResonanceFieldsText(const std::string& frequencyText, const SimulationData& table,
                                const std::vector<ModeRow>& modes) {
    const double frequency = FrequencyOfText(frequencyText);
    const std::int32_t rows = std::max(table.SimRows, 0);
    const std::vector<ResonanceField> found = ResonanceFields(
        {table.SimTable.Column(1), static_cast<std::size_t>(rows)}, modes, TableBranchNumbers(table), frequency);
    auto shortest = [](double value) {
        char buffer[32];
        return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
    };
    std::string text = "Resonance fields at " + shortest(frequency) + " Hz";
    if (found.empty()) {
        return text + ": none\n";
    }
    text += ":\nbranch,mode,H (A/m)\n";
    for (const ResonanceField& field : found) {
        text += std::to_string(field.Branch) + "," + std::to_string(field.Mode) + "," + shortest(field.H) + "\n";
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

bool IsSweepKey(const std::string& name) {
    const std::vector<Key> keys = Keys();
    return std::any_of(keys.begin(), keys.end(), [&name](const Key& key) { return key.Name == name; });
}

std::string SweepKeyUnit(const std::string& name) {
    for (const Key& key : Keys()) {
        if (key.Name == name) {
            return key.Unit;
        }
    }
    return {};
}

SweepLoop RunSweepLoop(const std::vector<std::string>& keyArgs, char separator, const std::atomic<bool>* stop) {
    const Options options = ParseArguments(keyArgs);
    TextToReal(options.Sweep.DeltaR, separator);
    std::ostringstream quiet;
    HeadlessRun run(options, separator, quiet, false);
    run.StopWhen(stop);
    run.Start();
    SweepLoop loop;
    bool started = false;
    try {
        run.Sweep("start");
        started = true;
        loop.StartRows = run.Table().SimRows;
        if (!run.TableFilled() && !run.Interrupted()) {
            run.Reverse(1);
        }
    } catch (const ProgramError& error) {
        loop.StepError = error.what();
    }
    if (!started) {
        loop.StartRows = run.Table().SimRows;
    }
    loop.TableFilled = run.TableFilled();
    loop.Stopped = run.Interrupted();
    loop.Iterations = run.Iterations();
    const LayerStack& stack = run.Stack();
    std::array<double, kLayers> m{};
    std::array<double, kLayers> t{};
    for (std::size_t i = 0; i < kLayers; ++i) {
        m[i] = static_cast<double>(stack.M[i]);
        t[i] = static_cast<double>(stack.t[i]);
    }
    loop.SaturationProjection = SaturationProjection(m, t);
    loop.SheetMoment = SaturatedMoment(m, t, 1.0, 1.0);
    loop.Table = run.TakeTable();
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
    if (options.Version) {
        out << VersionText("dravo2-sweep");
        return kExitOk;
    }
    try {
        if (options.Help) {
            std::ostringstream help;
            PrintHelp(help);
            WriteStandardOutput(out, help.str());
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
        // The magnetoresistance amplitude is read at every step; a bad one is refused up front.
        TextToReal(options.Sweep.DeltaR, separator);
        auto run = std::make_unique<HeadlessRun>(options, separator, err, progress);
        run->Start();
        int status = kExitOk;
        try {
            run->Sweep("start");
            for (int branch = 1; branch <= options.Reversals && !run->TableFilled() && !run->Interrupted(); ++branch) {
                run->Reverse(branch);
            }
        } catch (const ProgramError& error) {
            err << error.what() << "\n";
            status = kExitStepError;
        }
        if (run->TableFilled()) {
            err << kTableFullMessage << "\n";
        }
        if (run->Interrupted()) {
            err << kInterruptedMessage << "\n";
            status = kExitInterrupted;
        }
        const bool comparing = !options.Measured.ComparePath.empty();
        FigureComparison comparison;
        ModelUnitsCurve measuredRows;
        if (comparing) {
            comparison.Misfit = CompareMeasured(*measured, run->Table(), run->Stack(), options.Measured);
            comparison.Saturation = StackSaturation(run->Stack());
            measuredRows = MeasuredInModelUnits(MeasuredCurve(*measured), SimulatedCurve(run->Table()),
                                                comparison.Misfit, comparison.Saturation);
        }
        const std::vector<ModeRow> modes = run->Modes();
        WriteResult(options.OutputPath,
                    TableOutputText(options.Output, run->Table(), options.Sweep.Texts, separator,
                                    comparing ? &measuredRows : nullptr, options.Modes ? &modes : nullptr),
                    out, err);
        WritePlotFile(options.Output, run->Table(), ModeNamed(options.Mode), comparing ? measured.get() : nullptr,
                      comparing ? &comparison : nullptr, options.Mode == kModesFigure ? &modes : nullptr);
        if (!options.ResonanceFrequency.empty()) {
            err << ResonanceFieldsText(options.ResonanceFrequency, run->Table(), modes);
        }
        if (comparing) {
            err << MisfitLine(comparison.Misfit, separator) << "\n";
        }
        return status;
    } catch (const InputOutputError& error) {
        err << error.what() << "\n";
        return kExitFileError;
    } catch (const ProgramError& error) {
        err << error.what() << "\n";
        return kExitBadInput;
    } catch (const std::bad_alloc&) {
        err << kOutOfMemoryMessage << "\n";
        return kExitFileError;
    }
}

} // namespace dravo2
