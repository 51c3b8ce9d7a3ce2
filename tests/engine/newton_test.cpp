#include "engine/newton.h"
#include "engine/random_model.h"
#include "support/default_stack.h"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <Eigen/QR>
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace dravo2 {
namespace {

using testing::RandomModel;

using testing::DefaultStack;

// The sum of the magnitudes of every energy coefficient (J/m^2): the yardstick for rounding.
double EnergySize(const LayerModel& model) {
    const LayerStack& s = model.Stack;
    Real size = std::fabs(s.Bias);
    for (std::size_t i = 0; i < kLayers; ++i) {
        size += s.M[i] * s.t[i] * std::fabs(model.FieldH) + std::fabs(s.K[i] * s.t[i]) + std::fabs(s.J[i]) +
                std::fabs(s.Jbq[i]);
    }
    return static_cast<double>(size);
}

AngleSet ToAngles(const Vector4& v) {
    return {v[0], v[1], v[2], v[3]};
}

Vector4 ToVector(const AngleSet& a) {
    return {static_cast<double>(a[0]), static_cast<double>(a[1]), static_cast<double>(a[2]), static_cast<double>(a[3])};
}

TEST(EnergyDerivatives, AgreeWithTheModelAndWithFiniteDifferencesOfItsGradient) {
    std::mt19937_64 rng(13);
    std::uniform_real_distribution<double> angle(-7, 7);
    std::uniform_real_distribution<double> unit(-1, 1);
    for (int trial = 0; trial < 200; ++trial) {
        SCOPED_TRACE(trial);
        LayerModel model = RandomModel(rng);
        const EnergyDerivatives energy(model);
        const double size = EnergySize(model);
        const Vector4 a(angle(rng), angle(rng), angle(rng), angle(rng));
        const AngleSet theta = ToAngles(a);

        EXPECT_NEAR(energy.Energy(a), static_cast<double>(model.Energy(theta)), 1e-13 * size);
        Vector4 g;
        Matrix4 h;
        energy.GradientAndHessian(a, g, h);
        AngleSet modelGrad{};
        model.EnergyGradient(theta, modelGrad);
        const Real d = 1e-5L;
        for (std::size_t j = 0; j < kLayers; ++j) {
            const auto jj = static_cast<Eigen::Index>(j);
            EXPECT_NEAR(g[jj], static_cast<double>(modelGrad[j]), 1e-13 * size) << j;
            AngleSet up = theta;
            AngleSet down = theta;
            up[j] += d;
            down[j] -= d;
            AngleSet gradUp{};
            AngleSet gradDown{};
            model.EnergyGradient(up, gradUp);
            model.EnergyGradient(down, gradDown);
            for (std::size_t k = 0; k < kLayers; ++k) {
                const auto kk = static_cast<Eigen::Index>(k);
                const double difference = static_cast<double>((gradUp[k] - gradDown[k]) / (2 * d));
                EXPECT_NEAR(h(kk, jj), difference, 1e-8 * size) << k << "," << j;
                if (!model.Stack.Present(static_cast<int>(j))) {
                    EXPECT_EQ(h(kk, jj), 0.0);
                    EXPECT_EQ(h(jj, kk), 0.0);
                }
            }
            if (!model.Stack.Present(static_cast<int>(j))) {
                EXPECT_EQ(g[jj], 0.0);
            }
        }

        // A long step against the model's energies; a tiny one against the quadratic model,
        // which a difference of two energies could not resolve (it would be off by ~1e-16 size).
        const Vector4 step = 0.5 * Vector4(unit(rng), unit(rng), unit(rng), unit(rng));
        EXPECT_NEAR(energy.EnergyChange(a, step),
                    static_cast<double>(model.Energy(ToAngles(a + step)) - model.Energy(theta)), 1e-13 * size);
        const Vector4 tiny = 1e-7 * Vector4(unit(rng), unit(rng), unit(rng), unit(rng));
        EXPECT_NEAR(energy.EnergyChange(a, tiny), g.dot(tiny) + 0.5 * tiny.dot(h * tiny), 1e-18 * size);
    }
}

// The smallest eigenvalue of the Hessian over the present layers.
double LowestCurvature(const EnergyDerivatives& energy, const Vector4& a) {
    Vector4 g;
    Matrix4 h;
    energy.GradientAndHessian(a, g, h);
    std::vector<Eigen::Index> present;
    for (Eigen::Index k = 0; k < kLayers; ++k) {
        if (energy.Present(static_cast<int>(k))) {
            present.push_back(k);
        }
    }
    const auto n = static_cast<Eigen::Index>(present.size());
    Eigen::MatrixXd block(n, n);
    for (Eigen::Index r = 0; r < n; ++r) {
        for (Eigen::Index c = 0; c < n; ++c) {
            block(r, c) = h(present[static_cast<std::size_t>(r)], present[static_cast<std::size_t>(c)]);
        }
    }
    return Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd>(block).eigenvalues().minCoeff();
}

TEST(RelaxNewton, EndsAtAMinimumOfRandomStacks) {
    std::mt19937_64 rng(2026);
    std::uniform_real_distribution<double> angle(-M_PI, M_PI);
    const double conv = 2e-10;
    const std::int32_t budget = 100000;
    int minima = 0;
    for (int trial = 0; trial < 300; ++trial) {
        SCOPED_TRACE(trial);
        LayerModel model = RandomModel(rng);
        const EnergyDerivatives energy(model);
        const double scale = 1 / EnergySize(model);
        const AngleSet start{angle(rng), angle(rng), angle(rng), angle(rng)};
        AngleSet theta = start;
        AngleSet grad{};
        EXPECT_LE(RelaxNewton(energy, theta, budget, scale, conv, grad), budget);

        AngleSet modelGrad{};
        const auto literal = [&model](const AngleSet& angles, AngleSet& out) { model.EnergyGradient(angles, out); };
        EXPECT_LE(GradientNorm(literal, theta, modelGrad) * scale, conv);
        EXPECT_LE(model.Energy(theta), model.Energy(start));
        bool anyPresent = false;
        for (std::size_t k = 0; k < kLayers; ++k) {
            if (!model.Stack.Present(static_cast<int>(k))) {
                EXPECT_EQ(theta[k], start[k]) << "absent layer " << k + 1 << " moved";
            }
            anyPresent = anyPresent || model.Stack.Present(static_cast<int>(k));
        }
        if (anyPresent) {
            EXPECT_GT(LowestCurvature(energy, ToVector(theta)), 0);
            ++minima;
        }
    }
    EXPECT_GT(minima, 250);
}

TEST(RelaxNewton, WrapsLayersOneAndTwoAsTheDescentDoes) {
    // Layers 1 and 3 alone (no neighbours, so no coupling) in a field at 0.5 rad, from just
    // below 2 pi: the way to the minimum at 2 pi + 0.5 crosses 2 pi, where only layer 1 wraps.
    LayerModel model;
    model.Stack.M = {1, 0, 1, 0};
    model.Stack.t = {1e-9L, 0, 1e-9L, 0};
    model.FieldH = 1e5;
    model.FieldAngle = 0.5;
    const EnergyDerivatives energy(model);
    AngleSet theta{kTwoPi - 0.1L, 0, kTwoPi - 0.1L, 0};
    AngleSet grad{};
    EXPECT_GT(RelaxNewton(energy, theta, 6660, 1e4, 2e-10, grad), 0);
    EXPECT_NEAR(static_cast<double>(theta[0]), 0.5, 1e-9);
    EXPECT_NEAR(static_cast<double>(theta[2]), 2 * M_PI + 0.5, 1e-9);
}

TEST(RelaxNewton, StaysInTheBasinItStartsIn) {
    // One layer with its easy axis along a weak field: the minimum against the field (pi) is
    // metastable behind barriers at +-acos(-M t H / 2 K t). From anywhere between them the
    // downhill path ends at pi, though the minimum along the field lies lower.
    LayerModel model;
    model.Stack.M = {1, 0, 0, 0};
    model.Stack.t = {2e-9L, 0, 0, 0};
    model.Stack.K = {1000, 0, 0, 0};
    model.Stack.Anisotropy = AnisotropyForm::Uniaxial;
    model.FieldH = 500;
    const EnergyDerivatives energy(model);
    const double barrier = std::acos(-(2e-9 * 500) / (2 * 2e-6));
    for (double start = barrier + 0.01; start < 2 * M_PI - barrier - 0.01; start += 0.01) {
        SCOPED_TRACE(start);
        AngleSet theta{start, 0, 0, 0};
        AngleSet grad{};
        RelaxNewton(energy, theta, 6660, 1e6, 2e-10, grad);
        EXPECT_NEAR(std::remainder(static_cast<double>(theta[0]) - M_PI, 2 * M_PI), 0, 1e-6);
    }
}

SolverSettings FieldDefaults() {
    return SolverSettings{0.0005, 2e-10L, 6660};
}

// The default stack just past a switching field, far from its minimum.
LayerModel SwitchingModel() {
    LayerModel model;
    model.Stack = DefaultStack();
    model.FieldH = 40000;
    return model;
}

TEST(RelaxStepNewton, DrawsAndKicksAsTheDescentAndCountsLikeIt) {
    {
        // Near a minimum with a threshold that any gradient meets: both leave the angles as
        // kicked, and the generator at the same state.
        SolverSettings settings = FieldDefaults();
        settings.ConvergenceThreshold = 1e6L;
        LayerModel model = SwitchingModel();
        model.FieldH = 250000;
        AngleSet descent{};
        AngleSet newton{};
        AngleSet grad{};
        RandomGenerator a;
        RandomGenerator b;
        EXPECT_EQ(RelaxStep(model, descent, settings, a, grad), 0);
        EXPECT_EQ(RelaxStepNewton(model, newton, settings, b, grad), 0);
        EXPECT_EQ(newton, descent);
        EXPECT_EQ(b.RandomState, a.RandomState);
    }
    struct Case {
        std::int32_t maxIter;
        std::int32_t expected;
    };
    for (const Case c : {Case{-1, 0}, Case{0, 1}, Case{1, 2}}) {
        SCOPED_TRACE(c.maxIter);
        SolverSettings settings = FieldDefaults();
        settings.IterationBudget = c.maxIter;
        LayerModel model = SwitchingModel();
        AngleSet theta{3, 3, 3, 3};
        AngleSet grad{};
        RandomGenerator random;
        EXPECT_EQ(RelaxStepNewton(model, theta, settings, random, grad), c.expected);
        EXPECT_EQ(random.RandomState, 93097076u);
    }
}

TEST(RelaxStepNewton, LeavesASymmetricStackPlacedOnAnUnstableEquilibrium) {
    // Two equal layers coupled antiparallel, easy axis along x, no field, set parallel: a
    // stationary point (every torque is exactly zero) with negative curvature against the
    // antiparallel turn. Without noise, only the curvature can move it.
    LayerModel model;
    model.Stack.M = {1, 1, 0, 0};
    model.Stack.t = {2e-9L, 2e-9L, 0, 0};
    model.Stack.K = {100, 100, 0, 0};
    model.Stack.J = {-1e-4L, 0, 0, 0};
    model.Stack.Anisotropy = AnisotropyForm::Uniaxial;
    AngleSet theta{};
    AngleSet grad{};
    model.EnergyGradient(theta, grad);
    ASSERT_EQ(grad, AngleSet{});
    const Real before = model.Energy(theta);

    SolverSettings settings = FieldDefaults();
    settings.NoiseRadians = 0;
    RandomGenerator random;
    EXPECT_GT(RelaxStepNewton(model, theta, settings, random, grad), 0);
    EXPECT_NEAR(std::fabs(std::remainder(static_cast<double>(theta[0] - theta[1]), 2 * M_PI)), M_PI, 1e-6);
    EXPECT_LT(model.Energy(theta), before);
}

// Newton's factorisation must give Eigen's LLT bit for bit (the sweep's rows depend on every bit of
// each step): the Hessians of random stacks at random angles, which are often not positive
// definite, and random symmetric matrices whose entries span many orders of magnitude.
TEST(Cholesky4, MatchesEigensLltBitForBit) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(-1, 1);
    int factored = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        SCOPED_TRACE(trial);
        Matrix4 a;
        if (trial % 2 == 0) {
            const EnergyDerivatives energy(RandomModel(rng));
            Vector4 grad;
            energy.GradientAndHessian(Vector4(3 * u(rng), 3 * u(rng), 3 * u(rng), 3 * u(rng)), grad, a);
        } else {
            const Matrix4 b = Matrix4::NullaryExpr([&] { return u(rng) * std::pow(10.0, 6 * u(rng)); });
            a = b * b.transpose() + u(rng) * Matrix4::Identity();
        }
        const Eigen::LLT<Matrix4> reference(a);
        const Cholesky4 cholesky(a);
        ASSERT_EQ(cholesky.Success(), reference.info() == Eigen::Success);
        if (!cholesky.Success()) {
            continue;
        }
        ++factored;
        const Vector4 rhs(u(rng), u(rng), 1e-8 * u(rng), 1e4 * u(rng));
        const Vector4 x = cholesky.Solve(rhs);
        const Vector4 expected = reference.solve(rhs);
        const Matrix4 l = reference.matrixL();
        for (Eigen::Index i = 0; i < 4; ++i) {
            EXPECT_EQ(x[i], expected[i]);
            for (Eigen::Index j = 0; j <= i; ++j) {
                EXPECT_EQ(cholesky.Factor()(i, j), l(i, j));
            }
        }
    }
    EXPECT_GT(factored, 5000);
}

