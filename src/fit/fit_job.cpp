#include "fit/fit_job.h"

#include "data/curve_import.h"
#include "data/errors.h"
#include "data/number_text.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <thread>

namespace dravo2::fit {

namespace {

std::string ObservableName(FitObservable observable) {
    switch (observable) {
    case FitObservable::Magnetoresistance:
        return "magnetoresistance";
    case FitObservable::Resonance:
        return "resonance";
    case FitObservable::Projection:
        break;
    }
    return "projection";
}

// A resonance table's weighted rms residual in GHz; none for other curves or without a comparison.
std::optional<double> RmsGigahertz(FitObservable observable, const MisfitResult& result) {
    if (observable != FitObservable::Resonance || !result.Valid) {
        return std::nullopt;
    }
    return result.Misfit * result.HalfRange / 1e9;
}

DataSetSummary PartOf(const DataSet& set, const MisfitResult& before, const MisfitResult& after) {
    DataSetSummary part;
    part.Label = set.Label;
    part.Observable = ObservableName(set.Simulation.Observable);
    if (before.Valid) {
        part.MisfitBefore = before.Misfit;
    }
    if (after.Valid) {
        part.MisfitAfter = after.Misfit;
    }
    part.HalfRange = after.HalfRange;
    part.Scale = after.Scale;
    part.Slope = after.Slope;
    part.Offset = after.Offset;
    part.ScaleFixed = after.ScaleFixed;
    part.MomentUnit = set.Measured.MomentUnit > 0 ? MomentUnitName(set.Measured.MomentUnit) : "";
    part.RmsGigahertz = RmsGigahertz(set.Simulation.Observable, after);
    if (set.Simulation.Observable == FitObservable::Resonance) {
        part.MomentUnit = "Hz";
    }
    part.Degenerate = after.Degenerate;
    if (after.HasChiSquare) {
        part.ChiSquare = after.ChiSquare;
    }
    part.Covered = static_cast<std::size_t>(after.Covered);
    part.Total = static_cast<std::size_t>(after.Total);
    return part;
}

} // namespace

FitJob::FitJob(FitRequest request) : Request(std::move(request)) {
    if (Request.DataSets.empty()) {
        Request.DataSets.push_back({Request.Texts, Request.Measured, Request.Simulation, ""});
    }
    const std::vector<DataSet>& sets = Request.DataSets;
    std::vector<JointSlot> slots;
    for (const FreeChoice& choice : Request.Free) {
        const ParameterInfo& info = FittableParameters().at(choice.Index);
        const bool local = choice.Local && sets.size() > 1;
        for (std::size_t k = 0; k < (local ? sets.size() : 1); ++k) {
            const char separator = sets[k].Simulation.Separator;
            const std::string name = local ? info.Name + "@" + std::to_string(k + 1) : info.Name;
            const double value = ParameterValue(sets[k].Texts, choice.Index, separator);
            if (!local) {
                for (std::size_t other = 1; other < sets.size(); ++other) {
                    if (ParameterText(sets[other].Texts, choice.Index) != ParameterText(sets[0].Texts, choice.Index)) {
                        throw ProgramError(info.Name + " is shared by every data set but data set " +
                                           std::to_string(other + 1) + " sets its own: free it as " + info.Name +
                                           "@ for one value each");
                    }
                }
            }
            const Bounds bounds = choice.Range ? *choice.Range : DefaultBounds(info.Kind, value);
            Free.emplace_back(choice.Index, bounds);
            if (value < bounds.Lower || value > bounds.Upper) {
                throw ProgramError("The current value of " + name + " (" + ShortestText(value, separator) +
                                   ") lies outside its bounds");
            }
            slots.push_back({choice.Index, local ? std::optional<std::size_t>(k) : std::nullopt});
            Names.push_back(name);
            Start.push_back(value);
        }
    }
    const int threads = Request.Settings.Threads > 0
                            ? Request.Settings.Threads
                            : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const bool parallel = threads < static_cast<int>(std::thread::hardware_concurrency());
    Target = std::make_unique<JointObjective>(sets, slots, parallel);
    Searcher = std::make_unique<Search>(*Target, Free, Start, Request.Settings);
}

FitOutcome FitJob::Run() {
    FitOutcome outcome;
    FitSummary& summary = outcome.Summary;
    const bool joint = Target->Count() > 1;
    // The time limit counts from here: the first evaluation may be as long as any other.
    Searcher->StartClock();
    const StopCheck stop = [this] { return Searcher->StopRequested(); };
    const std::vector<MisfitResult> befores = Target->Compare(Start, stop);
    const double jointBefore = joint ? Target->MisfitOf(befores) : befores[0].Misfit;
    if (befores[0].Valid && std::isfinite(jointBefore)) {
        summary.MisfitBefore = jointBefore;
    }
    const SearchResult found = Searcher->Run();
    // The search's best point never does worse than the start, which seeds its population; should
    // no evaluation have happened (cancelled at once), the start stands.
    outcome.Values = found.Evaluations > 0 && found.Values.size() == Start.size() ? found.Values : Start;
    std::vector<MisfitResult> afters(Target->Count());
    for (std::size_t k = 0; k < afters.size(); ++k) {
        afters[k].Total = static_cast<std::int32_t>(Target->Set(k).Loop().Field.size());
    }
    if (!Searcher->StopRequested()) {
        afters = Target->Compare(outcome.Values, stop);
    }
    bool valid = true;
    std::string reason;
    for (const MisfitResult& result : afters) {
        if (!result.Valid && valid) {
            valid = false;
            reason = result.Reason;
        }
    }
    const MisfitResult& after = afters[0];
    std::vector<StandardError> errors(Free.size());
    std::int32_t linear = 0;
    summary.Covered = 0;
    summary.Total = 0;
    for (std::size_t k = 0; k < afters.size(); ++k) {
        summary.Covered += static_cast<std::size_t>(afters[k].Covered);
        summary.Total += static_cast<std::size_t>(afters[k].Total);
        linear += afters[k].LinearTerms;
        if (joint) {
            summary.DataSets.push_back(PartOf(Request.DataSets[k], befores[k], afters[k]));
        }
    }
    if (joint) {
        bool allChi = true;
        double chi = 0;
        for (const MisfitResult& result : afters) {
            allChi = allChi && result.HasChiSquare;
            chi += result.ChiSquare;
        }
        if (allChi) {
            summary.ChiSquare = chi;
        }
        summary.DegreesOfFreedom =
            static_cast<std::int32_t>(summary.Covered) - static_cast<std::int32_t>(Free.size()) - linear;
    } else {
        const MeasuredLoop& measured = Target->Set(0).Loop();
        summary.HalfRange = after.HalfRange;
        summary.Scale = after.Scale;
        summary.Slope = after.Slope;
        summary.Offset = after.Offset;
        summary.ScaleFixed = after.ScaleFixed;
        summary.Degenerate = after.Degenerate;
        summary.MomentUnit = measured.MomentUnit > 0 ? MomentUnitName(measured.MomentUnit) : "";
        const FitObservable observable = Target->Set(0).Settings().Observable;
        summary.RmsGigahertz = RmsGigahertz(observable, after);
        if (observable == FitObservable::Resonance) {
            summary.MomentUnit = "Hz";
        }
        summary.DegreesOfFreedom = DegreesOfFreedom(after, static_cast<std::int32_t>(Free.size()));
        if (after.HasChiSquare) {
            summary.ChiSquare = after.ChiSquare;
        }
    }
    if (valid) {
        summary.MisfitAfter = joint ? Target->MisfitOf(afters) : after.Misfit;
        errors = StandardErrors(*Target, Free, outcome.Values, &summary.Correlation);
    } else if (Searcher->StopRequested()) {
        // Stopped: the best misfit the search found stands for the values it belongs to.
        summary.NotCompared = true;
        if (std::isfinite(found.Misfit)) {
            summary.MisfitAfter = found.Misfit;
        } else {
            outcome.NoMisfit = "no evaluation gave a misfit before the fit was stopped";
        }
        for (StandardError& error : errors) {
            error.Why = "not computed: the fit was stopped";
        }
    } else {
        outcome.NoMisfit = reason.empty() ? "the fitted values give no misfit" : reason;
        for (StandardError& error : errors) {
            error.Why = "no misfit";
        }
    }
    for (std::size_t i = 0; i < Free.size(); ++i) {
        const ParameterInfo& info = FittableParameters().at(Free[i].Index());
        const bool angle = info.Kind == ParameterKind::Angle;
        const double value = angle ? std::round(outcome.Values[i]) : outcome.Values[i];
        summary.Parameters.push_back(
            {Names[i], info.Unit, Start[i], value, Free[i].Range(), errors[i], NearBound(value, Free[i].Range())});
    }
    summary.Evaluations = found.Evaluations;
    summary.Budget = Request.Settings.Evaluations;
    summary.Seconds = found.Seconds;
    summary.Threads = Searcher->ThreadCount();
    summary.Seed = Request.Settings.Seed;
    summary.Stopped = StopReasonText(found.Reason);
    for (std::size_t k = 0; k < Target->Count(); ++k) {
        outcome.FittedSets.push_back(Target->Set(k).TextsFor(Target->ValuesOf(k, outcome.Values)));
    }
    outcome.Fitted = outcome.FittedSets.front();
    if (!joint) {
        outcome.FittedSets.clear();
    }
    return outcome;
}

std::string KeyValueLines(const ParameterTexts& texts, bool newton) {
    std::ostringstream lines;
    const auto& table = FittableParameters();
    for (std::size_t i = 0; i < table.size(); ++i) {
        lines << table[i].Name << "=" << ParameterText(texts, i);
        lines << "\n";
    }
    lines << "aniso=" << (texts.UniaxialChecked ? "UA" : "QU") << "\n";
    lines << "noise=" << texts.Ramp << "\nconv=" << texts.Conv << "\nmaxiter=" << texts.MaxIter << "\n";
    if (newton) {
        lines << "solver=newton\n";
    }
    lines << "start=" << texts.StartF << "\nsteps=" << texts.Nstep << "\nstep=" << texts.StepF << "\n";
    return lines.str();
}

} // namespace dravo2::fit

