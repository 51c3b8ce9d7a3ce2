#pragma once

#include "engine/hessian.h"
#include "engine/layer_model.h"
#include "engine/physical_constants.h"

#include <cmath>
#include <cstddef>

namespace dravo2 {
inline namespace engine {

// The floating-point tests of a step's observables: each value tested as soon as it is complete
// (TestedStep), or none, for a caller that tests the flags once after the whole step and takes it
// again with the tests when one is up (UntestedStep). Store rounds an extended value to the
// double a cell holds.
struct TestedStep {
    template <typename T> static void Check(const T& value) { CheckFloatingPoint(value); }
    static double Store(Real value) { return StoreDouble(value); }
};

struct UntestedStep {
    template <typename T> static void Check(const T& /*value*/) {}
    static double Store(Real value) { return static_cast<double>(value); }
};

// The arithmetic of the cosines that the magnetoresistance and the resonance take of the relaxed
// angles: double after Newton's relaxation, whose angles and energies are doubles, extended after
// the descent's.
enum class CosinePrecision { Double, Extended };

inline Real ObservableCosine(Real x, CosinePrecision precision) {
    return precision == CosinePrecision::Double ? static_cast<Real>(std::cos(static_cast<double>(x))) : std::cos(x);
}

// The projection (T) of the relaxed angles `theta`: the thickness-weighted mean of M_i cos(theta_i)
// (sin with alongY) over the layers with M and t above 0.
template <typename Flags = TestedStep> double Projection(const LayerModel& model, const AngleSet& theta, bool alongY) {
    const double projection = model.MagnetisationProjection(theta, alongY);
    Flags::Check(projection);
    return projection;
}

// The same from the cosines (or, for the projection on y, the sines) of the angles in double, as
// Newton's relaxation leaves them.
template <typename Flags = TestedStep> double Projection(const LayerModel& model, const Vector4& directions) {
    const double projection = model.MagnetisationProjection(directions);
    Flags::Check(projection);
    return projection;
}

// The energy per unit area (J/m^2) of the relaxed angles, in extended precision.
template <typename Flags = TestedStep> Real Energy(const LayerModel& model, const AngleSet& theta) {
    const Real energy = model.Energy(theta);
    Flags::Check(energy);
    return energy;
}

// The same in double from the sines and cosines of the angles that Newton's relaxation leaves.
template <typename Flags = TestedStep>
Real Energy(const EnergyDerivatives& energy, const Vector4& sines, const Vector4& cosines) {
    const Real value = energy.Energy(sines, cosines);
    Flags::Check(value);
    return value;
}

// The recorded angle (rad) of layer `layer` + 1, rounded to double.
template <typename Flags = TestedStep> double LayerAngle(const AngleSet& theta, std::size_t layer) {
    return Flags::Store(theta[layer]);
}

// The magnetoresistance (1 - cos(theta_1 - theta_2)) deltaR / 2: 0 for parallel layers 1 and 2,
// deltaR (the amplitude, in %) for antiparallel ones.
template <typename Flags = TestedStep>
double Magnetoresistance(const AngleSet& theta, Real deltaR, CosinePrecision cosine) {
    return Flags::Store((1 - ObservableCosine(theta[0] - theta[1], cosine)) * deltaR / 2);
}

// The ferromagnetic-resonance frequency (Hz) of layer 1 on its own, with the field H taken along x
// and the layer's anisotropy in the uniaxial form (M, K, alpha and t layer 1's), M in T turned into
// A/m by 1/mu0 rounded:
// f = gamma / (2 pi) sqrt(b c) / (M / mu0), where
//     b = M H cos(theta_1) + 2 K cos(2 (theta_1 - alpha_1)) + J_1 cos(theta_1 - theta_2) / t_1,
//     c = M H cos(theta_1) + 2 K cos^2(theta_1 - alpha_1) + M^2 / mu0;
// -1 where b c is negative (no real frequency). Where layer 1 is absent (t_1 = 0) the division by
// t_1 is a floating-point error.
template <typename Flags = TestedStep>
double LayerOneResonanceFrequency(const LayerModel& model, const AngleSet& theta, CosinePrecision cosine) {
    const LayerStack& s = model.Stack;
    const auto cosineOf = [cosine](Real x) { return ObservableCosine(x, cosine); };
    const Real h = model.FieldH;
    const Real a = cosineOf(theta[0]) * s.M[0] * h;
    const Real b =
        a + 2 * s.K[0] * cosineOf(2 * (theta[0] - s.Alpha[0])) + s.J[0] * cosineOf(theta[0] - theta[1]) / s.t[0];
    Flags::Check(b);
    const Real axisCos = cosineOf(theta[0] - s.Alpha[0]);
    const Real m2 = s.M[0] * s.M[0];
    const Real c = a + (2 * s.K[0]) * (axisCos * axisCos) + kInverseMu0Rounded * m2;
    Flags::Check(c);
    const double radicand = Flags::Store(b * c / (m2 * kInverseMu0Rounded * kInverseMu0Rounded));
    return radicand >= 0 ? Flags::Store(std::sqrt(static_cast<Real>(radicand)) * kGyromagneticRatio / (2 * kPi)) : -1.0;
}

} // namespace engine
} // namespace dravo2
