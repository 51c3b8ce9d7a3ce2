#pragma once

#include "data/floating_point.h"

#include <Eigen/Core>

#include <array>
#include <cstdint>

namespace dravo2 {
inline namespace engine {

inline constexpr int kLayers = 4;

// Four in-plane angles in radians, counterclockwise from +x; element k - 1 belongs to layer k.
using AngleSet = std::array<Real, kLayers>;

// The form of every layer's in-plane anisotropy: none, uniaxial cos^2, or quartic cos^2 sin^2.
enum class AnisotropyForm { None, Uniaxial, Quartic };

// The stack of up to four layers, top to bottom; element k - 1 belongs to layer k. A layer is
// present exactly when its thickness is above 0. J[k] and Jbq[k] couple layers k and k + 1.
struct LayerStack {
    std::array<Real, kLayers> M{};     // magnetisation, T
    std::array<Real, kLayers> t{};     // thickness, m
    std::array<Real, kLayers> K{};     // anisotropy constant, J/m^3
    std::array<Real, kLayers> Alpha{}; // anisotropy axis, rad
    std::array<Real, kLayers> J{};     // bilinear coupling to the next layer, J/m^2
    std::array<Real, kLayers> Jbq{};   // biquadratic coupling to the next layer, J/m^2
    double Bias = 0;                   // unidirectional anisotropy of layer 4, J/m^2
    AnisotropyForm Anisotropy = AnisotropyForm::None;

    bool Present(int layer) const { return t[static_cast<std::size_t>(layer)] > 0; }
};

// The magnetisations (T) and thicknesses (m) of a stack's layers rounded to double, as the
// saturation projection and the saturated moment of a stack take them.
struct LayerValues {
    std::array<double, kLayers> M{};
    std::array<double, kLayers> t{};
};
LayerValues LayersOf(const LayerStack& stack);

// The field's in-plane components (A/m), each rounded to double.
struct FieldComponents {
    double Hx = 0;
    double Hy = 0;
};

// The stack in its applied field.
class LayerModel {
public:
    LayerStack Stack;
    double FieldH = 0;     // A/m, signed
    double FieldAngle = 0; // rad

    // H cos(angle) and H sin(angle), formed in extended precision and rounded to double.
    FieldComponents Field() const;

    // Energy per unit area (J/m^2): Zeeman, anisotropy, bilinear and biquadratic coupling of
    // present neighbours, bias on layer 4 (the terms of engine/energy_terms.h). Each term is formed in extended
    // precision and the running sum is rounded to double after every term, layer by layer.
    Real Energy(const AngleSet& angles) const;

    // grad[k] = dEnergy/dangle k (J/m^2 per rad): the terms' first derivatives in extended
    // precision, each from a sine and cosine of its own argument; 0 for an absent layer. The
    // reference for the descent's kernel.
    void EnergyGradient(const AngleSet& angles, AngleSet& grad) const;

    // Thickness-weighted mean magnetisation (T) of the layers with M > 0 and t > 0, projected on
    // x (cosines) or, with alongY, on y (sines); 0 when no layer qualifies.
    double MagnetisationProjection(const AngleSet& angles, bool alongY) const;

    // The same from the layers' cosines (projection on x) or sines (on y), given in double.
    double MagnetisationProjection(const Eigen::Vector4d& directions) const;
};

} // namespace engine
} // namespace dravo2