// The eigen-decomposition must be Eigen's to the last bit (signs of zeros included) on every kind
// of matrix Newton's steps meet and on the degenerate ones: Hessians of random stacks with absent
// layers decoupled, random symmetric matrices over many orders of magnitude, repeated eigenvalues,
// zero rows, diagonal and tridiagonal matrices, tiny and huge scales, small integers (exact zeros
// and ties), and a NaN or infinite entry, where the convergence verdict must agree as well.
TEST(SymmetricEigen4, MatchesEigensSelfAdjointSolverBitForBit) {
    constexpr int kTrials = 210000;
    constexpr int kKinds = 9;
    std::mt19937_64 rng(23);
    std::uniform_real_distribution<double> u(-1, 1);
    std::uniform_int_distribution<int> pick(0, 3);
    const auto same = [](double x, double y) {
        return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y) || (std::isnan(x) && std::isnan(y));
    };
    const auto symmetric = [&](double magnitudes) {
        const Matrix4 b = Matrix4::NullaryExpr([&] { return u(rng) * std::pow(10.0, magnitudes * u(rng)); });
        return Matrix4(b + b.transpose());
    };
    std::array<int, kKinds> failed{};
    int unconverged = 0;
    for (int trial = 0; trial < kTrials; ++trial) {
        const int kind = trial % kKinds;
        Matrix4 a;
        switch (kind) {
        case 0: { // a Hessian as Newton's step sees it
            const EnergyDerivatives energy(RandomModel(rng, 0.3));
            Vector4 grad;
            energy.GradientAndHessian(Vector4(4 * u(rng), 4 * u(rng), 4 * u(rng), 4 * u(rng)), grad, a);
            const double norm = a.norm();
            for (int k = 0; k < kLayers; ++k) {
                if (!energy.Present(k)) {
                    a(k, k) = norm > 0 ? norm : 1.0;
                }
            }
            break;
        }
        case 1:
            a = symmetric(8);
            break;
        case 2: { // repeated eigenvalues in a random basis
            const Eigen::HouseholderQR<Matrix4> qr(Matrix4(Matrix4::NullaryExpr([&] { return u(rng); })));
            const Matrix4 q = qr.householderQ();
            const Vector4 lambda(pick(rng) - 1, pick(rng) - 1, pick(rng) - 1, pick(rng) - 1);
            a = q * lambda.asDiagonal() * q.transpose();
            break;
        }
        case 3: { // zero rows and columns
            a = symmetric(3);
            for (int k = 0; k < kLayers; ++k) {
                if (pick(rng) == 0) {
                    a.row(k).setZero();
                    a.col(k).setZero();
                }
            }
            break;
        }
        case 4: // diagonal, with ties and zeros of both signs
            a = Vector4::NullaryExpr([&] {
                    return std::array{-1.0, -0.0, 0.0, 2.5}[static_cast<std::size_t>(pick(rng))];
                }).asDiagonal();
            if (trial % 2 == 0) {
                a.diagonal() = Vector4::NullaryExpr([&] { return u(rng) * std::pow(10.0, 4 * u(rng)); });
            }
            break;
        case 5: // tridiagonal already
            a = symmetric(2);
            a(2, 0) = a(0, 2) = a(3, 0) = a(0, 3) = a(3, 1) = a(1, 3) = 0;
            break;
        case 6: // tiny, huge and subnormal scales
            a = symmetric(2) * std::array{1e-300, 1e300, 1e-310, 1e-160}[static_cast<std::size_t>(pick(rng))];
            break;
        case 7: // small integers: exact zeros, ties and cancellations
            a = Matrix4::NullaryExpr([&] { return static_cast<double>(pick(rng) - 1); });
            a = Matrix4(a + a.transpose());
            break;
        default: { // a NaN or an infinite entry, in a full or a tridiagonal matrix
            a = symmetric(2);
            if (trial % 2 == 0) {
                a(2, 0) = a(0, 2) = a(3, 0) = a(0, 3) = a(3, 1) = a(1, 3) = 0;
            }
            const double bad =
                std::array{std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(), 1e308}[static_cast<std::size_t>(pick(rng))];
            const Eigen::Index i = pick(rng);
            const Eigen::Index j = pick(rng);
            a(i, j) = a(j, i) = bad;
            break;
        }
        }
        const Eigen::SelfAdjointEigenSolver<Matrix4> reference(a);
        const SymmetricEigen4 eigen(a);
        bool equal = eigen.Success() == (reference.info() == Eigen::Success);
        for (Eigen::Index i = 0; i < 4; ++i) {
            equal = equal && same(eigen.Eigenvalues()[i], reference.eigenvalues()[i]);
            for (Eigen::Index j = 0; j < 4; ++j) {
                equal = equal && same(eigen.Eigenvectors()(i, j), reference.eigenvectors()(i, j));
            }
        }
        unconverged += eigen.Success() ? 0 : 1;
        if (!equal && ++failed[static_cast<std::size_t>(kind)] <= 3) {
            ADD_FAILURE() << "kind " << kind << ", trial " << trial << std::hexfloat << "\n"
                          << a << "\nEigen: " << reference.eigenvalues().transpose() << "\n"
                          << reference.eigenvectors() << "\nours: " << eigen.Eigenvalues().transpose() << "\n"
                          << eigen.Eigenvectors();
        }
    }
    EXPECT_EQ(failed, (std::array<int, kKinds>{}));
    EXPECT_GT(unconverged, 1000); // the NaN and infinite entries were met
}

