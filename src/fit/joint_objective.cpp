#include "fit/joint_objective.h"

#include "data/errors.h"

#include <cmath>
#include <limits>

namespace dravo2::fit {

std::vector<double> JointBlock(const MisfitResult& result, const MeasuredLoop& measured) {
    std::vector<double> block = result.WeightedResiduals;
    const auto n = static_cast<double>(block.size());
    if (block.empty()) {
        return block;
    }
    // The weighted residuals are sqrt(w) r / R, with w the field spacing over sigma^2 where the
    // curve states uncertainties; the mean spacing makes the weights average one.
    double factor = 0;
    if (measured.Sigma.empty()) {
        factor = std::sqrt(n / result.SumWeights);
    } else {
        double spacing = 0;
        for (std::size_t j = 0; j < block.size(); ++j) {
            const double sigma = measured.Sigma[static_cast<std::size_t>(result.Points[j])];
            spacing += result.Weights[j] * sigma * sigma;
        }
        factor = result.HalfRange * std::sqrt(n / spacing);
    }
    for (double& value : block) {
        value *= factor;
    }
    return block;
}

JointObjective::JointObjective(const std::vector<DataSet>& sets, std::vector<JointSlot> slots, bool parallel)
    : SlotList(std::move(slots)), Concurrent(parallel && sets.size() > 1) {
    if (sets.empty()) {
        throw ProgramError("A fit needs at least one measured curve");
    }
    for (std::size_t k = 0; k < sets.size(); ++k) {
        std::vector<std::size_t> indices;
        std::vector<std::size_t> taken;
        for (std::size_t s = 0; s < SlotList.size(); ++s) {
            if (!SlotList[s].DataSet || *SlotList[s].DataSet == k) {
                indices.push_back(SlotList[s].Index);
                taken.push_back(s);
            }
        }
        Sets.push_back(std::make_unique<LoopObjective>(sets[k].Texts, sets[k].Measured, indices, sets[k].Simulation));
        SlotsOfSet.push_back(std::move(taken));
    }
    if (Concurrent) {
        Crew = std::make_unique<WorkerCrew>(Sets.size() - 1);
    }
}

std::vector<double> JointObjective::ValuesOf(std::size_t k, const std::vector<double>& values) const {
    std::vector<double> own;
    for (const std::size_t s : SlotsOfSet.at(k)) {
        own.push_back(values.at(s));
    }
    return own;
}

std::vector<MisfitResult> JointObjective::Compare(const std::vector<double>& values, const StopCheck& stop) const {
    std::vector<MisfitResult> results(Sets.size());
    if (!Concurrent) {
        for (std::size_t k = 0; k < Sets.size(); ++k) {
            results[k] = Sets[k]->Compared(ValuesOf(k, values), stop);
        }
        return results;
    }
    // The first data set on this thread, the others each on a thread of the crew; every evaluation
    // depends on its values alone, so the order of finishing changes nothing.
    Crew->Run([&](std::size_t k) { results[k] = Sets[k]->Compared(ValuesOf(k, values), stop); });
    return results;
}

double JointObjective::MisfitOf(const std::vector<MisfitResult>& results) const {
    double squares = 0;
    std::size_t count = 0;
    for (std::size_t k = 0; k < results.size(); ++k) {
        if (!results[k].Valid) {
            return std::numeric_limits<double>::infinity();
        }
        for (const double value : JointBlock(results[k], Sets[k]->Loop())) {
            squares += value * value;
        }
        count += results[k].WeightedResiduals.size();
    }
    return count > 0 ? std::sqrt(squares / static_cast<double>(count)) : std::numeric_limits<double>::infinity();
}

double JointObjective::Misfit(const std::vector<double>& values) const {
    if (Sets.size() == 1) {
        return Sets[0]->Misfit(values);
    }
    return MisfitOf(Compare(values));
}

double JointObjective::StoppableMisfit(const std::vector<double>& values, const StopCheck& stop) const {
    if (Sets.size() == 1) {
        return Sets[0]->StoppableMisfit(values, stop);
    }
    return MisfitOf(Compare(values, stop));
}

std::vector<double> JointObjective::Residuals(const std::vector<double>& values) const {
    if (Sets.size() == 1) {
        return Sets[0]->Residuals(values);
    }
    std::vector<double> stacked;
    const std::vector<MisfitResult> results = Compare(values);
    for (std::size_t k = 0; k < results.size(); ++k) {
        if (!results[k].Valid) {
            return {};
        }
        const std::vector<double> block = JointBlock(results[k], Sets[k]->Loop());
        stacked.insert(stacked.end(), block.begin(), block.end());
    }
    return stacked;
}

std::int32_t JointObjective::LinearTerms() const {
    std::int32_t terms = 0;
    for (const auto& set : Sets) {
        terms += set->LinearTerms();
    }
    return terms;
}

} // namespace dravo2::fit
