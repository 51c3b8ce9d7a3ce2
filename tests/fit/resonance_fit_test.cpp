// Fits to resonance tables the program generates from its own modes along a loop.
#include "fit/fit_job.h"
#include "fit/synthetic_loop.h"
#include "fit/synthetic_resonance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace dravo2::fit {
namespace {

// One layer whose easy axis lies along the field: its modes differ between the branches wherever
// |H| is below the anisotropy field (42 kA/m), where the layer points against the field on one of
// them.
ParameterTexts EasyLayer() {
    ParameterTexts texts;
    texts.M = {"1.0", "1.0", "0.7", "1.0"};
    texts.t = {"3e-9", "0", "0", "0"};
    texts.K = {"2.1e4", "100", "60", "1000"};
    return texts;
}

// Two unequal antiferromagnetically coupled layers, the first with a tilted axis.
ParameterTexts CoupledPair() {
    ParameterTexts texts;
    texts.M = {"1.5", "1.0", "0.7", "1.0"};
    texts.t = {"3e-9", "2e-9", "0", "0"};
    texts.K = {"2e4", "5e3", "60", "1000"};
    texts.AxisDegrees = {30, 0, 0, 0};
    texts.J1 = "-1e-4";
    texts.J3 = "0";
    texts.Bias = "0";
    texts.StartF = "100";
    texts.StepF = "-2.5";
    texts.Nstep = "80";
    return texts;
}

DataSet ResonanceSet(const ParameterTexts& start, MeasuredLoop table) {
    DataSet set;
    set.Texts = start;
    set.Measured = std::move(table);
    set.Simulation.Observable = FitObservable::Resonance;
    set.Label = "modes";
    return set;
}

FreeChoice Free(const std::string& name, Bounds range) {
    return {*ParameterIndex(name), range, false};
}

double MisfitAtTruth(const ParameterTexts& texts, const MeasuredLoop& table) {
    LoopSettings settings;
    settings.Observable = FitObservable::Resonance;
    return LoopObjective(texts, table, {}, settings).Misfit({});
}

TEST(ResonanceFit, EachPointIsComparedOnTheBranchOfItsDirectionAndWithItsMode) {
    const MeasuredLoop rising = testing::SyntheticResonance(EasyLayer(), 100, 40, true, false);
    ASSERT_GT(rising.Field.size(), 30u);
    EXPECT_LT(MisfitAtTruth(EasyLayer(), rising), 1e-8);
    // The same points listed falling are compared on the falling branch, where the layer points
    // the other way below the anisotropy field.
    MeasuredLoop falling = rising;
    std::reverse(falling.Field.begin(), falling.Field.end());
    std::reverse(falling.Moment.begin(), falling.Moment.end());
    EXPECT_GT(MisfitAtTruth(EasyLayer(), falling), 0.01);

    const MeasuredLoop pair = testing::SyntheticResonance(CoupledPair(), 100, 40, false, true);
    ASSERT_TRUE(std::count(pair.Mode.begin(), pair.Mode.end(), 2) > 20);
    MeasuredLoop nearest = pair;
    nearest.Mode.clear();
    MeasuredLoop swapped = pair;
    for (std::int32_t& mode : swapped.Mode) {
        mode = mode == 1 ? 2 : mode == 2 ? 1 : mode;
    }
    for (const auto& [name, table, close] :
         {std::tuple{"assigned", pair, true}, std::tuple{"nearest", nearest, true}, {"swapped", swapped, false}}) {
        SCOPED_TRACE(name);
        const double misfit = MisfitAtTruth(CoupledPair(), table);
        EXPECT_EQ(misfit < 1e-8, close) << misfit;
    }
}

TEST(ResonanceFit, ATableAloneGivesTheMagnetisationAndTheAnisotropy) {
    ParameterTexts start = EasyLayer();
    start.M[0] = "1.3";
    start.K[0] = "1.2e4";
    FitRequest request;
    request.Texts = start;
    request.Measured = testing::SyntheticResonance(EasyLayer(), 100, 40, false, false);
    request.Simulation.Observable = FitObservable::Resonance;
    request.Free = {Free("M1", {0.5, 2}), Free("K1", {5e3, 5e4})};
    request.Settings.Evaluations = 1000;
    request.Settings.Threads = 2;
    const FitOutcome outcome = FitJob(request).Run();
    const FitSummary& summary = outcome.Summary;
    EXPECT_LT(std::fabs(summary.Parameters[0].After / 1.0 - 1), 1e-4) << SummaryText(summary);
    EXPECT_LT(std::fabs(summary.Parameters[1].After / 2.1e4 - 1), 1e-4) << SummaryText(summary);
    ASSERT_TRUE(summary.RmsGigahertz);
    EXPECT_LT(*summary.RmsGigahertz, 1e-4);
    EXPECT_EQ(summary.Covered, summary.Total);
    for (const FittedParameter& parameter : summary.Parameters) {
        EXPECT_TRUE(parameter.Error.Determined) << SummaryText(summary);
    }
}

TEST(ResonanceFit, ATableWithItsLoopGivesTheCouplingOfAPair) {
    ParameterTexts start = CoupledPair();
    start.M[0] = "1.3";
    start.K[0] = "3e4";
    start.J1 = "-1.6e-4";
    DataSet loop;
    loop.Texts = start;
    loop.Measured = testing::SyntheticLoop(CoupledPair(), 2.5e-4, 0, 0, 0, 3);
    loop.Label = "loop";
    FitRequest request;
    request.DataSets = {loop, ResonanceSet(start, testing::SyntheticResonance(CoupledPair(), 100, 40, false, true))};
    request.Free = {Free("M1", {0.8, 2.2}), Free("K1", {5e3, 8e4}), Free("J1", {-5e-4, -2e-5})};
    request.Settings.Evaluations = 1000;
    request.Settings.Threads = 2;
    const FitOutcome outcome = FitJob(request).Run();
    const FitSummary& summary = outcome.Summary;
    const double truth[] = {1.5, 2e4, -1e-4};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(summary.Parameters[i].Name);
        EXPECT_LT(std::fabs(summary.Parameters[i].After / truth[i] - 1), 1e-3) << SummaryText(summary);
    }
    ASSERT_EQ(summary.DataSets.size(), 2u);
    EXPECT_EQ(summary.DataSets[1].Observable, "resonance");
    EXPECT_FALSE(summary.DataSets[0].RmsGigahertz);
    ASSERT_TRUE(summary.DataSets[1].RmsGigahertz);
    EXPECT_LT(*summary.DataSets[1].RmsGigahertz, 1e-3);
    EXPECT_LT(*summary.DataSets[1].MisfitAfter, *summary.DataSets[1].MisfitBefore);
}

} // namespace
} // namespace dravo2::fit
