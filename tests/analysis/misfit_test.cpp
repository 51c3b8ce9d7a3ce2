#include "analysis/misfit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace dravo2 {
namespace {

struct Curve {
    std::vector<double> Field;
    std::vector<double> Value;

    CurveView View() const { return {Field.data(), Value.data(), static_cast<std::int32_t>(Field.size())}; }
    void Add(double h, double v) {
        Field.push_back(h);
        Value.push_back(v);
    }
};

std::vector<std::array<std::int32_t, 3>> Split(const std::vector<double>& field) {
    std::vector<std::array<std::int32_t, 3>> parts;
    for (const Branch& b : SplitBranches(field)) {
        parts.push_back({b.First, b.Last, b.Direction == BranchDirection::Up ? 1 : -1});
    }
    return parts;
}

TEST(Branches, SplitAtTurnsWithRepeatedFields) {
    using Parts = std::vector<std::array<std::int32_t, 3>>;
    // The repeated 3 stays upward; the second 3 turns, and 0 turns back.
    EXPECT_EQ(Split({0, 1, 2, 2, 3, 3, 2, 1, 1, 0, 1}), (Parts{{0, 5, 1}, {5, 9, -1}, {9, 10, 1}}));
    EXPECT_EQ(Split({5, 5, 4, 3}), (Parts{{0, 3, -1}}));
    EXPECT_EQ(Split({2, 2}), (Parts{{0, 1, 1}}));
    EXPECT_EQ(Split({7}), (Parts{{0, 0, 1}}));
    EXPECT_TRUE(Split({}).empty());
}

TEST(Misfit, SaturationOverLayersThatEnterTheProjection) {
    EXPECT_DOUBLE_EQ(
        SaturationProjection(std::vector<double>{1.5, 0.5, 0.0, 1.0}, std::vector<double>{2e-9, 2e-9, 5e-9, 0.0}), 1.0);
    EXPECT_EQ(SaturationProjection(std::vector<double>{0.0, 1.0}, std::vector<double>{1e-9, 0.0}), 0.0);
}

TEST(Misfit, AgreesWithAHandComputation) {
    Curve simulated; // one upward branch; projection over a saturation of 2 gives m = -1, 0, 0.5, 1
    simulated.Add(0, -2);
    simulated.Add(10, 0);
    simulated.Add(20, 1);
    simulated.Add(30, 2);
    Curve measured;
    measured.Add(5, 1);  // m = -0.5, w = 2.5
    measured.Add(10, 2); // m = 0,    w = 2.5 + 7.5
    measured.Add(25, 4); // m = 0.75, w = 7.5 + 7.5
    measured.Add(40, 5); // beyond the simulated field
    const MisfitResult result = ComputeMisfit(measured.View(), simulated.View(), 2.0, {});
    ASSERT_TRUE(result.Valid) << result.Reason;
    EXPECT_EQ(result.Covered, 3);
    EXPECT_EQ(result.Total, 4);
    const double s = (2.5 * -0.5 * 1 + 15 * 0.75 * 4) / (2.5 * 0.25 + 15 * 0.5625);
    const double r[] = {1 + 0.5 * s, 2, 4 - 0.75 * s};
    const double halfRange = (4.0 - 1.0) / 2; // of the compared moments 1, 2, 4
    const double misfit = std::sqrt((2.5 * r[0] * r[0] + 10 * r[1] * r[1] + 15 * r[2] * r[2]) / 27.5) / halfRange;
    EXPECT_NEAR(result.Scale, s, 1e-12);
    EXPECT_EQ(result.Slope, 0.0);
    EXPECT_EQ(result.Offset, 0.0);
    EXPECT_NEAR(result.Misfit, misfit, 1e-12);
    EXPECT_EQ(result.Points, (std::vector<std::int32_t>{0, 1, 2}));
    EXPECT_EQ(result.Weights, (std::vector<double>{2.5, 10, 15}));
    ASSERT_EQ(result.WeightedResiduals.size(), 3u);
    EXPECT_NEAR(result.WeightedResiduals[2], std::sqrt(15.0) * r[2] / halfRange, 1e-12);
    EXPECT_EQ(result.HalfRange, halfRange);
    EXPECT_EQ(result.LinearTerms, 1);
    EXPECT_FALSE(result.HasChiSquare);
    double squares = 0;
    for (double e : result.WeightedResiduals) {
        squares += e * e;
    }
    EXPECT_NEAR(std::sqrt(squares / result.SumWeights), result.Misfit, 1e-12);
}

// A hysteresis loop: down from 100 to -100 A/m, then up, the two branches shifted apart.
Curve SimulatedLoop(double saturation) {
    Curve loop;
    for (int i = 0; i <= 20; ++i) {
        const double h = 100 - 10 * i;
        loop.Add(h, saturation * std::tanh((h + 20) / 30));
    }
    for (int i = 1; i <= 20; ++i) {
        const double h = -100 + 10 * i;
        loop.Add(h, saturation * std::tanh((h - 20) / 30));
    }
    return loop;
}

// The loop's measured twin y = scale m + slope H + offset at every simulated field and midway
// between, where the simulated value is the mean of its two rows.
Curve MeasuredTwin(const Curve& simulated, double saturation, double scale, double slope, double offset) {
    Curve measured;
    for (std::size_t i = 0; i < simulated.Field.size(); ++i) {
        auto add = [&](double h, double m) { measured.Add(h, scale * m / saturation + slope * h + offset); };
        add(simulated.Field[i], simulated.Value[i]);
        if (i + 1 < simulated.Field.size()) {
            add((simulated.Field[i] + simulated.Field[i + 1]) / 2, (simulated.Value[i] + simulated.Value[i + 1]) / 2);
        }
    }
    return measured;
}

TEST(Misfit, PerfectMatchAndScaledCurveWithSlope) {
    const double saturation = 1.2;
    const Curve simulated = SimulatedLoop(saturation);
    const Curve same = MeasuredTwin(simulated, saturation, 1, 0, 0);
    const MisfitResult perfect = ComputeMisfit(same.View(), simulated.View(), saturation, {});
    ASSERT_TRUE(perfect.Valid) << perfect.Reason;
    EXPECT_EQ(perfect.Covered, perfect.Total);
    EXPECT_NEAR(perfect.Scale, 1, 1e-12);
    EXPECT_LT(perfect.Misfit, 1e-12);

    const Curve tilted = MeasuredTwin(simulated, saturation, 3, 2e-3, 0);
    const MisfitResult without = ComputeMisfit(tilted.View(), simulated.View(), saturation, {});
    ASSERT_TRUE(without.Valid);
    EXPECT_GT(without.Misfit, 0.01);
    const MisfitResult with = ComputeMisfit(tilted.View(), simulated.View(), saturation, {.Slope = true});
    ASSERT_TRUE(with.Valid);
    EXPECT_NEAR(with.Scale, 3, 1e-9);
    EXPECT_NEAR(with.Slope, 2e-3, 1e-12);
    EXPECT_LT(with.Misfit, 1e-9);

    const Curve shifted = MeasuredTwin(simulated, saturation, -2, 1e-3, 0.5);
    const MisfitResult both = ComputeMisfit(shifted.View(), simulated.View(), saturation, {true, true});
    ASSERT_TRUE(both.Valid);
    EXPECT_NEAR(both.Scale, -2, 1e-9);
    EXPECT_NEAR(both.Offset, 0.5, 1e-9);
    EXPECT_LT(both.Misfit, 1e-9);
}

TEST(Misfit, BranchesAreMatchedByDirection) {
    const Curve simulated = SimulatedLoop(1.0);
    Curve measured = MeasuredTwin(simulated, 1.0, 1, 0, 0);
    // Measured the other way round: every branch meets the simulated branch of the other shape.
    Curve reversed;
    for (std::size_t i = measured.Field.size(); i-- > 0;) {
        reversed.Add(measured.Field[i], measured.Value[i]);
    }
    const MisfitResult result = ComputeMisfit(reversed.View(), simulated.View(), 1.0, {});
    ASSERT_TRUE(result.Valid);
    EXPECT_GT(result.Misfit, 0.05);
}

TEST(Misfit, NoMisfitAndWhy) {
    Curve simulated;
    simulated.Add(0, 0);
    simulated.Add(10, 1);
    simulated.Add(20, 1);
    Curve measured;
    measured.Add(5, 1);
    measured.Add(15, 2);
    measured.Add(30, 3);
    MisfitResult result = ComputeMisfit(measured.View(), simulated.View(), 1.0, {});
    EXPECT_FALSE(result.Valid);
    EXPECT_EQ(result.Covered, 2);
    EXPECT_EQ(result.Reason, "only 2 of 3 measured points lie within a simulated branch of their direction; at least "
                             "3 are needed");

    measured.Field[2] = 20;
    measured.Value = {0, 0, 0};
    result = ComputeMisfit(measured.View(), simulated.View(), 1.0, {});
    EXPECT_FALSE(result.Valid);
    EXPECT_EQ(result.Reason, "the measured moment does not change over the covered points");

    EXPECT_EQ(ComputeMisfit(measured.View(), {}, 1.0, {}).Reason, "there is no simulated curve yet");
    EXPECT_EQ(ComputeMisfit({}, simulated.View(), 1.0, {}).Reason, "no measured curve is loaded");
    EXPECT_EQ(ComputeMisfit(measured.View(), simulated.View(), 0.0, {}).Reason,
              "no layer has both a magnetisation and a thickness");
}

// A simulated curve that is straight over the measured range (a hard-axis loop below its
// saturation field) cannot tell its scale from a background slope. The misfit must then stay the
// residual of the best straight line, not shrink as s grows against b.
TEST(Misfit, StraightSimulatedCurveWithSlopeStaysHonest) {
    Curve simulated;
    for (int i = 0; i <= 40; ++i) {
        simulated.Add(-200 + 10 * i, 0.5 * (-200 + 10 * i) / 400);
    }
    Curve measured;
    for (int i = 0; i <= 20; ++i) {
        const double h = -100 + 10 * i;
        measured.Add(h, 3e-4 * std::tanh(h / 40) - 2e-7 * h);
    }
    for (const bool offset : {false, true}) {
        SCOPED_TRACE(offset);
        const MisfitResult result = ComputeMisfit(measured.View(), simulated.View(), 0.5, {true, offset});
        ASSERT_TRUE(result.Valid) << result.Reason;
        EXPECT_EQ(result.Degenerate, "scale and slope");
        EXPECT_EQ(DegenerateText(result), "scale and slope cannot be told apart over the measured range");
        // The best straight line through the odd data passes through 0: the same residual with or
        // without an offset, computed here by ordinary weighted least squares on H alone.
        double hy = 0;
        double hh = 0;
        double sumW = 0;
        for (std::size_t j = 0; j < measured.Field.size(); ++j) {
            const double w = (j == 0 || j + 1 == measured.Field.size()) ? 5 : 10;
            hy += w * measured.Field[j] * measured.Value[j];
            hh += w * measured.Field[j] * measured.Field[j];
            sumW += w;
        }
        double squares = 0;
        for (std::size_t j = 0; j < measured.Field.size(); ++j) {
            const double w = (j == 0 || j + 1 == measured.Field.size()) ? 5 : 10;
            const double r = measured.Value[j] - hy / hh * measured.Field[j];
            squares += w * r * r;
        }
        const double halfRange = measured.Value.back();
        EXPECT_NEAR(result.Misfit, std::sqrt(squares / sumW) / halfRange, 1e-9);
        EXPECT_GT(result.Misfit, 0.05);
        EXPECT_TRUE(std::isfinite(result.Scale) && std::fabs(result.Scale) < 1);
    }
}

TEST(Misfit, DependsOnTheDataAloneNotOnTheirUnitOrScale) {
    const double saturation = 1.2;
    const Curve simulated = SimulatedLoop(saturation);
    Curve measured = MeasuredTwin(simulated, saturation, 2e-4, 3e-8, 1e-5);
    for (std::size_t j = 0; j < measured.Value.size(); ++j) {
        measured.Value[j] += 1e-5 * std::sin(7.0 * static_cast<double>(j)); // measurement noise
    }
    const MisfitResult base = ComputeMisfit(measured.View(), simulated.View(), saturation, {true, true});
    ASSERT_TRUE(base.Valid);
    EXPECT_GT(base.Misfit, 1e-3);
    Curve rescaled = measured;
    for (double& y : rescaled.Value) {
        y = 1000 * y - 0.7; // emu to A m2 by mistake, and a shifted zero
    }
    const MisfitResult other = ComputeMisfit(rescaled.View(), simulated.View(), saturation, {true, true});
    ASSERT_TRUE(other.Valid);
    EXPECT_NEAR(other.Misfit, base.Misfit, 1e-9 * base.Misfit);
    EXPECT_NEAR(other.Scale, 1000 * base.Scale, 1e-6 * std::fabs(other.Scale));
}

TEST(Misfit, ChiSquareFromUncertaintiesByHand) {
    Curve simulated; // m = -1, 0, 1 at -10, 0, 10 (saturation 1)
    simulated.Add(-10, -1);
    simulated.Add(0, 0);
    simulated.Add(10, 1);
    Curve measured;
    measured.Add(-10, -2.2);
    measured.Add(0, 0.1);
    measured.Add(10, 1.9);
    const std::vector<double> sigma{0.1, 0.2, 0.4};
    CurveView view = measured.View();
    view.Sigma = sigma.data();
    const MisfitResult result = ComputeMisfit(view, simulated.View(), 1.0, {});
    ASSERT_TRUE(result.Valid) << result.Reason;
    // Weights: half the spacing to each neighbour over sigma^2: 5/0.01, 10/0.04, 5/0.16.
    const double w[] = {500, 250, 31.25};
    const double m[] = {-1, 0, 1};
    const double s = (w[0] * m[0] * -2.2 + w[2] * m[2] * 1.9) / (w[0] + w[2]);
    const double r[] = {-2.2 - s * m[0], 0.1, 1.9 - s * m[2]};
    EXPECT_NEAR(result.Scale, s, 1e-12);
    ASSERT_TRUE(result.HasChiSquare);
    const double chi = r[0] * r[0] / 0.01 + r[1] * r[1] / 0.04 + r[2] * r[2] / 0.16;
    EXPECT_NEAR(result.ChiSquare, chi, 1e-9);
    EXPECT_EQ(DegreesOfFreedom(result, 0), 2);
    EXPECT_EQ(DegreesOfFreedom(result, 1), 1);
    const double misfit = std::sqrt((w[0] * r[0] * r[0] + w[1] * r[1] * r[1] + w[2] * r[2] * r[2]) / 781.25) / 2.05;
    EXPECT_NEAR(result.Misfit, misfit, 1e-12);

    const std::vector<double> zero{0.1, 0.0, 0.4};
    view.Sigma = zero.data();
    const MisfitResult refused = ComputeMisfit(view, simulated.View(), 1.0, {});
    EXPECT_FALSE(refused.Valid);
    EXPECT_EQ(refused.Reason, "the uncertainty of measured point 2 is not a positive number");
}

TEST(Misfit, ScaleFixedByTheSampleArea) {
    // Two 4 nm layers of 1.72892 T on 0.2946635385 cm2, in emu: sum(M t) A / mu0 / 1e-3.
    const std::vector<double> m{1.72892, 1.72892, 0, 0};
    const std::vector<double> t{4e-9, 4e-9, 0, 0};
    const double expected = 2 * 1.72892 * 4e-9 * 0.2946635385e-4 / (4e-7 * 3.14159265358979323846) / 1e-3;
    const double moment = SaturatedMoment(m, t, 0.2946635385e-4, 1e-3);
    EXPECT_NEAR(moment, expected, 1e-15);
    EXPECT_NEAR(moment, 3.2432e-4, 1e-7);

    const Curve simulated = SimulatedLoop(1.72892);
    const Curve measured = MeasuredTwin(simulated, 1.72892, 0.9 * moment, 2e-11, 0);
    MisfitOptions options{.Slope = true};
    options.FixedScale = moment;
    const MisfitResult fixed = ComputeMisfit(measured.View(), simulated.View(), 1.72892, options);
    ASSERT_TRUE(fixed.Valid);
    EXPECT_TRUE(fixed.ScaleFixed);
    EXPECT_EQ(fixed.Scale, moment);
    EXPECT_EQ(fixed.LinearTerms, 1);
    EXPECT_GT(fixed.Misfit, 0.005); // the data hold 90 % of the computed moment
    const MisfitResult fitted = ComputeMisfit(measured.View(), simulated.View(), 1.72892, {.Slope = true});
    EXPECT_LT(fitted.Misfit, 1e-9);
    EXPECT_NEAR(fitted.Scale, 0.9 * moment, 1e-12);
}

} // namespace
} // namespace dravo2
