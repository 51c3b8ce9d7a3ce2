#include "fit/loop_objective.h"

#include "data/errors.h"
#include "fit/synthetic_loop.h"

#include <gtest/gtest.h>

#include <cmath>

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
    EXPECT_EQ(plan[0].Start, 0.3 / 1000);
    for (std::size_t b = 0; b < 2; ++b) {
        const double end = b == 0 ? field[11] : field.back();
        const double last =
            static_cast<double>((static_cast<Real>(plan[b].Steps) * plan[b].Step + plan[b].Start) * 1000);
        // On the end, or past it by no more than rounding, so that the end point is covered.
        const double direction = b == 0 ? -1 : 1;
        EXPECT_GE((last - end) * direction, 0);
        EXPECT_LE(std::fabs(last - end), 4 * std::fabs(std::nextafter(end, 0.0) - end));
    }
    EXPECT_EQ(PlanBranches(field, 2.5)[1].Steps, 80);
    EXPECT_EQ(PlanBranches(field, 1e-6)[0].Steps, kMaxBranchSteps);
    EXPECT_THROW(PlanBranches({1, 1, 1}, 0), ProgramError);
}

TEST(CompareCurves, FitsScaleAndBackgroundInClosedForm) {
    // A simulated downward branch and a measured one at other fields (linear in between).
    const std::vector<double> simField{10, 5, 0, -5, -10};
    const std::vector<double> simReduced{1, 0.8, 0, -0.8, -1};
    const std::vector<double> field{9, 4, 1, -2, -7, -11};
    std::vector<double> moment;
    for (const double h : field) {
        const double m = h >= 5 ? 0.8 + 0.2 * (h - 5) / 5 : (h >= -5 ? 0.16 * h : -0.8 - 0.2 * (-5 - h) / 5);
        moment.push_back(3 * m + 0.01 * h);
    }
    const MisfitResult plain =
        CompareCurves(field, moment, simField.data(), simReduced.data(), simField.size(), Background{});
    ASSERT_TRUE(plain.Valid);
    EXPECT_EQ(plain.Covered, 5u); // -11 lies outside the simulated range
    EXPECT_GT(plain.Misfit, 1e-3);
    const MisfitResult sloped =
        CompareCurves(field, moment, simField.data(), simReduced.data(), simField.size(), Background{true, false});
    ASSERT_TRUE(sloped.Valid);
    EXPECT_NEAR(sloped.Misfit, 0, 1e-12);
    EXPECT_NEAR(sloped.Scale, 3, 1e-12);
    EXPECT_NEAR(sloped.Slope, 0.01, 1e-14);
    // The residual vector's norm is the misfit.
    double sum = 0;
    for (const double r : plain.Residuals) {
        sum += r * r;
    }
    EXPECT_NEAR(std::sqrt(sum), plain.Misfit, 1e-12);
    // An upward measured branch finds no upward simulated branch.
    const std::vector<double> up{-4, 0, 4};
    EXPECT_FALSE(CompareCurves(up, {1, 2, 3}, simField.data(), simReduced.data(), 5, Background{}).Valid);
}

ParameterTexts ShortLoop() {
    ParameterTexts texts;
    texts.StartF = "150";
    texts.StepF = "-10";
    texts.Nstep = "30";
    return texts;
}

TEST(LoopObjective, RefusesABadFieldBeforeAnySearch) {
    ParameterTexts texts = ShortLoop();
    texts.K[1] = "abc";
    const MeasuredLoop loop{{100, 0, -100}, {1, 0, -1}};
    EXPECT_THROW(LoopObjective(texts, loop, {0}, LoopSettings{}), ProgramError);
}

} // namespace
} // namespace dravo2::fit
