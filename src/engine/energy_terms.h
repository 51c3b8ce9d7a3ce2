#pragma once

#include <type_traits>

namespace dravo2 {
inline namespace engine {

// The terms of the layer energy per unit area (J/m^2), each written once with its value and its
// first and second derivatives. Every term is a function of one angle u with a strength S:
//
//   Zeeman               E = -S (hx cos u + hy sin u)  u a layer's angle, S = M t (T m), h in A/m
//   bilinear coupling    E = -S cos u                  u = a_k - a_k+1, S = J (J/m^2)
//   exchange bias        E = -S cos u                  u = a_4, S = Bias (J/m^2)
//   uniaxial anisotropy  E = -S cos^2 u                u = a - axis, S = K t (J/m^2)
//   biquadratic coupling E = -S cos^2 u                u = a_k - a_k+1, S = Jbq (J/m^2)
//   fourfold anisotropy  E = -S cos^2 u sin^2 u        u = a - axis, S = K t (J/m^2)
//
// The terms take the sine s and cosine c of u rather than u itself, so that each caller forms
// them as it needs: the reference energy with one sine and cosine per argument, the descent's
// kernel and Newton's method from one pair per layer by the angle-sum identities. They are
// templates over the scalar type T, so the extended-precision descent and the double Newton path
// and resonance modes evaluate the same expressions; the other arguments convert to T exactly.
// First is dE/du (J/m^2 per rad), Second d2E/du2 (J/m^2 per rad^2).
//
// Change is E(u + h) - E(u) from sh, ch = sin, cos(h/2) and sm, cm = sin, cos(u + h/2): each term is
// a sum of harmonics cos(n u), and cos(n(u + h)) - cos(n u) = -2 sin(n h/2) sin(n(u + h/2)), which
// keeps its relative precision however small the step, where a difference of two energies would
// lose it all near a minimum.
//
// The bilinear and biquadratic couplings are functions of the cosine of the angle between the two
// moments, c = m_k.m_k+1, alone; ValueOfCosine, SlopeInCosine and CurvatureInCosine give E, dE/dc
// and d2E/dc2 for moments free in three dimensions.
//
// The expressions' order of operations is part of their contract: the descent's rows depend on
// its energy and gradient to the last bit, so a rewrite must keep the same roundings (factors of
// 2 and 1/2 may move, as they round exactly). Newton's method and the resonance modes take the
// anisotropy per unit strength and scale it by K t afterwards, which rounds as their rows always
// have.

template <typename T> using TermArgument = std::type_identity_t<T>;

// The sine and cosine of an angle.
template <typename T> struct SineCosine {
    T Sin;
    T Cos;
};

// Of u - v and of u + v from the sines and cosines of u and v, by the angle-sum identities: the
// anisotropy's argument a - axis, a coupling's a_k - a_k+1, a midpoint a + h/2.
template <typename T> SineCosine<T> AngleDifference(T su, T cu, TermArgument<T> sv, TermArgument<T> cv) {
    return {su * cv - cu * sv, cu * cv + su * sv};
}
template <typename T> SineCosine<T> AngleSum(T su, T cu, TermArgument<T> sv, TermArgument<T> cv) {
    return {su * cv + cu * sv, cu * cv - su * sv};
}

// E = -S (hx cos u + hy sin u): the field (hx, hy) on a moment S. With S = 1 the field may carry
// the moment already (M t H).
struct ZeemanEnergy {
    template <typename T> static T Value(TermArgument<T> strength, TermArgument<T> hx, TermArgument<T> hy, T s, T c) {
        return -(strength * (hx * c + hy * s));
    }
    template <typename T> static T First(TermArgument<T> strength, TermArgument<T> hx, TermArgument<T> hy, T s, T c) {
        return strength * (hx * s - hy * c);
    }
    template <typename T> static T Second(TermArgument<T> strength, TermArgument<T> hx, TermArgument<T> hy, T s, T c) {
        return strength * (hx * c + hy * s);
    }
    // One harmonic: E(u + h) - E(u) = 2 sin(h/2) E'(u + h/2).
    template <typename T>
    static T Change(TermArgument<T> strength, TermArgument<T> hx, TermArgument<T> hy, T sh, T sm, T cm) {
        return 2 * sh * First<T>(strength, hx, hy, sm, cm);
    }
};

// E = -S cos u.
struct CosineEnergy {
    template <typename T> static T ValueOfCosine(TermArgument<T> strength, T c) { return -(strength * c); }
    template <typename T> static T SlopeInCosine(TermArgument<T> strength, T /*c*/) { return -strength; }
    template <typename T> static T CurvatureInCosine(TermArgument<T> /*strength*/) { return T{}; }

    template <typename T> static T Value(TermArgument<T> strength, T /*s*/, T c) {
        return ValueOfCosine<T>(strength, c);
    }
    template <typename T> static T First(TermArgument<T> strength, T s, T /*c*/) { return strength * s; }
    template <typename T> static T Second(TermArgument<T> strength, T /*s*/, T c) { return strength * c; }
    // -S (cos(u + h) - cos u) = 2 S sin(h/2) sin(u + h/2).
    template <typename T> static T Change(TermArgument<T> strength, T sh, T /*ch*/, T sm, T /*cm*/) {
        return 2 * strength * sh * sm;
    }
};

// E = -S cos^2 u = -S (1 + cos 2u) / 2.
struct CosineSquaredEnergy {
    template <typename T> static T ValueOfCosine(TermArgument<T> strength, T c) { return -(strength * (c * c)); }
    template <typename T> static T SlopeInCosine(TermArgument<T> strength, T c) { return -(2 * strength * c); }
    template <typename T> static T CurvatureInCosine(TermArgument<T> strength) { return -(2 * strength); }

    template <typename T> static T Value(TermArgument<T> strength, T /*s*/, T c) {
        return ValueOfCosine<T>(strength, c);
    }
    // S sin 2u
    template <typename T> static T First(TermArgument<T> strength, T s, T c) { return 2 * strength * (s * c); }
    // 2 S cos 2u
    template <typename T> static T Second(TermArgument<T> strength, T s, T c) { return 2 * strength * (c * c - s * s); }
    // -(S/2) (cos(2u + 2h) - cos 2u) = S sin h sin(2u + h), with sin h = 2 sin(h/2) cos(h/2).
    template <typename T> static T Change(TermArgument<T> strength, T sh, T ch, T sm, T cm) {
        return strength * (2 * sh * ch) * (2 * sm * cm);
    }
};

// E = -S cos^2 u sin^2 u = -S sin^2 2u / 4 = -S (1 - cos 4u) / 8.
struct FourfoldEnergy {
    template <typename T> static T Value(TermArgument<T> strength, T s, T c) { return -(strength * (c * c) * (s * s)); }
    // The same value as -S sin^2 2u / 4, rounded otherwise: the resonance modes' curvature out of
    // the plane has always been formed so, and their frequencies keep their last digits with it.
    template <typename T> static T ValueFromDoubleAngle(TermArgument<T> strength, T s, T c) {
        const T sin2 = 2 * s * c;
        return -(strength * (0.25 * sin2 * sin2));
    }
    // -S sin 2u cos 2u = -(S/2) sin 4u
    template <typename T> static T First(TermArgument<T> strength, T s, T c) {
        return -(strength * (2 * s * c) * (c * c - s * s));
    }
    // -2 S cos 4u = -2 S (cos^2 2u - sin^2 2u)
    template <typename T> static T Second(TermArgument<T> strength, T s, T c) {
        const T sin2 = 2 * s * c;
        const T cos2 = c * c - s * s;
        return -(2 * strength * (cos2 * cos2 - sin2 * sin2));
    }
    // (S/8) (cos(4u + 4h) - cos 4u) = -(S/4) sin 2h sin(4u + 2h).
    template <typename T> static T Change(TermArgument<T> strength, T sh, T ch, T sm, T cm) {
        const T sinStep = 2 * sh * ch;
        const T sinTwoSteps = 2 * sinStep * (ch * ch - sh * sh);
        const T sin2 = 2 * sm * cm;
        const T sin4 = 2 * sin2 * (cm * cm - sm * sm);
        return -(0.25 * strength * sinTwoSteps * sin4);
    }
};

using BilinearCoupling = CosineEnergy;
using ExchangeBias = CosineEnergy;
using UniaxialAnisotropy = CosineSquaredEnergy;
using BiquadraticCoupling = CosineSquaredEnergy;
using FourfoldAnisotropy = FourfoldEnergy;

} // namespace engine
} // namespace dravo2
