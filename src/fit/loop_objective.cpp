#include "fit/loop_objective.h"

#include "data/errors.h"
#include "data/number_text.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>

namespace dravo2::fit {
namespace {

// The field (A/m) of the last row of a branch, computed as the sweep step computes it.
double LastField(const BranchSweep& branch) {
    return static_cast<double>(
        (static_cast<Real>(branch.Steps) * branch.StepKiloAmperesPerMetre + branch.StartKiloAmperesPerMetre) * 1000);
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
                plan.push_back({TextToDouble(SweepFieldText(-previous.StartKiloAmperesPerMetre, '.')),
                                TextToDouble(SweepFieldText(-previous.StepKiloAmperesPerMetre, '.')), previous.Steps});
                continue;
            }
        }
        plan.push_back({start / 1000, ExactStep(start, end, counts[b]), counts[b]});
    }
    return plan;
}

std::vector<BranchSweep> ResonanceBranches(const std::vector<double>& field, double step) {
    double largest = 0;
    for (const double h : field) {
        largest = std::max(largest, std::fabs(h));
    }
    if (!(largest > 0) || !std::isfinite(largest)) {
        throw ProgramError("The resonance table has no field other than zero to sweep");
    }
    if (!(step > 0)) {
        step = MedianSpacing(field);
    }
    if (!(step > 0)) {
        // A table at a single field: a hundred steps a branch.
        step = largest / 50;
    }
    return PlanBranches({largest, -largest, largest}, step);
}

namespace {

// The sweep direction of every measured point, taken from the table's order among the points of
// its mode; none for a group that is unordered.
std::vector<std::optional<BranchDirection>> PointDirections(const MeasuredLoop& measured) {
    std::vector<std::optional<BranchDirection>> directions(measured.Field.size());
    std::vector<std::int32_t> groups;
    for (std::size_t j = 0; j < measured.Field.size(); ++j) {
        const std::int32_t mode = measured.Mode.empty() ? 0 : measured.Mode[j];
        if (std::find(groups.begin(), groups.end(), mode) == groups.end()) {
            groups.push_back(mode);
        }
    }
    for (const std::int32_t group : groups) {
        std::vector<std::size_t> members;
        std::vector<double> fields;
        for (std::size_t j = 0; j < measured.Field.size(); ++j) {
            if ((measured.Mode.empty() ? 0 : measured.Mode[j]) == group) {
                members.push_back(j);
                fields.push_back(measured.Field[j]);
            }
        }
        const std::vector<Branch> branches = SplitBranches(fields);
        const bool changes = std::any_of(fields.begin(), fields.end(), [&](double h) { return h != fields.front(); });
        // A table measured down and up (or up, down and up again) turns at most twice; more
        // turns mean points listed in no sweep order.
        if (!changes || branches.size() > 3) {
            continue;
        }
        // Backwards, so that a turning point keeps the direction of the branch it ends.
        for (std::size_t b = branches.size(); b-- > 0;) {
            const auto& branch = branches[b];
            for (std::int32_t i = branch.First; i <= branch.Last; ++i) {
                directions[members[static_cast<std::size_t>(i)]] = branch.Direction;
            }
        }
    }
    return directions;
}

// The modes at `field` between rows `first` and `last` of a loop whose field runs monotonically
// there: linear in the field between the bracketing rows, NaN for a mode either row lacks; none
// when the field lies outside.
std::optional<ModeRow> ModesAt(const LoopResult& loop, std::int32_t first, std::int32_t last, double field) {
    const std::span<const double> h = loop[Observable::Field];
    const double low = std::min(h[static_cast<std::size_t>(first)], h[static_cast<std::size_t>(last)]);
    const double high = std::max(h[static_cast<std::size_t>(first)], h[static_cast<std::size_t>(last)]);
    if (!(field >= low && field <= high)) {
        return std::nullopt;
    }
    for (std::int32_t row = first; row <= last; ++row) {
        const auto r = static_cast<std::size_t>(row);
        if (h[r] == field) {
            return loop.Modes[r];
        }
        if (row == last) {
            break;
        }
        const double a = h[r];
        const double b = h[r + 1];
        if ((field - a) * (field - b) < 0) {
            const double x = (field - a) / (b - a);
            ModeRow modes{};
            for (std::size_t k = 0; k < modes.size(); ++k) {
                modes[k] = loop.Modes[r][k] + x * (loop.Modes[r + 1][k] - loop.Modes[r][k]);
            }
            return modes;
        }
    }
    return std::nullopt;
}

} // namespace

