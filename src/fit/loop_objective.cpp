#include "fit/loop_objective.h"

#include "data/errors.h"
#include "data/number_text.h"
#include "plot/world_bounds.h"
#include "sweep/display_preset.h"

#include <algorithm>
#include <array>
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
    : Base(base), Measured(std::move(loop)), FreeIndices(std::move(free)), Settings(settings) {
    if (Measured.Field.size() != Measured.Moment.size() ||
        (!Measured.Sigma.empty() && Measured.Sigma.size() != Measured.Field.size())) {
        throw ProgramError("The measured field and moment columns differ in length");
    }
    if (Settings.Area < 0 || !std::isfinite(Settings.Area)) {
        throw ProgramError("The sample area must be a positive number");
    }
    if (Settings.Area > 0 && !(Measured.MomentUnit > 0)) {
        throw ProgramError("A sample area needs the moment's unit (emu or A m2): the file does not state it");
    }
    Plan = PlanBranches(Measured.Field, Settings.Step);
    const BranchSweep& first = Plan.front();
    Base.StartF = ShortestText(first.Start, Settings.Separator);
    Base.StepF = ShortestText(first.Step, Settings.Separator);
    Base.Nstep = std::to_string(first.Steps);
    // Every field is read once here, so that a bad one is reported before any search.
    SweepSession check;
    TakeParameters(check, Base, Settings.Separator);
}

std::vector<double> LoopObjective::StartValues() const {
    std::vector<double> values;
    for (const std::size_t index : FreeIndices) {
        values.push_back(ParameterValue(Base, index, Settings.Separator));
    }
    return values;
}

ParameterTexts LoopObjective::TextsFor(const std::vector<double>& values) const {
    ParameterTexts texts = Base;
    for (std::size_t i = 0; i < FreeIndices.size() && i < values.size(); ++i) {
        SetParameterValue(texts, FreeIndices[i], values[i], Settings.Separator);
    }
    return texts;
}

MisfitResult LoopObjective::Evaluate(const std::vector<double>& values, SimulationData& simulation,
                                     double* saturationOut, const StopCheck& stop) const {
    const char separator = Settings.Separator;
    const std::string deltaRText = kDefaultDeltaRText;
    const Real deltaR = TextToReal(deltaRText, '.');
    SweepSession session;
    MisfitResult failed;
    failed.Total = static_cast<std::int32_t>(Measured.Field.size());
    try {
        const ParameterTexts texts = TextsFor(values);
        WorldBounds range;
        std::int32_t xColumn = 1;
        std::int32_t yColumn = 2;
        session.Solver.Method = Settings.Newton ? SolverMethod::Newton : SolverMethod::Descent;
        session.BeginStart(simulation);
        TakeParameters(session, texts, separator);
        PresetDisplayMode(session, DisplayMode::MvHx, range, xColumn, yColumn, deltaRText, separator);
        for (std::size_t b = 0; b < Plan.size(); ++b) {
            if (b > 0) {
                session.SetSweep({Plan[b].Start, Plan[b].Steps, Plan[b].Step});
                session.StepIndex = 0;
            }
            while (!session.SweepOver()) {
                // One step may relax for a long time (a large iteration budget): a stop is
                // answered within a step, not after the whole loop.
                if (stop && stop()) {
                    failed.Reason = "stopped";
                    return failed;
                }
                if (session.Step(simulation, deltaR, false) == StepOutcome::TableFull) {
                    break;
                }
            }
        }
    } catch (const ProgramError& error) {
        failed.Reason = error.what();
        return failed;
    }
    std::array<double, kLayers> magnetisation{};
    std::array<double, kLayers> thickness{};
    for (std::size_t i = 0; i < kLayers; ++i) {
        magnetisation[i] = static_cast<double>(session.Model.Stack.M[i]);
        thickness[i] = static_cast<double>(session.Model.Stack.t[i]);
    }
    const double saturation = SaturationProjection(magnetisation, thickness);
    if (saturationOut != nullptr) {
        *saturationOut = saturation;
    }
    if (!(saturation > 0)) {
        failed.Reason = "no layer has both a magnetisation and a thickness";
        return failed;
    }
    const CurveView measured{Measured.Field.data(), Measured.Moment.data(),
                             static_cast<std::int32_t>(Measured.Field.size()),
                             Measured.Sigma.empty() ? nullptr : Measured.Sigma.data()};
    MisfitOptions terms = Settings.Terms;
    if (Settings.Area > 0) {
        terms.FixedScale = SaturatedMoment(magnetisation, thickness, Settings.Area, Measured.MomentUnit);
    }
    return ComputeMisfit(measured, SimulatedCurve(simulation), saturation, terms);
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
        const double h = simulation.SimTable.At(1, row);
        field.push_back(h);
        moment.push_back(result.Scale * simulation.SimTable.At(2, row) / saturation + result.Slope * h + result.Offset);
    }
    return result;
}

MisfitResult LoopObjective::EvaluateWithScratch(const std::vector<double>& values, const StopCheck& stop) const {
    // One table per thread, reused: it is large, and every evaluation replaces its rows.
    thread_local std::unique_ptr<SimulationData> scratch;
    if (!scratch) {
        scratch = std::make_unique<SimulationData>();
    }
    return Evaluate(values, *scratch, nullptr, stop);
}

double LoopObjective::Misfit(const std::vector<double>& values) const {
    const MisfitResult result = EvaluateWithScratch(values);
    return result.Valid ? result.Misfit : std::numeric_limits<double>::infinity();
}

std::int32_t LoopObjective::LinearTerms() const {
    return (Settings.Area > 0 ? 0 : 1) + (Settings.Terms.Slope ? 1 : 0) + (Settings.Terms.Offset ? 1 : 0);
}

double LoopObjective::StoppableMisfit(const std::vector<double>& values, const StopCheck& stop) const {
    const MisfitResult result = EvaluateWithScratch(values, stop);
    return result.Valid ? result.Misfit : std::numeric_limits<double>::infinity();
}

std::vector<double> LoopObjective::Residuals(const std::vector<double>& values) const {
    MisfitResult result = EvaluateWithScratch(values);
    return result.Valid ? std::move(result.WeightedResiduals) : std::vector<double>{};
}

} // namespace dravo2::fit
