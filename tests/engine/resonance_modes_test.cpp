#include "engine/newton.h"
#include "engine/random_model.h"
#include "engine/resonance_modes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <ostream>
#include <random>
#include <vector>

namespace dravo2 {
namespace {

using testing::RandomModel;

constexpr double kGamma = 1.76e11;

double ToFrequency(double omegaOverGamma) {
    return kGamma * omegaOverGamma / (2 * std::numbers::pi);
}

TEST(SpatialEnergy, InThePlaneItIsTheModelsEnergyAndItsDerivativesMatchFiniteDifferences) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> angle(-4, 4);
    for (int trial = 0; trial < 100; ++trial) {
        SCOPED_TRACE(trial);
        const LayerModel model = RandomModel(rng);
        const SpatialEnergy energy(model);
        const AngleSet theta{angle(rng), angle(rng), angle(rng), angle(rng)};
        const Real inPlane = energy.Energy(InPlaneAngles(theta));
        EXPECT_NEAR(static_cast<double>(inPlane), static_cast<double>(model.Energy(theta)), 1e-12 * 1e-3);

        SpatialAngles x;
        for (Eigen::Index k = 0; k < x.size(); ++k) {
            x[k] = angle(rng);
        }
        SpatialAngles grad;
        SpatialHessian hess;
        energy.GradientAndHessian(x, grad, hess);
        EXPECT_TRUE(hess.isApprox(hess.transpose(), 1e-14));
        const double h = 1e-6;
        for (Eigen::Index k = 0; k < x.size(); ++k) {
            SCOPED_TRACE(k);
            SpatialAngles up = x;
            SpatialAngles down = x;
            up[k] += h;
            down[k] -= h;
            const double slope = static_cast<double>((energy.Energy(up) - energy.Energy(down)) / (2 * h));
            EXPECT_NEAR(grad[k], slope, 1e-9 * std::max(1e-3, std::abs(slope)));
            SpatialAngles gradUp;
            SpatialAngles gradDown;
            SpatialHessian unused;
            energy.GradientAndHessian(up, gradUp, unused);
            energy.GradientAndHessian(down, gradDown, unused);
            const SpatialAngles column = (gradUp - gradDown) / (2 * h);
            EXPECT_LT((hess.col(k) - column).norm(), 1e-8 * std::max(1e-3, column.norm()));
        }
    }
}

// One layer saturated along an in-plane direction, with the closed form of its frequency.
struct KittelCase {
    const char* Name;
    AnisotropyForm Form;
    double FieldAngle; // rad, from the anisotropy axis (along x)
    double FieldH;     // A/m
    // (w / gamma)^2 from mu0 H, the anisotropy field 2 K / M (times mu0) and M, all in T.
    double (*OmegaSquared)(double b, double anisotropyField, double m);
};

void PrintTo(const KittelCase& c, std::ostream* out) {
    *out << c.Name;
}

class Kittel : public ::testing::TestWithParam<KittelCase> {};

TEST_P(Kittel, SingleLayerFrequencyIsTheClosedForm) {
    const KittelCase& c = GetParam();
    LayerModel model;
    LayerStack& s = model.Stack;
    s.M = {1.2L, 0, 0, 0};
    s.t = {5e-9L, 0, 0, 0};
    s.K = {3.0e4L, 0, 0, 0};
    s.J = {7e-4L, 0, 0, 0}; // to absent layer 2: no part in the energy
    s.Bias = 1e-3;          // on absent layer 4: likewise
    s.Anisotropy = c.Form;
    model.FieldH = c.FieldH;
    model.FieldAngle = c.FieldAngle;
    const ModeRow modes = ResonanceModes(model, {c.FieldAngle, 0, 0, 0}, kGamma);
    ASSERT_EQ(ModeCount(modes), 1);
    const double m = 1.2;
    const double expected =
        ToFrequency(std::sqrt(c.OmegaSquared(kVacuumPermeability * c.FieldH, 2 * 3.0e4 * kVacuumPermeability / m, m)));
    EXPECT_NEAR(modes[0], expected, 1e-9 * expected);
}

INSTANTIATE_TEST_SUITE_P(
    EasyAndHardAxis, Kittel,
    ::testing::Values(KittelCase{"UniaxialEasy", AnisotropyForm::Uniaxial, 0, 4e4,
                                 [](double b, double bk, double m) { return (b + bk) * (b + bk + m); }},
                      KittelCase{"UniaxialEasyLowField", AnisotropyForm::Uniaxial, 0,
                                 -2e4, // against the field, still stable
                                 [](double b, double bk, double m) { return (b + bk) * (b + bk + m); }},
                      KittelCase{"UniaxialHard", AnisotropyForm::Uniaxial, std::numbers::pi / 2, 2e5,
                                 [](double b, double bk, double m) { return (b - bk) * (b + m); }},
                      // Fourfold -K t cos^2 x sin^2 x: easy along 45 degrees, hard along the axis.
                      KittelCase{"FourfoldEasy", AnisotropyForm::Quartic, std::numbers::pi / 4, 4e4,
                                 [](double b, double bk, double m) { return (b + bk) * (b + bk / 2 + m); }},
                      KittelCase{"FourfoldHard", AnisotropyForm::Quartic, 0, 2e5,
                                 [](double b, double bk, double m) { return (b - bk) * (b + m); }}),
    [](const ::testing::TestParamInfo<KittelCase>& param) { return std::string(param.param.Name); });

TEST(ResonanceModes, IdenticalFerromagneticallyCoupledLayersHaveAcousticKittelAndOpticalShiftedByExchange) {
    const double m = 1.5;
    const double t = 3e-9;
    const double k = 2e4;
    const double h = 8e4;
    // (J, Jbq): the biquadratic term stiffens the parallel state as a bilinear J + 2 Jbq.
    for (const auto& [j, jbq] : {std::pair{4e-4, 0.0}, std::pair{2e-4, 1e-4}, std::pair{1e-3, -2e-4}}) {
        SCOPED_TRACE(j);
        LayerModel model;
        LayerStack& s = model.Stack;
        s.M = {m, m, 0, 0};
        s.t = {t, t, 0, 0};
        s.K = {k, k, 0, 0};
        s.J = {j, 0, 0, 0};
        s.Jbq = {jbq, 0, 0, 0};
        s.Anisotropy = AnisotropyForm::Uniaxial;
        model.FieldH = h;
        const ModeRow modes = ResonanceModes(model, {0, 0, 0, 0}, kGamma);
        ASSERT_EQ(ModeCount(modes), 2);
        const double b = kVacuumPermeability * h + 2 * k * kVacuumPermeability / m;
        const double exchange = 2 * (j + 2 * jbq) * kVacuumPermeability / (m * t);
        const double acoustic = ToFrequency(std::sqrt(b * (b + m)));
        const double optical = ToFrequency(std::sqrt((b + exchange) * (b + exchange + m)));
        EXPECT_NEAR(modes[0], acoustic, 1e-9 * acoustic);
        EXPECT_NEAR(modes[1], optical, 1e-9 * optical);
    }
}

TEST(ResonanceModes, AgreeWithModesOfTheFiniteDifferenceHessianOfTheEnergyAndVanishOffMinima) {
    std::mt19937_64 rng(21);
    std::uniform_real_distribution<double> angle(-3, 3);
    int stable = 0;
    int unstable = 0;
    for (int trial = 0; trial < 60; ++trial) {
        SCOPED_TRACE(trial);
        const LayerModel model = RandomModel(rng);
        AngleSet theta{angle(rng), angle(rng), angle(rng), angle(rng)};
        AngleSet grad{};
        // A random in-plane state for half the trials, a relaxed one for the others.
        if (trial % 2 == 0) {
            const EnergyDerivatives derivatives(model);
            RelaxNewton(derivatives, theta, 2000, 1e3, 1e-14, grad);
        }
        const ModeRow modes = ResonanceModes(model, theta, kGamma);

        const SpatialEnergy energy(model);
        const SpatialAngles x = InPlaneAngles(theta);
        const double d = 1e-5;
        SpatialHessian numeric;
        for (Eigen::Index r = 0; r < x.size(); ++r) {
            for (Eigen::Index c = 0; c < x.size(); ++c) {
                auto at = [&](double dr, double dc) {
                    SpatialAngles y = x;
                    y[r] += dr;
                    y[c] += dc;
                    return energy.Energy(y);
                };
                numeric(r, c) = static_cast<double>((at(d, d) - at(d, -d) - at(-d, d) + at(-d, -d)) / (4 * d * d));
            }
        }
        std::array<bool, kLayers> present{};
        std::array<double, kLayers> moments{};
        for (int i = 0; i < kLayers; ++i) {
            present[static_cast<std::size_t>(i)] = energy.Present(i);
            moments[static_cast<std::size_t>(i)] = energy.Moment(i);
        }
        const ModeRow expected = ModesOfHessian(numeric, present, moments, kGamma);
        ASSERT_EQ(ModeCount(modes), ModeCount(expected));
        if (ModeCount(modes) == 0) {
            ++unstable;
            continue;
        }
        ++stable;
        for (std::size_t k = 0; k < kLayers; ++k) {
            if (std::isnan(expected[k])) {
                EXPECT_TRUE(std::isnan(modes[k])) << k;
            } else {
                EXPECT_NEAR(modes[k], expected[k], 1e-6 * expected[ModeCount(expected) - 1]) << k;
                EXPECT_TRUE(k == 0 || modes[k] >= modes[k - 1]) << k;
            }
        }
    }
    EXPECT_GT(stable, 15);
    EXPECT_GT(unstable, 10);
}

TEST(ResonanceFields, SingleLayerSweptAtFixedFrequencyResonatesAtKittelInverted) {
    LayerModel model;
    LayerStack& s = model.Stack;
    const double m = 1.0;
    const double k = 5e3;
    s.M = {m, 0, 0, 0};
    s.t = {10e-9L, 0, 0, 0};
    s.K = {k, 0, 0, 0};
    s.Anisotropy = AnisotropyForm::Uniaxial;
    // Down from 200 to 20 kA/m, then up again, in steps of 500 A/m, saturated along +x throughout.
    std::vector<double> fields;
    std::vector<std::int32_t> branches;
    for (int i = 0; i <= 360; ++i) {
        fields.push_back(2e5 - 500.0 * i);
        branches.push_back(1);
    }
    for (int i = 1; i <= 360; ++i) {
        fields.push_back(2e4 + 500.0 * i);
        branches.push_back(2);
    }
    std::vector<ModeRow> modes;
    for (const double h : fields) {
        model.FieldH = h;
        modes.push_back(ResonanceModes(model, {0, 0, 0, 0}, kGamma));
    }
    for (const double frequency : {6e9, 9.8e9, 14e9}) {
        SCOPED_TRACE(frequency);
        const std::vector<ResonanceField> found = ResonanceFields(fields, modes, branches, frequency);
        // (B + Bk)(B + Bk + M) = (w / gamma)^2, solved for B = mu0 H.
        const double w = 2 * std::numbers::pi * frequency / kGamma;
        const double bk = 2 * k * kVacuumPermeability / m;
        const double expected = (-m / 2 + std::sqrt(m * m / 4 + w * w) - bk) / kVacuumPermeability;
        ASSERT_EQ(found.size(), 2U);
        for (std::size_t b = 0; b < 2; ++b) {
            EXPECT_EQ(found[b].Branch, static_cast<std::int32_t>(b + 1));
            EXPECT_EQ(found[b].Mode, 1);
            // Linear interpolation over 500 A/m steps of a gently curved branch.
            EXPECT_NEAR(found[b].H, expected, 1e-5 * expected);
        }
    }
    EXPECT_TRUE(ResonanceFields(fields, modes, branches, 1e12).empty());
}

} // namespace
} // namespace dravo2
