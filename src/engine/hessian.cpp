#include "engine/hessian.h"

#include "engine/energy_terms.h"

#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>

namespace dravo2 {
inline namespace engine {

EnergyDerivatives::EnergyDerivatives(const LayerModel& model) : Form(model.Stack.Anisotropy) {
    const LayerStack& s = model.Stack;
    // The field's direction and the axes' cosines and sines in double, as everything here.
    sincos(model.FieldAngle, &FieldSin, &FieldCos);
    for (std::size_t i = 0; i < kLayers; ++i) {
        IsPresent[i] = s.t[i] > 0;
    }
    EveryLayerPresent = IsPresent[0] && IsPresent[1] && IsPresent[2] && IsPresent[3];
    for (std::size_t i = 0; i < kLayers; ++i) {
        if (!IsPresent[i]) {
            continue;
        }
        const auto k = static_cast<Eigen::Index>(i);
        MomentThickness[i] = s.M[i] * s.t[i];
        if (Form != AnisotropyForm::None) {
            Anisotropy[k] = static_cast<double>(s.K[i] * s.t[i]);
        }
        sincos(static_cast<double>(s.Alpha[i]), &SinAlpha[k], &CosAlpha[k]);
        if (i + 1 < kLayers && IsPresent[i] && s.t[i + 1] > 0) {
            Bilinear[k] = static_cast<double>(s.J[i]);
            Biquadratic[k] = static_cast<double>(s.Jbq[i]);
        }
    }
    Bias = IsPresent[kLayers - 1] ? s.Bias : 0;
    SetField(model.FieldH);
}

void EnergyDerivatives::SetField(double fieldH) {
    const FieldComponents field{fieldH * FieldCos, fieldH * FieldSin};
    for (std::size_t i = 0; i < kLayers; ++i) {
        if (IsPresent[i]) {
            const auto k = static_cast<Eigen::Index>(i);
            ZeemanX[k] = static_cast<double>(MomentThickness[i] * field.Hx);
            ZeemanY[k] = static_cast<double>(MomentThickness[i] * field.Hy);
        }
    }
}

namespace {

// The Zeeman term here carries the moment in its field (M t H), so its strength is 1.
constexpr double kMomentInField = 1;

void SinesAndCosines(const Vector4& angles, Vector4& sn, Vector4& cs) {
    for (Eigen::Index i = 0; i < kLayers; ++i) {
        sincos(angles[i], &sn[i], &cs[i]);
    }
}

// Sines and cosines of the sample angles -3 .. 2 rad.
struct SampleTrig {
    std::array<double, EnergyDerivatives::kSampleAngles> Sin{};
    std::array<double, EnergyDerivatives::kSampleAngles> Cos{};
};

const SampleTrig& SampleAngles() {
    static const SampleTrig table = [] {
        SampleTrig t;
        for (std::size_t k = 0; k < EnergyDerivatives::kSampleAngles; ++k) {
            t.Sin[k] = std::sin(static_cast<double>(k) - 3);
            t.Cos[k] = std::cos(static_cast<double>(k) - 3);
        }
        return t;
    }();
    return table;
}

} // namespace

double EnergyDerivatives::Energy(const Vector4& sn, const Vector4& cs) const {
    double e = 0;
    for (Eigen::Index i = 0; i < kLayers; ++i) {
        e += ZeemanEnergy::Value<double>(kMomentInField, ZeemanX[i], ZeemanY[i], sn[i], cs[i]);
        if (Form != AnisotropyForm::None) {
            // x = angle - Alpha
            const auto [sx, cx] = AngleDifference(sn[i], cs[i], SinAlpha[i], CosAlpha[i]);
            e += Form == AnisotropyForm::Uniaxial ? UniaxialAnisotropy::Value<double>(Anisotropy[i], sx, cx)
                                                  : FourfoldAnisotropy::Value<double>(Anisotropy[i], sx, cx);
        }
    }
    for (Eigen::Index i = 0; i + 1 < kLayers; ++i) {
        const double cd = AngleDifference(sn[i], cs[i], sn[i + 1], cs[i + 1]).Cos;
        e += BilinearCoupling::ValueOfCosine<double>(Bilinear[i], cd) +
             BiquadraticCoupling::ValueOfCosine<double>(Biquadratic[i], cd);
    }
    return e + ExchangeBias::ValueOfCosine<double>(Bias, cs[kLayers - 1]);
}

double EnergyDerivatives::Energy(const Vector4& a) const {
    Vector4 sn;
    Vector4 cs;
    SinesAndCosines(a, sn, cs);
    return Energy(sn, cs);
}

double EnergyDerivatives::SampleEnergy(const SamplePicks& picks) const {
    const SampleTrig& samples = SampleAngles();
    if (!Samples) {
        Vector4 sn;
        Vector4 cs;
        for (Eigen::Index k = 0; k < kLayers; ++k) {
            sn[k] = samples.Sin[picks[static_cast<std::size_t>(k)]];
            cs[k] = samples.Cos[picks[static_cast<std::size_t>(k)]];
        }
        return Energy(sn, cs);
    }
    // Energy()'s sum in Energy()'s order, its field-free terms taken from the table.
    double e = 0;
    for (std::size_t i = 0; i < kLayers; ++i) {
        const auto k = static_cast<Eigen::Index>(i);
        const std::uint32_t r = picks[i];
        e += ZeemanEnergy::Value<double>(kMomentInField, ZeemanX[k], ZeemanY[k], samples.Sin[r], samples.Cos[r]);
        if (Form != AnisotropyForm::None) {
            e += Samples->Anisotropy[i][r];
        }
    }
    for (std::size_t i = 0; i + 1 < kLayers; ++i) {
        e += Samples->Coupling[i][picks[i]][picks[i + 1]];
    }
    return e + Samples->Bias[picks[kLayers - 1]];
}

void EnergyDerivatives::TabulateSamples() {
    const SampleTrig& samples = SampleAngles();
    SampleTerms terms{};
    for (std::size_t i = 0; i < kLayers; ++i) {
        const auto k = static_cast<Eigen::Index>(i);
        for (std::size_t r = 0; r < kSampleAngles; ++r) {
            const auto [sx, cx] = AngleDifference(samples.Sin[r], samples.Cos[r], SinAlpha[k], CosAlpha[k]);
            terms.Anisotropy[i][r] = Form == AnisotropyForm::Uniaxial
                                         ? UniaxialAnisotropy::Value<double>(Anisotropy[k], sx, cx)
                                         : FourfoldAnisotropy::Value<double>(Anisotropy[k], sx, cx);
        }
    }
    for (std::size_t i = 0; i + 1 < kLayers; ++i) {
        const auto k = static_cast<Eigen::Index>(i);
        for (std::size_t r = 0; r < kSampleAngles; ++r) {
            for (std::size_t q = 0; q < kSampleAngles; ++q) {
                const double cd = AngleDifference(samples.Sin[r], samples.Cos[r], samples.Sin[q], samples.Cos[q]).Cos;
                terms.Coupling[i][r][q] = BilinearCoupling::ValueOfCosine<double>(Bilinear[k], cd) +
                                          BiquadraticCoupling::ValueOfCosine<double>(Biquadratic[k], cd);
            }
        }
    }
    for (std::size_t r = 0; r < kSampleAngles; ++r) {
        terms.Bias[r] = ExchangeBias::ValueOfCosine<double>(Bias, samples.Cos[r]);
    }
    if (std::fetestexcept(kTrappedFlags) != 0) {
        std::feclearexcept(kTrappedFlags);
        return;
    }
    Samples = terms;
}

void EnergyDerivatives::GradientAndHessian(const Vector4& a, Vector4& grad, Matrix4& hess) const {
    Vector4 sn;
    Vector4 cs;
    SinesAndCosines(a, sn, cs);
    GradientAndHessian(sn, cs, grad, hess);
}

void EnergyDerivatives::GradientAndHessian(const Vector4& sn, const Vector4& cs, Vector4& grad, Matrix4& hess) const {
    hess.setZero();
    for (Eigen::Index i = 0; i < kLayers; ++i) {
        double g = ZeemanEnergy::First<double>(kMomentInField, ZeemanX[i], ZeemanY[i], sn[i], cs[i]);
        double h = ZeemanEnergy::Second<double>(kMomentInField, ZeemanX[i], ZeemanY[i], sn[i], cs[i]);
        if (Form != AnisotropyForm::None) {
            const auto [sx, cx] = AngleDifference(sn[i], cs[i], SinAlpha[i], CosAlpha[i]);
            // Per unit K t, then scaled by it: K t (sin 2x cos 2x) of the fourfold form keeps the
            // rounding Newton's path was established with (the strength inside would round K t sin 2x
            // first); for the uniaxial form both orders round alike.
            if (Form == AnisotropyForm::Uniaxial) {
                g += Anisotropy[i] * UniaxialAnisotropy::First<double>(1, sx, cx);
                h += Anisotropy[i] * UniaxialAnisotropy::Second<double>(1, sx, cx);
            } else {
                g += Anisotropy[i] * FourfoldAnisotropy::First<double>(1, sx, cx);
                h += Anisotropy[i] * FourfoldAnisotropy::Second<double>(1, sx, cx);
            }
        }
        grad[i] = g;
        hess(i, i) = h;
    }
    for (Eigen::Index i = 0; i + 1 < kLayers; ++i) {
        // d = a[i] - a[i+1]: the pair's torque enters the two angles with opposite signs.
        const auto [sd, cd] = AngleDifference(sn[i], cs[i], sn[i + 1], cs[i + 1]);
        const double torque = BilinearCoupling::First<double>(Bilinear[i], sd, cd) +
                              BiquadraticCoupling::First<double>(Biquadratic[i], sd, cd);
        const double curvature = BilinearCoupling::Second<double>(Bilinear[i], sd, cd) +
                                 BiquadraticCoupling::Second<double>(Biquadratic[i], sd, cd);
        grad[i] += torque;
        grad[i + 1] -= torque;
        hess(i, i) += curvature;
        hess(i + 1, i + 1) += curvature;
        hess(i, i + 1) = -curvature;
        hess(i + 1, i) = -curvature;
    }
    grad[kLayers - 1] += ExchangeBias::First<double>(Bias, sn[kLayers - 1], cs[kLayers - 1]);
    hess(kLayers - 1, kLayers - 1) += ExchangeBias::Second<double>(Bias, sn[kLayers - 1], cs[kLayers - 1]);
}

double EnergyDerivatives::EnergyChange(const Vector4& a, const Vector4& step) const {
    Vector4 sn;
    Vector4 cs;
    SinesAndCosines(a, sn, cs);
    return EnergyChange(sn, cs, step);
}

double EnergyDerivatives::EnergyChange(const Vector4& sn, const Vector4& cs, const Vector4& step) const {
    // Per layer: half the step and the midpoint m = a + step / 2.
    Vector4 sh;
    Vector4 ch;
    Vector4 sm;
    Vector4 cm;
    double change = 0;
    for (Eigen::Index i = 0; i < kLayers; ++i) {
        // An absent layer's step is 0, whose sine and cosine need no call (sin(+-0) = +-0).
        const double half = 0.5 * step[i];
        if (half == 0) {
            sh[i] = half;
            ch[i] = 1;
        } else {
            sincos(half, &sh[i], &ch[i]);
        }
        const SineCosine<double> mid = AngleSum(sn[i], cs[i], sh[i], ch[i]);
        sm[i] = mid.Sin;
        cm[i] = mid.Cos;
        change += ZeemanEnergy::Change<double>(kMomentInField, ZeemanX[i], ZeemanY[i], sh[i], sm[i], cm[i]);
        if (Form != AnisotropyForm::None) {
            // The anisotropy's argument x = angle - Alpha at the midpoint; its half step is the layer's.
            const auto [sx, cx] = AngleDifference(sm[i], cm[i], SinAlpha[i], CosAlpha[i]);
            change += Form == AnisotropyForm::Uniaxial
                          ? UniaxialAnisotropy::Change<double>(Anisotropy[i], sh[i], ch[i], sx, cx)
                          : FourfoldAnisotropy::Change<double>(Anisotropy[i], sh[i], ch[i], sx, cx);
        }
    }
    for (Eigen::Index i = 0; i + 1 < kLayers; ++i) {
        // With d = a[i] - a[i+1] and its change D: sin and cos of D/2 and of d + D/2.
        const auto [sHalf, cHalf] = AngleDifference(sh[i], ch[i], sh[i + 1], ch[i + 1]);
        const auto [sMid, cMid] = AngleDifference(sm[i], cm[i], sm[i + 1], cm[i + 1]);
        change += BilinearCoupling::Change<double>(Bilinear[i], sHalf, cHalf, sMid, cMid) +
                  BiquadraticCoupling::Change<double>(Biquadratic[i], sHalf, cHalf, sMid, cMid);
    }
    return change +
           ExchangeBias::Change<double>(Bias, sh[kLayers - 1], ch[kLayers - 1], sm[kLayers - 1], cm[kLayers - 1]);
}

namespace {

// The bytes that hold a Real's value (the 80-bit extended type leaves the rest of its storage
// unused and unset).
constexpr std::size_t kRealValueBytes = std::numeric_limits<Real>::digits == 64 ? 10 : sizeof(Real);

// The same bits: numbers that give the same terms to the last bit. Compared as bytes, which is
// several times faster than comparing extended values, and tells 0 from -0 as the terms do.
bool SameNumber(const Real& a, const Real& b) {
    return std::memcmp(&a, &b, kRealValueBytes) == 0;
}

bool SameNumber(double a, double b) {
    return a == b && std::signbit(a) == std::signbit(b);
}

bool SameStack(const LayerStack& a, const LayerStack& b) {
    for (std::size_t i = 0; i < kLayers; ++i) {
        if (!SameNumber(a.M[i], b.M[i]) || !SameNumber(a.t[i], b.t[i]) || !SameNumber(a.K[i], b.K[i]) ||
            !SameNumber(a.Alpha[i], b.Alpha[i]) || !SameNumber(a.J[i], b.J[i]) || !SameNumber(a.Jbq[i], b.Jbq[i])) {
            return false;
        }
    }
    return SameNumber(a.Bias, b.Bias) && a.Anisotropy == b.Anisotropy;
}

} // namespace

const EnergyDerivatives& EnergyCache::At(const LayerModel& model) {
    if (Energy && Reusable && SameNumber(model.FieldAngle, FieldAngle) && SameStack(model.Stack, Stack)) {
        Energy->SetField(model.FieldH);
        return *Energy;
    }
    const bool flagsDown = std::fetestexcept(kTrappedFlags) == 0;
    Energy.emplace(model);
    Reusable = flagsDown && std::fetestexcept(kTrappedFlags) == 0;
    if (Reusable) {
        Stack = model.Stack;
        FieldAngle = model.FieldAngle;
        Energy->TabulateSamples();
    }
    return *Energy;
}

} // namespace engine
} // namespace dravo2
