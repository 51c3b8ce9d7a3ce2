#include "fit/parameters.h"

#include "data/errors.h"
#include "data/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace dravo2::fit {
namespace {

// The field of a parameter, or null for an angle; const or not as `texts` is.
template <typename Texts> auto TextSlot(Texts& texts, std::size_t index) -> decltype(&texts.J1) {
    if (index < 4) {
        return &texts.M[index];
    }
    if (index < 8) {
        return &texts.t[index - 4];
    }
    if (index < 12) {
        return &texts.K[index - 8];
    }
    switch (index) {
    case 12:
        return &texts.J1;
    case 13:
        return &texts.J2;
    case 14:
        return &texts.J3;
    case 15:
        return &texts.Jbq1;
    case 16:
        return &texts.Jbq2;
    case 17:
        return &texts.Bias;
    default:
        return nullptr;
    }
}

template <typename Texts> auto DegreesSlot(Texts& texts, std::size_t index) -> decltype(&texts.FieldAngleDegrees) {
    if (index >= 18 && index < 22) {
        return &texts.AxisDegrees[index - 18];
    }
    return index == 22 ? &texts.FieldAngleDegrees : nullptr;
}

std::vector<ParameterInfo> BuildTable() {
    std::vector<ParameterInfo> table;
    auto numbered = [](const char* stem, int i) { return stem + std::to_string(i); };
    for (int i = 1; i <= 4; ++i) {
        table.push_back({numbered("M", i), "T", ParameterKind::Magnetisation});
    }
    for (int i = 1; i <= 4; ++i) {
        table.push_back({numbered("t", i), "m", ParameterKind::Thickness});
    }
    for (int i = 1; i <= 4; ++i) {
        table.push_back({numbered("K", i), "J/m^3", ParameterKind::Anisotropy});
    }
    for (int i = 1; i <= 3; ++i) {
        table.push_back({numbered("J", i), "J/m^2", ParameterKind::Coupling});
    }
    table.push_back({"Jbq1", "J/m^2", ParameterKind::Coupling});
    table.push_back({"Jbq2", "J/m^2", ParameterKind::Coupling});
    table.push_back({"bias", "J/m^2", ParameterKind::Bias});
    for (int i = 1; i <= 4; ++i) {
        table.push_back({numbered("axis", i), "deg", ParameterKind::Angle});
    }
    table.push_back({"field_angle", "deg", ParameterKind::Angle});
    return table;
}

} // namespace

const std::vector<ParameterInfo>& FittableParameters() {
    static const std::vector<ParameterInfo> table = BuildTable();
    return table;
}

std::optional<std::size_t> ParameterIndex(std::string_view name) {
    const auto& table = FittableParameters();
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].Name == name) {
            return i;
        }
    }
    return std::nullopt;
}

double ParameterValue(const ParameterTexts& texts, std::size_t index, char separator) {
    if (const std::string* text = TextSlot(texts, index)) {
        return TextToDouble(*text, separator);
    }
    return *DegreesSlot(texts, index);
}

std::string ParameterText(const ParameterTexts& texts, std::size_t index) {
    if (const std::string* text = TextSlot(texts, index)) {
        return *text;
    }
    return std::to_string(*DegreesSlot(texts, index));
}

void SetParameterText(ParameterTexts& texts, std::size_t index, const std::string& text) {
    if (std::string* slot = TextSlot(texts, index)) {
        *slot = text;
        return;
    }
    const std::int32_t degrees = TextToInteger(text);
    if (degrees < 0 || degrees > 90) {
        throw ConversionError("'" + text + "' is not a whole number of degrees from 0 to 90");
    }
    *DegreesSlot(texts, index) = degrees;
}

std::string ShortestText(double value, char separator) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    std::replace(text.begin(), text.end(), '.', separator);
    return text;
}

void SetParameterValue(ParameterTexts& texts, std::size_t index, double value, char separator) {
    if (std::string* text = TextSlot(texts, index)) {
        *text = ShortestText(value, separator);
    } else {
        *DegreesSlot(texts, index) = static_cast<int>(std::clamp(std::lround(value), 0L, 90L));
    }
}

Bounds DefaultBounds(ParameterKind kind, double v) {
    switch (kind) {
    case ParameterKind::Magnetisation:
    case ParameterKind::Thickness: {
        // A tenth to ten times the value, but never beyond what a film can have.
        const double ceiling = kind == ParameterKind::Magnetisation ? kMaxMagnetisation : kMaxThickness;
        if (!(v > 0)) {
            return {0, 0};
        }
        return {v / 10, std::min(10 * v, std::max(ceiling, v))};
    }
    case ParameterKind::Anisotropy:
        if (v == 0) {
            return Bounds{0, 1e4};
        }
        return v > 0 ? Bounds{v / 10, 10 * v} : Bounds{10 * v, v / 10};
    case ParameterKind::Coupling:
    case ParameterKind::Bias:
        if (v == 0) {
            return {-1e-3, 1e-3};
        }
        return {-10 * std::fabs(v), 10 * std::fabs(v)};
    case ParameterKind::Angle:
        break;
    }
    return {0, 90};
}

FreeParameter::FreeParameter(std::size_t index, Bounds bounds) : ParameterIndex_(index), Range_(bounds) {
    const std::string& name = FittableParameters().at(index).Name;
    const ParameterKind kind = FittableParameters().at(index).Kind;
    if ((kind == ParameterKind::Magnetisation || kind == ParameterKind::Thickness) && bounds.Lower < 0) {
        throw ProgramError("The bounds of " + name + " (" + ShortestText(bounds.Lower) + " to " +
                           ShortestText(bounds.Upper) + ") reach below 0: a " +
                           (kind == ParameterKind::Magnetisation ? "magnetisation" : "thickness") +
                           " cannot be negative");
    }
    if (!(std::isfinite(bounds.Lower) && std::isfinite(bounds.Upper) && bounds.Lower < bounds.Upper)) {
        throw ProgramError("The bounds of " + name + " (" + ShortestText(bounds.Lower) + " to " +
                           ShortestText(bounds.Upper) + ") leave no range to search");
    }
    // A little above 100 so that the default factor-of-ten bounds stay linear despite rounding.
    Log = bounds.Lower > 0 && bounds.Upper / bounds.Lower > 100 * (1 + 1e-9);
    // Bounds whose span or ratio overflows would map every scaled point to infinity or NaN.
    if (!std::isfinite(bounds.Upper - bounds.Lower) || (Log && !std::isfinite(bounds.Upper / bounds.Lower))) {
        throw ProgramError("The bounds of " + name + " (" + ShortestText(bounds.Lower) + " to " +
                           ShortestText(bounds.Upper) + ") lie too far apart to search");
    }
}

double FreeParameter::ToUnit(double value) const {
    const double unit = Log ? std::log(value / Range_.Lower) / std::log(Range_.Upper / Range_.Lower)
                            : (value - Range_.Lower) / (Range_.Upper - Range_.Lower);
    return std::clamp(std::isnan(unit) ? 0.0 : unit, 0.0, 1.0);
}

double FreeParameter::FromUnit(double unit) const {
    const double u = std::clamp(unit, 0.0, 1.0);
    const double value = Log ? Range_.Lower * std::pow(Range_.Upper / Range_.Lower, u)
                             : Range_.Lower + u * (Range_.Upper - Range_.Lower);
    return std::clamp(value, Range_.Lower, Range_.Upper);
}

} // namespace dravo2::fit
