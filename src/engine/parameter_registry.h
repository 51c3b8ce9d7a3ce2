#pragma once

#include "engine/model_parameters.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace dravo2 {
inline namespace engine {

// The magnetoresistance amplitude's default text.
inline constexpr const char* kDefaultDeltaRText = "100.0";

// How a typed value of a parameter converts: an extended real, a real stored as double, a whole
// number, a whole number of degrees from 0 to 90, or one of a few named choices.
enum class ValueForm { Extended, Double, Integer, Degrees, Choice };

// What a parameter is, which sets its default fit bounds.
enum class ParameterKind {
    Magnetisation, // T
    Thickness,     // m
    Anisotropy,    // J/m^3
    Coupling,      // J/m^2, bilinear or biquadratic
    Bias,          // J/m^2
    Angle,         // degrees
    Setting,       // sweep, solver and signal settings: not fitted
};

struct Bounds {
    double Lower = 0;
    double Upper = 0;
};

// One parameter of the model or the sweep: its KEY, the unit of its typed value, the note the
// command's help gives after the key, its meaning, its default as the window's field shows it,
// how a typed value converts, and the accessor of its value in the key's unit (degrees for
// angles, kA/m for sweep fields, the enumerator's number for choices) within a ParameterSet.
struct ParameterEntry {
    std::string_view Key;
    std::string_view Unit;
    std::string_view Note;
    std::string_view Meaning;
    std::string_view DefaultText;
    ValueForm Form = ValueForm::Extended;
    ParameterKind Kind = ParameterKind::Setting;
    Real (*Get)(const ParameterSet&) = nullptr;
    void (*Set)(ParameterSet&, Real) = nullptr;
    std::span<const std::string_view> Choices{}; // the names of the choices, by enumerator number
    std::string_view ChoiceWhat{};               // what a choice is, for the message about a bad one

    bool Fittable() const { return Kind != ParameterKind::Setting; }
};

// Every parameter once, in the order of the sweep command's help: M1..M4, t1..t4, K1..K4,
// axis1..axis4, field_angle, J1..J3, Jbq1, Jbq2, bias, DR, start, steps, step, noise, conv,
// maxiter, aniso, solver, gamma.
std::span<const ParameterEntry> ParameterRegistry();

// The entry of a key, or null.
const ParameterEntry* FindParameter(std::string_view key);

// The entry of a key that must exist (a key of this program's own code).
const ParameterEntry& Parameter(std::string_view key);

// A typed value converted as the window's field or the command's KEY=VALUE converts it, in the
// key's unit. Throws ConversionError (numbers: "'<text>' is not a valid floating point value",
// "... integer value", "... whole number of degrees from 0 to 90") or ProgramError for a choice
// ("'<text>' is not an anisotropy form (UA or QU)").
Real ParseParameter(const ParameterEntry& entry, std::string_view text, char separator = '.');

// The value a double stands for when it is given to a parameter as a number: the value its
// shortest decimal text would be typed as (so that a value printed as KEY=VALUE and typed back
// gives the same loop), the nearest whole degree from 0 to 90 for an angle.
Real NumberAsTyped(const ParameterEntry& entry, double value);

// The default value of every parameter, as the window's fields start.
ParameterSet DefaultParameters();

// The largest magnetisation (T) and thickness (m) a default range reaches: no film has more
// than about 2.5 T, and the model of uniform layers does not hold for much thicker ones.
inline constexpr double kMaxMagnetisation = 2.5;
inline constexpr double kMaxThickness = 100e-9;

// The default search range around the current value v: v/10 to 10 v for magnetisation and
// thickness, capped at kMaxMagnetisation and kMaxThickness (or v if larger), v/10 to 10 v for
// anisotropy (0 to 1e4 J/m^3 for an anisotropy of 0), -10|v| to 10|v| for the
// couplings and the bias (plus or minus 1e-3 J/m^2 for 0), 0 to 90 degrees for angles.
Bounds DefaultBounds(ParameterKind kind, double v);

} // namespace engine
} // namespace dravo2
