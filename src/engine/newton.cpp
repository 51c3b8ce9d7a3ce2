#include "engine/newton.h"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>

#include <algorithm>
#include <cmath>
#include <limits>

namespace dravo2 {
namespace {

// Halvings of a step before the line search gives up (the energy change is exact enough that
// this only happens when rounding has stopped all progress).
constexpr int kMaxHalvings = 50;

// The fraction by which the quadratic model's energy change along a flow step may depart from the
// energy's, and how often the step is shortened fourfold before it falls back on the plain
// gradient direction.
constexpr double kModelTolerance = 0.25;
constexpr int kFlowShortenings = 8;

// Gives each absent layer a decoupled diagonal entry as large as the present layers' block (its
// gradient component is 0), so that the fixed-size factorisation and eigen solver work on the
// present layers' system alone.
void RestrictToPresent(const EnergyDerivatives& energy, Matrix4& hess) {
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

    // The move after time h, and its length.
    Vector4 Move(double h) const {
        Vector4 factors;
        for (Eigen::Index k = 0; k < kLayers; ++k) {
            const double lambda = Modes.eigenvalues()[k];
            const double x = lambda * h;
            if (Components[k] == 0) {
                factors[k] = 0;
            } else {
                factors[k] = std::fabs(x) < 1e-12 ? -h * Components[k] : std::expm1(-x) / lambda * Components[k];
            }
        }
        return Modes.eigenvectors() * factors;
    }
    // Infinite once an unstable mode would grow by more than e^300 (no overflow is raised).
    double Length(double h) const {
        double sum = 0;
        for (Eigen::Index k = 0; k < kLayers; ++k) {
            const double lambda = Modes.eigenvalues()[k];
            const double x = lambda * h;
            if (Components[k] == 0) {
                continue;
            }
            if (x < -300) {
                return std::numeric_limits<double>::infinity();
            }
            const double f = std::fabs(x) < 1e-12 ? h : -std::expm1(-x) / lambda;
            sum += f * f * Components[k] * Components[k];
        }
        return std::sqrt(sum);
    }

    // The time after which the move is `length` long (the length grows with time); 0 when the
    // flow of the model never gets that far (it settles at a minimum closer than that).
    double TimeToMove(double length, double steepness) const {
        double high = length / steepness;
        int doublings = 0;
        while (Length(high) < length) {
            if (++doublings > 200) {
                return 0;
            }
            high *= 2;
        }
        double low = doublings == 0 ? 0 : high / 2;
        for (int bisection = 0; bisection < 30; ++bisection) {
            const double mid = 0.5 * (low + high);
            (Length(mid) < length ? low : high) = mid;
        }
        return low > 0 ? low : high;
    }

private:
    Eigen::SelfAdjointEigenSolver<Matrix4> Modes;
    Vector4 Components = Vector4::Zero();
};

// A step along the quadratic model's gradient flow of at most kFlowStep, shortened while the
// model's energy change departs from the energy's by more than kModelTolerance of it (a bend of
// the path or a barrier lies within the step). False when no such step was found.
bool FlowStep(const EnergyDerivatives& energy, const Vector4& a, const Vector4& grad, const Matrix4& hess,
              Vector4& step) {
    const QuadraticFlow flow(hess, grad);
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
        const double change = energy.EnergyChange(a, step);
        if (std::fabs(change - predicted) <= kModelTolerance * std::fabs(predicted)) {
            return true;
        }
    }
    return false;
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
        RestrictToPresent(energy, h);
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
            // Newton's step where the Hessian is positive definite and the minimum of the
            // quadratic model lies within the cap; elsewhere the path of steepest descent.
            const Eigen::LLT<Matrix4> cholesky(h);
            bool newton = cholesky.info() == Eigen::Success;
            if (newton) {
                p = -cholesky.solve(g);
                ZeroAbsent(energy, p);
                newton = p.allFinite() && p.cwiseAbs().maxCoeff() <= kNewtonStepCap && g.dot(p) < 0;
            }
            if (!newton && !FlowStep(energy, a, g, h, p)) {
                const double largest = g.cwiseAbs().maxCoeff();
                p = largest > 0 ? Vector4(-(kNewtonStepCap / largest) * g) : Vector4::Zero();
                ZeroAbsent(energy, p);
            }
            double slope = g.dot(p);
            bool sufficient = energy.EnergyChange(a, p) <= kArmijoFraction * slope;
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
