#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dravo2 {
inline namespace ui {

// A number's text stepped by `units` units of its last significant digit, written with as many
// decimals and the same exponent: "-3.20e-3" by 1 gives "-3.19e-3", "0.1" by -2 gives "-0.1",
// "9.9" by 1 gives "10.0". None for a text that is not a plain decimal number (with an optional
// sign, `separator` and exponent) or has more than 18 digits.
std::optional<std::string> SteppedNumberText(std::string_view text, long long units, char separator);

} // namespace ui
} // namespace dravo2
