#include "engine/parameter_registry.h"

#include "data/errors.h"
#include "data/number_text.h"
#include "engine/physical_constants.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace dravo2 {
inline namespace engine {
namespace {

constexpr std::array<std::string_view, 3> kAnisotropyNames{"", "UA", "QU"};  // by AnisotropyForm
constexpr std::array<std::string_view, 2> kSolverNames{"descent", "newton"}; // by SolverMethod

constexpr std::array<std::string_view, kLayers> kMKeys{"M1", "M2", "M3", "M4"};
constexpr std::array<std::string_view, kLayers> kTKeys{"t1", "t2", "t3", "t4"};
constexpr std::array<std::string_view, kLayers> kKKeys{"K1", "K2", "K3", "K4"};
constexpr std::array<std::string_view, kLayers> kAxisKeys{"axis1", "axis2", "axis3", "axis4"};
constexpr std::array<std::string_view, kLayers> kMDefaults{"1.5", "1.5", "0.7", "1.0"};
constexpr std::array<std::string_view, kLayers> kTDefaults{"2e-9", "2e-9", "2e-9", "20e-9"};
constexpr std::array<std::string_view, kLayers> kKDefaults{"100", "100", "60", "1000"};
constexpr std::array<std::string_view, kLayers> kMMeanings{"magnetisation of layer 1", "magnetisation of layer 2",
                                                           "magnetisation of layer 3", "magnetisation of layer 4"};
constexpr std::array<std::string_view, kLayers> kTMeanings{"thickness of layer 1", "thickness of layer 2",
                                                           "thickness of layer 3", "thickness of layer 4"};
constexpr std::array<std::string_view, kLayers> kKMeanings{
    "anisotropy constant of layer 1", "anisotropy constant of layer 2", "anisotropy constant of layer 3",
    "anisotropy constant of layer 4"};
constexpr std::array<std::string_view, kLayers> kAxisMeanings{
    "anisotropy axis of layer 1", "anisotropy axis of layer 2", "anisotropy axis of layer 3",
    "anisotropy axis of layer 4"};

// The registry's storage: a fixed array, so that the parameters can be read without a free byte
// of memory (a command reports running out of memory with its own message).
class Entries {
public:
    void push_back(const ParameterEntry& entry) { Items.at(Count++) = entry; }
    std::span<const ParameterEntry> View() const { return {Items.data(), Count}; }

private:
    std::array<ParameterEntry, 40> Items{};
    std::size_t Count = 0;
};

// Degrees of the key to radians of the model: the window's scroll bars give whole degrees.
Real Radians(Real degrees) {
    return degrees * kPi / 180;
}
Real Degrees(Real radians) {
    return radians * 180 / kPi;
}

template <std::size_t I> void AddLayer(Entries& entries, int part) {
    switch (part) {
    case 0:
        entries.push_back({kMKeys[I], "T", "T", kMMeanings[I], kMDefaults[I], ValueForm::Extended,
                           ParameterKind::Magnetisation, [](const ParameterSet& p) { return p.Model.Stack.M[I]; },
                           [](ParameterSet& p, Real v) { p.Model.Stack.M[I] = v; }});
        break;
    case 1:
        entries.push_back({kTKeys[I], "m", "m", kTMeanings[I], kTDefaults[I], ValueForm::Extended,
                           ParameterKind::Thickness, [](const ParameterSet& p) { return p.Model.Stack.t[I]; },
                           [](ParameterSet& p, Real v) { p.Model.Stack.t[I] = v; }});
        break;
    case 2:
        entries.push_back({kKKeys[I], "J/m^3", "J/m^3", kKMeanings[I], kKDefaults[I], ValueForm::Extended,
                           ParameterKind::Anisotropy, [](const ParameterSet& p) { return p.Model.Stack.K[I]; },
                           [](ParameterSet& p, Real v) { p.Model.Stack.K[I] = v; }});
        break;
    default:
        entries.push_back({kAxisKeys[I], "deg", "deg, 0 to 90", kAxisMeanings[I], "0", ValueForm::Degrees,
                           ParameterKind::Angle, [](const ParameterSet& p) { return Degrees(p.Model.Stack.Alpha[I]); },
                           [](ParameterSet& p, Real v) { p.Model.Stack.Alpha[I] = Radians(v); }});
        break;
    }
}

// The coupling J or Jbq (`Strength`) of layers I + 1 and I + 2.
template <std::size_t I, std::array<Real, kLayers> LayerStack::*Strength>
ParameterEntry Coupling(std::string_view key, std::string_view note, std::string_view meaning,
                        std::string_view defaultText) {
    return {key,
            "J/m^2",
            note,
            meaning,
            defaultText,
            ValueForm::Extended,
            ParameterKind::Coupling,
            [](const ParameterSet& p) { return (p.Model.Stack.*Strength)[I]; },
            [](ParameterSet& p, Real v) { (p.Model.Stack.*Strength)[I] = v; }};
}

Entries BuildRegistry() {
    Entries e;
    for (int part = 0; part < 4; ++part) {
        AddLayer<0>(e, part);
        AddLayer<1>(e, part);
        AddLayer<2>(e, part);
        AddLayer<3>(e, part);
    }
    e.push_back({"field_angle", "deg", "deg, 0 to 90", "direction of the field", "0", ValueForm::Degrees,
                 ParameterKind::Angle,
                 [](const ParameterSet& p) { return Degrees(static_cast<Real>(p.Model.FieldAngle)); },
                 [](ParameterSet& p, Real v) { p.Model.FieldAngle = static_cast<double>(Radians(v)); }});
    e.push_back(
        Coupling<0, &LayerStack::J>("J1", "J/m^2, layers 1-2", "bilinear coupling of layers 1 and 2", "-0.002e-3"));
    e.push_back(Coupling<1, &LayerStack::J>("J2", "J/m^2, layers 2-3", "bilinear coupling of layers 2 and 3", "0e-3"));
    e.push_back(
        Coupling<2, &LayerStack::J>("J3", "J/m^2, layers 3-4", "bilinear coupling of layers 3 and 4", "0.2e-3"));
    e.push_back(Coupling<0, &LayerStack::Jbq>("Jbq1", "J/m^2, biquadratic 1-2",
                                              "biquadratic coupling of layers 1 and 2", "-0e-3"));
    e.push_back(Coupling<1, &LayerStack::Jbq>("Jbq2", "J/m^2, biquadratic 2-3",
                                              "biquadratic coupling of layers 2 and 3", "-0e-3"));
    e.push_back({"bias", "J/m^2", "J/m^2, on layer 4", "exchange bias (unidirectional anisotropy) of layer 4", "1e-3",
                 ValueForm::Double, ParameterKind::Bias,
                 [](const ParameterSet& p) { return static_cast<Real>(p.Model.Stack.Bias); },
                 [](ParameterSet& p, Real v) { p.Model.Stack.Bias = static_cast<double>(v); }});
    e.push_back({"DR", "%", "GMR %", "magnetoresistance amplitude", kDefaultDeltaRText, ValueForm::Extended,
                 ParameterKind::Setting, [](const ParameterSet& p) { return p.Model.DeltaR; },
                 [](ParameterSet& p, Real v) { p.Model.DeltaR = v; }});
    e.push_back({"start", "kA/m", "kA/m", "initial field", "-250.0", ValueForm::Double, ParameterKind::Setting,
                 [](const ParameterSet& p) { return static_cast<Real>(p.Sweep.StartKiloAmperesPerMetre); },
                 [](ParameterSet& p, Real v) { p.Sweep.StartKiloAmperesPerMetre = static_cast<double>(v); }});
    e.push_back({"steps", "", "count", "number of field steps", "500", ValueForm::Integer, ParameterKind::Setting,
                 [](const ParameterSet& p) { return static_cast<Real>(p.Sweep.Steps); },
                 [](ParameterSet& p, Real v) { p.Sweep.Steps = static_cast<std::int32_t>(v); }});
    e.push_back({"step", "kA/m", "kA/m", "field step", "1.0", ValueForm::Double, ParameterKind::Setting,
                 [](const ParameterSet& p) { return static_cast<Real>(p.Sweep.StepKiloAmperesPerMetre); },
                 [](ParameterSet& p, Real v) { p.Sweep.StepKiloAmperesPerMetre = static_cast<double>(v); }});
    e.push_back({"noise", "rad", "rad", "amplitude of the noise kick before each relaxation", "0.0005",
                 ValueForm::Double, ParameterKind::Setting,
                 [](const ParameterSet& p) { return static_cast<Real>(p.Model.Solver.NoiseRadians); },
                 [](ParameterSet& p, Real v) { p.Model.Solver.NoiseRadians = static_cast<double>(v); }});
    e.push_back({"conv", "per rad", "per rad", "convergence threshold on the scaled gradient", "0.0000000002",
                 ValueForm::Extended, ParameterKind::Setting,
                 [](const ParameterSet& p) { return p.Model.Solver.ConvergenceThreshold; },
                 [](ParameterSet& p, Real v) { p.Model.Solver.ConvergenceThreshold = v; }});
    e.push_back({"maxiter", "", "count", "iteration budget of each relaxation", "6660", ValueForm::Integer,
                 ParameterKind::Setting,
                 [](const ParameterSet& p) { return static_cast<Real>(p.Model.Solver.IterationBudget); },
                 [](ParameterSet& p, Real v) { p.Model.Solver.IterationBudget = static_cast<std::int32_t>(v); }});
    e.push_back({"aniso", "", "UA or QU", "form of the anisotropy: uniaxial or quartic", "UA", ValueForm::Choice,
                 ParameterKind::Setting,
                 [](const ParameterSet& p) { return static_cast<Real>(p.Model.Stack.Anisotropy); },
                 [](ParameterSet& p, Real v) { p.Model.Stack.Anisotropy = static_cast<AnisotropyForm>(v); },
                 kAnisotropyNames, "an anisotropy form"});
    e.push_back({"solver", "", "descent (gradient descent) or newton (fast)", "relaxation of each step", "descent",
                 ValueForm::Choice, ParameterKind::Setting,
                 [](const ParameterSet& p) { return static_cast<Real>(p.Model.Solver.Method); },
                 [](ParameterSet& p, Real v) { p.Model.Solver.Method = static_cast<SolverMethod>(v); }, kSolverNames,
                 "a solver"});
    e.push_back({"gamma", "rad/(s T)", "rad/(s T), of the resonance modes", "gyromagnetic ratio of the resonance modes",
                 "1.76e11", ValueForm::Double, ParameterKind::Setting,
                 [](const ParameterSet& p) { return static_cast<Real>(p.Model.Gamma); },
                 [](ParameterSet& p, Real v) { p.Model.Gamma = static_cast<double>(v); }});
    return e;
}

} // namespace

std::span<const ParameterEntry> ParameterRegistry() {
    static const Entries registry = BuildRegistry();
    return registry.View();
}

const ParameterEntry* FindParameter(std::string_view key) {
    for (const ParameterEntry& entry : ParameterRegistry()) {
        if (entry.Key == key) {
            return &entry;
        }
    }
    return nullptr;
}

const ParameterEntry& Parameter(std::string_view key) {
    if (const ParameterEntry* entry = FindParameter(key)) {
        return *entry;
    }
    throw ProgramError("'" + std::string(key) + "' is not a parameter");
}

Real ParseParameter(const ParameterEntry& entry, std::string_view text, char separator) {
    switch (entry.Form) {
    case ValueForm::Extended:
        return TextToReal(text, separator);
    case ValueForm::Double:
        return TextToDouble(text, separator);
    case ValueForm::Integer:
        return TextToInteger(text);
    case ValueForm::Degrees: {
        const std::int32_t value = TextToInteger(text);
        if (value < 0 || value > 90) {
            throw ConversionError("'" + std::string(text) + "' is not a whole number of degrees from 0 to 90");
        }
        return value;
    }
    case ValueForm::Choice:
        break;
    }
    std::string names;
    for (std::size_t i = 0; i < entry.Choices.size(); ++i) {
        if (entry.Choices[i].empty()) {
            continue;
        }
        if (entry.Choices[i] == text) {
            return static_cast<Real>(i);
        }
        names += (names.empty() ? "" : " or ") + std::string(entry.Choices[i]);
    }
    throw ProgramError("'" + std::string(text) + "' is not " + std::string(entry.ChoiceWhat) + " (" + names + ")");
}

Real NumberAsTyped(const ParameterEntry& entry, double value) {
    switch (entry.Form) {
    case ValueForm::Extended:
        return TextToReal(RoundTripText(value));
    case ValueForm::Degrees:
        return static_cast<Real>(std::clamp(std::lround(value), 0L, 90L));
    case ValueForm::Integer:
        return static_cast<Real>(static_cast<std::int32_t>(value));
    case ValueForm::Double:
    case ValueForm::Choice:
        break;
    }
    return value;
}

ParameterSet DefaultParameters() {
    ParameterSet set;
    for (const ParameterEntry& entry : ParameterRegistry()) {
        entry.Set(set, ParseParameter(entry, entry.DefaultText));
    }
    return set;
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
    case ParameterKind::Setting:
        break;
    }
    return {0, 90};
}

} // namespace engine
} // namespace dravo2
