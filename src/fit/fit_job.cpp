#include "fit/fit_job.h"

#include "data/curve_import.h"
#include "data/errors.h"
#include "data/number_text.h"

#include <cmath>
#include <sstream>

namespace dravo2::fit {

FitJob::FitJob(FitRequest request) : Request(std::move(request)) {
    const char separator = Request.Simulation.Separator;
    std::vector<std::size_t> indices;
    for (const FreeChoice& choice : Request.Free) {
        const ParameterInfo& info = FittableParameters().at(choice.Index);
        const double value = ParameterValue(Request.Texts, choice.Index, separator);
        const Bounds bounds = choice.Range ? *choice.Range : DefaultBounds(info.Kind, value);
        Free.emplace_back(choice.Index, bounds);
        if (value < bounds.Lower || value > bounds.Upper) {
            throw ProgramError("The current value of " + info.Name + " (" + ShortestText(value, separator) +
                               ") lies outside its bounds");
        }
        indices.push_back(choice.Index);
        Start.push_back(value);
    }
    Target = std::make_unique<LoopObjective>(Request.Texts, Request.Measured, indices, Request.Simulation);
    Searcher = std::make_unique<Search>(*Target, Free, Start, Request.Settings);
}

FitOutcome FitJob::Run() {
    FitOutcome outcome;
    FitSummary& summary = outcome.Summary;
    auto scratch = std::make_unique<SimulationData>();
    // The time limit counts from here: the first evaluation may be as long as any other.
    Searcher->StartClock();
    const StopCheck stop = [this] { return Searcher->StopRequested(); };
    const MisfitResult before = Target->Evaluate(Start, *scratch, nullptr, stop);
    if (before.Valid) {
        summary.MisfitBefore = before.Misfit;
    }
    const SearchResult found = Searcher->Run();
    // The search's best point never does worse than the start, which seeds its population; should
    // no evaluation have happened (cancelled at once), the start stands.
    outcome.Values = found.Evaluations > 0 && found.Values.size() == Start.size() ? found.Values : Start;
    MisfitResult after;
    after.Total = static_cast<std::int32_t>(Target->Loop().Field.size());
    if (!Searcher->StopRequested()) {
        after = Target->Evaluate(outcome.Values, *scratch, nullptr, stop);
    }
    summary.HalfRange = after.HalfRange;
    std::vector<StandardError> errors(Free.size());
    summary.Scale = after.Scale;
    summary.Slope = after.Slope;
    summary.Offset = after.Offset;
    summary.ScaleFixed = after.ScaleFixed;
    summary.Degenerate = after.Degenerate;
    summary.MomentUnit = Request.Measured.MomentUnit > 0 ? MomentUnitName(Request.Measured.MomentUnit) : "";
    summary.DegreesOfFreedom = DegreesOfFreedom(after, static_cast<std::int32_t>(Free.size()));
    if (after.HasChiSquare) {
        summary.ChiSquare = after.ChiSquare;
    }
    summary.Covered = static_cast<std::size_t>(after.Covered);
    summary.Total = static_cast<std::size_t>(after.Total);
    if (after.Valid) {
        summary.MisfitAfter = after.Misfit;
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
        outcome.NoMisfit = after.Reason.empty() ? "the fitted values give no misfit" : after.Reason;
        for (StandardError& error : errors) {
            error.Why = "no misfit";
        }
    }
    for (std::size_t i = 0; i < Free.size(); ++i) {
        const ParameterInfo& info = FittableParameters().at(Free[i].Index());
        const bool angle = info.Kind == ParameterKind::Angle;
        const double value = angle ? std::round(outcome.Values[i]) : outcome.Values[i];
        summary.Parameters.push_back(
            {info.Name, info.Unit, Start[i], value, Free[i].Range(), errors[i], NearBound(value, Free[i].Range())});
    }
    summary.Evaluations = found.Evaluations;
    summary.Budget = Request.Settings.Evaluations;
    summary.Seconds = found.Seconds;
    summary.Threads = Searcher->ThreadCount();
    summary.Seed = Request.Settings.Seed;
    summary.Stopped = StopReasonText(found.Reason);
    outcome.Fitted = Target->TextsFor(outcome.Values);
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
