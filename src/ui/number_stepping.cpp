#include "ui/number_stepping.h"

#include <cctype>

namespace dravo2 {
inline namespace ui {

std::optional<std::string> SteppedNumberText(std::string_view text, long long units, char separator) {
    const std::size_t exponentAt = text.find_first_of("eE");
    const std::string_view mantissa = text.substr(0, exponentAt);
    const std::string_view exponent =
        exponentAt == std::string_view::npos ? std::string_view{} : text.substr(exponentAt);
    std::size_t i = 0;
    bool negative = false;
    bool plus = false;
    if (i < mantissa.size() && (mantissa[i] == '-' || mantissa[i] == '+')) {
        negative = mantissa[i] == '-';
        plus = mantissa[i] == '+';
        ++i;
    }
    // The mantissa's digits as one whole number and how many of them follow the separator.
    long long digits = 0;
    int count = 0;
    int decimals = -1;
    for (; i < mantissa.size(); ++i) {
        const char c = mantissa[i];
        if (c == separator && decimals < 0) {
            decimals = 0;
            continue;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
            return std::nullopt;
        }
        if (++count > 18) {
            return std::nullopt;
        }
        digits = digits * 10 + (c - '0');
        if (decimals >= 0) {
            ++decimals;
        }
    }
    if (count == 0) {
        return std::nullopt;
    }
    if (exponent.size() > 1) {
        std::size_t j = 1;
        if (exponent[j] == '-' || exponent[j] == '+') {
            ++j;
        }
        if (j == exponent.size()) {
            return std::nullopt;
        }
        for (; j < exponent.size(); ++j) {
            if (std::isdigit(static_cast<unsigned char>(exponent[j])) == 0) {
                return std::nullopt;
            }
        }
    } else if (exponent.size() == 1) {
        return std::nullopt;
    }
    constexpr long long kLimit = 999'999'999'999'999'999;
    if (units > kLimit || units < -kLimit) {
        return std::nullopt;
    }
    const long long stepped = (negative ? -digits : digits) + units;
    if (stepped > kLimit || stepped < -kLimit) {
        return std::nullopt;
    }
    std::string body = std::to_string(stepped < 0 ? -stepped : stepped);
    const int shown = decimals < 0 ? 0 : decimals;
    if (static_cast<int>(body.size()) <= shown) {
        body.insert(0, static_cast<std::size_t>(shown + 1) - body.size(), '0');
    }
    if (decimals > 0) {
        body.insert(body.size() - static_cast<std::size_t>(decimals), 1, separator);
    } else if (decimals == 0) {
        body += separator; // "5." stays a text with a separator
    }
    std::string result;
    if (stepped < 0) {
        result = "-";
    } else if (plus) {
        result = "+";
    }
    return result + body + std::string(exponent);
}

} // namespace ui
} // namespace dravo2
