#include "data/errors.h"
#include "engine/relaxation.h"
#include "support/default_stack.h"

#include <gtest/gtest.h>

#include <cmath>

namespace dravo2 {
namespace {

using testing::DefaultStack;

SolverSettings FieldDefaults() {
    return SolverSettings{0.0005, 2e-10L, 6660};
}

TEST(RandomBelow, DrawsTheSameSequenceFromStateZero) {
    RandomGenerator random;
    const std::uint32_t states[] = {1, 134775814, 3698175007u, 870078620};
    const std::uint32_t values[] = {0, 0, 8, 2};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(random.RandomBelow(10), values[k]);
        EXPECT_EQ(random.RandomState, states[k]);
    }
    RandomGenerator wide;
    wide.RandomState = 0xFFFFFFFFu;
    EXPECT_EQ(wide.RandomBelow(1), 0u);
    EXPECT_LT(wide.RandomBelow(0xFFFFFFFFu), 0xFFFFFFFFu);
}

TEST(RelaxStep, FirstStepOfARunKicksSamplesAndLeavesTheGeneratorAt93097076) {
    LayerModel model; // no layer present: the descent has nothing to do
    AngleSet theta{};
    AngleSet grad{};
    RandomGenerator random;
    const SolverSettings settings = FieldDefaults();
    EXPECT_EQ(RelaxStep(model, theta, settings, random, grad), 0);
    // Draws 0, 0, 8, 2: kicks of +1, +1, -0.6 and +0.6 times the noise amplitude.
    const Real ramp = settings.NoiseRadians;
    EXPECT_EQ(theta[0], ramp);
    EXPECT_EQ(theta[1], ramp);
    EXPECT_EQ(theta[2], ramp - 8 * ramp / 5);
    EXPECT_EQ(theta[3], ramp - 2 * ramp / 5);
    EXPECT_NEAR(static_cast<double>(theta[2]), -0.6 * 0.0005, 1e-18);
    EXPECT_NEAR(static_cast<double>(theta[3]), 0.6 * 0.0005, 1e-18);
    EXPECT_EQ(random.RandomState, 93097076u);

    // The samples of the next step start with -2, 1, -2, -3, -1, -1, -3, -1 after its kick.
    RandomGenerator replay;
    for (int k = 0; k < 4; ++k) {
        replay.RandomBelow(10);
    }
    const int samples[] = {-2, 1, -2, -3, -1, -1, -3, -1};
    for (const int sample : samples) {
        EXPECT_EQ(static_cast<int>(replay.RandomBelow(6)) - 3, sample);
    }
}

// A stack that needs many steps to settle: the default stack just past a switching field.
LayerModel SwitchingModel() {
    LayerModel model;
    model.Stack = DefaultStack();
    model.FieldH = 40000;
    return model;
}

TEST(RelaxStep, IterationBudgetCases) {
    struct Case {
        std::int32_t maxIter;
        std::int32_t expected;
    };
    for (const Case c : {Case{50, 51}, Case{-1, 0}, Case{1, 2}}) {
        SCOPED_TRACE(c.maxIter);
        LayerModel model = SwitchingModel();
        AngleSet theta{3, 3, 3, 3};
        AngleSet grad{};
        RandomGenerator random;
        SolverSettings settings = FieldDefaults();
        settings.IterationBudget = c.maxIter;
        EXPECT_EQ(RelaxStep(model, theta, settings, random, grad), c.expected);
    }
}

TEST(RelaxStep, ZeroBudgetOnAnUnconvergedStackDividesByZeroWithTheAnglesAsKicked) {
    LayerModel model = SwitchingModel();
    AngleSet theta{3, 3, 3, 3};
    AngleSet grad{};
    RandomGenerator random;
    SolverSettings settings = FieldDefaults();
    settings.IterationBudget = 0;
    try {
        RelaxStep(model, theta, settings, random, grad);
        FAIL() << "no error";
    } catch (const FloatingPointError& error) {
        EXPECT_STREQ(error.what(), "Floating point division by zero");
    }
    EXPECT_EQ(theta[0], (3 + 0.0005L) - 0 * 0.0005L / 5);
    EXPECT_EQ(random.RandomState, 93097076u);
}

TEST(RelaxStep, ConvergedStartReturnsZero) {
    LayerModel model;
    model.Stack = DefaultStack();
    AngleSet theta{};
    AngleSet grad{};
    RandomGenerator random;
    SolverSettings settings = FieldDefaults();
    settings.ConvergenceThreshold = 1e6L; // every kicked state counts as converged
    EXPECT_EQ(RelaxStep(model, theta, settings, random, grad), 0);
    EXPECT_NEAR(static_cast<double>(theta[0]), 0.0005, 1e-18);
}

TEST(Relax, WrapsLayersOneAndTwoOnlyOncePerStep) {
    // A gradient that carries every angle from 6.9 to 7.0 in the first step, then vanishes.
    int calls = 0;
    auto gradient = [&calls](const AngleSet&, AngleSet& out) { out.fill(calls++ == 0 ? -100.0L : 0.0L); };
    AngleSet a{6.9L, 6.9L, 6.9L, 6.9L};
    AngleSet grad{};
    // n = 1: f = 1.001 - 1 = 0.001, so the move is 100 x 0.001 = 0.1
    const DescentResult result = Relax(a, {1, 1.0, 1.0, 1e-12}, gradient, grad);
    EXPECT_EQ(result.Iterations, 1);
    EXPECT_EQ(result.Why, DescentEnd::Converged);
    EXPECT_NEAR(static_cast<double>(a[0]), 7.0 - 2 * M_PI, 1e-15);
    EXPECT_NEAR(static_cast<double>(a[0]), 0.7168146928, 1e-10);
    EXPECT_NEAR(static_cast<double>(a[1]), 0.7168146928, 1e-10);
    EXPECT_NEAR(static_cast<double>(a[2]), 7.0, 1e-15);
    EXPECT_NEAR(static_cast<double>(a[3]), 7.0, 1e-15);

    // Below -2 pi the wrap goes the other way; an angle more than 4 pi out is only brought back by 2 pi.
    a = {-7.0L, -20.0L, -20.0L, 0};
    calls = 0;
    auto push = [&calls](const AngleSet&, AngleSet& out) { out.fill(calls++ == 0 ? 1e-9L : 0.0L); };
    Relax(a, {1, 1.0, 1.0, 1e-30}, push, grad);
    EXPECT_NEAR(static_cast<double>(a[0]), -7.0 + 2 * M_PI, 1e-12);
    EXPECT_NEAR(static_cast<double>(a[1]), -20.0 + 2 * M_PI, 1e-11);
    EXPECT_NEAR(static_cast<double>(a[2]), -20.0, 1e-12);
}

LayerModel Scaled(LayerModel model, Real factor) {
    for (std::size_t i = 0; i < kLayers; ++i) {
        model.Stack.M[i] *= factor;
        model.Stack.K[i] *= factor;
        model.Stack.J[i] *= factor;
        model.Stack.Jbq[i] *= factor;
    }
    model.Stack.Bias = static_cast<double>(model.Stack.Bias * factor);
    return model;
}

// The descent works on gradient / energy scale, so scaling every energy parameter alike leaves
// it alone: the same counts, and the same angles up to the floor 1e-10 in the energy scale.
TEST(RelaxStep, ScalingEveryEnergyAlikeChangesNothing) {
    const SolverSettings settings = FieldDefaults();
    struct Case {
        Real from;
        Real to;
        double angleTolerance;
    };
    for (const Case c : {Case{1, 1000, 1e-6}, Case{1000, 1e6, 1e-12}}) {
        SCOPED_TRACE(static_cast<double>(c.to));
        LayerModel a = Scaled(SwitchingModel(), c.from);
        LayerModel b = Scaled(SwitchingModel(), c.to);
        AngleSet thetaA{3, 3, 3, 3};
        AngleSet thetaB = thetaA;
        AngleSet grad{};
        RandomGenerator ra;
        RandomGenerator rb;
        for (int step = 0; step < 5; ++step) {
            SCOPED_TRACE(step);
            EXPECT_EQ(RelaxStep(a, thetaA, settings, ra, grad), RelaxStep(b, thetaB, settings, rb, grad));
            for (std::size_t k = 0; k < kLayers; ++k) {
                EXPECT_NEAR(static_cast<double>(thetaA[k]), static_cast<double>(thetaB[k]), c.angleTolerance);
            }
        }
    }
}

} // namespace
} // namespace dravo2
