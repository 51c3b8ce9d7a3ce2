#include "engine/newton.h"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>

#include <algorithm>
#include <cmath>

namespace dravo2 {
namespace {

// Halvings of a step before the line search gives up (the energy change is exact enough that
// this only happens when rounding has stopped all progress).
constexpr int kMaxHalvings = 50;

// A step's energy change may depart from the quadratic model's by this fraction of it.
constexpr double kModelTolerance = 0.25;
// How far a step of the gradient flow may depart from the flow's path, as a fraction of the step.
constexpr double kFlowTolerance = 0.05;
// The factor by which the shift 1 / h rises while the quadratic model fails along the step.
constexpr double kShiftGrowth = 4;
// The least shift, as a fraction of |H|.
constexpr double kShiftFloor = 1e-3;

// Gives each absent layer a decoupled diagonal entry as large as the present layers' block (its
// gradient component is 0), so that the fixed-size factorisation and eigen solver work on the
// present layers' system alone. Returns the Frobenius norm of that block.
double RestrictToPresent(const EnergyDerivatives& energy, Matrix4& hess) {
    const double norm = hess.norm(); // the absent rows and columns are still zero here
    for (Eigen::Index k = 0; k < kLayers; ++k) {
        if (!energy.Present(static_cast<int>(k))) {
            hess(k, k) = norm > 0 ? norm : 1.0;
        }
    }
    return norm;
}

void ZeroAbsent(const EnergyDerivatives& energy, Vector4& v) {
    for (Eigen::Index k = 0; k < kLayers; ++k) {
        if (!energy.Present(static_cast<int>(k))) {
            v[k] = 0;
        }
    }
}

// The quadratic model's energy change along `step` agrees with the energy's own within
// kModelTolerance of it: no bend of the path or barrier lies within the step. Returns the energy
// change.
bool ModelHolds(const EnergyDerivatives& energy, const Vector4& a, const Vector4& grad, const Matrix4& hess,
                const Vector4& step, double& change) {
    const double predicted = grad.dot(step) + 0.5 * step.dot(hess * step);
    change = energy.EnergyChange(a, step);
    return std::fabs(change - predicted) <= kModelTolerance * std::fabs(predicted);
}

// Scales `step` down so that no angle moves more than kNewtonStepCap.
void CapStep(Vector4& step) {
    const double largest = step.cwiseAbs().maxCoeff();
    if (largest > kNewtonStepCap) {
        step *= kNewtonStepCap / largest;
    }
}

// Newton's step when the Hessian is positive definite and the minimum of the quadratic model lies
// within kNewtonStepCap of every angle, where the model holds: there the path has settled into a
// basin and the step converges quadratically. False otherwise.
bool NewtonStep(const EnergyDerivatives& energy, const Vector4& a, const Vector4& grad, const Matrix4& hess,
                Vector4& step, double& change) {
    const Eigen::LLT<Matrix4> cholesky(hess);
    if (cholesky.info() != Eigen::Success) {
        return false;
    }
    step = -cholesky.solve(grad);
    ZeroAbsent(energy, step);
    return step.allFinite() && step.cwiseAbs().maxCoeff() <= kNewtonStepCap && grad.dot(step) < 0 &&
           ModelHolds(energy, a, grad, hess, step, change);
}

// A step of pseudo-transient continuation: implicit Euler on the gradient flow da/dt = -g,
// (H + I / h) p = -g. The shift 1 / h starts at |H g| / (kFlowTolerance |g|) (at least
// kShiftFloor |H|): the step's departure from the flow's path, about h |H g| / 2 against the step
// h |g|, stays a small fraction of it. It is raised by kShiftGrowth until H + I / 2h is positive
// definite, so that no unstable mode of a vanished minimum grows by more than twice the flow's
// rate, and while the quadratic model fails along the step. Stiff modes relax to their
// quasi-static state at once, as they do along the flow, so the step is long wherever the path is
// straight. Falls back on the steepest descent step when no shift gives a finite downhill
// direction.
void FlowStep(const EnergyDerivatives& energy, const Vector4& a, const Vector4& grad, const Matrix4& hess, double norm,
              Vector4& step, double& change) {
    const double steepness = grad.norm();
    double shift =
        steepness > 0 ? std::max((hess * grad).norm() / (kFlowTolerance * steepness), kShiftFloor * norm) : 0;
    Eigen::LLT<Matrix4> cholesky;
    for (int attempt = 0; attempt < 64 && shift > 0 && std::isfinite(shift); ++attempt) {
        cholesky.compute(hess + (0.5 * shift) * Matrix4::Identity());
        if (cholesky.info() == Eigen::Success) {
            cholesky.compute(hess + shift * Matrix4::Identity());
            step = -cholesky.solve(grad);
            ZeroAbsent(energy, step);
            if (!step.allFinite() || !(grad.dot(step) < 0)) {
                break;
            }
            CapStep(step);
            if (ModelHolds(energy, a, grad, hess, step, change)) {
                return;
            }
        }
        shift *= kShiftGrowth;
    }
    const double largest = grad.cwiseAbs().maxCoeff();
    step = largest > 0 ? Vector4(-(kNewtonStepCap / largest) * grad) : Vector4::Zero();
    ZeroAbsent(energy, step);
    change = energy.EnergyChange(a, step);
}

// At a stationary point: the unit direction of most negative curvature when the Hessian has an
// eigenvalue below zero by more than rounding; false at a minimum (or a flat direction).
bool NegativeCurvatureDirection(const Matrix4& hess, Vector4& direction) {
    const Eigen::LLT<Matrix4> cholesky(hess);
    if (cholesky.info() == Eigen::Success) {
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

// Sines and cosines of the whole angles -3 .. 2 rad that the energy-scale stage samples.
struct SampleTrig {
    std::array<double, 6> Sin{};
    std::array<double, 6> Cos{};
};

const SampleTrig& SampleAngles() {
    static const SampleTrig table = [] {
        SampleTrig t;
        for (int k = 0; k < 6; ++k) {
            t.Sin[static_cast<std::size_t>(k)] = std::sin(static_cast<double>(k - 3));
            t.Cos[static_cast<std::size_t>(k)] = std::cos(static_cast<double>(k - 3));
        }
        return t;
    }();
    return table;
}

} // namespace

std::int32_t RelaxNewton(const EnergyDerivatives& energy, AngleSet& theta, std::int32_t n, double scale, double conv,
                         AngleSet& grad) {
    const double twoPi = static_cast<double>(kTwoPi);
    Vector4 a;
    for (std::size_t k = 0; k < kLayers; ++k) {
        a[static_cast<Eigen::Index>(k)] = static_cast<double>(theta[k]);
    }
    Vector4 g = Vector4::Zero();
    Matrix4 h;
    Vector4 p;
    bool evaluated = false;
    std::int64_t i = 0;
    while (i <= n) {
        energy.GradientAndHessian(a, g, h);
        evaluated = true;
        CheckFloatingPoint(h);
        const double norm = RestrictToPresent(energy, h);
        if (!(g.norm() * scale > conv)) {
            Vector4 v;
            if (!NegativeCurvatureDirection(h, v)) {
                break;
            }
            ZeroAbsent(energy, v);
            p = (kSaddleEscapeStep / v.norm()) * v;
            if (energy.EnergyChange(a, -p) < energy.EnergyChange(a, p)) {
                p = -p;
            }
        } else {
            double change = 0;
            if (!NewtonStep(energy, a, g, h, p, change)) {
                FlowStep(energy, a, g, h, norm, p, change);
            }
            double slope = g.dot(p);
            bool sufficient = change <= kArmijoFraction * slope;
            for (int halving = 0; !sufficient && halving < kMaxHalvings; ++halving) {
                p *= 0.5;
                slope *= 0.5;
                sufficient = energy.EnergyChange(a, p) <= kArmijoFraction * slope;
            }
            if (!sufficient) {
                break;
            }
        }
        CheckFloatingPoint(p);
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
            }
        }
    }
    if (evaluated) {
        for (std::size_t k = 0; k < kLayers; ++k) {
            grad[k] = g[static_cast<Eigen::Index>(k)];
        }
    }
    CheckFloatingPoint(theta);
    return static_cast<std::int32_t>(std::min<std::int64_t>(i, INT32_MAX));
}

std::int32_t RelaxStepNewton(const LayerModel& model, AngleSet& theta, const SolverSettings& settings,
                             RandomGenerator& random, AngleSet& grad) {
    ClearFloatingPointFlags();
    for (std::size_t k = 0; k < kLayers; ++k) {
        const std::uint32_t r = random.RandomBelow(10);
        theta[k] = (theta[k] + settings.Ramp) - static_cast<Real>(r) * settings.Ramp / 5;
    }
    CheckFloatingPoint(theta);
    const EnergyDerivatives energy(model);
    Vector4 kicked;
    for (std::size_t k = 0; k < kLayers; ++k) {
        kicked[static_cast<Eigen::Index>(k)] = static_cast<double>(theta[k]);
    }
    double s = 1e-10;
    const double e0 = energy.Energy(kicked);
    s += e0 * e0;
    CheckFloatingPoint(s);
    const SampleTrig& samples = SampleAngles();
    for (int sample = 0; sample < 10; ++sample) {
        Vector4 sn;
        Vector4 cs;
        for (Eigen::Index k = 0; k < kLayers; ++k) {
            const std::uint32_t r = random.RandomBelow(6);
            sn[k] = samples.Sin[r];
            cs[k] = samples.Cos[r];
        }
        const double e = energy.Energy(sn, cs);
        s += e * e;
        CheckFloatingPoint(s);
    }
    const double scale = 1.0 / std::sqrt(s);
    return RelaxNewton(energy, theta, settings.MaxIter, scale, StoreDouble(settings.Conv), grad);
}

} // namespace dravo2
