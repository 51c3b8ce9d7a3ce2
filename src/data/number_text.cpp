#include "data/number_text.h"

#include "data/errors.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h> // NOLINT(modernize-deprecated-headers): newlocale and uselocale are POSIX

namespace dravo2 {
inline namespace data {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Checks the real-number syntax and writes the number with a full stop into `plain`.
bool NormaliseRealSyntax(std::string_view text, char separator, std::string& plain) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    plain.clear();
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        plain += text[i++];
    }
    std::size_t mantissaDigits = 0;
    while (i < n && IsDigit(text[i])) {
        plain += text[i++];
        ++mantissaDigits;
    }
    if (i < n && text[i] == separator) {
        plain += '.';
        ++i;
        while (i < n && IsDigit(text[i])) {
            plain += text[i++];
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0) {
        return false;
    }
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            plain += text[i++];
        }
        std::size_t exponentDigits = 0;
        while (i < n && IsDigit(text[i])) {
            plain += text[i++];
            ++exponentDigits;
        }
        if (exponentDigits == 0) {
            return false;
        }
    }
    return i == n;
}

// The "C" locale: numbers in files and in the digit expansions always use the full stop,
// whatever the program's locale says.
locale_t CLocale() {
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr));
    return cLocale;
}

// snprintf in the "C" locale.
template <typename... Args> void FormatC(char* buffer, std::size_t size, const char* format, Args... args) {
    const locale_t previous = uselocale(CLocale());
    std::snprintf(buffer, size, format, args...);
    uselocale(previous);
}

// Converts a number already in C syntax; false when it lies beyond the extended range.
bool ConvertPlain(const std::string& plain, Real& value) {
    errno = 0;
    const Real converted = strtold_l(plain.c_str(), nullptr, CLocale());
    // strtold reports an overflow as ERANGE with an infinite result; an underflow gives a
    // tiny or zero value, which is kept.
    if (errno == ERANGE && std::isinf(converted)) {
        return false;
    }
    value = converted;
    return true;
}

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

// The decimal digits of |value| rounded to 18 significant digits, with the exponent E of
// 0.d1d2... x 10^E. `value` must be finite and non-zero.
void DecimalExpansion(Real value, std::array<char, 18>& digits, int& exponent) {
    char buffer[64];
    FormatC(buffer, sizeof buffer, "%.17Le", std::fabs(value));
    digits[0] = buffer[0];
    for (std::size_t k = 1; k < 18; ++k) {
        digits[k] = buffer[k + 1];
    }
    exponent = std::atoi(buffer + 20) + 1;
}

} // namespace

std::string GeneralNumberText(Real value, int digits, char separator) {
    if (std::isnan(value)) {
        return "NAN";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-INF" : "INF";
    }
    if (value == 0) {
        return "0";
    }
    digits = digits < 1 ? 1 : (digits > 18 ? 18 : digits);
    std::array<char, 18> expansion{};
    int exponent = 0;
    DecimalExpansion(value, expansion, exponent);

    std::string kept(expansion.data(), static_cast<std::size_t>(digits));
    if (digits < 18 && expansion[static_cast<std::size_t>(digits)] >= '5') {
        int k = digits - 1;
        while (k >= 0 && kept[static_cast<std::size_t>(k)] == '9') {
            kept[static_cast<std::size_t>(k)] = '0';
            --k;
        }
        if (k >= 0) {
            ++kept[static_cast<std::size_t>(k)];
        } else {
            kept.insert(kept.begin(), '1');
            kept.pop_back();
            ++exponent;
        }
    }
    while (kept.size() > 1 && kept.back() == '0') {
        kept.pop_back();
    }

    std::string text;
    if (value < 0) {
        text += '-';
    }
    if (exponent >= -3 && exponent <= digits) {
        if (exponent > 0) {
            const auto whole = static_cast<std::size_t>(exponent);
            text += kept.substr(0, whole);
            if (kept.size() < whole) {
                text.append(whole - kept.size(), '0');
            } else if (kept.size() > whole) {
                text += separator;
                text += kept.substr(whole);
            }
        } else {
            text += '0';
            text += separator;
            text.append(static_cast<std::size_t>(-exponent), '0');
            text += kept;
        }
    } else {
        text += kept[0];
        if (kept.size() > 1) {
            text += separator;
            text += kept.substr(1);
        }
        text += 'E';
        const int power = exponent - 1;
        if (power < 0) {
            text += '-';
        }
        text += std::to_string(power < 0 ? -power : power);
    }
    return text;
}

