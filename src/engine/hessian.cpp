#include "engine/hessian.h"

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

double EnergyDerivatives::Energy(const Vector4& sn, const Vector4& cs) const {
    double e = 0;
    for (Eigen::Index i = 0; i < kLayers; ++i) {
        e -= ZeemanX[i] * cs[i] + ZeemanY[i] * sn[i];
        if (Form != AnisotropyForm::None) {
            // x = angle - Alpha
            const double cx = cs[i] * CosAlpha[i] + sn[i] * SinAlpha[i];
            if (Form == AnisotropyForm::Uniaxial) {
                e -= Anisotropy[i] * (cx * cx);
            } else {
                const double sx = sn[i] * CosAlpha[i] - cs[i] * SinAlpha[i];
                e -= Anisotropy[i] * (cx * cx) * (sx * sx);
            }
        }
    }
    for (Eigen::Index i = 0; i + 1 < kLayers; ++i) {
        const double cd = cs[i] * cs[i + 1] + sn[i] * sn[i + 1];
        e -= Bilinear[i] * cd + Biquadratic[i] * (cd * cd);
    }
    return e - Bias * cs[kLayers - 1];
}

double EnergyDerivatives::Energy(const Vector4& a) const {
    Vector4 sn;
    Vector4 cs;
    for (Eigen::Index i = 0; i < kLayers; ++i) {
        sincos(a[i], &sn[i], &cs[i]);
    }
    return Energy(sn, cs);
}

void EnergyDerivatives::GradientAndHessian(const Vector4& a, Vector4& grad, Matrix4& hess) const {
    Vector4 sn;
    Vector4 cs;
    for (Eigen::Index i = 0; i < kLayers; ++i) {
        sincos(a[i], &sn[i], &cs[i]);
    }
    GradientAndHessian(sn, cs, grad, hess);
}

void EnergyDerivatives::GradientAndHessian(const Vector4& sn, const Vector4& cs, Vector4& grad, Matrix4& hess) const {
    hess.setZero();
    for (Eigen::Index i = 0; i < kLayers; ++i) {
        // Zeeman: E = -(ZeemanX cos a + ZeemanY sin a)
        double g = ZeemanX[i] * sn[i] - ZeemanY[i] * cs[i];
        double h = ZeemanX[i] * cs[i] + ZeemanY[i] * sn[i];
        if (Form != AnisotropyForm::None) {
            const double sx = sn[i] * CosAlpha[i] - cs[i] * SinAlpha[i];
            const double cx = cs[i] * CosAlpha[i] + sn[i] * SinAlpha[i];
            const double s2 = 2 * sx * cx;
            const double c2 = cx * cx - sx * sx;
            if (Form == AnisotropyForm::Uniaxial) {
                // E = -K t cos^2 x = -K t (1 + cos 2x) / 2
                g += Anisotropy[i] * s2;
                h += 2 * Anisotropy[i] * c2;
            } else {
                // E = -K t cos^2 x sin^2 x = -K t (1 - cos 4x) / 8
                g -= 0.5 * Anisotropy[i] * (2 * s2 * c2);
                h -= 2 * Anisotropy[i] * (c2 * c2 - s2 * s2);
            }
        }
        grad[i] = g;
        hess(i, i) = h;
    }
    for (Eigen::Index i = 0; i + 1 < kLayers; ++i) {
        // d = a[i] - a[i+1]; E = -J cos d - Jbq cos^2 d
        const double sd = sn[i] * cs[i + 1] - cs[i] * sn[i + 1];
        const double cd = cs[i] * cs[i + 1] + sn[i] * sn[i + 1];
        const double torque = Bilinear[i] * sd + Biquadratic[i] * (2 * sd * cd);
        const double curvature = Bilinear[i] * cd + 2 * Biquadratic[i] * (cd * cd - sd * sd);
        grad[i] += torque;
        grad[i + 1] -= torque;
        hess(i, i) += curvature;
        hess(i + 1, i + 1) += curvature;
        hess(i, i + 1) = -curvature;
        hess(i + 1, i) = -curvature;
    }
    // E = -Bias cos a4
    grad[kLayers - 1] += Bias * sn[kLayers - 1];
    hess(kLayers - 1, kLayers - 1) += Bias * cs[kLayers - 1];
}

double EnergyDerivatives::EnergyChange(const Vector4& a, const Vector4& step) const {
    Vector4 sn;
    Vector4 cs;
    for (Eigen::Index i = 0; i < kLayers; ++i) {
        sincos(a[i], &sn[i], &cs[i]);
    }
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
        sm[i] = sn[i] * ch[i] + cs[i] * sh[i];
        cm[i] = cs[i] * ch[i] - sn[i] * sh[i];
        change += 2 * sh[i] * (ZeemanX[i] * sm[i] - ZeemanY[i] * cm[i]);
        if (Form != AnisotropyForm::None) {
            // sin 2(m - Alpha) = sin(2x + step), sin step = 2 sin(step/2) cos(step/2)
            const double sx = sm[i] * CosAlpha[i] - cm[i] * SinAlpha[i];
            const double cx = cm[i] * CosAlpha[i] + sm[i] * SinAlpha[i];
            const double s2 = 2 * sx * cx;
            const double sinStep = 2 * sh[i] * ch[i];
            if (Form == AnisotropyForm::Uniaxial) {
                change += Anisotropy[i] * sinStep * s2;
            } else {
                // -(K t / 4) sin 2 step sin(4x + 2 step)
                const double s4 = 2 * s2 * (cx * cx - sx * sx);
                const double sinTwoSteps = 2 * sinStep * (ch[i] * ch[i] - sh[i] * sh[i]);
                change -= 0.25 * Anisotropy[i] * sinTwoSteps * s4;
            }
        }
    }
    for (Eigen::Index i = 0; i + 1 < kLayers; ++i) {
        // With d = a[i] - a[i+1] and its change D: sin(D/2) and sin(d + D/2).
        const double sHalf = sh[i] * ch[i + 1] - ch[i] * sh[i + 1];
        const double cHalf = ch[i] * ch[i + 1] + sh[i] * sh[i + 1];
        const double sMid = sm[i] * cm[i + 1] - cm[i] * sm[i + 1];
        const double cMid = cm[i] * cm[i + 1] + sm[i] * sm[i + 1];
        change += 2 * Bilinear[i] * sHalf * sMid + Biquadratic[i] * (2 * sHalf * cHalf) * (2 * sMid * cMid);
    }
    return change + 2 * Bias * sh[kLayers - 1] * sm[kLayers - 1];
}

} // namespace engine
} // namespace dravo2
