// The window's number format and the result file's value format on arbitrary extended and double
// bit patterns: the text has the documented shape and reads back to the value it stands for.
#include "data/errors.h"
#include "data/number_text.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dravo2;
    if (size < 11) {
        return 0;
    }
    // Only the encodings arithmetic produces: the explicit integer bit set exactly when the
    // exponent is not zero (no unnormals or pseudo-denormals).
    std::uint8_t bits[10];
    std::memcpy(bits, data, 10);
    const bool zeroExponent = bits[8] == 0 && (bits[9] & 0x7f) == 0;
    bits[7] = zeroExponent ? (bits[7] & 0x7f) : (bits[7] | 0x80);
    long double value = 0;
    std::memcpy(&value, bits, 10);
    const int digits = 1 + data[10] % 18;
    const int kind = std::fpclassify(value);
    const std::string text = GeneralNumberText(value, digits);
    // Near the top of the extended range the rounded text may name a number beyond it.
    const bool nearTop = std::fabs(value) > 1e4931L;
    if ((kind == FP_NORMAL || kind == FP_SUBNORMAL || kind == FP_ZERO) && !nearTop) {
        const Real back = TextToReal(text);
        const Real error = std::fabs(back - value);
        // The 18-digit expansion and the rounding to n digits each move the value by at most half
        // a unit of their last digit: less than one unit of the n-th digit in all.
        Check(error <= std::fabs(value) * std::pow(10.0L, 1 - digits) || kind == FP_SUBNORMAL);
        Check(text.find('+') == std::string::npos);
    }

    double stored = 0;
    std::memcpy(&stored, data, 8);
    const std::string field = ResultValueText(stored);
    Check(field.size() == 23);
    if (std::isfinite(stored)) {
        Check(field[0] == (std::signbit(stored) ? '-' : ' '));
        Check(field[2] == '.' && field[17] == 'E');
        // Read in extended: the 15-digit text of the largest doubles lies just beyond the double range.
        const long double back = std::strtold(field.c_str(), nullptr);
        Check(std::fabs(back - stored) <= std::fabs(static_cast<long double>(stored)) * 1e-14L);
    }
    ClearFloatingPointFlags();
    return 0;
}
