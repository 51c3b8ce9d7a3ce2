#include "fit/loop_objective.h"

#include "data/errors.h"
#include "fit/synthetic_loop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace dravo2::fit {
namespace {

TEST(PlanBranches, FollowsTheMeasuredBranchesAndEndsOnEachBranchEnd) {
    // Down from 0.3 to -100.1 A/m in steps of 10 (a repeated field on the way), then up to 99.9.
    std::vector<double> field;
    for (int i = 0; i <= 10; ++i) {
        field.push_back(0.3 - 10.04 * i);
        if (i == 4) {
            field.push_back(field.back());
        }
    }
    for (int i = 1; i <= 20; ++i) {
        field.push_back(-100.1 + 10 * i);
    }
    EXPECT_NEAR(MedianSpacing(field), 10, 0.05);
    const auto plan = PlanBranches(field, 0);
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[0].Steps, 10);
    EXPECT_EQ(plan[1].Steps, 20);
    EXPECT_EQ(plan[0].StartKiloAmperesPerMetre, 0.3 / 1000);
    for (std::size_t b = 0; b < 2; ++b) {
        const double end = b == 0 ? field[11] : field.back();
        const double last = static_cast<double>(
            (static_cast<Real>(plan[b].Steps) * plan[b].StepKiloAmperesPerMetre + plan[b].StartKiloAmperesPerMetre) *
            1000);
        // On the end, or past it by no more than rounding, so that the end point is covered.
        const double direction = b == 0 ? -1 : 1;
        EXPECT_GE((last - end) * direction, 0);
        EXPECT_LE(std::fabs(last - end), 4 * std::fabs(std::nextafter(end, 0.0) - end));
    }
    EXPECT_EQ(PlanBranches(field, 2.5)[1].Steps, 80);
    EXPECT_EQ(PlanBranches(field, 1e-6)[0].Steps, kMaxBranchSteps);
    EXPECT_THROW(PlanBranches({1, 1, 1}, 0), ProgramError);
}

ParameterTexts ShortLoop() {
    ParameterTexts texts;
    texts.StartF = "150";
    texts.StepF = "-10";
    texts.Nstep = "30";
    return texts;
}

TEST(LoopObjective, TheGeneratingParametersGiveNoMisfitAndOthersDo) {
    const ParameterTexts truth = ShortLoop();
    const MeasuredLoop loop = testing::SyntheticLoop(truth, 2.5e-4, 3e-10, -1e-6);
    LoopSettings settings;
    settings.Terms = {true, true};
    ParameterTexts start = truth;
    start.StartF = "0"; // the sweep fields come from the measured branches, not from here
    const std::size_t j1 = *ParameterIndex("J1");
    const LoopObjective objective(start, loop, {j1}, settings);
    ASSERT_EQ(objective.Branches().size(), 2u);
    EXPECT_EQ(objective.Branches()[0].Steps, 30);
    EXPECT_EQ(objective.Branches()[1].Steps, 30);
    const std::vector<double> right = objective.StartValues();
    const double atTruth = objective.Misfit(right);
    EXPECT_LT(atTruth, 1e-6);
    const double elsewhere = objective.Misfit({right[0] * 3 - 1e-4});
    EXPECT_GT(elsewhere, 100 * atTruth + 1e-4);
    // Each evaluation starts afresh: the same values give the same bits after another evaluation.
    EXPECT_EQ(objective.Misfit(right), atTruth);
    EXPECT_EQ(objective.TextsFor(right).Nstep, "30");
}

// A stop is answered between the field steps of one evaluation, not after the whole loop.
TEST(LoopObjective, AnEvaluationEndsAtTheFieldStepAStopArrives) {
    const ParameterTexts truth = ShortLoop();
    const MeasuredLoop loop = testing::SyntheticLoop(truth, 2.5e-4, 0, 0);
    const LoopObjective objective(truth, loop, {*ParameterIndex("J1")}, LoopSettings{});
    auto simulation = std::make_unique<SimulationData>();
    int asked = 0;
    const MisfitResult stopped =
        objective.Evaluate(objective.StartValues(), *simulation, nullptr, [&asked] { return ++asked > 7; });
    EXPECT_FALSE(stopped.Valid);
    EXPECT_EQ(stopped.Reason, "stopped");
    EXPECT_EQ(asked, 8);
    EXPECT_EQ(simulation->SimRows, 7);
    EXPECT_TRUE(objective.Evaluate(objective.StartValues(), *simulation, nullptr, [] { return false; }).Valid);
}

TEST(LoopObjective, RefusesABadFieldBeforeAnySearch) {
    ParameterTexts texts = ShortLoop();
    texts.K[1] = "abc";
    const MeasuredLoop loop{{100, 0, -100}, {1, 0, -1}};
    EXPECT_THROW(LoopObjective(texts, loop, {0}, LoopSettings{}), ProgramError);
}

} // namespace
} // namespace dravo2::fit
