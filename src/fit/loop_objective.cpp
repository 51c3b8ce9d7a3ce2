#include "fit/loop_objective.h"

#include "data/errors.h"
#include "data/number_text.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>

namespace dravo2::fit {
namespace {

// The field (A/m) of the last row of a branch, computed as the sweep step computes it.
double LastField(const BranchSweep& branch) {
    return static_cast<double>((static_cast<Real>(branch.Steps) * branch.Step + branch.Start) * 1000);
}

// The step (kA/m) for `steps` equal steps from `start` to `end` (A/m), moved by a few units in
// the last place if needed so that the last row lands on `end`, or else just past it.
double ExactStep(double start, double end, std::int32_t steps) {
    const double base = (end - start) / 1000 / steps;
    const double direction = end > start ? 1 : -1;
    auto shifted = [base](int ulps) {
        double step = base;
        const double towards =
            ulps > 0 ? std::numeric_limits<double>::infinity() : -std::numeric_limits<double>::infinity();
        for (int i = 0; i < std::abs(ulps); ++i) {
            step = std::nextafter(step, towards);
        }
        return step;
    };
    double best = base;
    double bestMiss = std::numeric_limits<double>::infinity();
    for (int ulps = -8; ulps <= 8; ++ulps) {
        const double step = shifted(ulps);
        // How far the last row lies past the end; negative when it falls short.
        const double past = (LastField({start / 1000, step, steps}) - end) * direction;
        if (past == 0) {
            return step;
        }
        if (past > 0 && past < bestMiss) {
            best = step;
            bestMiss = past;
        }
    }
    return best;
}

} // namespace

double MedianSpacing(const std::vector<double>& field) {
    std::vector<double> spacing;
    for (std::size_t i = 1; i < field.size(); ++i) {
        const double d = std::fabs(field[i] - field[i - 1]);
        if (d > 0) {
            spacing.push_back(d);
        }
    }
    if (spacing.empty()) {
        return 0;
    }
    const auto middle = spacing.begin() + static_cast<std::ptrdiff_t>(spacing.size() / 2);
    std::nth_element(spacing.begin(), middle, spacing.end());
    return *middle;
}

std::vector<BranchSweep> PlanBranches(const std::vector<double>& field, double step) {
    std::vector<Branch> branches;
    for (const Branch& branch : SplitBranches(field)) {
        const auto first = static_cast<std::size_t>(branch.First);
        const auto last = static_cast<std::size_t>(branch.Last);
        if (field[first] != field[last]) {
            branches.push_back(branch);
        }
    }
    if (branches.empty()) {
        throw ProgramError("The measured curve has no field change to follow");
    }
    if (!(step > 0)) {
        step = MedianSpacing(field);
    }
    // Steps of each branch; a coarser step when the whole loop would not fit in the table.
    std::vector<std::int32_t> counts;
    for (int attempt = 0; attempt < 64; ++attempt) {
        counts.clear();
        std::int64_t total = 0;
        for (const Branch& branch : branches) {
            const double span =
                std::fabs(field[static_cast<std::size_t>(branch.Last)] - field[static_cast<std::size_t>(branch.First)]);
            const double n = std::clamp(std::round(span / step), 1.0, static_cast<double>(kMaxBranchSteps));
            counts.push_back(static_cast<std::int32_t>(n));
            total += counts.back();
        }
        if (total <= MaxRows) {
            break;
        }
        step *= static_cast<double>(total) / MaxRows * 1.001;
    }
    std::vector<BranchSweep> plan;
    for (std::size_t b = 0; b < branches.size(); ++b) {
        const double start = field[static_cast<std::size_t>(branches[b].First)];
        const double end = field[static_cast<std::size_t>(branches[b].Last)];
        if (b > 0 && counts[b] == counts[b - 1]) {
            // A branch that mirrors the one before is swept as Reverse sweeps it: the initial
            // field and the step negated and taken through their 15-digit texts, so that Start and
            // Reverse with the printed sweep fields give this very loop.
            const double previousStart = field[static_cast<std::size_t>(branches[b - 1].First)];
            const double previousEnd = field[static_cast<std::size_t>(branches[b - 1].Last)];
            const double tolerance = 1e-9 * std::fabs(end - start);
            if (std::fabs(start + previousStart) <= tolerance && std::fabs(end + previousEnd) <= tolerance) {
                const BranchSweep& previous = plan.back();
                plan.push_back({TextToDouble(SweepFieldText(-previous.Start, '.')),
                                TextToDouble(SweepFieldText(-previous.Step, '.')), previous.Steps});
                continue;
            }
        }
        plan.push_back({start / 1000, ExactStep(start, end, counts[b]), counts[b]});
    }
    return plan;
}

LoopObjective::LoopObjective(const ParameterTexts& base, MeasuredLoop loop, std::vector<std::size_t> free,
                             LoopSettings settings)
    : Base(base), Measured(std::move(loop)), FreeIndices(std::move(free)), Options(settings) {
    if (Measured.Field.size() != Measured.Moment.size() ||
        (!Measured.Sigma.empty() && Measured.Sigma.size() != Measured.Field.size())) {
        throw ProgramError("The measured field and moment columns differ in length");
    }
    if (Options.Area < 0 || !std::isfinite(Options.Area)) {
        throw ProgramError("The sample area must be a positive number");
    }
    if (Options.Area > 0 && !(Measured.MomentUnit > 0)) {
        throw ProgramError("A sample area needs the moment's unit (emu or A m2): the file does not state it");
    }
    if (Options.Area > 0 && Options.Observable == FitObservable::Magnetoresistance) {
        throw ProgramError("A sample area fixes the scale of a magnetisation loop, not of a magnetoresistance curve");
    }
    Plan = PlanBranches(Measured.Field, Options.Step);
    const BranchSweep& first = Plan.front();
    Base.StartF = ShortestText(first.Start, Options.Separator);
    Base.StepF = ShortestText(first.Step, Options.Separator);
    Base.Nstep = std::to_string(first.Steps);
    // Every field is read once here, so that a bad one is reported before any search.
    ParameterSet defaults;
    defaults.Model.Solver.Method = Options.Newton ? SolverMethod::Newton : SolverMethod::Descent;
    defaults.Model.DeltaR = ParseParameter(Parameter("DR"), kDefaultDeltaRText);
    BaseParameters = ParametersOf(Base, Options.Separator, defaults);
}

std::vector<double> LoopObjective::StartValues() const {
    std::vector<double> values;
    for (const std::size_t index : FreeIndices) {
        values.push_back(ParameterValue(Base, index, Options.Separator));
    }
    return values;
}

ParameterTexts LoopObjective::TextsFor(const std::vector<double>& values) const {
    ParameterTexts texts = Base;
    for (std::size_t i = 0; i < FreeIndices.size() && i < values.size(); ++i) {
        SetParameterValue(texts, FreeIndices[i], values[i], Options.Separator);
    }
    return texts;
}

ModelParameters LoopObjective::ModelFor(const std::vector<double>& values) const {
    ParameterSet set = BaseParameters;
    const auto& table = FittableParameters();
    for (std::size_t i = 0; i < FreeIndices.size() && i < values.size(); ++i) {
        const ParameterEntry& entry = *table.at(FreeIndices[i]).Entry;
        entry.Set(set, NumberAsTyped(entry, values[i]));
    }
    return set.Model;
}

LoopResult LoopObjective::Simulate(const std::vector<double>& values, double& saturation, double& fixedScale,
                                   const StopCheck& stop) const {
    const ModelParameters model = ModelFor(values);
    LoopPlan plan;
    plan.Branches = Plan;
    // One step may relax for a long time (a large iteration budget): a stop is answered within a
    // step or two, not after the whole loop.
    std::atomic<bool> stopped{stop && stop()};
    LoopProgress progress;
    if (stop) {
        progress = [&stop, &stopped](std::size_t, std::int32_t, std::int32_t) {
            if (stop()) {
                stopped = true;
            }
        };
    }
    LoopResult loop = RunLoop(model, plan, InitialState::Saturated(), &stopped, progress);
    std::array<double, kLayers> magnetisation{};
    std::array<double, kLayers> thickness{};
    for (std::size_t i = 0; i < kLayers; ++i) {
        magnetisation[i] = static_cast<double>(model.Stack.M[i]);
        thickness[i] = static_cast<double>(model.Stack.t[i]);
    }
    saturation = Options.Observable == FitObservable::Magnetoresistance
                     ? static_cast<double>(model.DeltaR)
                     : SaturationProjection(magnetisation, thickness);
    fixedScale = Options.Area > 0 ? SaturatedMoment(magnetisation, thickness, Options.Area, Measured.MomentUnit) : 0.0;
    return loop;
}

MisfitResult LoopObjective::Compare(const LoopResult& loop, double saturation, double fixedScale) const {
    MisfitResult failed;
    failed.Total = static_cast<std::int32_t>(Measured.Field.size());
    if (loop.End == LoopEnd::FloatingPointError) {
        failed.Reason = loop.Error;
        return failed;
    }
    if (loop.End == LoopEnd::Stopped) {
        failed.Reason = "stopped";
        return failed;
    }
    const bool resistance = Options.Observable == FitObservable::Magnetoresistance;
    if (!(saturation > 0)) {
        failed.Reason = resistance ? "the magnetoresistance amplitude DR is not positive"
                                   : "no layer has both a magnetisation and a thickness";
        return failed;
    }
    const CurveView measured{Measured.Field.data(), Measured.Moment.data(),
                             static_cast<std::int32_t>(Measured.Field.size()),
                             Measured.Sigma.empty() ? nullptr : Measured.Sigma.data()};
    const Observable observable = resistance ? Observable::Magnetoresistance : Observable::Projection;
    const CurveView simulated{loop[Observable::Field].data(), loop[observable].data(), loop.Rows()};
    MisfitOptions terms = Options.Terms;
    if (Options.Area > 0) {
        terms.FixedScale = fixedScale;
    }
    // A resistance never vanishes: its base value is always a term of the comparison.
    terms.Offset = terms.Offset || resistance;
    return ComputeMisfit(measured, simulated, saturation, terms);
}

MisfitResult LoopObjective::Evaluate(const std::vector<double>& values, SimulationData& simulation,
                                     double* saturationOut, const StopCheck& stop) const {
    double saturation = 0;
    double fixedScale = 0;
    const LoopResult loop = Simulate(values, saturation, fixedScale, stop);
    FillTable(loop, simulation);
    if (saturationOut != nullptr && loop.End != LoopEnd::FloatingPointError) {
        *saturationOut = saturation;
    }
    return Compare(loop, saturation, fixedScale);
}

MisfitResult LoopObjective::ModelCurve(const std::vector<double>& values, SimulationData& simulation,
                                       std::vector<double>& field, std::vector<double>& moment) const {
    double saturation = 0;
    MisfitResult result = Evaluate(values, simulation, &saturation);
    field.clear();
    moment.clear();
    if (!result.Valid) {
        return result;
    }
    for (std::int32_t row = 1; row <= simulation.SimRows; ++row) {
        const double h = simulation.SimTable.At(TableColumn(Observable::Field), row);
        const Observable observable = Options.Observable == FitObservable::Magnetoresistance
                                          ? Observable::Magnetoresistance
                                          : Observable::Projection;
        const double m = simulation.SimTable.At(TableColumn(observable), row);
        field.push_back(h);
        moment.push_back(result.Scale * m / saturation + result.Slope * h + result.Offset);
    }
    return result;
}

double LoopObjective::Misfit(const std::vector<double>& values) const {
    double saturation = 0;
    double fixedScale = 0;
    const LoopResult loop = Simulate(values, saturation, fixedScale);
    const MisfitResult result = Compare(loop, saturation, fixedScale);
    return result.Valid ? result.Misfit : std::numeric_limits<double>::infinity();
}

MisfitResult LoopObjective::Compared(const std::vector<double>& values, const StopCheck& stop) const {
    double saturation = 0;
    double fixedScale = 0;
    const LoopResult loop = Simulate(values, saturation, fixedScale, stop);
    return Compare(loop, saturation, fixedScale);
}

double LoopObjective::StoppableMisfit(const std::vector<double>& values, const StopCheck& stop) const {
    double saturation = 0;
    double fixedScale = 0;
    const LoopResult loop = Simulate(values, saturation, fixedScale, stop);
    const MisfitResult result = Compare(loop, saturation, fixedScale);
    return result.Valid ? result.Misfit : std::numeric_limits<double>::infinity();
}

std::int32_t LoopObjective::LinearTerms() const {
    const bool offset = Options.Terms.Offset || Options.Observable == FitObservable::Magnetoresistance;
    return (Options.Area > 0 ? 0 : 1) + (Options.Terms.Slope ? 1 : 0) + (offset ? 1 : 0);
}

std::vector<double> LoopObjective::Residuals(const std::vector<double>& values) const {
    double saturation = 0;
    double fixedScale = 0;
    const LoopResult loop = Simulate(values, saturation, fixedScale);
    MisfitResult result = Compare(loop, saturation, fixedScale);
    return result.Valid ? std::move(result.WeightedResiduals) : std::vector<double>{};
}

} // namespace dravo2::fit
