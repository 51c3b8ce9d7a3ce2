#pragma once

#include "fit/loop_objective.h"
#include "fit/worker_crew.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dravo2::fit {

// One measured curve of a joint fit with everything that belongs to it alone: the fields of its
// sample (the shared values with its local ones set), the curve, and how it is simulated and
// compared.
struct DataSet {
    ParameterTexts Texts;
    MeasuredLoop Measured;
    LoopSettings Simulation;
    std::string Label; // how reports name it (its file)
};

// A free parameter of a joint fit: one value shared by every data set, or the value of one data
// set (a parameter made local has one such slot per data set).
struct JointSlot {
    std::size_t Index = 0;                // in FittableParameters()
    std::optional<std::size_t> DataSet{}; // none: shared
};

// The residuals of one data set as a block of the joint residual vector: r_j / sigma_j times the
// square root of the point's field-spacing weight over its mean, with sigma_j the stated
// uncertainty or else the curve's half range R. The block's squared norm is then a chi^2 in which
// every point counts by the field span it stands for, and a curve without uncertainties counts
// as though each point were uncertain by R; one block over its point count is the misfit squared.
std::vector<double> JointBlock(const MisfitResult& result, const MeasuredLoop& measured);

// The objective of several data sets fitted together: the slots' values are handed to each data
// set's loop objective (the shared ones to all, a local one to its own), the blocks stacked into
// one residual vector, and the misfit is the root mean square of that vector. With a single data
// set every answer is that data set's own, so that a fit of one curve is exactly the usual fit.
// With `parallel`, the data sets of one evaluation are simulated side by side, on threads kept
// for the objective's life.
class JointObjective : public Objective {
public:
    // Throws ProgramError as LoopObjective does, or for a data set without any.
    JointObjective(const std::vector<DataSet>& sets, std::vector<JointSlot> slots, bool parallel);

    std::size_t Count() const { return Sets.size(); }
    const LoopObjective& Set(std::size_t k) const { return *Sets.at(k); }
    const std::vector<JointSlot>& Slots() const { return SlotList; }
    bool Parallel() const { return Concurrent; }

    // The values data set k's objective takes for the joint `values`.
    std::vector<double> ValuesOf(std::size_t k, const std::vector<double>& values) const;

    // Every data set's comparison at `values`, in order.
    std::vector<MisfitResult> Compare(const std::vector<double>& values, const StopCheck& stop = nullptr) const;

    // The joint misfit of comparisons Compare gave: infinity when one of them has none.
    double MisfitOf(const std::vector<MisfitResult>& results) const;

    double Misfit(const std::vector<double>& values) const override;
    std::vector<double> Residuals(const std::vector<double>& values) const override;
    std::int32_t LinearTerms() const override;
    double StoppableMisfit(const std::vector<double>& values, const StopCheck& stop) const override;

private:
    std::vector<std::unique_ptr<LoopObjective>> Sets;
    std::vector<JointSlot> SlotList;
    std::vector<std::vector<std::size_t>> SlotsOfSet; // the slots each data set takes, in its order
    bool Concurrent = false;
    std::unique_ptr<WorkerCrew> Crew; // with Concurrent: a thread for each data set after the first
};

} // namespace dravo2::fit
