#pragma once

#include "engine/hessian.h"
#include "engine/relaxation.h"

#include <cstdint>
#include <optional>

namespace dravo2 {
inline namespace engine {

inline constexpr double kNewtonStepCap = 0.05;    // rad: the largest move of any angle in one iteration
inline constexpr double kFlowStep = 0.05;         // rad: the longest step along the flow (all angles together)
inline constexpr double kSaddleEscapeStep = 0.02; // rad: the step off a stationary point that is no minimum
inline constexpr double kArmijoFraction = 1e-4;   // of the predicted decrease that a step must achieve

// Newton's method on the angles of the present layers, in double precision, from `theta` to the
// nearest energy minimum, until |grad| x scale is no longer above conv (the descent's test) at a
// point whose Hessian has no clearly negative eigenvalue, or until n + 1 iterations are spent
// (none when n < 0; with n = 0 one iteration, as Newton has no step factor to divide by n). Each
// iteration takes one of:
//  - Newton's step, where the Hessian is positive definite and the step moves no angle more than
//    kNewtonStepCap: the path has settled into a basin and converges quadratically;
//  - elsewhere (a vanished minimum, a bend, a barrier ahead) a step along the gradient flow of the
//    quadratic model, at most kFlowStep long and shortened until the model's energy change agrees
//    with the energy's, so that the path follows the descent's into the same basin among several
//    nearby ones (the plain gradient direction when no such step is found);
//  then halving until the energy falls by kArmijoFraction of the predicted decrease (when fifty
//  halvings do not achieve that, rounding has stopped all progress and the relaxation ends there);
//  - at a stationary point that is not a minimum, a step of kSaddleEscapeStep along the direction
//    of most negative curvature, to the side where the energy falls more.
// Layers 1 and 2 are wrapped back by 2 pi once per iteration when they leave -2 pi .. 2 pi, as the
// descent wraps them. `theta` follows every iteration, so a floating-point error leaves it where
// the last complete iteration put it; an angle that does not move keeps its extended value.
// `grad` receives the last gradient evaluated. Returns the number of iterations.
std::int32_t RelaxNewton(const EnergyDerivatives& energy, AngleSet& theta, std::int32_t n, double scale, double conv,
                         AngleSet& grad);

// One relaxation of a sweep step by Newton's method: the same noise kick and the same forty draws
// of the energy-scale stage as RelaxStep (the energies in double precision), so that the generator
// stays in step with the descent's, then RelaxNewton with the iteration budget and threshold of
// `settings`. Returns the iteration count.
std::int32_t RelaxStepNewton(const LayerModel& model, AngleSet& theta, const SolverSettings& settings,
                             RandomGenerator& random, AngleSet& grad);

// RelaxStepNewton after its kick (KickAngles), on the model's prepared energy, for a caller that
// keeps the energy for its observables: `sines` and `cosines`, when given, receive those of the
// final angles in double.
std::int32_t RelaxKickedNewton(const EnergyDerivatives& energy, AngleSet& theta, const SolverSettings& settings,
                               RandomGenerator& random, AngleSet& grad, Vector4* sines, Vector4* cosines);

// RelaxKickedNewton for a caller that tests the floating-point flags once after its whole step and
// takes the step again with RelaxKickedNewton when one is up: the flags of the extended arithmetic
// (the kick, the angles' conversion to double) are left to that test, and the relaxation gives up
// at the first flag of its double arithmetic. The same numbers as RelaxKickedNewton where no flag
// is raised; none (theta, grad and the generator then in a state the caller discards) where the
// relaxation gave up.
std::optional<std::int32_t> RelaxKickedNewtonUntested(const EnergyDerivatives& energy, AngleSet& theta,
                                                      const SolverSettings& settings, RandomGenerator& random,
                                                      AngleSet& grad, Vector4& sines, Vector4& cosines);

// The Cholesky factorisation A = L L^T of a symmetric 4x4 matrix (its lower triangle read) and the
// solution of A x = b with it: Eigen's LLT operation for operation, so that Newton's path is the
// same to the last bit, without the dynamic-size blocks and the norm for a condition estimate
// that make LLT several times slower at this size.
class Cholesky4 {
public:
    explicit Cholesky4(const Matrix4& a);

    // False where a pivot is not above 0 (the matrix is not positive definite).
    bool Success() const { return Factored; }
    const Matrix4& Factor() const { return L; }
    Vector4 Solve(const Vector4& b) const;

private:
    Matrix4 L;
    bool Factored = true;
};

// The eigen-decomposition of a symmetric 4x4 matrix (its lower triangle read): Eigen's
// SelfAdjointEigenSolver operation for operation (scaling by the largest coefficient, Householder
// tridiagonalisation, implicit symmetric QR with Wilkinson shifts, sorting, scaling back), so that
// the eigenvalues, the eigenvectors and the convergence verdict are its own to the last bit,
// without the general code on dynamic-size blocks that makes it slow at this size.
class SymmetricEigen4 {
public:
    explicit SymmetricEigen4(const Matrix4& a);

    // False where the QR iteration did not converge within its limit (a NaN or infinite entry);
    // the eigenvalues are then unsorted.
    bool Success() const { return Converged; }
    // Ascending.
    const Vector4& Eigenvalues() const { return Values; }
    // Column k belongs to eigenvalue k, of unit length.
    const Matrix4& Eigenvectors() const { return Vectors; }

private:
    Vector4 Values;
    Matrix4 Vectors;
    bool Converged = true;
};

} // namespace engine
} // namespace dravo2
