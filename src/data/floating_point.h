#pragma once

#include <cfenv>
#include <limits>

namespace dravo2 {
inline namespace data {

// Extended precision: the 80-bit x87 format with a 64-bit mantissa.
using Real = long double;
static_assert(std::numeric_limits<Real>::digits == 64 && std::numeric_limits<Real>::max_exponent == 16384,
              "the number texts and the engine rely on the 80-bit extended long double");

inline constexpr Real kPi = 3.14159265358979323846264338327950288L;
inline constexpr Real kTwoPi = 2 * kPi;

inline constexpr const char* kInvalidOperationMessage = "Invalid floating point operation";
inline constexpr const char* kDivisionByZeroMessage = "Floating point division by zero";
inline constexpr const char* kOverflowMessage = "Floating point overflow";

inline constexpr int kTrappedFlags = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

// Forgets any earlier invalid, division-by-zero or overflow flag.
inline void ClearFloatingPointFlags() {
    // Testing is several times cheaper than clearing, and the flags are usually down.
    if (std::fetestexcept(kTrappedFlags) != 0) {
        std::feclearexcept(kTrappedFlags);
    }
}

// Throws FloatingPointError for a raised flag (invalid before division by zero before overflow)
// and clears the flags. Underflow, denormals and inexact results pass.
[[noreturn]] void RaiseFloatingPointError(int flags);

// Tests the flags once the computation of `value` is complete; the empty asm keeps the compiler
// from moving that computation past the test.
template <typename T> inline void CheckFloatingPoint(const T& value) {
    asm volatile("" : : "m"(value));
    if (const int flags = std::fetestexcept(kTrappedFlags)) {
        RaiseFloatingPointError(flags);
    }
}

inline void CheckFloatingPoint() {
    if (const int flags = std::fetestexcept(kTrappedFlags)) {
        RaiseFloatingPointError(flags);
    }
}

// Rounds an extended value to the double it is stored as; a value beyond the double range
// raises "Floating point overflow" as the store would.
inline double StoreDouble(Real value) {
    const double stored = static_cast<double>(value);
    CheckFloatingPoint(stored);
    return stored;
}

} // namespace data
} // namespace dravo2
