#include "engine/gradient_kernel.h"
#include "engine/layer_model.h"
#include "engine/relaxation.h"
#include "support/default_stack.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace dravo2 {
namespace {

using testing::DefaultStack;

AngleSet All(Real angle) {
    return {angle, angle, angle, angle};
}

TEST(Energy, DefaultStackAtOneKiloAmpere) {
    LayerModel model;
    model.Stack = DefaultStack();
    model.FieldH = 1000;
    EXPECT_NEAR(static_cast<double>(model.Energy(All(0))), -0.00124592, 1e-17);
    EXPECT_NEAR(static_cast<double>(model.Energy(All(kPi))), 0.00080888, 1e-17);
    EXPECT_EQ(model.Field().Hx, 1000);
    EXPECT_EQ(model.Field().Hy, 0);
}

TEST(Energy, NoLayerPresentGivesNothing) {
    LayerModel model;
    model.Stack = DefaultStack();
    model.Stack.t = {0, -1e-9L, 0, 0};
    model.FieldH = 500;
    AngleSet grad = All(1);
    EXPECT_EQ(model.Energy(All(0.3L)), 0);
    model.EnergyGradient(All(0.3L), grad);
    EXPECT_EQ(grad, All(0));
    GradientKernel{model}(All(0.3L), grad);
    EXPECT_EQ(grad, All(0));
    EXPECT_EQ(model.MagnetisationProjection(All(0.3L), false), 0);
}

TEST(Energy, AbsentLayersTakePartInNoCoupling) {
    LayerModel model;
    model.Stack = DefaultStack();
    model.Stack.J = {0.5e-3L, 0.7e-3L, 0.2e-3L, 0};
    model.Stack.Jbq = {-0.3e-3L, 0.4e-3L, 0, 0};
    model.Stack.t[1] = 0;
    const AngleSet a{0.1L, 2.0L, -1.0L, 0.4L};
    AngleSet grad{};
    model.EnergyGradient(a, grad);
    // Only Zeeman (no field), anisotropy and bias remain for layer 1; layers 3-4 still couple.
    EXPECT_EQ(grad[1], 0);
    const Real layer1 = model.Stack.K[0] * model.Stack.t[0] * std::sin(2 * a[0]);
    EXPECT_NEAR(static_cast<double>(grad[0]), static_cast<double>(layer1), 1e-25);
    const Real couple34 = model.Stack.J[2] * std::sin(a[2] - a[3]);
    const Real layer3 = model.Stack.K[2] * model.Stack.t[2] * std::sin(2 * a[2]) + couple34;
    EXPECT_NEAR(static_cast<double>(grad[2]), static_cast<double>(layer3), 1e-20);

    // Layer 4 absent: the bias has no effect.
    model.Stack.t[1] = 2e-9L;
    model.Stack.t[3] = 0;
    const Real withBias = model.Energy(a);
    model.Stack.Bias = 5;
    EXPECT_EQ(model.Energy(a), withBias);
    model.EnergyGradient(a, grad);
    EXPECT_EQ(grad[3], 0);
}

TEST(Energy, BiquadraticAloneActsEquallyAndOppositely) {
    LayerModel model;
    model.Stack.t = {1e-9L, 1e-9L, 0, 0};
    model.Stack.Jbq[0] = -0.3e-3L;
    const AngleSet a{0.3L, 1.1L, 0, 0};
    AngleSet grad{};
    model.EnergyGradient(a, grad);
    EXPECT_EQ(grad[0], model.Stack.Jbq[0] * std::sin(2 * (a[0] - a[1])));
    EXPECT_EQ(grad[1], -grad[0]);
}

TEST(Energy, QuarticAnisotropyOfOneLayer) {
    LayerModel model;
    model.Stack.t = {1e-9L, 0, 0, 0};
    model.Stack.K[0] = 1000;
    model.Stack.Anisotropy = AnisotropyForm::Quartic;
    AngleSet grad{};
    AngleSet a{kPi / 8, 0, 0, 0};
    EXPECT_NEAR(static_cast<double>(model.Energy(a)), -1.25e-7, 1e-20);
    model.EnergyGradient(a, grad);
    EXPECT_NEAR(static_cast<double>(grad[0]), -5e-7, 1e-20);
    a[0] = kPi / 4;
    EXPECT_NEAR(static_cast<double>(model.Energy(a)), -2.5e-7, 1e-20);
    model.EnergyGradient(a, grad);
    EXPECT_NEAR(static_cast<double>(grad[0]), 0, 1e-20);
}

TEST(Energy, AnisotropyPeriods) {
    LayerModel model;
    model.Stack = DefaultStack();
    model.Stack.J = {};
    model.Stack.Bias = 0;
    const AngleSet a{0.2L, 1.3L, -0.7L, 2.9L};
    for (const auto& [form, period] :
         {std::pair{AnisotropyForm::Uniaxial, kPi}, std::pair{AnisotropyForm::Quartic, kPi / 2}}) {
        model.Stack.Anisotropy = form;
        const Real before = model.Energy(a);
        AngleSet shifted = a;
        shifted[2] += period;
        EXPECT_NEAR(static_cast<double>(model.Energy(shifted)), static_cast<double>(before), 1e-22);
    }
}

// Energy, literal gradient and fast kernel agree on random stacks: the gradient with a central
// difference of the energy, the kernel with the gradient to rounding.
TEST(EnergyGradient, MatchesCentralDifferenceAndTheFastKernel) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> unit(-1, 1);
    for (int trial = 0; trial < 60; ++trial) {
        SCOPED_TRACE(trial);
        LayerModel model;
        LayerStack& s = model.Stack;
        for (std::size_t i = 0; i < kLayers; ++i) {
            s.M[i] = 1 + unit(rng);
            s.t[i] = (trial % 5 == 0 && i == 2) ? 0 : 5e-9L * (1.2 + unit(rng));
            s.K[i] = 1e4L * unit(rng);
            s.Alpha[i] = 2 * unit(rng);
            s.J[i] = 1e-3L * unit(rng);
            s.Jbq[i] = 1e-3L * unit(rng);
        }
        s.Bias = 1e-3 * unit(rng);
        s.Anisotropy = static_cast<AnisotropyForm>(trial % 3);
        model.FieldH = 1e5 * unit(rng);
        model.FieldAngle = 1.5 + unit(rng);
        const AngleSet a{4 * unit(rng), 4 * unit(rng), 20 * unit(rng), 20 * unit(rng)};

        AngleSet grad{};
        AngleSet fast{};
        model.EnergyGradient(a, grad);
        GradientKernel{model}(a, fast);
        Real scale = 1e-12L;
        for (const Real g : grad) {
            scale = std::max(scale, std::fabs(g));
        }
        for (std::size_t k = 0; k < kLayers; ++k) {
            SCOPED_TRACE(k);
            AngleSet plus = a;
            AngleSet minus = a;
            const Real h = 1e-4L;
            plus[k] += h;
            minus[k] -= h;
            const Real difference = (model.Energy(plus) - model.Energy(minus)) / (2 * h);
            EXPECT_NEAR(static_cast<double>(difference), static_cast<double>(grad[k]),
                        1e-7 * static_cast<double>(scale));
            EXPECT_NEAR(static_cast<double>(fast[k]), static_cast<double>(grad[k]), 1e-16 * static_cast<double>(scale));
        }
    }
}

TEST(MagnetisationProjection, WeightsByThicknessOverMagnetisedLayers) {
    LayerModel model;
    model.Stack = DefaultStack();
    EXPECT_NEAR(model.MagnetisationProjection(All(0), false), 27.4 / 26, 1e-15);
    EXPECT_NEAR(model.MagnetisationProjection(All(kPi / 2), true), 27.4 / 26, 1e-15);
    EXPECT_NEAR(model.MagnetisationProjection(All(kPi / 2), false), 0, 1e-15);
    // A layer with M <= 0 counts in neither sum: layers 1, 2 and 4 remain.
    model.FieldH = 1000;
    model.Stack.M[2] = -0.7L;
    EXPECT_NEAR(model.MagnetisationProjection(All(0), false), 26.0 / 24, 1e-15);
    const Real energyWithNegative = model.Energy(All(0));
    model.Stack.M[2] = 0;
    EXPECT_NE(model.Energy(All(0)), energyWithNegative);
}

} // namespace
} // namespace dravo2
