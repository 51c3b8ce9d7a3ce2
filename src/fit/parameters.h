#pragma once

#include "sweep/parameter_intake.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dravo2::fit {

using dravo2::Bounds;
using dravo2::DefaultBounds;
using dravo2::kMaxMagnetisation;
using dravo2::kMaxThickness;
using dravo2::ParameterKind;

struct ParameterInfo {
    std::string Name; // as the sweep command's key: M1, t2, K3, J1, Jbq1, bias, axis1, field_angle...
    std::string Unit;
    ParameterKind Kind;
    const ParameterEntry* Entry; // the registry's entry
};

// The 23 fittable parameters in a fixed order: M1..M4, t1..t4, K1..K4, J1..J3, Jbq1, Jbq2,
// bias, axis1..axis4, field_angle.
const std::vector<ParameterInfo>& FittableParameters();

// The index of a parameter by name, or none.
std::optional<std::size_t> ParameterIndex(std::string_view name);

// The parameter's value as its field or scroll bar holds it (degrees for angles). Throws
// ConversionError for a field that does not read as a number.
double ParameterValue(const ParameterTexts& texts, std::size_t index, char separator = '.');

// The parameter's field as text (the scroll bar's position for an angle).
std::string ParameterText(const ParameterTexts& texts, std::size_t index);

// Sets the parameter's field to `text` as typed; an angle must be a whole number of degrees from
// 0 to 90 (else ConversionError). Other fields are read only when a sweep or fit starts.
void SetParameterText(ParameterTexts& texts, std::size_t index, const std::string& text);

// Writes a value into the parameter's field: the shortest text that reads back as the same
// double, or the nearest whole degree (clamped to 0..90) for an angle.
void SetParameterValue(ParameterTexts& texts, std::size_t index, double value, char separator = '.');

// The shortest decimal text of a double that reads back as the same double.
std::string ShortestText(double value, char separator = '.');

// A free parameter inside its bounds, mapped to the unit interval: linearly, or logarithmically
// for a positive range of more than two decades, so that a search in [0, 1] samples every decade
// alike.
class FreeParameter {
public:
    // Throws ProgramError when the bounds are not ordered or empty.
    FreeParameter(std::size_t index, Bounds bounds);

    std::size_t Index() const { return ParameterIndex_; }
    const Bounds& Range() const { return Range_; }
    bool Logarithmic() const { return Log; }

    double ToUnit(double value) const;  // clamped to [0, 1]
    double FromUnit(double unit) const; // clamped to the bounds

private:
    std::size_t ParameterIndex_;
    Bounds Range_;
    bool Log = false;
};

} // namespace dravo2::fit
