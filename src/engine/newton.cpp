#include "engine/newton.h"

#include <Eigen/Eigenvalues>

#include <algorithm>
#include <cmath>
#include <limits>

namespace dravo2 {
inline namespace engine {
namespace {

// Halvings of a step before the line search gives up (the energy change is exact enough that
// this only happens when rounding has stopped all progress).
constexpr int kMaxHalvings = 50;

// The fraction by which the quadratic model's energy change along a flow step may depart from the
// energy's, and how often the step is shortened fourfold before it falls back on the plain
// gradient direction.
constexpr double kModelTolerance = 0.25;
constexpr int kFlowShortenings = 8;

// The floating-point tests of a relaxation: each as it falls (Tested), or only those of the double
// arithmetic, giving up at the first flag (Untested: the extended arithmetic's flags are left to
// the caller's one test after its step).
struct TestedFlags {
    template <typename T> static void Extended(const T& value) { CheckFloatingPoint(value); }
    template <typename T> static void Double(const T& value) { CheckDoubleArithmetic(value); }
    // The energy-scale stage: each sample's sum, or the whole stage's.
    static void Sample(const double& sum) { CheckDoubleArithmetic(sum); }
    static void Samples(const double& /*sum*/) {}
    static double Store(Real value) { return StoreDouble(value); }
};

struct GiveUp {};

struct UntestedFlags {
    template <typename T> static void Extended(const T& value) { Double(value); }
    template <typename T> static void Double(const T& value) {
        asm volatile("" : : "m"(value));
#if defined(__x86_64__)
        const bool raised = (_mm_getcsr() & (_MM_EXCEPT_INVALID | _MM_EXCEPT_DIV_ZERO | _MM_EXCEPT_OVERFLOW)) != 0;
#else
        const bool raised = std::fetestexcept(kTrappedFlags) != 0;
#endif
        if (raised) {
            throw GiveUp{};
        }
    }
    static void Sample(const double& /*sum*/) {}
    static void Samples(const double& sum) {
        Double(sum);
    }
    static double Store(Real value) {
        return static_cast<double>(value);
    }
};

// Gives each absent layer a decoupled diagonal entry as large as the present layers' block (its
// gradient component is 0), so that the fixed-size factorisation and eigen solver work on the
// present layers' system alone.
void RestrictToPresent(const EnergyDerivatives& energy, Matrix4& hess) {
    if (energy.AllPresent()) {
        return;
    }
    const double norm = hess.norm(); // the absent rows and columns are still zero here
    for (Eigen::Index k = 0; k < kLayers; ++k) {
        if (!energy.Present(static_cast<int>(k))) {
            hess(k, k) = norm > 0 ? norm : 1.0;
        }
    }
}

void ZeroAbsent(const EnergyDerivatives& energy, Vector4& v) {
    for (Eigen::Index k = 0; k < kLayers; ++k) {
        if (!energy.Present(static_cast<int>(k))) {
            v[k] = 0;
        }
    }
}

// The quadratic model's change of energy along `step`.
double PredictedChange(const Vector4& grad, const Matrix4& hess, const Vector4& step) {
    return grad.dot(step) + 0.5 * step.dot(hess * step);
}

// The gradient flow da/dt = -g of the energy's quadratic model about the present point, solved
// exactly in the Hessian's eigenvectors: after a time h each mode of curvature lambda has moved by
// -(1 - exp(-lambda h)) / lambda of its gradient component. Stiff modes settle at once, as they do
// along the flow, an unstable mode grows as the flow makes it grow, and as h grows without bound
// the move becomes Newton's step wherever the Hessian is positive definite.
class QuadraticFlow {
public:
    QuadraticFlow(const Matrix4& hess, const Vector4& grad) : Modes(hess) {
        if (Modes.info() == Eigen::Success) {
            Components = Modes.eigenvectors().transpose() * grad;
        }
    }

    bool Valid() const { return Modes.info() == Eigen::Success && Components.allFinite(); }

    // The move after time h (with the factors of the last length taken, when that was at h).
    Vector4 Move(double h) const {
        const bool known = h == FactorsTime;
        Vector4 factors;
        for (Eigen::Index k = 0; k < kLayers; ++k) {
            const double factor = known ? Factors[k] : Factor(Modes.eigenvalues()[k], h);
            factors[k] = Components[k] == 0 ? 0 : -factor * Components[k];
        }
        return Modes.eigenvectors() * factors;
    }

    // The time after which the move is `length` long (within a part in a thousand; the length
    // grows with time), found by Newton's method on the length kept inside a bracket; 0 when the
    // flow of the model never gets that far (it settles at a minimum closer than that).
    double TimeToMove(double length, double steepness) {
        double low = 0;
        double high = std::numeric_limits<double>::infinity();
        double h = length / steepness;
        for (int iteration = 0; iteration < 100; ++iteration) {
            double slope = 0;
            const double reached = Length(h, slope);
            if (std::fabs(reached - length) <= 1e-3 * length) {
                return h;
            }
            (reached < length ? low : high) = h;
            double next =
                reached < std::numeric_limits<double>::infinity() && slope > 0 ? h + (length - reached) / slope : 0.0;
            if (!(next > low && next < high)) {
                next = std::isfinite(high) ? 0.5 * (low + high) : 2 * h;
            }
            if (next > 1e250) {
                return 0;
            }
            h = next;
        }
        return low;
    }

private:
    // (1 - exp(-lambda h)) / lambda, h where lambda h vanishes.
    static double Factor(double lambda, double h) {
        const double x = lambda * h;
        return std::fabs(x) < 1e-12 ? h : -std::expm1(-x) / lambda;
    }

    // The length of the move after time h and its rate of growth; infinite once a mode's move
    // passes 1e150 rad (an unstable mode grown past all measure; no overflow is raised). The
    // factors of a finite length are kept for the move at the same time.
    double Length(double h, double& slope) {
        FactorsTime = std::numeric_limits<double>::quiet_NaN();
        double sum = 0;
        double rate = 0;
        for (Eigen::Index k = 0; k < kLayers; ++k) {
            const double lambda = Modes.eigenvalues()[k];
            const double c = std::fabs(Components[k]);
            if (c == 0) {
                continue;
            }
            if (lambda * h < -300) {
                return std::numeric_limits<double>::infinity();
            }
            // exp(-lambda h) - 1, and the factor (1 - exp(-lambda h)) / lambda from it
            const double x = lambda * h;
            const double decayLess1 = std::expm1(-x);
            Factors[k] = std::fabs(x) < 1e-12 ? h : -decayLess1 / lambda;
            const double move = Factors[k] * c;
            if (!(move < 1e150)) {
                return std::numeric_limits<double>::infinity();
            }
            sum += move * move;
            rate += move * (1 + decayLess1) * c;
        }
        const double length = std::sqrt(sum);
        slope = length > 0 ? rate / length : 0;
        FactorsTime = h;
        return length;
    }

private:
    Eigen::SelfAdjointEigenSolver<Matrix4> Modes;
    Vector4 Components = Vector4::Zero();
    Vector4 Factors = Vector4::Zero();
    double FactorsTime = std::numeric_limits<double>::quiet_NaN();
};

// A step along the quadratic model's gradient flow of at most kFlowStep, shortened while the
// model's energy change departs from the energy's by more than kModelTolerance of it (a bend of
// the path or a barrier lies within the step), with the energy's change along it. False when no
// such step was found.
bool FlowStep(const EnergyDerivatives& energy, const Vector4& sn, const Vector4& cs, const Vector4& grad,
              const Matrix4& hess, Vector4& step, double& change) {
    QuadraticFlow flow(hess, grad);
    const double steepness = grad.norm();
    if (!flow.Valid() || !(steepness > 1e-200)) {
        return false;
    }
    double length = kFlowStep;
    for (int attempt = 0; attempt < kFlowShortenings; ++attempt, length *= 0.25) {
        const double h = flow.TimeToMove(length, steepness);
        if (!(h > 0)) {
            return false;
        }
        step = flow.Move(h);
        ZeroAbsent(energy, step);
        if (!step.allFinite() || !(grad.dot(step) < 0)) {
            return false;
        }
        const double predicted = PredictedChange(grad, hess, step);
        change = energy.EnergyChange(sn, cs, step);
        if (std::fabs(change - predicted) <= kModelTolerance * std::fabs(predicted)) {
            return true;
        }
    }
    return false;
}

// At a stationary point: the unit direction of most negative curvature when the Hessian has an
// eigenvalue below zero by more than rounding; false at a minimum (or a flat direction).
bool NegativeCurvatureDirection(const Matrix4& hess, Vector4& direction) {
    if (Cholesky4(hess).Success()) {
        return false;
    }
    const Eigen::SelfAdjointEigenSolver<Matrix4> eigen(hess);
    if (eigen.info() != Eigen::Success) {
        return false;
    }
    const Vector4& lambda = eigen.eigenvalues(); // ascending
    if (!(lambda[0] < -1e-12 * lambda.cwiseAbs().maxCoeff())) {
        return false;
    }
    direction = eigen.eigenvectors().col(0);
    return true;
}

// RelaxNewton from `a`, the angles of `theta` in double, with their sines and cosines, which
// follow the angles to the end.
template <typename Flags>
std::int32_t RelaxFrom(const EnergyDerivatives& energy, AngleSet& theta, Vector4 a, Vector4& sn, Vector4& cs,
                       std::int32_t n, double scale, double conv, AngleSet& grad) {
    const double twoPi = static_cast<double>(kTwoPi);
    Vector4 g = Vector4::Zero();
    Matrix4 h;
    Vector4 p;
    bool evaluated = false;
    std::int64_t i = 0;
    while (i <= n) {
        energy.GradientAndHessian(sn, cs, g, h);
        if (evaluated) {
            Flags::Double(h);
        } else {
            Flags::Extended(h); // also the conversion of the angles to double
        }
        evaluated = true;
        RestrictToPresent(energy, h);
        if (!(g.norm() * scale > conv)) {
            Vector4 v;
            if (!NegativeCurvatureDirection(h, v)) {
                break;
            }
            ZeroAbsent(energy, v);
            p = (kSaddleEscapeStep / v.norm()) * v;
            if (energy.EnergyChange(sn, cs, -p) < energy.EnergyChange(sn, cs, p)) {
                p = -p;
            }
        } else {
            // Newton's step where the Hessian is positive definite and the minimum of the
            // quadratic model lies within the cap; elsewhere the path of steepest descent.
            const Cholesky4 cholesky(h);
            bool newton = cholesky.Success();
            if (newton) {
                p = -cholesky.Solve(g);
                ZeroAbsent(energy, p);
                newton = p.allFinite() && p.cwiseAbs().maxCoeff() <= kNewtonStepCap && g.dot(p) < 0;
            }
            double change = 0;
            if (newton || !FlowStep(energy, sn, cs, g, h, p, change)) {
                if (!newton) {
                    const double largest = g.cwiseAbs().maxCoeff();
                    p = largest > 0 ? Vector4(-(kNewtonStepCap / largest) * g) : Vector4::Zero();
                    ZeroAbsent(energy, p);
                }
                change = energy.EnergyChange(sn, cs, p);
            }
            double slope = g.dot(p);
            bool sufficient = change <= kArmijoFraction * slope;
            for (int halving = 0; !sufficient && halving < kMaxHalvings; ++halving) {
                p *= 0.5;
                slope *= 0.5;
                sufficient = energy.EnergyChange(sn, cs, p) <= kArmijoFraction * slope;
            }
            if (!sufficient) {
                break;
            }
        }
        Flags::Double(p);
        ++i;
        for (std::size_t k = 0; k < kLayers; ++k) {
            const auto e = static_cast<Eigen::Index>(k);
            double moved = a[e] + p[e];
            if (k < 2) {
                if (moved > twoPi) {
                    moved -= twoPi;
                } else if (moved < -twoPi) {
                    moved += twoPi;
                }
            }
            if (moved != a[e]) {
                a[e] = moved;
                theta[k] = moved;
                sincos(moved, &sn[e], &cs[e]);
            }
        }
    }
    if (evaluated) {
        for (std::size_t k = 0; k < kLayers; ++k) {
            grad[k] = g[static_cast<Eigen::Index>(k)];
        }
    }
    Flags::Extended(theta);
    return static_cast<std::int32_t>(std::min<std::int64_t>(i, INT32_MAX));
}

void SinCos(const Vector4& a, Vector4& sn, Vector4& cs) {
    for (Eigen::Index k = 0; k < kLayers; ++k) {
        sincos(a[k], &sn[k], &cs[k]);
    }
}

} // namespace

std::int32_t RelaxNewton(const EnergyDerivatives& energy, AngleSet& theta, std::int32_t n, double scale, double conv,
                         AngleSet& grad) {
    Vector4 a;
    for (std::size_t k = 0; k < kLayers; ++k) {
        a[static_cast<Eigen::Index>(k)] = static_cast<double>(theta[k]);
    }
    Vector4 sn;
    Vector4 cs;
    SinCos(a, sn, cs);
    return RelaxFrom<TestedFlags>(energy, theta, a, sn, cs, n, scale, conv, grad);
}

std::int32_t RelaxStepNewton(const LayerModel& model, AngleSet& theta, const SolverSettings& settings,
                             RandomGenerator& random, AngleSet& grad) {
    ClearFloatingPointFlags();
    KickAngles(theta, settings, random);
    const EnergyDerivatives energy(model);
    return RelaxKickedNewton(energy, theta, settings, random, grad, nullptr, nullptr);
}

namespace {

// RelaxKickedNewton with the flag tests of `Flags`.
template <typename Flags>
std::int32_t RelaxKicked(const EnergyDerivatives& energy, AngleSet& theta, const SolverSettings& settings,
                         RandomGenerator& random, AngleSet& grad, Vector4& sn, Vector4& cs) {
    Vector4 kicked;
    for (std::size_t k = 0; k < kLayers; ++k) {
        kicked[static_cast<Eigen::Index>(k)] = static_cast<double>(theta[k]);
    }
    Flags::Extended(kicked);
    SinCos(kicked, sn, cs);
    double s = 1e-10;
    const double e0 = energy.Energy(sn, cs);
    s += e0 * e0;
    Flags::Double(s);
    for (int sample = 0; sample < 10; ++sample) {
        EnergyDerivatives::SamplePicks picks{};
        for (std::uint32_t& pick : picks) {
            pick = random.RandomBelow(static_cast<std::uint32_t>(EnergyDerivatives::kSampleAngles));
        }
        const double e = energy.SampleEnergy(picks);
        s += e * e;
        Flags::Sample(s);
    }
    Flags::Samples(s);
    const double scale = 1.0 / std::sqrt(s);
    return RelaxFrom<Flags>(energy, theta, kicked, sn, cs, settings.IterationBudget, scale,
                            Flags::Store(settings.ConvergenceThreshold), grad);
}

} // namespace

std::int32_t RelaxKickedNewton(const EnergyDerivatives& energy, AngleSet& theta, const SolverSettings& settings,
                               RandomGenerator& random, AngleSet& grad, Vector4* sines, Vector4* cosines) {
    Vector4 sn;
    Vector4 cs;
    const std::int32_t iterations = RelaxKicked<TestedFlags>(energy, theta, settings, random, grad, sn, cs);
    if (sines != nullptr && cosines != nullptr) {
        *sines = sn;
        *cosines = cs;
    }
    return iterations;
}

std::optional<std::int32_t> RelaxKickedNewtonUntested(const EnergyDerivatives& energy, AngleSet& theta,
                                                      const SolverSettings& settings, RandomGenerator& random,
                                                      AngleSet& grad, Vector4& sines, Vector4& cosines) {
    try {
        return RelaxKicked<UntestedFlags>(energy, theta, settings, random, grad, sines, cosines);
    } catch (const GiveUp&) {
        return std::nullopt;
    }
}

// Taken by reference: Eigen's fixed-size matrices are not to be passed by value.
Cholesky4::Cholesky4(const Matrix4& a) : L(a) { // NOLINT(modernize-pass-by-value)
    // Column by column: the pivot less the squares of its row so far, then the column below it
    // less the products of the rows so far, over the pivot; each sum taken from the left.
    for (Eigen::Index k = 0; k < kLayers; ++k) {
        double x = L(k, k);
        if (k > 0) {
            double squares = L(k, 0) * L(k, 0);
            for (Eigen::Index j = 1; j < k; ++j) {
                squares += L(k, j) * L(k, j);
            }
            x -= squares;
        }
        if (x <= 0) {
            Factored = false;
            return;
        }
        L(k, k) = x = std::sqrt(x);
        for (Eigen::Index i = k + 1; i < kLayers; ++i) {
            if (k > 0) {
                double products = L(i, 0) * L(k, 0);
                for (Eigen::Index j = 1; j < k; ++j) {
                    products += L(i, j) * L(k, j);
                }
                L(i, k) -= products;
            }
            L(i, k) /= x;
        }
    }
}

Vector4 Cholesky4::Solve(const Vector4& b) const {
    // LLT's own triangular solves, on the same factor.
    Vector4 x = b;
    L.triangularView<Eigen::Lower>().solveInPlace(x);
    L.transpose().triangularView<Eigen::Upper>().solveInPlace(x);
    return x;
}

} // namespace engine
} // namespace dravo2