// The cache's energy must be a fresh EnergyDerivatives' to the last bit, field after field and
// after the stack changes, with the sample energies from its tables, and must raise the same flags
// where a sample term overflows.
TEST(EnergyCache, GivesAFreshEnergysNumbersAndFlags) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(-3, 3);
    const auto sameSamples = [](const EnergyDerivatives& cached, const EnergyDerivatives& fresh) {
        EnergyDerivatives::SamplePicks picks{};
        for (std::uint32_t n = 0; n < 1296; ++n) {
            for (std::size_t k = 0, rest = n; k < picks.size(); ++k, rest /= 6) {
                picks[k] = static_cast<std::uint32_t>(rest % 6);
            }
            ASSERT_EQ(cached.SampleEnergy(picks), fresh.SampleEnergy(picks)) << n;
        }
    };
    for (int trial = 0; trial < 12; ++trial) {
        SCOPED_TRACE(trial);
        LayerModel model = RandomModel(rng, 0.3);
        EnergyCache cache;
        for (int step = 0; step < 6; ++step) {
            model.FieldH = 1e5 * u(rng);
            if (step == 3) {
                model.Stack.K[1] *= -1.5; // the stack changes mid-sweep
            }
            std::feclearexcept(FE_ALL_EXCEPT);
            const EnergyDerivatives& cached = cache.At(model);
            const EnergyDerivatives fresh(model);
            sameSamples(cached, fresh);
            const Vector4 a(u(rng), u(rng), u(rng), u(rng));
            const Vector4 step4(1e-3 * u(rng), u(rng), 0, 1e-9 * u(rng));
            Vector4 g1;
            Vector4 g2;
            Matrix4 h1;
            Matrix4 h2;
            cached.GradientAndHessian(a, g1, h1);
            fresh.GradientAndHessian(a, g2, h2);
            EXPECT_EQ(g1, g2);
            EXPECT_EQ(h1, h2);
            EXPECT_EQ(cached.Energy(a), fresh.Energy(a));
            EXPECT_EQ(cached.EnergyChange(a, step4), fresh.EnergyChange(a, step4));
        }
    }

    // Bilinear and biquadratic couplings whose sum overflows at some sample angles.
    LayerModel model = RandomModel(rng, 0);
    model.Stack.J[0] = -1.5e308;
    model.Stack.Jbq[0] = 1.5e308;
    EnergyCache cache;
    for (int step = 0; step < 3; ++step) {
        std::feclearexcept(FE_ALL_EXCEPT);
        const EnergyDerivatives& cached = cache.At(model);
        ASSERT_EQ(std::fetestexcept(kTrappedFlags), 0);
        const EnergyDerivatives::SamplePicks picks{0, 3, 2, 1}; // cos(-3 - 0) < 0: -J c - Jbq c^2 overflows
        const double cachedValue = cached.SampleEnergy(picks);
        const int cachedFlags = std::fetestexcept(kTrappedFlags);
        std::feclearexcept(FE_ALL_EXCEPT);
        const double freshValue = EnergyDerivatives(model).SampleEnergy(picks);
        EXPECT_EQ(cachedFlags, std::fetestexcept(kTrappedFlags));
        EXPECT_NE(cachedFlags, 0);
        EXPECT_EQ(std::isinf(cachedValue), std::isinf(freshValue));
    }
    std::feclearexcept(FE_ALL_EXCEPT);
}

} // namespace
} // namespace dravo2