namespace dravo2::fit {

std::string KeyValueLines(const std::vector<ParameterTexts>& sets, bool newton, const std::vector<std::string>& local) {
    if (sets.size() == 1) {
        return KeyValueLines(sets.front(), newton);
    }
    std::vector<std::vector<std::string>> lines;
    for (const ParameterTexts& texts : sets) {
        std::vector<std::string> own;
        std::istringstream text(KeyValueLines(texts, newton));
        for (std::string line; std::getline(text, line);) {
            own.push_back(line);
        }
        lines.push_back(std::move(own));
    }
    std::ostringstream out;
    for (std::size_t i = 0; i < lines.front().size(); ++i) {
        const std::string& first = lines.front()[i];
        bool shared = std::find(local.begin(), local.end(), first.substr(0, first.find('='))) == local.end();
        for (const auto& own : lines) {
            shared = shared && own.at(i) == lines.front()[i];
        }
        if (shared) {
            out << lines.front()[i] << "\n";
            continue;
        }
        for (std::size_t k = 0; k < lines.size(); ++k) {
            const std::string& line = lines[k][i];
            const std::size_t equals = line.find('=');
            out << line.substr(0, equals) << "@" << k + 1 << line.substr(equals) << "\n";
        }
    }
    return out.str();
}

} // namespace dravo2::fit
