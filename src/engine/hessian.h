#pragma once

#include "engine/layer_model.h"

#include <Eigen/Core>

#include <array>
#include <cstdint>
#include <optional>

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

    // The Zeeman terms for a new field strength (A/m) along the same angle; the other terms stay.
    // The same numbers as a new EnergyDerivatives of the model at that field.
    void SetField(double fieldH);

    bool Present(int layer) const { return IsPresent[static_cast<std::size_t>(layer)]; }
    bool AllPresent() const { return EveryLayerPresent; }

    // The whole angles -3, -2, .. 2 rad at which the relaxation samples the energy to set its
    // scale, and the energy with layer k at sample angle picks[k] (0 .. 5): Energy() of those
    // angles' sines and cosines, to the last bit.
    static constexpr std::size_t kSampleAngles = 6;
    using SamplePicks = std::array<std::uint32_t, kLayers>;
    double SampleEnergy(const SamplePicks& picks) const;

    // Tabulates the field-free terms of SampleEnergy for the present stack and axes, which then
    // adds up table entries and forms only the Zeeman terms. Call with the invalid, division-by-zero
    // and overflow flags down; where one is raised on the way nothing is kept and the flags are
    // down again, so that SampleEnergy forms its terms afresh and raises them where the relaxation
    // tests them.
    void TabulateSamples();

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
    // The field-free terms of SampleEnergy at each sample angle: a layer's anisotropy, a pair's
    // bilinear plus biquadratic coupling, the bias of layer 4.
    struct SampleTerms {
        std::array<std::array<double, kSampleAngles>, kLayers> Anisotropy;
        std::array<std::array<std::array<double, kSampleAngles>, kSampleAngles>, kLayers - 1> Coupling;
        std::array<double, kSampleAngles> Bias;
    };

    std::array<bool, kLayers> IsPresent{};
    bool EveryLayerPresent = false;
    std::array<Real, kLayers> MomentThickness{}; // M t of a present layer, T m
    double FieldCos = 1;
    double FieldSin = 0;
    Vector4 ZeemanX = Vector4::Zero();    // M t Hx
    Vector4 ZeemanY = Vector4::Zero();    // M t Hy
    Vector4 Anisotropy = Vector4::Zero(); // K t with the uniaxial or quartic form, else 0
    Vector4 CosAlpha = Vector4::Zero();
    Vector4 SinAlpha = Vector4::Zero();
    Vector4 Bilinear = Vector4::Zero();    // J of a pair whose layers are both present, else 0
    Vector4 Biquadratic = Vector4::Zero(); // Jbq likewise
    double Bias = 0;                       // on layer 4 when present
    AnisotropyForm Form = AnisotropyForm::None;
    std::optional<SampleTerms> Samples;
};

// Newton's energy for the successive steps of a sweep: while the stack and the field's angle stay
// as they were at the last step, only the Zeeman terms follow the field and the sample terms are
// tabulated once; any change of them prepares everything afresh. The energy is the same, to the
// last bit and with the same floating-point flags raised, as a new EnergyDerivatives of the model.
class EnergyCache {
public:
    // The energy of `model` at its field. Called with the invalid, division-by-zero and overflow
    // flags down (as a step's relaxation begins); a preparation that raises one of them is kept for
    // no further step, so that each step raises it again.
    const EnergyDerivatives& At(const LayerModel& model);

private:
    std::optional<EnergyDerivatives> Energy;
    LayerStack Stack;
    double FieldAngle = 0;
    bool Reusable = false;
};

} // namespace engine
} // namespace dravo2
