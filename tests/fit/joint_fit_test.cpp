// Joint fits of several curves the program generates from known parameters.
#include "fit/fit_job.h"
#include "fit/synthetic_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace dravo2::fit {
namespace {

// One layer with a uniaxial anisotropy axis at 30 degrees: 80 steps a branch, from 100 kA/m
// down to -100 kA/m and back.
ParameterTexts TiltedLayer() {
    ParameterTexts texts;
    texts.M = {"1.0", "1.0", "0.7", "1.0"};
    texts.t = {"3e-9", "0", "0", "0"};
    texts.K = {"2e4", "100", "60", "1000"};
    texts.AxisDegrees = {30, 0, 0, 0};
    texts.StartF = "100";
    texts.StepF = "-2.5";
    texts.Nstep = "80";
    return texts;
}

// The two unequal antiferromagnetically coupled layers of the single-curve fits.
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

ParameterTexts With(ParameterTexts texts, const std::string& name, const std::string& value) {
    SetParameterText(texts, *ParameterIndex(name), value);
    return texts;
}

// A data set of the curve `truth` gives, to be fitted from `start`.
DataSet Curve(const ParameterTexts& truth, const ParameterTexts& start, bool magnetoresistance = false) {
    DataSet set;
    set.Texts = start;
    set.Measured = testing::SyntheticLoop(truth, magnetoresistance ? 0.8 : 2.5e-4, 0, magnetoresistance ? 12 : 0, 0, 3,
                                          magnetoresistance);
    set.Simulation.Observable = magnetoresistance ? FitObservable::Magnetoresistance : FitObservable::Projection;
    set.Label = magnetoresistance ? "R(H)" : "loop";
    return set;
}

FitOutcome FitSets(std::vector<DataSet> sets, const std::vector<FreeChoice>& free, std::int64_t evaluations,
                   int threads = 2) {
    FitRequest request;
    request.DataSets = std::move(sets);
    request.Free = free;
    request.Settings.Evaluations = evaluations;
    request.Settings.Threads = threads;
    FitJob job(request);
    return job.Run();
}

FreeChoice Free(const std::string& name, std::optional<Bounds> range = std::nullopt, bool local = false) {
    return {*ParameterIndex(name), range, local};
}

TEST(JointFit, ThreeFieldAnglesFixATiltedAxisThatOneAngleLeavesOpen) {
    ParameterTexts start = TiltedLayer();
    start.AxisDegrees[0] = 50;
    start.K[0] = "1e4";
    const std::vector<FreeChoice> free{Free("K1", Bounds{2e3, 1e5}), Free("axis1")};
    std::vector<DataSet> angles;
    for (const char* angle : {"0", "45", "90"}) {
        angles.push_back(Curve(With(TiltedLayer(), "field_angle", angle), With(start, "field_angle", angle)));
    }
    // Along one direction the switching fields move with the axis in a way the anisotropy's
    // strength can nearly make up for: the axis gets no standard error.
    const FitOutcome one = FitSets({angles[1]}, free, 200);
    const FittedParameter& axisOfOne = one.Summary.Parameters[1];
    EXPECT_TRUE(!axisOfOne.Error.Determined || axisOfOne.AtBound || axisOfOne.Error.Value > 5)
        << SummaryText(one.Summary);
    EXPECT_TRUE(one.Summary.DataSets.empty()); // a single curve reports as it always did

    const FitOutcome three = FitSets(angles, free, 200);
    const FitSummary& summary = three.Summary;
    ASSERT_EQ(summary.DataSets.size(), 3u);
    EXPECT_LT(std::fabs(summary.Parameters[0].After / 2e4 - 1), 0.005) << SummaryText(summary);
    const FittedParameter& axis = summary.Parameters[1];
    EXPECT_EQ(axis.After, 30) << SummaryText(summary);
    // A degree moves the switching fields of each curve, which the error estimate may flag.
    EXPECT_TRUE(!axis.Error.Determined || axis.Error.Value < 1) << SummaryText(summary);
    std::size_t points = 0;
    for (const DataSetSummary& part : summary.DataSets) {
        EXPECT_LT(*part.MisfitAfter, 1e-3);
        EXPECT_LT(*part.MisfitAfter, *part.MisfitBefore);
        points += part.Covered;
    }
    EXPECT_EQ(summary.Covered, points);
    // The joint misfit is the root mean square of the blocks, each of which one curve's misfit
    // stands for: it lies between the smallest and the largest of them.
    const auto [least, most] = std::minmax(
        {*summary.DataSets[0].MisfitAfter, *summary.DataSets[1].MisfitAfter, *summary.DataSets[2].MisfitAfter});
    EXPECT_GE(*summary.MisfitAfter, least * (1 - 1e-9));
    EXPECT_LE(*summary.MisfitAfter, most * (1 + 1e-9));
    // Each curve's fitted set carries its own field angle.
    ASSERT_EQ(three.FittedSets.size(), 3u);
    EXPECT_EQ(ParameterText(three.FittedSets[2], *ParameterIndex("field_angle")), "90");
    EXPECT_EQ(ParameterText(three.FittedSets[2], *ParameterIndex("axis1")), "30");
}

TEST(JointFit, LocalCouplingsOfTwoSpacersWithASharedAnisotropy) {
    ParameterTexts start = CoupledPair();
    start.J1 = "-1.5e-4";
    start.K[0] = "1e4";
    const FitOutcome outcome = FitSets({Curve(CoupledPair(), start), Curve(With(CoupledPair(), "J1", "-2e-4"), start)},
                                       {Free("K1"), Free("J1", Bounds{-4e-4, -5e-5}, true)}, 200);
    const auto& parameters = outcome.Summary.Parameters;
    ASSERT_EQ(parameters.size(), 3u);
    EXPECT_EQ(parameters[1].Name, "J1@1");
    EXPECT_EQ(parameters[2].Name, "J1@2");
    EXPECT_LT(std::fabs(parameters[0].After / 2e4 - 1), 0.02) << SummaryText(outcome.Summary);
    EXPECT_LT(std::fabs(parameters[1].After / -1e-4 - 1), 0.02) << SummaryText(outcome.Summary);
    EXPECT_LT(std::fabs(parameters[2].After / -2e-4 - 1), 0.02) << SummaryText(outcome.Summary);
    // The parameter sets for the sweep command: the shared K1 once, the couplings one a spacer.
    const std::string lines = KeyValueLines(outcome.FittedSets, true);
    EXPECT_EQ(lines.find("\nJ1="), std::string::npos) << lines;
    EXPECT_NE(lines.find("\nJ1@1="), std::string::npos) << lines;
    EXPECT_NE(lines.find("\nJ1@2="), std::string::npos) << lines;
    EXPECT_NE(lines.find("\nK1="), std::string::npos) << lines;
    EXPECT_EQ(lines.find("K1@"), std::string::npos) << lines;
}

TEST(JointFit, EvaluatingTheDataSetsOnThreadsChangesNothing) {
    ParameterTexts start = CoupledPair();
    const std::vector<DataSet> sets{Curve(CoupledPair(), start), Curve(With(CoupledPair(), "J1", "-2e-4"), start),
                                    Curve(CoupledPair(), start, true)};
    const std::vector<JointSlot> slots{{*ParameterIndex("K1"), std::nullopt},
                                       {*ParameterIndex("J1"), 0},
                                       {*ParameterIndex("J1"), 1},
                                       {*ParameterIndex("J1"), 2}};
    const JointObjective serial(sets, slots, false);
    const JointObjective parallel(sets, slots, true);
    ASSERT_TRUE(parallel.Parallel());
    for (const std::vector<double>& values :
         {std::vector<double>{2e4, -1e-4, -2e-4, -1e-4}, std::vector<double>{1.2e4, -1.3e-4, -1.7e-4, -0.8e-4}}) {
        EXPECT_EQ(serial.Misfit(values), parallel.Misfit(values));
        EXPECT_EQ(serial.Residuals(values), parallel.Residuals(values));
    }
    EXPECT_LT(serial.Misfit({2e4, -1e-4, -2e-4, -1e-4}), 1e-6); // the generating values
    EXPECT_EQ(serial.LinearTerms(), 4);                         // two scales, and the resistance's scale and offset
}

TEST(JointFit, ACurveCountsOverItsUncertaintiesOrElseOverItsHalfRange) {
    ParameterTexts start = CoupledPair();
    start.J1 = "-1.3e-4";
    DataSet set = Curve(CoupledPair(), start);
    const LoopObjective plain(set.Texts, set.Measured, {*ParameterIndex("J1")}, set.Simulation);
    const MisfitResult result = plain.Compared({-1.3e-4});
    ASSERT_TRUE(result.Valid);
    // Without uncertainties a block over its length is the curve's misfit.
    double squares = 0;
    const std::vector<double> block = JointBlock(result, set.Measured);
    for (const double value : block) {
        squares += value * value;
    }
    EXPECT_NEAR(std::sqrt(squares / static_cast<double>(block.size())), result.Misfit, 1e-12 * result.Misfit);
    // With uncertainties twice as large as some others the block is half as large.
    for (const double sigma : {1e-6, 2e-6}) {
        SCOPED_TRACE(sigma);
        set.Measured.Sigma.assign(set.Measured.Field.size(), sigma);
        const LoopObjective weighted(set.Texts, set.Measured, {*ParameterIndex("J1")}, set.Simulation);
        const MisfitResult withSigma = weighted.Compared({-1.3e-4});
        const std::vector<double> scaled = JointBlock(withSigma, set.Measured);
        ASSERT_EQ(scaled.size(), block.size());
        for (std::size_t j = 0; j < block.size(); j += 17) {
            EXPECT_NEAR(scaled[j], block[j] * result.HalfRange / sigma, 1e-9 * std::fabs(scaled[j]) + 1e-12);
        }
    }
}

TEST(JointFit, AMagnetoresistanceCurveAloneAndWithItsLoop) {
    ParameterTexts start = CoupledPair();
    start.J1 = "-1.5e-4";
    const FitOutcome alone = FitSets({Curve(CoupledPair(), start, true)}, {Free("J1", Bounds{-4e-4, -5e-5})}, 150);
    // The curve's own scale and base resistance come out of the comparison.
    EXPECT_LT(std::fabs(alone.Summary.Parameters[0].After / -1e-4 - 1), 0.01) << SummaryText(alone.Summary);
    EXPECT_NEAR(alone.Summary.Scale, 0.8, 1e-3);
    EXPECT_NEAR(alone.Summary.Offset, 12, 1e-3);
    start.K[0] = "1e4";
    const FitOutcome both = FitSets({Curve(CoupledPair(), start, true), Curve(CoupledPair(), start)},
                                    {Free("J1", Bounds{-4e-4, -5e-5}), Free("K1")}, 200);
    const FitSummary& summary = both.Summary;
    EXPECT_LT(std::fabs(summary.Parameters[0].After / -1e-4 - 1), 0.01) << SummaryText(summary);
    EXPECT_LT(std::fabs(summary.Parameters[1].After / 2e4 - 1), 0.02) << SummaryText(summary);
    ASSERT_EQ(summary.DataSets.size(), 2u);
    EXPECT_EQ(summary.DataSets[0].Observable, "magnetoresistance");
    EXPECT_NEAR(summary.DataSets[0].Offset, 12, 1e-2);
    EXPECT_NEAR(summary.DataSets[1].Scale, 2.5e-4, 1e-6);
}

} // namespace
} // namespace dravo2::fit
