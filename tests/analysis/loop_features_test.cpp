#include "analysis/loop_features.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace dravo2 {
namespace {

// A branch sampled from `from` to `to` in steps of `step` (sign included) with values curve(H).
struct Sampled {
    std::vector<double> Field;
    std::vector<double> Value;

    Sampled(double from, double to, double step, const std::function<double(double)>& curve) {
        for (double h = from; step > 0 ? h <= to : h >= to; h += step) {
            Field.push_back(h);
            Value.push_back(curve(h));
        }
    }
    LoopBranch Branch() const { return {Field, Value}; }
};

double Ramp(double h, double centre, double width) {
    return std::clamp((h - centre) / width, -1.0, 1.0);
}

TEST(LoopFeatures, SquareLoopOfTwiceTheSaturationScale) {
    // Switches between 20 and 30 A/m going up and between -20 and -30 going down, at +-2 with a
    // saturation projection of 2.
    const Sampled up(-100, 100, 10, [](double h) { return h < 30 ? -2.0 : 2.0; });
    const Sampled down(100, -100, -10, [](double h) { return h > -30 ? 2.0 : -2.0; });
    const LoopFeatures f = ComputeLoopFeatures(up.Branch(), down.Branch(), 2);
    EXPECT_DOUBLE_EQ(*f.CoerciveUp, 25);
    EXPECT_DOUBLE_EQ(*f.CoerciveDown, -25);
    EXPECT_DOUBLE_EQ(*f.ExchangeBias, 0);
    EXPECT_DOUBLE_EQ(*f.Coercivity, 25);
    EXPECT_DOUBLE_EQ(*f.RemanenceUp, -1);
    EXPECT_DOUBLE_EQ(*f.RemanenceDown, 1);
    EXPECT_DOUBLE_EQ(*f.SaturationField, 0); // saturated everywhere
    EXPECT_EQ(f.Jumps, 2);
}

TEST(LoopFeatures, ShiftedLoopWithSlopesGivenFallingBranchFirst) {
    // Up branch crosses at 60 A/m, down branch at -20: shift 20, coercivity 40. The fields are
    // sampled every 8 A/m so the crossings fall between samples; steps of 0.08 are no jumps.
    const Sampled up(-200, 200, 8, [](double h) { return Ramp(h, 60, 100); });
    const Sampled down(200, -200, -8, [](double h) { return Ramp(h, -20, 100); });
    const LoopFeatures f = ComputeLoopFeatures(down.Branch(), up.Branch(), 1);
    EXPECT_NEAR(*f.CoerciveUp, 60, 1e-9);
    EXPECT_NEAR(*f.CoerciveDown, -20, 1e-9);
    EXPECT_NEAR(*f.ExchangeBias, 20, 1e-9);
    EXPECT_NEAR(*f.Coercivity, 40, 1e-9);
    EXPECT_NEAR(*f.RemanenceUp, -0.6, 1e-12);
    EXPECT_NEAR(*f.RemanenceDown, 0.2, 1e-12);
    // The last unsaturated sample is the up branch at 152 A/m; the next |H| sampled is 160.
    EXPECT_DOUBLE_EQ(*f.SaturationField, 160);
    EXPECT_EQ(f.Jumps, 0);
}

TEST(LoopFeatures, LoopThatNeverCrossesZeroHasNoCoerciveFieldNorSaturation) {
    const Sampled up(-50, 50, 5, [](double h) { return 0.5 + h / 1000; });
    const Sampled down(50, -50, -5, [](double h) { return 0.6 + h / 1000; });
    const LoopFeatures f = ComputeLoopFeatures(up.Branch(), down.Branch(), 1);
    EXPECT_FALSE(f.CoerciveUp);
    EXPECT_FALSE(f.CoerciveDown);
    EXPECT_FALSE(f.ExchangeBias);
    EXPECT_FALSE(f.Coercivity);
    EXPECT_FALSE(f.SaturationField);
    EXPECT_DOUBLE_EQ(*f.RemanenceUp, 0.5);
    EXPECT_DOUBLE_EQ(*f.RemanenceDown, 0.6);

    const LoopFeatures none = ComputeLoopFeatures(up.Branch(), down.Branch(), 0);
    EXPECT_FALSE(none.RemanenceUp);
    EXPECT_FALSE(none.SaturationField);
}

} // namespace
} // namespace dravo2
