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
    const double misfit = std::sqrt((2.5 * r[0] * r[0] + 10 * r[1] * r[1] + 15 * r[2] * r[2]) / 27.5) / s;
    EXPECT_NEAR(result.Scale, s, 1e-12);
    EXPECT_EQ(result.Slope, 0.0);
    EXPECT_EQ(result.Offset, 0.0);
    EXPECT_NEAR(result.Misfit, misfit, 1e-12);
    EXPECT_EQ(result.Points, (std::vector<std::int32_t>{0, 1, 2}));
    EXPECT_EQ(result.Weights, (std::vector<double>{2.5, 10, 15}));
    ASSERT_EQ(result.WeightedResiduals.size(), 3u);
    EXPECT_NEAR(result.WeightedResiduals[2], std::sqrt(15.0) * r[2] / s, 1e-12);
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
    EXPECT_EQ(result.Reason, "the fitted scale is 0");

    simulated.Value = {1, 1, 1};
    measured.Value = {1, 2, 3};
    result = ComputeMisfit(measured.View(), simulated.View(), 1.0, {.Offset = true});
    EXPECT_FALSE(result.Valid);
    EXPECT_EQ(result.Reason, "the simulated curve does not vary enough over the covered points to fit its scale");

    EXPECT_EQ(ComputeMisfit(measured.View(), {}, 1.0, {}).Reason, "there is no simulated curve yet");
    EXPECT_EQ(ComputeMisfit({}, simulated.View(), 1.0, {}).Reason, "no measured curve is loaded");
    EXPECT_EQ(ComputeMisfit(measured.View(), simulated.View(), 0.0, {}).Reason,
              "no layer has both a magnetisation and a thickness");
}

} // namespace
} // namespace dravo2
