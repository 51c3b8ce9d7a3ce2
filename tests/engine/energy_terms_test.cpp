#include "engine/energy_terms.h"
#include "engine/gradient_kernel.h"
#include "engine/hessian.h"
#include "engine/random_model.h"
#include "engine/resonance_modes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <ostream>
#include <random>
#include <string>

namespace dravo2 {
namespace {

// One term as functions of its angle u (and, for the couplings, of the cosine c of that angle).
struct TermCase {
    std::string Name;
    std::function<Real(Real s, Real c)> Value;
    std::function<Real(Real s, Real c)> First;
    std::function<Real(Real s, Real c)> Second;
    std::function<Real(Real sh, Real ch, Real sm, Real cm)> Change;
    std::function<Real(Real c)> ValueOfCosine{};
    std::function<Real(Real c)> SlopeInCosine{};
    std::function<Real(Real c)> CurvatureInCosine{};
    std::function<Real(Real s, Real c)> OtherValue{}; // the value rounded another way
};

template <typename Term> TermCase ShapeCase(std::string name, Real strength) {
    return {std::move(name), [=](Real s, Real c) { return Term::template Value<Real>(strength, s, c); },
            [=](Real s, Real c) { return Term::template First<Real>(strength, s, c); },
            [=](Real s, Real c) { return Term::template Second<Real>(strength, s, c); },
            [=](Real sh, Real ch, Real sm, Real cm) { return Term::template Change<Real>(strength, sh, ch, sm, cm); }};
}

template <typename Term> TermCase CouplingCase(std::string name, Real strength) {
    TermCase term = ShapeCase<Term>(std::move(name), strength);
    term.ValueOfCosine = [=](Real c) { return Term::template ValueOfCosine<Real>(strength, c); };
    term.SlopeInCosine = [=](Real c) { return Term::template SlopeInCosine<Real>(strength, c); };
    term.CurvatureInCosine = [=](Real) { return Term::template CurvatureInCosine<Real>(strength); };
    return term;
}

TermCase ZeemanCase() {
    const Real m = 1.3L;
    const Real hx = 0.7L;
    const Real hy = -0.4L;
    return {"Zeeman", [=](Real s, Real c) { return ZeemanEnergy::Value<Real>(m, hx, hy, s, c); },
            [=](Real s, Real c) { return ZeemanEnergy::First<Real>(m, hx, hy, s, c); },
            [=](Real s, Real c) { return ZeemanEnergy::Second<Real>(m, hx, hy, s, c); },
            [=](Real sh, Real, Real sm, Real cm) { return ZeemanEnergy::Change<Real>(m, hx, hy, sh, sm, cm); }};
}

void PrintTo(const TermCase& term, std::ostream* out) {
    *out << term.Name;
}

TermCase FourfoldCase() {
    TermCase term = ShapeCase<FourfoldAnisotropy>("Fourfold", 0.9L);
    term.OtherValue = [](Real s, Real c) { return FourfoldAnisotropy::ValueFromDoubleAngle<Real>(0.9L, s, c); };
    return term;
}

class EnergyTerm : public ::testing::TestWithParam<TermCase> {};

// Each derivative against central differences of the function below it, the change over a step
// against the difference of two values, at angles all round the circle.
TEST_P(EnergyTerm, DerivativesAndChangeMatchTheValue) {
    const TermCase& term = GetParam();
    const auto at = [](const std::function<Real(Real, Real)>& f, Real u) { return f(std::sin(u), std::cos(u)); };
    const Real h = 1e-5L;
    for (Real u = -3.1L; u < 3.2L; u += 0.37L) {
        SCOPED_TRACE(static_cast<double>(u));
        const Real slope = (at(term.Value, u + h) - at(term.Value, u - h)) / (2 * h);
        const Real curvature = (at(term.First, u + h) - at(term.First, u - h)) / (2 * h);
        EXPECT_NEAR(static_cast<double>(at(term.First, u)), static_cast<double>(slope), 1e-9);
        EXPECT_NEAR(static_cast<double>(at(term.Second, u)), static_cast<double>(curvature), 1e-9);
        const Real step = 0.83L;
        const Real change =
            term.Change(std::sin(step / 2), std::cos(step / 2), std::sin(u + step / 2), std::cos(u + step / 2));
        EXPECT_NEAR(static_cast<double>(change), static_cast<double>(at(term.Value, u + step) - at(term.Value, u)),
                    1e-15);
        if (term.OtherValue) {
            EXPECT_NEAR(static_cast<double>(at(term.OtherValue, u)), static_cast<double>(at(term.Value, u)), 1e-18);
        }
        if (term.ValueOfCosine) {
            const Real c = std::cos(u);
            EXPECT_EQ(term.ValueOfCosine(c), at(term.Value, u));
            const Real cosineSlope = (term.ValueOfCosine(c + h) - term.ValueOfCosine(c - h)) / (2 * h);
            const Real cosineCurvature = (term.SlopeInCosine(c + h) - term.SlopeInCosine(c - h)) / (2 * h);
            EXPECT_NEAR(static_cast<double>(term.SlopeInCosine(c)), static_cast<double>(cosineSlope), 1e-9);
            EXPECT_NEAR(static_cast<double>(term.CurvatureInCosine(c)), static_cast<double>(cosineCurvature), 1e-9);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryTerm, EnergyTerm,
                         ::testing::Values(ZeemanCase(), CouplingCase<BilinearCoupling>("Bilinear", -0.8L),
                                           CouplingCase<BiquadraticCoupling>("Biquadratic", 1.1L), FourfoldCase()),
                         [](const ::testing::TestParamInfo<TermCase>& term) { return term.param.Name; });

// The reference gradient, the descent's kernel and Newton's gradient and Hessian against central
// differences of the assembled energy, taken in extended precision from the energy of moments
// free in three dimensions at in-plane angles.
TEST(AssembledEnergy, GradientsAndHessianMatchFiniteDifferencesOfTheEnergy) {
    std::mt19937_64 rng(21);
    std::uniform_real_distribution<double> angle(-4, 4);
    for (const AnisotropyForm form : {AnisotropyForm::Uniaxial, AnisotropyForm::Quartic}) {
        for (int trial = 0; trial < 20; ++trial) {
            SCOPED_TRACE(::testing::Message() << "form " << static_cast<int>(form) << " trial " << trial);
            LayerModel model = testing::RandomModel(rng, 0);
            model.Stack.Anisotropy = form;
            const SpatialEnergy spatial(model);
            const AngleSet theta{angle(rng), angle(rng), angle(rng), angle(rng)};
            const auto energy = [&](AngleSet a) { return spatial.Energy(InPlaneAngles(a)); };
            AngleSet reference{};
            AngleSet kernel{};
            model.EnergyGradient(theta, reference);
            GradientKernel{model}(theta, kernel);
            Vector4 grad;
            Matrix4 hess;
            EnergyDerivatives{model}.GradientAndHessian(
                Vector4(static_cast<double>(theta[0]), static_cast<double>(theta[1]), static_cast<double>(theta[2]),
                        static_cast<double>(theta[3])),
                grad, hess);
            const Real h = 1e-4L;
            const double size = 1e-2; // J/m^2, the scale of the largest terms (M t H)
            for (std::size_t j = 0; j < kLayers; ++j) {
                AngleSet up = theta;
                AngleSet down = theta;
                up[j] += h;
                down[j] -= h;
                const double slope = static_cast<double>((energy(up) - energy(down)) / (2 * h));
                EXPECT_NEAR(static_cast<double>(reference[j]), slope, 1e-8 * size) << j;
                EXPECT_NEAR(static_cast<double>(kernel[j]), slope, 1e-8 * size) << j;
                EXPECT_NEAR(grad[static_cast<Eigen::Index>(j)], slope, 1e-8 * size) << j;
                for (std::size_t k = 0; k < kLayers; ++k) {
                    AngleSet pp = up;
                    AngleSet pm = up;
                    AngleSet mp = down;
                    AngleSet mm = down;
                    pp[k] += h;
                    pm[k] -= h;
                    mp[k] += h;
                    mm[k] -= h;
                    const double curvature =
                        static_cast<double>((energy(pp) - energy(pm) - energy(mp) + energy(mm)) / (4 * h * h));
                    EXPECT_NEAR(hess(static_cast<Eigen::Index>(j), static_cast<Eigen::Index>(k)), curvature,
                                1e-6 * size)
                        << j << "," << k;
                }
            }
        }
    }
}

} // namespace
} // namespace dravo2