std::string RoundTripText(double value, char separator) {
    std::string text;
    AppendRoundTripText(text, value);
    std::replace(text.begin(), text.end(), '.', separator);
    return text;
}

void AppendRoundTripText(std::string& out, double value) {
    // 24 characters hold the longest form, "-2.2250738585072014e-308".
    char buffer[32];
    out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

std::string ShortestNumberText(double value, char separator) {
    if (!std::isfinite(value) || value == 0) {
        return GeneralNumberText(value, 1, separator);
    }
    // The shortest digits that round-trip, as d.ddde[+-]xx.
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    const std::string_view scientific(buffer, static_cast<std::size_t>(written.ptr - buffer));
    const std::size_t mark = scientific.find('e');
    std::string digits;
    for (const char c : scientific.substr(0, mark)) {
        if (IsDigit(c)) {
            digits += c;
        }
    }
    const int exponent = std::atoi(std::string(scientific.substr(mark + 1)).c_str());
    std::string text = value < 0 ? "-" : "";
    if (exponent >= -4 && exponent < 16) {
        if (exponent < 0) {
            text += "0";
            text += separator;
            text.append(static_cast<std::size_t>(-exponent - 1), '0');
            text += digits;
        } else {
            const auto whole = static_cast<std::size_t>(exponent) + 1;
            if (digits.size() <= whole) {
                text += digits;
                text.append(whole - digits.size(), '0');
            } else {
                text += digits.substr(0, whole);
                text += separator;
                text += digits.substr(whole);
            }
        }
        return text;
    }
    text += digits[0];
    if (digits.size() > 1) {
        text += separator;
        text += digits.substr(1);
    }
    return text + "e" + std::to_string(exponent);
}

Real TextToReal(std::string_view text, char separator) {
    // A conversion is a computation of its own: flags left by earlier work (the window system's
    // event handling raises some) must not be taken for an error of this number.
    ClearFloatingPointFlags();
    std::string plain;
    Real value = 0;
    if (!NormaliseRealSyntax(TrimSpaces(text), separator, plain) || !ConvertPlain(plain, value)) {
        throw ConversionError("'" + std::string(text) + "' is not a valid floating point value");
    }
    return value;
}

double TextToDouble(std::string_view text, char separator) {
    return StoreDouble(TextToReal(text, separator));
}

std::int32_t TextToInteger(std::string_view text) {
    const std::string_view trimmed = TrimSpaces(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < trimmed.size() && (trimmed[i] == '+' || trimmed[i] == '-')) {
        negative = trimmed[i] == '-';
        ++i;
    }
    const std::size_t firstDigit = i;
    std::int64_t magnitude = 0;
    bool valid = true;
    for (; i < trimmed.size(); ++i) {
        if (!IsDigit(trimmed[i])) {
            valid = false;
            break;
        }
        magnitude = magnitude * 10 + (trimmed[i] - '0');
        if (magnitude > 2147483648LL) {
            valid = false;
            break;
        }
    }
    valid = valid && i > firstDigit && (negative || magnitude <= 2147483647LL);
    if (!valid) {
        throw ConversionError("'" + std::string(text) + "' is not a valid integer value");
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

bool ParseDataNumber(std::string_view text, Real& value) {
    std::string plain;
    return NormaliseRealSyntax(text, '.', plain) && ConvertPlain(plain, value);
}

std::string ResultValueText(double value) {
    if (std::isnan(value) || std::isinf(value)) {
        const std::string word = std::isnan(value) ? "Nan" : (value < 0 ? "-Inf" : "+Inf");
        return std::string(23 - word.size(), ' ') + word;
    }
    char buffer[48];
    FormatC(buffer, sizeof buffer, "%.14e", std::fabs(value));
    // buffer: d.dddddddddddddde[+-]dd[d]
    const int exponent = std::atoi(buffer + 17);
    std::string text;
    text.reserve(23);
    text += std::signbit(value) ? '-' : ' ';
    text.append(buffer, 16);
    text += 'E';
    text += exponent < 0 ? '-' : '+';
    char power[16];
    std::snprintf(power, sizeof power, "%04d", exponent < 0 ? -exponent : exponent);
    text += power;
    return text;
}

} // namespace data
} // namespace dravo2
