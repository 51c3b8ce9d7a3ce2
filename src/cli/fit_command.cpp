#include "cli/fit_command.h"

#include "cli/cli_common.h"
#include "cli/measured_options.h"
#include "data/errors.h"
#include "data/file_io.h"
#include "data/number_text.h"
#include "fit/fit_job.h"
#include "version/version.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <numbers>
#include <ostream>
#include <sstream>
#include <thread>

namespace dravo2 {
namespace {

struct FitOptions {
    std::string File;
    MeasuredOptions Measured; // --columns, --field-unit, --rows and --background
    std::vector<std::string> Free;
    std::vector<std::pair<std::string, fit::Bounds>> Bounds;
    fit::SearchSettings Search;
    bool Newton = true;
    std::string Solver; // as given, empty for the default
    double StepKam = 0;
    std::string ReportPath;
    ParameterTexts Texts;
    bool Help = false;
    bool Version = false;
};

void PrintHelp(std::ostream& out) {
    out << "Usage: dravo2-fit FILE [--columns FIELD,MOMENT] [--field-unit UNIT] [--rows thin|first]\n"
           "                  [--sigma COLUMN] [--moment-unit emu|Am2] [--area AREA]\n"
           "                  --free NAME[,NAME...] [--bounds NAME=LO:HI]... [--background slope|offset|both]\n"
           "                  [--evals N] [--time SECONDS] [--threads N] [--seed N]\n"
           "                  [--solver newton|descent] [--step KAM] [--report REPORT.json] [KEY=VALUE...]\n"
           "  or:  dravo2-fit --help | --version\n\n"
           "Fits the free layer parameters to the measured loop in FILE: the loop is simulated along\n"
           "the measured branches (a Start to the end of the first branch, then one sweep to the end\n"
           "of each further branch) and compared with the measured moment, scaled, with the chosen\n"
           "background. The misfit is the weighted RMS residual over half the measured moment's\n"
           "peak-to-peak. KEY=VALUE sets the other parameters as in dravo2-sweep; the sweep keys start,\n"
           "steps and step follow from the measured branches.\n\n"
           "FILE is read as the window's import reads it (delimited text, a magnetometer export or a\n"
           "result file).\n"
           "  --columns F,M     field and moment columns, by number from 1 or by name\n"
           "  --field-unit U    A/m, kA/m, Oe, mT or T (mT and T of mu0 H); default the unit the file states\n"
           "  --rows R          thin (every k-th row, the default) or first (the first 4096) for longer curves\n"
           "  --sigma C         the moment's standard uncertainty column: weights 1/sigma^2, chi2 and\n"
           "                    standard errors scaled by the reduced chi2\n"
           "  --moment-unit U   emu or Am2, where the file does not state the moment's unit\n"
           "  --area A          the sample's area (0.2947cm2, mm2 or m2): the scale is the computed\n"
           "                    saturated moment sum(M t) A / mu0, so that M and t can be fitted\n"
           "  --free NAMES      parameters to fit: M1..M4 t1..t4 K1..K4 J1..J3 Jbq1 Jbq2 bias\n"
           "                    axis1..axis4 field_angle\n"
           "  --bounds N=LO:HI  bounds of a free parameter (default: M, t, K from v/10 to 10 v, M at\n"
           "                    most 2.5 T and t at most 100 nm, couplings and bias -10|v| to 10|v|,\n"
           "                    angles 0 to 90)\n"
           "  --background B    fit a slope, an offset or both besides the scale\n"
           "  --evals N         evaluations of each search (default 2000)\n"
           "  --time SECONDS    stop after this wall time\n"
           "  --threads N       independent searches at once (default: all cores)\n"
           "  --seed N          seed of the first search (default 1)\n"
           "  --solver S        newton (default) or descent\n"
           "  --step KAM        field step of the simulated branches, kA/m (default: median spacing)\n"
           "  --report FILE     the summary as JSON\n\n"
           "Standard output: the parameter set after the fit as KEY=VALUE lines, for\n"
           "  dravo2-sweep $(cat fitted) --reverse --compare FILE\n"
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

// KEY=VALUE: a fittable parameter's field or one of the solver and sweep settings.
void ApplyKey(FitOptions& options, const std::string& arg, char separator) {
    const std::size_t equals = arg.find('=');
    const std::string key = arg.substr(0, equals);
    const std::string value = arg.substr(equals + 1);
    ParameterTexts& t = options.Texts;
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
        if (value != "newton" && value != "descent") {
            throw ProgramError("'" + value + "' is not a solver (newton or descent)");
        }
        if (!options.Solver.empty() && options.Solver != value) {
            throw ProgramError("Two solvers given (" + options.Solver + " and " + value + "): give one");
        }
        options.Solver = value;
        options.Newton = value == "newton";
    } else if (key == "start" || key == "steps" || key == "step" || key == "DR") {
        // The sweep follows the measured branches; the magnetoresistance plays no part in a fit.
        TextToReal(value, separator);
    } else if (key == "mode") {
        if (value != "MvHx") {
            throw ProgramError("A fit compares the magnetisation along x: mode must be MvHx");
        }
    } else {
        throw ProgramError("Unknown argument '" + arg + "' (see --help)");
    }
}

FitOptions ParseArguments(const std::vector<std::string>& args, char separator) {
    FitOptions options;
    OptionsSeen seen({"--free", "--bounds"});
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        seen.Meet(arg);
        if (arg == "--import" || arg == "--compare") {
            throw ProgramError("Unknown argument '" + arg + "' (see --help)");
        }
        if (TakeMeasuredOption(args, i, options.Measured)) {
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            options.Help = true;
        } else if (arg == "--version") {
            options.Version = true;
        } else if (arg == "--free") {
            for (const std::string& name : SplitList(NextOptionValue(args, i), ',')) {
                FittableIndex(name);
                if (std::find(options.Free.begin(), options.Free.end(), name) != options.Free.end()) {
                    throw ProgramError(name + " is freed twice");
                }
                options.Free.push_back(name);
            }
        } else if (arg == "--bounds") {
            const std::string text = NextOptionValue(args, i);
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
            options.Bounds.push_back({name,
                                      {PlainNumber(text.substr(equals + 1, colon - equals - 1), "--bounds"),
                                       PlainNumber(text.substr(colon + 1), "--bounds")}});
        } else if (arg == "--evals") {
            options.Search.Evaluations = Count(NextOptionValue(args, i), "--evals", 1, kMaxEvaluations);
        } else if (arg == "--time") {
            const double seconds = PlainNumber(NextOptionValue(args, i), "--time");
            if (!(seconds > 0) || seconds > kMaxSeconds) {
                throw ProgramError("--time takes a positive number of seconds, at most 1e8");
            }
            options.Search.TimeLimit = seconds;
        } else if (arg == "--threads") {
            options.Search.Threads = static_cast<int>(Count(NextOptionValue(args, i), "--threads", 1, kMaxThreads));
        } else if (arg == "--seed") {
            options.Search.Seed = static_cast<std::uint64_t>(Count(NextOptionValue(args, i), "--seed", 0, kMaxSeed));
        } else if (arg == "--solver") {
            ApplyKey(options, "solver=" + NextOptionValue(args, i), separator);
        } else if (arg == "--step") {
            options.StepKam = PlainNumber(NextOptionValue(args, i), "--step");
            if (!(options.StepKam > 0)) {
                throw ProgramError("--step takes a positive field step in kA/m");
            }
        } else if (arg == "--report") {
            options.ReportPath = NextPathValue(args, i);
        } else if (arg.find('=') != std::string::npos && arg.rfind("--", 0) != 0) {
            ApplyKey(options, arg, separator);
        } else if (arg.rfind("-", 0) != 0 && options.File.empty()) {
            options.File = arg;
        } else {
            throw ProgramError("Unknown argument '" + arg + "' (see --help)");
        }
    }
    if (options.Help || options.Version) {
        return options;
    }
    if (options.File.empty()) {
        throw ProgramError("Give the measured FILE to fit (see --help)");
    }
    options.Measured.ComparePath = options.File; // the curve the choices apply to
    CheckMeasuredOptions(options.Measured);
    CheckDistinctFiles({{"FILE", options.File}}, {{"--report", options.ReportPath}});
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

void ShowProgress(std::ostream& err, fit::Search& search, std::int64_t total) {
    const fit::ProgressPoint best = search.Best();
    const int width = 30;
    const std::int64_t done = std::min(best.Evaluations, total);
    const int filled = static_cast<int>(done * width / std::max<std::int64_t>(total, 1));
    err << "\rfit [" << std::string(static_cast<std::size_t>(filled), '#')
        << std::string(static_cast<std::size_t>(width - filled), ' ') << "] " << best.Evaluations << "/" << total
        << " evaluations, best misfit "
        << (std::isfinite(best.Misfit) ? GeneralNumberText(best.Misfit, 4, '.') : std::string("none")) << "   "
        << std::flush;
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
                PrintHelp(text);
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
        fit::FitRequest request;
        request.Texts = options.Texts;
        try {
            if (!options.ReportPath.empty()) {
                CheckOutputLocation(options.ReportPath);
            }
        } catch (const InputOutputError& error) {
            err << options.ReportPath << ": " << error.what() << "\n";
            return kExitFileError;
        }
        try {
            auto experiment = std::make_unique<ExperimentData>();
            ImportMeasured(options.File, options.Measured, *experiment, err);
            const auto rows = static_cast<std::size_t>(experiment->ExpRows);
            request.Measured.Field.assign(experiment->ExpTable.Column(1), experiment->ExpTable.Column(1) + rows);
            request.Measured.Moment.assign(experiment->ExpTable.Column(2), experiment->ExpTable.Column(2) + rows);
            if (experiment->SigmaColumn > 0) {
                const double* sigma = experiment->ExpTable.Column(experiment->SigmaColumn);
                request.Measured.Sigma.assign(sigma, sigma + rows);
            }
            request.Measured.MomentUnit = experiment->MomentUnit;
            ComparisonTerms(options.Measured, *experiment, 1.0); // refuses an area without a moment unit
        } catch (const InputOutputError& error) {
            err << options.File << ": " << error.what() << "\n";
            return kExitFileError;
        }
        for (const std::string& name : options.Free) {
            fit::FreeChoice choice{FittableIndex(name), std::nullopt};
            for (const auto& [bounded, bounds] : options.Bounds) {
                if (bounded == name) {
                    choice.Range = bounds;
                }
            }
            request.Free.push_back(choice);
        }
        request.Simulation.Step = options.StepKam * 1000;
        request.Simulation.Newton = options.Newton;
        request.Simulation.Terms = BackgroundOf(options.Measured);
        request.Simulation.Area = options.Measured.Area.empty() ? 0.0 : AreaFromText(options.Measured.Area);
        request.Simulation.Separator = separator;
        request.Settings = options.Search;
        if (threadLimit > 0 && request.Settings.Threads > static_cast<int>(threadLimit)) {
            err << "Note: --threads " << request.Settings.Threads << " lowered to " << threadLimit
                << ", the cores this process may use (the result is that of --threads " << threadLimit << ")\n";
            request.Settings.Threads = static_cast<int>(threadLimit);
            options.Search.Threads = request.Settings.Threads;
        }
        job = std::make_unique<fit::FitJob>(std::move(request));
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
        WriteStandardOutput(out, fit::KeyValueLines(outcome.Fitted, options.Newton));
        if (!options.ReportPath.empty()) {
            WriteOutputFile(options.ReportPath, fit::SummaryJson(outcome.Summary).dump(2) + "\n", err);
        }
    } catch (const InputOutputError& error) {
        return WriteFailureStatus(error, err);
    }
    return stopped ? kExitInterrupted : kExitOk;
}

} // namespace dravo2
