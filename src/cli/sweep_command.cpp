#include "cli/sweep_command.h"

#include "data/errors.h"
#include "data/experiment_reader.h"
#include "data/file_io.h"
#include "data/number_text.h"
#include "data/result_writer.h"
#include "sweep/sweep_driver.h"
#include "version/version.h"

#include <functional>
#include <memory>
#include <ostream>

namespace dravo2 {
namespace {

struct Options {
    SweepParameters Sweep;
    std::string Mode = "MvHx";
    std::string Aniso = "UA";
    int Reversals = 0;
    std::string OutputPath;
    std::string ReadPath;
    std::string Filter;
    bool Help = false;
    bool Version = false;
};

// One KEY=VALUE argument: a text field, a whole-degree scroll-bar position or a choice.
struct Key {
    std::string Name;
    std::string Unit;
    std::function<std::string*(Options&)> Text;
    std::function<int*(Options&)> Degrees;
};

std::vector<Key> Keys() {
    std::vector<Key> keys;
    auto text = [&keys](std::string name, std::string unit, std::function<std::string*(Options&)> field) {
        keys.push_back({std::move(name), std::move(unit), std::move(field), nullptr});
    };
    auto numbered = [](std::string stem, std::size_t i) { return stem.append(1, static_cast<char>('1' + i)); };
    for (std::size_t i = 0; i < 4; ++i) {
        text(numbered("M", i), "T", [i](Options& o) { return &o.Sweep.Texts.M[i]; });
    }
    for (std::size_t i = 0; i < 4; ++i) {
        text(numbered("t", i), "m", [i](Options& o) { return &o.Sweep.Texts.t[i]; });
    }
    for (std::size_t i = 0; i < 4; ++i) {
        text(numbered("K", i), "J/m^3", [i](Options& o) { return &o.Sweep.Texts.K[i]; });
    }
    for (std::size_t i = 0; i < 4; ++i) {
        keys.push_back(
            {numbered("axis", i), "deg, 0 to 90", nullptr, [i](Options& o) { return &o.Sweep.Texts.AxisDegrees[i]; }});
    }
    keys.push_back(
        {"field_angle", "deg, 0 to 90", nullptr, [](Options& o) { return &o.Sweep.Texts.FieldAngleDegrees; }});
    text("J1", "J/m^2, layers 1-2", [](Options& o) { return &o.Sweep.Texts.J1; });
    text("J2", "J/m^2, layers 2-3", [](Options& o) { return &o.Sweep.Texts.J2; });
    text("J3", "J/m^2, layers 3-4", [](Options& o) { return &o.Sweep.Texts.J3; });
    text("Jbq1", "J/m^2, biquadratic 1-2", [](Options& o) { return &o.Sweep.Texts.Jbq1; });
    text("Jbq2", "J/m^2, biquadratic 2-3", [](Options& o) { return &o.Sweep.Texts.Jbq2; });
    text("bias", "J/m^2, on layer 4", [](Options& o) { return &o.Sweep.Texts.Bias; });
    text("DR", "GMR %", [](Options& o) { return &o.Sweep.DeltaR; });
    text("start", "kA/m", [](Options& o) { return &o.Sweep.Texts.StartF; });
    text("steps", "count", [](Options& o) { return &o.Sweep.Texts.Nstep; });
    text("step", "kA/m", [](Options& o) { return &o.Sweep.Texts.StepF; });
    text("noise", "rad", [](Options& o) { return &o.Sweep.Texts.Ramp; });
    text("conv", "per rad", [](Options& o) { return &o.Sweep.Texts.Conv; });
    text("maxiter", "count", [](Options& o) { return &o.Sweep.Texts.MaxIter; });
    text("aniso", "UA or QU", [](Options& o) { return &o.Aniso; });
    text("mode", "MvHx, MvHy, theta-theta, DeltaR or FMR", [](Options& o) { return &o.Mode; });
    return keys;
}

void PrintHelp(std::ostream& out) {
    Options defaults;
    out << "Usage: dravo2-sweep [KEY=VALUE]... [--reverse]... [-o FILE]\n"
           "  or:  dravo2-sweep --read FILE --filter dat|da2\n"
           "  or:  dravo2-sweep --help | --version\n\n"
           "Runs a field sweep of the layer stack as the window's Start does (and one reversed\n"
           "branch per --reverse, as pressing Reverse after the sweep ended) and writes the\n"
           "result file, eight columns of 23 characters, CR LF lines, to FILE or standard output.\n"
           "With --read, loads FILE as the window's \"Read .DA2\" would with that filter and prints\n"
           "the rows it would hold.\n\nKeys (unit, default):\n";
    for (const Key& key : Keys()) {
        const std::string value = key.Text ? *key.Text(defaults) : std::to_string(*key.Degrees(defaults));
        std::string name = "  " + key.Name;
        name.resize(15, ' ');
        out << name << key.Unit << ", default " << value << "\n";
    }
    out << "\nExit status: 0 done, 1 a floating-point error during a step (the rows recorded so far\n"
           "are written), 2 a bad argument or value.\n";
}

int ParseDegrees(const std::string& text) {
    const std::int32_t value = TextToInteger(text);
    if (value < 0 || value > 90) {
        throw ConversionError("'" + text + "' is not a whole number of degrees from 0 to 90");
    }
    return value;
}

Options ParseArguments(const std::vector<std::string>& args) {
    Options options;
    const std::vector<Key> keys = Keys();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= args.size()) {
                throw ProgramError("Option " + arg + " needs a value");
            }
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            options.Help = true;
        } else if (arg == "--version") {
            options.Version = true;
        } else if (arg == "--reverse") {
            ++options.Reversals;
        } else if (arg == "-o") {
            options.OutputPath = next();
        } else if (arg == "--read") {
            options.ReadPath = next();
        } else if (arg == "--filter") {
            options.Filter = next();
        } else {
            const std::size_t equals = arg.find('=');
            const std::string name = arg.substr(0, equals);
            bool known = false;
            for (const Key& key : keys) {
                if (equals != std::string::npos && key.Name == name) {
                    const std::string value = arg.substr(equals + 1);
                    if (key.Text) {
                        *key.Text(options) = value;
                    } else {
                        *key.Degrees(options) = ParseDegrees(value);
                    }
                    known = true;
                }
            }
            if (!known) {
                throw ProgramError("Unknown argument '" + arg + "' (see --help)");
            }
        }
    }
    if (options.Aniso != "UA" && options.Aniso != "QU") {
        throw ProgramError("'" + options.Aniso + "' is not an anisotropy form (UA or QU)");
    }
    options.Sweep.Texts.UniaxialChecked = options.Aniso == "UA";
    options.Sweep.Texts.QuarticChecked = options.Aniso == "QU";
    return options;
}

