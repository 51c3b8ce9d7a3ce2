#include "engine/newton.h"

#include <Eigen/Core>

#include <algorithm>
#include <array>
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
        if (Modes.Success()) {
            Components = Modes.Eigenvectors().transpose() * grad;
        }
    }

    bool Valid() const { return Modes.Success() && Components.allFinite(); }

    // The move after time h (with the factors of the last length taken, when that was at h).
    Vector4 Move(double h) const {
        const bool known = h == FactorsTime;
        Vector4 factors;
        for (Eigen::Index k = 0; k < kLayers; ++k) {
            const double factor = known ? Factors[k] : Factor(Modes.Eigenvalues()[k], h);
            factors[k] = Components[k] == 0 ? 0 : -factor * Components[k];
        }
        return Modes.Eigenvectors() * factors;
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
            const double lambda = Modes.Eigenvalues()[k];
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
    SymmetricEigen4 Modes;
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
    const SymmetricEigen4 eigen(hess);
    if (!eigen.Success()) {
        return false;
    }
    const Vector4& lambda = eigen.Eigenvalues(); // ascending
    if (!(lambda[0] < -1e-12 * lambda.cwiseAbs().maxCoeff())) {
        return false;
    }
    direction = eigen.Eigenvectors().col(0);
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

namespace {

using Eigen::Index;

// The magnitude of (x, y) as Eigen's hypot takes it: the larger magnitude times the root of one
// plus the square of their ratio.
double Hypot(double x, double y) {
    x = std::fabs(x);
    y = std::fabs(y);
    if (std::isinf(x) || std::isinf(y)) {
        return std::numeric_limits<double>::infinity();
    }
    if (std::isnan(x) || std::isnan(y)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const double p = std::max(x, y);
    if (p == 0) {
        return 0;
    }
    const double qp = std::min(y, x) / p;
    return p * std::sqrt(1 + qp * qp);
}

// The plane rotation (c, s) that takes (p, q) to (r, 0): Eigen's makeGivens for real numbers.
struct Rotation {
    double Cosine = 1;
    double Sine = 0;
};

Rotation MakeGivens(double p, double q) {
    Rotation rotation;
    if (q == 0) {
        rotation.Cosine = p < 0 ? -1.0 : 1.0;
        rotation.Sine = 0;
    } else if (p == 0) {
        rotation.Cosine = 0;
        rotation.Sine = q < 0 ? 1.0 : -1.0;
    } else if (std::fabs(p) > std::fabs(q)) {
        const double t = q / p;
        double u = std::sqrt(1 + t * t);
        if (p < 0) {
            u = -u;
        }
        rotation.Cosine = 1 / u;
        rotation.Sine = -t * rotation.Cosine;
    } else {
        const double t = p / q;
        double u = std::sqrt(1 + t * t);
        if (q < 0) {
            u = -u;
        }
        rotation.Sine = -1 / u;
        rotation.Cosine = -t * rotation.Sine;
    }
    return rotation;
}

// Reflector i of the tridiagonalisation of `a` (lower triangle): the Householder vector that zeroes
// column i below its subdiagonal, kept in that column below the subdiagonal (its leading 1
// implied), the reflection applied on both sides to the trailing block as a symmetric rank-2
// update, and the subdiagonal entry left in place. Returns the reflector's coefficient. Every sum
// runs from its first term, in index order.
double Reflect(Matrix4& a, Index i) {
    const Index m = kLayers - 1 - i; // the reflected block's size
    const Index o = i + 1;           // its first row and column
    const double c0 = a(o, i);
    double tailSquares = 0;
    if (m > 1) {
        tailSquares = a(o + 1, i) * a(o + 1, i);
        for (Index r = 2; r < m; ++r) {
            tailSquares += a(o + r, i) * a(o + r, i);
        }
    }
    double tau = 0;
    double beta = c0;
    if (tailSquares <= std::numeric_limits<double>::min()) {
        for (Index r = 1; r < m; ++r) {
            a(o + r, i) = 0;
        }
        // The column is already reduced (always so for a Hessian of neighbour couplings): the
        // update below then adds only zeros of the block's own sign, and is skipped unless a
        // non-finite entry would turn them into NaNs.
        bool finite = true;
        for (Index j = 0; j < m; ++j) {
            for (Index r = j; r < m; ++r) {
                finite = finite && std::isfinite(a(o + r, o + j));
            }
        }
        if (finite) {
            return tau;
        }
    } else {
        beta = std::sqrt(c0 * c0 + tailSquares);
        if (c0 >= 0) {
            beta = -beta;
        }
        const double divisor = c0 - beta;
        for (Index r = 1; r < m; ++r) {
            a(o + r, i) /= divisor;
        }
        tau = (beta - c0) / beta;
    }
    std::array<double, kLayers - 1> v{};
    v[0] = 1;
    for (Index r = 1; r < m; ++r) {
        v[static_cast<std::size_t>(r)] = a(o + r, i);
    }
    const auto at = [](Index k) { return static_cast<std::size_t>(k); };

    // w = tau B v with the block's lower triangle, column by column.
    std::array<double, kLayers - 1> w{};
    for (Index j = 0; j < m; ++j) {
        const double t1 = tau * v[at(j)];
        double t2 = 0;
        w[at(j)] += a(o + j, o + j) * t1;
        for (Index r = j + 1; r < m; ++r) {
            w[at(r)] += a(o + r, o + j) * t1;
            t2 += a(o + r, o + j) * v[at(r)];
        }
        w[at(j)] += tau * t2;
    }
    double wv = w[0] * v[0];
    for (Index r = 1; r < m; ++r) {
        wv += w[at(r)] * v[at(r)];
    }
    const double shift = tau * -0.5 * wv;
    for (Index r = 0; r < m; ++r) {
        w[at(r)] += shift * v[at(r)];
    }
    // B -= v w^T + w v^T
    for (Index j = 0; j < m; ++j) {
        const double vj = -1.0 * v[at(j)];
        const double wj = -1.0 * w[at(j)];
        for (Index r = j; r < m; ++r) {
            a(o + r, o + j) += vj * w[at(r)] + wj * v[at(r)];
        }
    }
    a(o, i) = beta;
    return tau;
}

// One implicit symmetric QR step with Wilkinson's shift on rows start..end of the tridiagonal
// matrix (diagonal d, subdiagonal e), its rotations applied to the columns of q.
void QrStep(Vector4& d, std::array<double, kLayers - 1>& e, Index start, Index end, Matrix4& q) {
    const auto at = [](Index k) { return static_cast<std::size_t>(k); };
    const double td = (d[end - 1] - d[end]) * 0.5;
    const double en = e[at(end - 1)];
    double mu = d[end];
    if (td == 0) {
        mu -= std::fabs(en);
    } else if (en != 0) {
        const double en2 = en * en;
        const double h = Hypot(td, en);
        if (en2 == 0) {
            mu -= en / ((td + (td > 0 ? h : -h)) / en);
        } else {
            mu -= en2 / (td + (td > 0 ? h : -h));
        }
    }
    double x = d[start] - mu;
    double z = e[at(start)];
    for (Index k = start; k < end && z != 0; ++k) {
        const Rotation rot = MakeGivens(x, z);
        const double c = rot.Cosine;
        const double s = rot.Sine;
        const double sdk = s * d[k] + c * e[at(k)];
        const double dkp1 = s * e[at(k)] + c * d[k + 1];
        d[k] = c * (c * d[k] - s * e[at(k)]) - s * (c * e[at(k)] - s * d[k + 1]);
        d[k + 1] = s * sdk + c * dkp1;
        e[at(k)] = c * sdk - s * dkp1;
        if (k > start) {
            e[at(k - 1)] = c * e[at(k - 1)] - s * z;
        }
        x = e[at(k)];
        if (k < end - 1) {
            z = -s * e[at(k + 1)];
            e[at(k + 1)] = c * e[at(k + 1)];
        }
        // q = q G: the rotation is the identity when c is 1 and s 0, and is then skipped.
        if (!(c == 1 && s == 0)) {
            const double sq = -s;
            for (Index r = 0; r < kLayers; ++r) {
                const double qk = q(r, k);
                const double qk1 = q(r, k + 1);
                q(r, k) = c * qk + sq * qk1;
                q(r, k + 1) = -sq * qk + c * qk1;
            }
        }
    }
}

} // namespace

// Taken by reference: Eigen's fixed-size matrices are not to be passed by value.
SymmetricEigen4::SymmetricEigen4(const Matrix4& a) { // NOLINT(modernize-pass-by-value)
    const auto at = [](Index k) { return static_cast<std::size_t>(k); };
    // Coefficients in -1..1 against over- and underflow.
    Matrix4& q = Vectors;
    q = a.triangularView<Eigen::Lower>();
    double scale = q.cwiseAbs().maxCoeff();
    if (scale == 0) {
        scale = 1;
    }
    for (Index j = 0; j < kLayers; ++j) {
        for (Index i = j; i < kLayers; ++i) {
            q(i, j) /= scale;
        }
    }

    std::array<double, kLayers - 1> tau{};
    for (Index i = 0; i < kLayers - 1; ++i) {
        tau[at(i)] = Reflect(q, i);
    }
    Vector4& d = Values;
    std::array<double, kLayers - 1> e{};
    for (Index i = 0; i < kLayers; ++i) {
        d[i] = q(i, i);
    }
    for (Index i = 0; i < kLayers - 1; ++i) {
        e[at(i)] = q(i + 1, i);
    }

    // Q = H0 H1 H2 formed in place from the last reflector back, each applied from the left to the
    // trailing block of the identity it acts on; the stored vectors are read before their column
    // is cleared.
    for (Index i = 0; i < kLayers; ++i) {
        q(i, i) = 1;
        for (Index j = i + 1; j < kLayers; ++j) {
            q(i, j) = 0;
        }
    }
    q(3, 3) *= 1 - tau[2];
    q(3, 2) = 0;
    for (Index k = 1; k >= 0; --k) {
        const Index m = kLayers - 1 - k; // the block's size, from row and column k + 1
        const Index o = k + 1;
        const double t = tau[at(k)];
        if (t != 0) {
            std::array<double, kLayers - 1> tmp{};
            for (Index c = 0; c < m; ++c) {
                double sum = q(o + 1, k) * q(o + 1, o + c);
                for (Index r = 1; r + 1 < m; ++r) {
                    sum += q(o + 1 + r, k) * q(o + 1 + r, o + c);
                }
                tmp[at(c)] = sum + q(o, o + c);
            }
            for (Index c = 0; c < m; ++c) {
                q(o, o + c) -= t * tmp[at(c)];
            }
            for (Index c = 0; c < m; ++c) {
                for (Index r = 0; r + 1 < m; ++r) {
                    q(o + 1 + r, o + c) -= (t * q(o + 1 + r, k)) * tmp[at(c)];
                }
            }
        }
        for (Index r = o; r < kLayers; ++r) {
            q(r, k) = 0;
        }
    }

    // Implicit QR on the largest unreduced block at the bottom until every subdiagonal entry is
    // negligible beside its diagonal neighbours, at most 30 steps per row.
    constexpr int kMaxIterations = 30 * kLayers;
    const double considerAsZero = std::numeric_limits<double>::min();
    const double precisionInverse = 1 / std::numeric_limits<double>::epsilon();
    Index end = kLayers - 1;
    Index start = 0;
    int iterations = 0;
    while (end > 0) {
        for (Index i = start; i < end; ++i) {
            if (std::fabs(e[at(i)]) < considerAsZero) {
                e[at(i)] = 0;
            } else {
                const double scaled = precisionInverse * e[at(i)];
                if (scaled * scaled <= std::fabs(d[i]) + std::fabs(d[i + 1])) {
                    e[at(i)] = 0;
                }
            }
        }
        while (end > 0 && e[at(end - 1)] == 0) {
            --end;
        }
        if (end <= 0) {
            break;
        }
        ++iterations;
        if (iterations > kMaxIterations) {
            break;
        }
        start = end - 1;
        while (start > 0 && e[at(start - 1)] != 0) {
            --start;
        }
        QrStep(d, e, start, end, q);
    }
    Converged = iterations <= kMaxIterations;

    if (Converged) {
        // Selection sort, the first of equal values taken.
        for (Index i = 0; i < kLayers - 1; ++i) {
            Index k = i;
            for (Index j = i + 1; j < kLayers; ++j) {
                if (d[j] < d[k]) {
                    k = j;
                }
            }
            if (k > i) {
                std::swap(d[i], d[k]);
                q.col(i).swap(q.col(k));
            }
        }
    }
    d *= scale;
}

} // namespace engine
} // namespace dravo2
