#pragma once

#include "analysis/misfit.h"
#include "data/data_table.h"
#include "engine/sweep_session.h"
#include "fit/search.h"
#include "sweep/parameter_intake.h"
#include "sweep/run_loop.h"

#include <cstdint>
#include <vector>

namespace dravo2::fit {

// A measured loop: field in A/m and the moment in the file's unit, in measured order, with the
// moment's standard uncertainties where the file gives them (else empty).
struct MeasuredLoop {
    std::vector<double> Field;
    std::vector<double> Moment;
    std::vector<double> Sigma{};
    double MomentUnit = 0; // the moment's unit in A m^2 (1e-3 for emu); 0 where unknown
    // For a resonance table, Moment holds the frequencies (Hz), Sigma their uncertainties or
    // linewidths (Hz), and Mode the mode each point measures (1 the lowest, 0 the nearest one);
    // empty where the table names no modes.
    std::vector<std::int32_t> Mode{};
};

inline constexpr std::int32_t kMaxBranchSteps = 2000;

// The median field spacing of the measured loop (A/m), ignoring repeated fields; 0 if none.
double MedianSpacing(const std::vector<double>& field);

// The simulated branches that follow the measured ones: from the first measured field to the end
// of each measured branch in turn, round(|span| / step) equal steps a branch (at least 1, at
// most 2000, all branches together within the table), each ending on its branch end (or past it
// by the rounding of the last place, never short of it). A branch that mirrors the one before
// (the usual loop) is the Reverse of that branch, to the digits Reverse keeps. `step` is
// in A/m; 0 for the median measured spacing. Throws ProgramError for a loop without a branch.
std::vector<BranchSweep> PlanBranches(const std::vector<double>& field, double step);

// What a measured curve records: the magnetisation projection along the field (a loop), the
// magnetoresistance (an R(H) curve), compared with the simulated DeltaR column over its amplitude
// with a scale and an offset of its own (the resistance's base value), or resonance frequencies
// (an (H, f) table), compared with the stack's resonance modes.
enum class FitObservable { Projection, Magnetoresistance, Resonance };

// The loop a resonance table is compared along: from the table's largest |H| down to its negative
// and back up, in steps of `step` (A/m; 0 for the table's median spacing). Throws ProgramError for
// a table whose fields are all zero.
std::vector<BranchSweep> ResonanceBranches(const std::vector<double>& field, double step);

// The comparison of a resonance table with the modes of a loop recorded with LoopPlan::Modes.
// Each point is compared with its assigned mode, else with the nearest mode, interpolated linearly
// in the field on the first simulated branch that covers its field and runs in the point's sweep
// direction. The direction is that of the table's order among the points of the same mode; a
// group of points whose fields never change or turn more than twice is taken as unordered and
// compared on the first branch that covers the field. A point whose mode does not exist there is
// not covered. The residual r is in Hz; the weight 1 / sigma^2 with uncertainties, else 1; R is
// half the peak-to-peak of the table's frequencies (its frequency where all are equal); the misfit
// sqrt(sum w r^2 / sum w) / R. No linear terms.
MisfitResult CompareResonance(const MeasuredLoop& measured, const LoopResult& loop);

struct LoopSettings {
    double Step = 0;     // A/m; 0 for the median measured spacing
    bool Newton = true;  // the fast solver; false for the window's gradient descent
    MisfitOptions Terms; // background slope and offset besides the scale
    char Separator = '.';
    // The sample's area (m^2); > 0 makes the scale the sample's saturated moment computed from the
    // layers' M and t (the measured loop's MomentUnit must then be known) instead of a fitted one.
    double Area = 0;
    FitObservable Observable = FitObservable::Projection;
    double Gamma = 0; // the gyromagnetic ratio of the resonance modes, rad/(s T); 0 for the default
};

// The fit's objective: the loop simulated along the measured branches for a set of values of the
// free parameters, compared with the measured loop. The simulation is Start with the "M vs Hx"
// saturation preset, then for every further branch a sweep continuing from the angles reached,
// each evaluation on a fresh session (the generator's start state), so that the value depends on
// the parameters alone. Angles are rounded to whole degrees.
class LoopObjective : public Objective {
public:
    // Throws ProgramError for a field of `base` that does not convert, or a loop without branches.
    LoopObjective(ParameterTexts base, MeasuredLoop loop, std::vector<std::size_t> free, LoopSettings settings);

    const std::vector<BranchSweep>& Branches() const { return Plan; }
    const MeasuredLoop& Loop() const { return Measured; }
    const std::vector<std::size_t>& Free() const { return FreeIndices; }

    // The current values of the free parameters in the base texts.
    std::vector<double> StartValues() const;

    // The base texts with the free parameters set to `values` and the sweep fields set to the first
    // branch: what Start reads in this evaluation.
    ParameterTexts TextsFor(const std::vector<double>& values) const;

    // The model of an evaluation: the base parameters with the free ones set to `values`.
    ModelParameters ModelFor(const std::vector<double>& values) const;

    // Simulates the loop into `simulation` (its rows replaced) and compares it; a floating-point
    // error in the simulation gives an invalid result with its message. `saturation`, when given,
    // receives the saturation projection (T) the rows are divided by. `stop`, when given, is asked
    // after every field step; once it says so the result is invalid ("stopped").
    MisfitResult Evaluate(const std::vector<double>& values, SimulationData& simulation, double* saturation = nullptr,
                          const StopCheck& stop = nullptr) const;

    // The simulated loop as it compares with the measured one, for drawing: the field (A/m) and
    // s m + b H + c of every simulated row, with the comparison; empty where there is none (also
    // for a resonance table).
    MisfitResult ModelCurve(const std::vector<double>& values, SimulationData& simulation, std::vector<double>& field,
                            std::vector<double>& moment) const;

    // The comparison of `values` without keeping the simulated table; ends early (invalid,
    // "stopped") once `stop` says so.
    MisfitResult Compared(const std::vector<double>& values, const StopCheck& stop = nullptr) const;

    const LoopSettings& Settings() const { return Options; }

    double Misfit(const std::vector<double>& values) const override;
    std::vector<double> Residuals(const std::vector<double>& values) const override;
    std::int32_t LinearTerms() const override;
    double StoppableMisfit(const std::vector<double>& values, const StopCheck& stop) const override;

private:
    // The loop of `values`, the normaliser of its observable (the saturation projection in T, or
    // the DeltaR amplitude) and, with a sample area,
    // the scale its saturated moment fixes (else 0). `stop`, when given, is asked after every
    // field step and ends the loop once it says so.
    LoopResult Simulate(const std::vector<double>& values, double& saturation, double& fixedScale,
                        const StopCheck& stop = nullptr) const;
    MisfitResult Compare(const LoopResult& loop, double saturation, double fixedScale) const;

    ParameterTexts Base;
    ParameterSet BaseParameters;
    MeasuredLoop Measured;
    std::vector<std::size_t> FreeIndices;
    LoopSettings Options;
    std::vector<BranchSweep> Plan;
};

} // namespace dravo2::fit