DisplayMode ModeNamed(const std::string& name) {
    if (name == "MvHx") {
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

// Start and the ticks of each branch, as the window runs them, with a progress bar on a terminal.
class HeadlessRun {
public:
    HeadlessRun(const Options& options, char separator, std::ostream& err, bool progress)
        : Opts(options), Mode(ModeNamed(options.Mode)), Err(err), Progress(progress), Driver(separator) {
        Driver.Create(SweepFieldsOf(ParameterTexts{}));
    }

    void Start() { Driver.Start(Opts.Sweep, Mode); }

    void Reverse(int branch) {
        Driver.Reverse();
        Sweep("reverse " + std::to_string(branch));
    }

    const SimulationData& Table() const { return *Driver.Simulation; }
    bool TableFilled() const { return Filled; }

    // The ticks of one branch until its last step, or until the table is full.
    void Sweep(const std::string& label) {
        for (;;) {
            const TickResult result = Driver.Tick(Opts.Sweep.DeltaR, Mode);
            if (Driver.Recorded) {
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
};

void WriteOutput(const Options& options, const std::string& bytes, std::ostream& out) {
    if (options.OutputPath.empty()) {
        out << bytes << std::flush;
    } else {
        WriteFileReplacing(options.OutputPath, bytes);
    }
}

int ReadCommand(const Options& options, std::ostream& out, std::ostream& err, char separator) {
    ExperimentFormat format = ExperimentFormat::Dat;
    if (options.Filter == "da2") {
        format = ExperimentFormat::Da2;
    } else if (options.Filter != "dat" && !options.Filter.empty()) {
        err << "'" << options.Filter << "' is not a filter (dat or da2)\n";
        return kExitBadInput;
    }
    const std::string bytes = ReadWholeFile(options.ReadPath);
    auto experiment = std::make_unique<ExperimentData>();
    experiment->ClearExpTable();
    int status = kExitOk;
    try {
        ReadExperiment(bytes, format, *experiment, separator, nullptr);
    } catch (const ProgramError& error) {
        err << error.what() << "\n";
        status = kExitStepError;
    }
    out << TableText(experiment->ExpTable, experiment->ExpRows, experiment->ExpCols) << std::flush;
    return status;
}

} // namespace

int RunSweepCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool progress,
                    char separator) {
    Options options;
    try {
        options = ParseArguments(args);
    } catch (const ProgramError& error) {
        err << error.what() << "\n";
        return kExitBadInput;
    }
    if (options.Help) {
        PrintHelp(out);
        return kExitOk;
    }
    if (options.Version) {
        out << VersionText("dravo2-sweep");
        return kExitOk;
    }
    try {
        if (!options.ReadPath.empty()) {
            return ReadCommand(options, out, err, separator);
        }
        // The magnetoresistance amplitude is read at every step; a bad one is refused up front.
        TextToReal(options.Sweep.DeltaR, separator);
        auto run = std::make_unique<HeadlessRun>(options, separator, err, progress);
        run->Start();
        int status = kExitOk;
        try {
            run->Sweep("start");
            for (int branch = 1; branch <= options.Reversals && !run->TableFilled(); ++branch) {
                run->Reverse(branch);
            }
        } catch (const ProgramError& error) {
            err << error.what() << "\n";
            status = kExitStepError;
        }
        if (run->TableFilled()) {
            err << kTableFullMessage << "\n";
        }
        WriteOutput(options, ResultFileText(run->Table()), out);
        return status;
    } catch (const ProgramError& error) {
        err << error.what() << "\n";
        return kExitBadInput;
    }
}

} // namespace dravo2
