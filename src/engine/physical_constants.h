#pragma once

#include "data/floating_point.h"

namespace dravo2 {
inline namespace engine {

// Fields are entered in kA/m and computed in A/m.
inline constexpr int kAmperesPerKiloAmpere = 1000;

// Gyromagnetic ratio of the electron as the resonance frequency takes it, rad/(s T).
inline constexpr Real kGyromagneticRatio = 1.76e11L;

// 1/mu0 as the resonance formula takes it, rounded to 8e5 A/(T m): it turns M (T) into A/m.
inline constexpr int kInverseMu0Rounded = 800000;

inline Real DegreesToRadians(int degrees) {
    return static_cast<Real>(degrees) * kPi / 180;
}

} // namespace engine
} // namespace dravo2