MisfitResult CompareResonance(const MeasuredLoop& measured, const LoopResult& loop) {
    MisfitResult result;
    const std::size_t count = measured.Field.size();
    result.Total = static_cast<std::int32_t>(count);
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -std::numeric_limits<double>::infinity();
    for (const double f : measured.Moment) {
        lowest = std::min(lowest, f);
        highest = std::max(highest, f);
    }
    result.HalfRange = highest > lowest ? (highest - lowest) / 2 : std::fabs(highest);
    if (!(result.HalfRange > 0) || !std::isfinite(result.HalfRange)) {
        result.Reason = "the measured frequencies have no range";
        return result;
    }
    if (loop.Modes.size() != static_cast<std::size_t>(loop.Rows())) {
        result.Reason = "the loop has no resonance modes";
        return result;
    }
    // Each simulated branch's rows, from the turning row the one before ended on.
    struct Segment {
        std::int32_t First = 0;
        std::int32_t Last = 0;
        BranchDirection Direction = BranchDirection::Up;
    };
    std::vector<Segment> segments;
    const std::span<const double> h = loop[Observable::Field];
    std::int32_t end = 0;
    for (const std::int32_t rows : loop.BranchRows) {
        const std::int32_t first = std::max(end - 1, 0);
        end += rows;
        const std::int32_t last = std::min(end, loop.Rows()) - 1;
        if (last > first) {
            const bool up = h[static_cast<std::size_t>(last)] > h[static_cast<std::size_t>(first)];
            segments.push_back({first, last, up ? BranchDirection::Up : BranchDirection::Down});
        }
    }
    const std::vector<std::optional<BranchDirection>> directions = PointDirections(measured);
    double squares = 0;
    double chi = 0;
    for (std::size_t j = 0; j < count; ++j) {
        std::optional<ModeRow> modes;
        for (const Segment& segment : segments) {
            if (directions[j] && *directions[j] != segment.Direction) {
                continue;
            }
            modes = ModesAt(loop, segment.First, segment.Last, measured.Field[j]);
            if (modes) {
                break;
            }
        }
        if (!modes) {
            continue;
        }
        const double f = measured.Moment[j];
        const std::int32_t assigned = measured.Mode.empty() ? 0 : measured.Mode[j];
        double model = std::numeric_limits<double>::quiet_NaN();
        if (assigned > 0) {
            model = (*modes)[static_cast<std::size_t>(assigned - 1)];
        } else {
            for (const double candidate : *modes) {
                if (!std::isnan(candidate) && (std::isnan(model) || std::fabs(f - candidate) < std::fabs(f - model))) {
                    model = candidate;
                }
            }
        }
        if (std::isnan(model)) {
            continue;
        }
        const double r = f - model;
        const double w = measured.Sigma.empty() ? 1.0 : 1 / (measured.Sigma[j] * measured.Sigma[j]);
        result.Points.push_back(static_cast<std::int32_t>(j));
        result.Weights.push_back(w);
        result.WeightedResiduals.push_back(std::sqrt(w) * r / result.HalfRange);
        result.SumWeights += w;
        squares += w * r * r;
        if (!measured.Sigma.empty()) {
            chi += r * r / (measured.Sigma[j] * measured.Sigma[j]);
        }
    }
    result.Covered = static_cast<std::int32_t>(result.Points.size());
    if (result.Covered == 0) {
        result.Reason = "no measured point lies on a simulated branch where its mode exists";
        result.Points.clear();
        return result;
    }
    result.Valid = true;
    result.Misfit = std::sqrt(squares / result.SumWeights) / result.HalfRange;
    result.HasChiSquare = !measured.Sigma.empty();
    result.ChiSquare = chi;
    return result;
}

LoopObjective::LoopObjective(ParameterTexts base, MeasuredLoop loop, std::vector<std::size_t> free,
                             LoopSettings settings)
    : Base(std::move(base)), Measured(std::move(loop)), FreeIndices(std::move(free)), Options(settings) {
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
    const bool resonance = Options.Observable == FitObservable::Resonance;
    if (resonance && (Options.Area > 0 || Options.Terms.Slope || Options.Terms.Offset)) {
        throw ProgramError("A resonance table is compared in Hz as measured: it takes no background or sample area");
    }
    if (!Measured.Mode.empty() && Measured.Mode.size() != Measured.Field.size()) {
        throw ProgramError("The measured field and mode columns differ in length");
    }
    Plan = resonance ? ResonanceBranches(Measured.Field, Options.Step) : PlanBranches(Measured.Field, Options.Step);
    const BranchSweep& first = Plan.front();
    Base.StartF = ShortestText(first.StartKiloAmperesPerMetre, Options.Separator);
    Base.StepF = ShortestText(first.StepKiloAmperesPerMetre, Options.Separator);
    Base.Nstep = std::to_string(first.Steps);
    // Every field is read once here, so that a bad one is reported before any search.
    ParameterSet defaults;
    defaults.Model.Solver.Method = Options.Newton ? SolverMethod::Newton : SolverMethod::Descent;
    defaults.Model.DeltaR = ParseParameter(Parameter("DR"), kDefaultDeltaRText);
    BaseParameters = ParametersOf(Base, Options.Separator, defaults);
    if (Options.Gamma > 0) {
        BaseParameters.Model.Gamma = Options.Gamma;
    }
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
    plan.Modes = Options.Observable == FitObservable::Resonance;
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
    if (Options.Observable == FitObservable::Resonance) {
        return CompareResonance(Measured, loop);
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
    // A resonance table is no curve of the simulated table's columns.
    if (!result.Valid || Options.Observable == FitObservable::Resonance) {
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
    if (Options.Observable == FitObservable::Resonance) {
        return 0;
    }
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
