#pragma once

#include "engine/layer_model.h"

#include <Eigen/Core>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace dravo2 {
inline namespace engine {

using Vector4 = Eigen::Vector4d;
using Matrix4 = Eigen::Matrix4d;

// CheckFloatingPoint for a value formed in double arithmetic alone since the last full test. On
// x86-64 double arithmetic raises its flags in the SSE control register only, which is read far
// faster than the whole floating-point state; the full test (and its message) follows only when
// a flag is up there.
template <typename T> inline void CheckDoubleArithmetic(const T& value) {
#if defined(__x86_64__)
    asm volatile("" : : "m"(value));
    if (_mm_getcsr() & (_MM_EXCEPT_INVALID | _MM_EXCEPT_DIV_ZERO | _MM_EXCEPT_OVERFLOW)) {
        CheckFloatingPoint(value);
    }
#else
    CheckFloatingPoint(value);
#endif
}

// The energy of a LayerModel with its gradient and 4x4 Hessian in the four angles, prepared once
// per relaxation for Newton's method, summed from the terms of engine/energy_terms.h. Everything here is in double
// precision: Newton's tolerances (gradients down to about 1e-12 of the energy scale, angles to well below 1e-5 rad) lie
// far above double rounding, and double runs several times faster than the extended type.
//
// An absent layer (t = 0) takes no part: its energy terms, its gradient component and its row and
// column of the Hessian are all zero, and so is any coupling to it and the bias when layer 4 is
// absent.
class EnergyDerivatives {
public:
    explicit EnergyDerivatives(const LayerModel& model);

    bool Present(int layer) const { return IsPresent[static_cast<std::size_t>(layer)]; }

    // Energy per unit area (J/m^2) from the sines and cosines of the four angles.
    double Energy(const Vector4& sines, const Vector4& cosines) const;
    double Energy(const Vector4& angles) const;

    // grad = dE/dangle (J/m^2 per rad), hess = d2E/dangle2 (J/m^2 per rad^2), from the angles or
    // from their sines and cosines.
    void GradientAndHessian(const Vector4& angles, Vector4& grad, Matrix4& hess) const;
    void GradientAndHessian(const Vector4& sines, const Vector4& cosines, Vector4& grad, Matrix4& hess) const;

    // E(angles + step) - E(angles), each term's change formed from half-angle identities
    // (cos(x + h) - cos x = -2 sin(h/2) sin(x + h/2)), so that it keeps its relative precision
    // however small the step; a difference of two energies would lose it all near a minimum. The
    // second form takes the angles' sines and cosines.
    double EnergyChange(const Vector4& angles, const Vector4& step) const;
    double EnergyChange(const Vector4& sines, const Vector4& cosines, const Vector4& step) const;

private:
    std::array<bool, kLayers> IsPresent{};
    Vector4 ZeemanX = Vector4::Zero();    // M t Hx
    Vector4 ZeemanY = Vector4::Zero();    // M t Hy
    Vector4 Anisotropy = Vector4::Zero(); // K t with the uniaxial or quartic form, else 0
    Vector4 CosAlpha = Vector4::Zero();
    Vector4 SinAlpha = Vector4::Zero();
    Vector4 Bilinear = Vector4::Zero();    // J of a pair whose layers are both present, else 0
    Vector4 Biquadratic = Vector4::Zero(); // Jbq likewise
    double Bias = 0;                       // on layer 4 when present
    AnisotropyForm Form = AnisotropyForm::None;
};

} // namespace engine
} // namespace dravo2
