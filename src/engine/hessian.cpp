#include "engine/hessian.h"

#include "engine/energy_terms.h"

#include <cmath>

namespace dravo2 {
inline namespace engine {

EnergyDerivatives::EnergyDerivatives(const LayerModel& model) : Form(model.Stack.Anisotropy) {
    const LayerStack& s = model.Stack;
    // The field's components and the axes' cosines and sines in double, as everything here.
    double fieldSin = 0;
    double fieldCos = 0;
    sincos(model.FieldAngle, &fieldSin, &fieldCos);
    const FieldComponents field{model.FieldH * fieldCos, model.FieldH * fieldSin};
    for (std::size_t i = 0; i < kLayers; ++i) {
        IsPresent[i] = s.t[i] > 0;
    }
    for (std::size_t i = 0; i < kLayers; ++i) {
        if (!IsPresent[i]) {
            continue;
        }
        const auto k = static_cast<Eigen::Index>(i);
        ZeemanX[k] = static_cast<double>(s.M[i] * s.t[i] * field.Hx);
        ZeemanY[k] = static_cast<double>(s.M[i] * s.t[i] * field.Hy);
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
}

namespace {

// The Zeeman term here carries the moment in its field (M t H), so its strength is 1.
constexpr double kMomentInField = 1;

void SinesAndCosines(const Vector4& angles, Vector4& sn, Vector4& cs) {
    for (Eigen::Index i = 0; i < kLayers; ++i) {
        sincos(angles[i], &sn[i], &cs[i]);
    }
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
        sincos(0.5 * step[i], &sh[i], &ch[i]);
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

} // namespace engine
} // namespace dravo2
