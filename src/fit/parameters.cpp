#include "fit/parameters.h"

#include "data/errors.h"
#include "data/number_text.h"

#include <algorithm>
#include <cmath>

namespace dravo2::fit {
namespace {

std::vector<ParameterInfo> BuildTable() {
    // The registry's fittable entries grouped by kind: M, t, K, the couplings, bias, the angles.
    std::vector<ParameterInfo> table;
    for (const ParameterEntry& entry : ParameterRegistry()) {
        if (entry.Fittable()) {
            table.push_back({std::string(entry.Key), std::string(entry.Unit), entry.Kind, &entry});
        }
    }
    std::stable_sort(table.begin(), table.end(),
                     [](const ParameterInfo& a, const ParameterInfo& b) { return a.Kind < b.Kind; });
    return table;
}

const std::string& Key(std::size_t index) {
    return FittableParameters().at(index).Name;
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
    if (const std::string* text = FieldText(texts, Key(index))) {
        return TextToDouble(*text, separator);
    }
    return *FieldDegrees(texts, Key(index));
}

std::string ParameterText(const ParameterTexts& texts, std::size_t index) {
    if (const std::string* text = FieldText(texts, Key(index))) {
        return *text;
    }
    return std::to_string(*FieldDegrees(texts, Key(index)));
}

void SetParameterText(ParameterTexts& texts, std::size_t index, const std::string& text) {
    if (std::string* slot = FieldText(texts, Key(index))) {
        *slot = text;
        return;
    }
    const ParameterEntry& entry = *FittableParameters().at(index).Entry;
    *FieldDegrees(texts, Key(index)) = static_cast<int>(ParseParameter(entry, text));
}

std::string ShortestText(double value, char separator) {
    return RoundTripText(value, separator);
}

void SetParameterValue(ParameterTexts& texts, std::size_t index, double value, char separator) {
    if (std::string* text = FieldText(texts, Key(index))) {
        *text = ShortestText(value, separator);
    } else {
        *FieldDegrees(texts, Key(index)) =
            static_cast<int>(NumberAsTyped(*FittableParameters().at(index).Entry, value));
    }
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
