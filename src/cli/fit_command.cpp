#include "cli/fit_command.h"

#include "cli/cli_common.h"
#include "data/errors.h"
#include "data/file_io.h"
#include "data/number_text.h"
#include "fit/fit_job.h"
#include "version/version.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <numbers>
#include <ostream>
#include <sstream>
#include <thread>

namespace dravo2 {
namespace {

struct FitOptions {
    std::string File;
    std::array<int, 2> Columns{1, 2};
    std::string FieldUnit;
    std::vector<std::string> Free;
    std::vector<std::pair<std::string, fit::Bounds>> Bounds;
    fit::Background Terms;
    fit::SearchSettings Search;
    bool Newton = true;
    double StepKam = 0;
    std::string ReportPath;
    ParameterTexts Texts;
    bool Help = false;
    bool Version = false;
};

void PrintHelp(std::ostream& out) {
    out << "Usage: dravo2-fit FILE [--columns F,M] [--field-unit U] --free NAME[,NAME...]\n"
           "                  [--bounds NAME=LO:HI]... [--background slope|offset|both]\n"
           "                  [--evals N] [--time SECONDS] [--threads N] [--seed N]\n"
           "                  [--solver newton|descent] [--step KAM] [--report REPORT.json] [KEY=VALUE...]\n"
           "  or:  dravo2-fit --help | --version\n\n"
           "Fits the free layer parameters to the measured loop in FILE: the loop is simulated along\n"
           "the measured branches (a Start to the end of the first branch, then one sweep to the end\n"
           "of each further branch) and compared with the measured moment, scaled, with the chosen\n"
           "background. KEY=VALUE sets the other parameters as in dravo2-sweep; the sweep keys start,\n"
           "steps and step follow from the measured branches.\n\n"
           "  --columns F,M     field and moment columns, counted from 1 (default 1,2)\n"
           "  --field-unit U    A/m, kA/m, Oe, mT or T (mT and T: mu0 H); default A/m\n"
           "  --free NAMES      parameters to fit: M1..M4 t1..t4 K1..K4 J1..J3 Jbq1 Jbq2 bias\n"
           "                    axis1..axis4 field_angle\n"
           "  --bounds N=LO:HI  bounds of a free parameter (default: M, t, K from v/10 to 10 v,\n"
           "                    couplings and bias -10|v| to 10|v|, angles 0 to 90)\n"
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

std::int64_t Count(const std::string& text, const std::string& what, std::int64_t least) {
    const double value = PlainNumber(text, what);
    if (value != std::floor(value) || value < static_cast<double>(least) || value > 1e15) {
        throw ProgramError("'" + text + "' is not a whole number of at least " + std::to_string(least) + " for " +
                           what);
    }
    return static_cast<std::int64_t>(value);
}

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
        } else if (arg == "--columns") {
            const std::string text = next();
            const auto items = SplitList(text, ',');
            if (items.size() != 2) {
                throw ProgramError("--columns takes two column numbers, as 1,2");
            }
            for (std::size_t k = 0; k < 2; ++k) {
                options.Columns[k] = static_cast<int>(Count(items[k], "--columns", 1));
            }
        } else if (arg == "--field-unit") {
            options.FieldUnit = next();
        } else if (arg == "--free") {
            for (const std::string& name : SplitList(next(), ',')) {
                FittableIndex(name);
                options.Free.push_back(name);
            }
        } else if (arg == "--bounds") {
            const std::string text = next();
            const std::size_t equals = text.find('=');
            const std::size_t colon = text.find(':', equals == std::string::npos ? 0 : equals);
            if (equals == std::string::npos || colon == std::string::npos) {
                throw ProgramError("--bounds takes NAME=LO:HI, not '" + text + "'");
            }
            const std::string name = text.substr(0, equals);
            FittableIndex(name);
            options.Bounds.push_back({name,
                                      {PlainNumber(text.substr(equals + 1, colon - equals - 1), "--bounds"),
                                       PlainNumber(text.substr(colon + 1), "--bounds")}});
        } else if (arg == "--background") {
            const std::string value = next();
            if (value != "slope" && value != "offset" && value != "both") {
                throw ProgramError("'" + value + "' is not a background (slope, offset or both)");
            }
            options.Terms = {value != "offset", value != "slope"};
        } else if (arg == "--evals") {
            options.Search.Evaluations = Count(next(), "--evals", 1);
        } else if (arg == "--time") {
            const double seconds = PlainNumber(next(), "--time");
            if (!(seconds > 0)) {
                throw ProgramError("--time takes a positive number of seconds");
            }
            options.Search.TimeLimit = seconds;
        } else if (arg == "--threads") {
            options.Search.Threads = static_cast<int>(Count(next(), "--threads", 1));
        } else if (arg == "--seed") {
            options.Search.Seed = static_cast<std::uint64_t>(Count(next(), "--seed", 0));
        } else if (arg == "--solver") {
            ApplyKey(options, "solver=" + next(), separator);
        } else if (arg == "--step") {
            options.StepKam = PlainNumber(next(), "--step");
            if (!(options.StepKam > 0)) {
                throw ProgramError("--step takes a positive field step in kA/m");
            }
        } else if (arg == "--report") {
            options.ReportPath = next();
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

// A/m per unit of the field column.
double FieldFactor(const std::string& unit) {
    constexpr double mu0 = 4e-7 * std::numbers::pi;
    if (unit.empty() || unit == "A/m") {
        return 1;
    }
    if (unit == "kA/m") {
        return 1000;
    }
    if (unit == "Oe") {
        return 1000 / (4 * std::numbers::pi);
    }
    if (unit == "mT") {
        return 1e-3 / mu0;
    }
    if (unit == "T") {
        return 1 / mu0;
    }
    throw ProgramError("'" + unit + "' is not a field unit (A/m, kA/m, Oe, mT or T)");
}

// The measured loop of a delimited text file: comment lines (#, %, !) and rows that are not all
// numbers (column names, units) are passed over; commas, semicolons, TABs and spaces separate.
fit::MeasuredLoop ReadLoop(const FitOptions& options) {
    const double factor = FieldFactor(options.FieldUnit);
    std::istringstream text(ReadWholeFile(options.File));
    fit::MeasuredLoop loop;
    std::string line;
    const auto needed = static_cast<std::size_t>(std::max(options.Columns[0], options.Columns[1]));
    while (std::getline(text, line)) {
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#' || line[first] == '%' || line[first] == '!') {
            continue;
        }
        std::vector<double> values;
        std::string cell;
        bool numeric = true;
        for (char c : line + "\n") {
            if (c == ',' || c == ';' || c == '\t' || c == ' ' || c == '\r' || c == '\n') {
                if (!cell.empty()) {
                    try {
                        values.push_back(TextToDouble(cell, '.'));
                    } catch (const ProgramError&) {
                        numeric = false;
                    }
                    cell.clear();
                }
            } else {
                cell += c;
            }
        }
        if (!numeric || values.size() < needed) {
            continue;
        }
        loop.Field.push_back(values[static_cast<std::size_t>(options.Columns[0] - 1)] * factor);
        loop.Moment.push_back(values[static_cast<std::size_t>(options.Columns[1] - 1)]);
    }
    if (loop.Field.size() < 3) {
        throw ProgramError(options.File + ": fewer than three rows with numbers in columns " +
                           std::to_string(options.Columns[0]) + " and " + std::to_string(options.Columns[1]));
    }
    return loop;
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
                  const std::function<bool()>& interrupted, char separator) {
    FitOptions options;
    std::unique_ptr<fit::FitJob> job;
    try {
        options = ParseArguments(args, separator);
        if (options.Help) {
            PrintHelp(out);
            return kExitOk;
        }
        if (options.Version) {
            out << VersionText("dravo2-fit");
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
            request.Measured = ReadLoop(options);
        } catch (const InputOutputError& error) {
            err << options.File << ": " << error.what() << "\n";
            return kExitFileError;
        }
        if (options.FieldUnit.empty()) {
            err << "The field unit was not stated: the field column is taken in A/m (see --field-unit)\n";
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
        request.Simulation.Terms = options.Terms;
        request.Simulation.Separator = separator;
        request.Settings = options.Search;
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
    try {
        WriteStandardOutput(out, fit::KeyValueLines(outcome.Fitted, options.Newton));
        if (!options.ReportPath.empty()) {
            WriteFileSafely(options.ReportPath, fit::SummaryJson(outcome.Summary).dump(2) + "\n");
        }
    } catch (const InputOutputError& error) {
        err << error.what() << "\n";
        return kExitFileError;
    }
    return stopped ? kExitInterrupted : kExitOk;
}

} // namespace dravo2
