#include "data/measured_units.h"

#include "data/curve_fields.h"
#include "data/number_text.h"

#include <charconv>
#include <cmath>
#include <numbers>

namespace dravo2 {
inline namespace data {
namespace {

constexpr double kMu0 = 4e-7 * std::numbers::pi;

} // namespace

using curve_text::Lower;
using curve_text::Trim;
using curve_text::UnitCell;

std::string FieldUnitName(FieldUnit unit) {
    switch (unit) {
    case FieldUnit::AmperePerMetre:
        return "A/m";
    case FieldUnit::KiloAmperePerMetre:
        return "kA/m";
    case FieldUnit::Oersted:
        return "Oe";
    case FieldUnit::MilliTesla:
        return "mT";
    case FieldUnit::Tesla:
        return "T";
    }
    return "A/m";
}

double FieldUnitToAmperePerMetre(FieldUnit unit) {
    switch (unit) {
    case FieldUnit::AmperePerMetre:
        return 1.0;
    case FieldUnit::KiloAmperePerMetre:
        return 1e3;
    case FieldUnit::Oersted:
        return 1e3 / (4 * std::numbers::pi);
    case FieldUnit::MilliTesla:
        return 1e-3 / kMu0;
    case FieldUnit::Tesla:
        return 1.0 / kMu0;
    }
    return 1.0;
}

std::optional<FieldUnit> FieldUnitFromText(std::string_view text) {
    std::string unit = Lower(UnitCell(text));
    std::erase(unit, ' ');
    if (unit == "a/m" || unit == "am^-1" || unit == "am-1") {
        return FieldUnit::AmperePerMetre;
    }
    if (unit == "ka/m" || unit == "kam^-1" || unit == "kam-1") {
        return FieldUnit::KiloAmperePerMetre;
    }
    if (unit == "oe" || unit == "oersted") {
        return FieldUnit::Oersted;
    }
    if (unit == "mt" || unit == "millitesla") {
        return FieldUnit::MilliTesla;
    }
    if (unit == "t" || unit == "tesla") {
        return FieldUnit::Tesla;
    }
    return std::nullopt;
}

std::optional<double> MomentUnitFromText(std::string_view text) {
    std::string unit = Lower(UnitCell(text));
    std::erase(unit, ' ');
    if (unit == "emu") {
        return 1e-3;
    }
    if (unit == "am2" || unit == "am^2" || unit == "a*m2" || unit == "a*m^2" || unit == "a.m2" || unit == "a.m^2" ||
        unit == "a\u00b7m\u00b2" || unit == "a\u00b7m2" || unit == "am\u00b2") {
        return 1.0;
    }
    return std::nullopt;
}

std::optional<double> FrequencyUnitFromText(std::string_view text) {
    std::string unit = Lower(UnitCell(text));
    std::erase(unit, ' ');
    if (unit == "hz") {
        return 1.0;
    }
    if (unit == "khz") {
        return 1e3;
    }
    if (unit == "mhz") {
        return 1e6;
    }
    if (unit == "ghz") {
        return 1e9;
    }
    return std::nullopt;
}

std::optional<double> SampleAreaFromText(std::string_view text) {
    struct AreaUnit {
        std::string_view Name;
        double SquareMetres;
    };
    static constexpr AreaUnit kUnits[] = {{"cm^2", 1e-4}, {"mm^2", 1e-6}, {"m^2", 1.0},
                                          {"cm2", 1e-4},  {"mm2", 1e-6},  {"m2", 1.0}};
    const std::string_view trimmed = Trim(text);
    for (const AreaUnit& unit : kUnits) {
        if (trimmed.size() > unit.Name.size() && trimmed.ends_with(unit.Name)) {
            const std::string_view number = Trim(trimmed.substr(0, trimmed.size() - unit.Name.size()));
            double value = 0;
            const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
            const double area = value * unit.SquareMetres;
            if (error != std::errc() || end != number.data() + number.size() || !(area > 0) || !std::isfinite(area)) {
                return std::nullopt;
            }
            return area;
        }
    }
    return std::nullopt;
}

std::string MomentUnitName(double unit) {
    if (unit == 1e-3) {
        return "emu";
    }
    if (unit == 1.0) {
        return "A m2";
    }
    return GeneralNumberText(unit, 6, '.') + " A m2";
}

} // namespace data
} // namespace dravo2
