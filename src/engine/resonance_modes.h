#pragma once

#include "engine/layer_model.h"
#include "engine/physical_constants.h"

#include <Eigen/Core>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace dravo2 {
inline namespace engine {

// Vacuum permeability, T m/A.
inline constexpr double kVacuumPermeability = 4e-7 * 3.14159265358979323846;

// The resonance frequencies of one step (Hz), ascending; a mode that does not exist (fewer
// present layers, or a step that is not a stable minimum) is a quiet NaN at the end.
using ModeRow = std::array<double, kLayers>;

// The number of modes a row holds (its entries that are not NaN).
int ModeCount(const ModeRow& modes);

// Both angles of every layer: the polar angle of layer k from the film normal at index k, its
// azimuth in the plane (the in-plane angle of the sweep) at index kLayers + k.
using SpatialAngles = Eigen::Matrix<double, 2 * kLayers, 1>;
using SpatialHessian = Eigen::Matrix<double, 2 * kLayers, 2 * kLayers>;

// The angles of the in-plane state `theta`: every polar angle at 90 degrees.
SpatialAngles InPlaneAngles(const AngleSet& theta);

// The energy of a LayerModel per unit area (J/m^2) with each layer's direction free in three
// dimensions, m = (sin p cos a, sin p sin a, cos p). In the plane (p = 90 degrees) it is the
// model's energy: Zeeman -M t H.m, uniaxial -K t (m.u)^2 or fourfold -K t (m.u)^2 (m.v)^2 with u
// along the layer's axis and v across it in the plane, bilinear -J m_i.m_j and biquadratic
// -Jbq (m_i.m_j)^2 between present neighbours, the bias -Bias m.x on layer 4; out of the plane the
// shape anisotropy t M^2 / (2 mu0) (m.z)^2 adds. Absent layers (t = 0) take no part: their rows
// and columns of the derivatives are zero.
class SpatialEnergy {
public:
    explicit SpatialEnergy(const LayerModel& model);

    bool Present(int layer) const { return IsPresent[static_cast<std::size_t>(layer)]; }

    // The layer's moment per unit area M t / mu0 (A).
    double Moment(int layer) const { return Moments[static_cast<std::size_t>(layer)]; }

    // Energy per unit area (J/m^2), in extended precision so that finite differences of it stay
    // precise.
    Real Energy(const SpatialAngles& angles) const;

    // grad = dE/dangle (J/m^2 per rad), hess = d2E/dangle2 (J/m^2 per rad^2) from the terms of
    // engine/energy_terms.h: the layer's terms are the in-plane ones times sin p, sin^2 p or
    // sin^4 p, the couplings functions of m_i.m_j.
    void GradientAndHessian(const SpatialAngles& angles, SpatialAngles& grad, SpatialHessian& hess) const;

private:
    std::array<bool, kLayers> IsPresent{};
    std::array<double, kLayers> Moments{};
    std::array<double, kLayers> ZeemanX{};    // M t Hx, and the bias on layer 4
    std::array<double, kLayers> ZeemanY{};    // M t Hy
    std::array<double, kLayers> Anisotropy{}; // K t of the chosen form, else 0
    std::array<double, kLayers> CosAlpha{};
    std::array<double, kLayers> SinAlpha{};
    std::array<double, kLayers> Shape{};       // t M^2 / (2 mu0)
    std::array<double, kLayers> Bilinear{};    // J of a pair of present layers, else 0
    std::array<double, kLayers> Biquadratic{}; // Jbq likewise
    AnisotropyForm Form = AnisotropyForm::None;
};

// The resonance modes around a state from its Hessian: the Landau-Lifshitz equations
// dp_i/dt = -(gamma / mu_i) dE/da_i, da_i/dt = (gamma / mu_i) dE/dp_i, linearised for the present
// layers (`present`), give the 2N x 2N matrix gamma mu^-1 [0 -1; 1 0] H whose eigenvalues are
// +-i w; f = w / (2 pi), ascending. `moments` are the layers' mu_i = M_i t_i / mu0 (A), `gamma`
// in rad/(s T). No modes unless the Hessian of the present layers is positive definite (a stable
// minimum) and every present layer has a positive moment.
ModeRow ModesOfHessian(const SpatialHessian& hessian, const std::array<bool, kLayers>& present,
                       const std::array<double, kLayers>& moments, double gamma);

// The resonance modes of the stack in its field around the in-plane state `theta` (the relaxed
// angles of a step). The floating-point flags are left as they were.
ModeRow ResonanceModes(const LayerModel& model, const AngleSet& theta, double gamma = kGyromagneticRatio);

// A field at which a mode crosses a given frequency.
struct ResonanceField {
    std::int32_t Branch = 0; // the sweep branch, from 1
    int Mode = 0;            // 1 for the lowest mode
    double H = 0;            // A/m
};

// The fields where mode k (the k-th lowest) passes `frequency` (Hz) between two neighbouring rows
// that both have that mode, interpolated linearly in the field; the step between two rows belongs
// to the branch of the later one (a turning row ends its branch, and the next step starts the
// next). Ordered by branch, mode and then along the branch. `fields`, `modes` and `branchOfRow`
// hold one entry per row.
std::vector<ResonanceField> ResonanceFields(std::span<const double> fields, std::span<const ModeRow> modes,
                                            std::span<const std::int32_t> branchOfRow, double frequency);

} // namespace engine
} // namespace dravo2
