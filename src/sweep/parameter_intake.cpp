#include "sweep/parameter_intake.h"

#include "data/errors.h"
#include "data/number_text.h"
#include "engine/physical_constants.h"

namespace dravo2 {
inline namespace sweep {
namespace {

// The text fields in the order Start converts them: a field that does not convert is reported
// with every earlier one taken.
constexpr std::array<std::string_view, 21> kIntakeOrder{"M1", "M2",   "M3", "M4",   "t1",    "t2",   "t3",
                                                        "t4", "K1",   "K2", "K3",   "K4",    "J1",   "Jbq1",
                                                        "J2", "Jbq2", "J3", "bias", "noise", "conv", "maxiter"};

constexpr std::array<std::string_view, 5> kScrollBarKeys{"axis1", "axis2", "axis3", "axis4", "field_angle"};

template <typename Texts> auto TextSlot(Texts& texts, std::string_view key) -> decltype(&texts.J1) {
    for (std::size_t i = 0; i < kLayers; ++i) {
        const char layer = static_cast<char>('1' + i);
        if (key.size() == 2 && key[1] == layer) {
            switch (key[0]) {
            case 'M':
                return &texts.M[i];
            case 't':
                return &texts.t[i];
            case 'K':
                return &texts.K[i];
            default:
                break;
            }
        }
    }
    const std::array<std::pair<std::string_view, decltype(&texts.J1)>, 12> named{{
        {"J1", &texts.J1},
        {"J2", &texts.J2},
        {"J3", &texts.J3},
        {"Jbq1", &texts.Jbq1},
        {"Jbq2", &texts.Jbq2},
        {"bias", &texts.Bias},
        {"noise", &texts.Ramp},
        {"conv", &texts.Conv},
        {"maxiter", &texts.MaxIter},
        {"start", &texts.StartF},
        {"steps", &texts.Nstep},
        {"step", &texts.StepF},
    }};
    for (const auto& [name, slot] : named) {
        if (name == key) {
            return slot;
        }
    }
    return nullptr;
}

template <typename Texts> auto DegreesSlot(Texts& texts, std::string_view key) -> decltype(&texts.FieldAngleDegrees) {
    for (std::size_t i = 0; i < kLayers; ++i) {
        if (key == kScrollBarKeys[i]) {
            return &texts.AxisDegrees[i];
        }
    }
    return key == kScrollBarKeys[kLayers] ? &texts.FieldAngleDegrees : nullptr;
}

// The model's fields, scroll bars and buttons converted in Start's order into `set`; throws at
// the first field that does not convert, with the earlier ones set.
void ConvertModelFields(const ParameterTexts& texts, char separator, ParameterSet& set) {
    set.Model.Stack.Jbq[2] = 0;
    set.Model.Stack.J[3] = 0;
    set.Model.Stack.Jbq[3] = 0;
    for (const std::string_view key : kIntakeOrder) {
        const ParameterEntry& entry = Parameter(key);
        entry.Set(set, ParseParameter(entry, *TextSlot(texts, key), separator));
        if (key == "t4") {
            CheckLayerSigns(set.Model.Stack, [&texts](std::string_view name) { return *TextSlot(texts, name); });
        }
    }
    for (const std::string_view key : kScrollBarKeys) {
        Parameter(key).Set(set, *DegreesSlot(texts, key));
    }
    set.Model.Stack.Anisotropy = texts.UniaxialChecked  ? AnisotropyForm::Uniaxial
                                 : texts.QuarticChecked ? AnisotropyForm::Quartic
                                                        : AnisotropyForm::None;
}

} // namespace

void CheckLayerSigns(const LayerStack& stack, const std::function<std::string(std::string_view key)>& typed) {
    // A layer is absent with M or t of 0; a negative one would turn the stack's moment around.
    for (std::size_t i = 0; i < kLayers; ++i) {
        const std::string layer = std::to_string(i + 1);
        if (stack.M[i] < 0) {
            throw ProgramError("The magnetisation M" + layer + " (" + typed("M" + layer) +
                               ") is negative: give 0 for an absent layer, else a positive value");
        }
        if (stack.t[i] < 0) {
            throw ProgramError("The thickness t" + layer + " (" + typed("t" + layer) +
                               ") is negative: give 0 for an absent layer, else a positive value");
        }
    }
}

ParameterTexts::ParameterTexts() {
    for (const ParameterEntry& entry : ParameterRegistry()) {
        if (std::string* text = TextSlot(*this, entry.Key)) {
            *text = entry.DefaultText;
        } else if (int* degrees = DegreesSlot(*this, entry.Key)) {
            *degrees = static_cast<int>(ParseParameter(entry, entry.DefaultText));
        }
    }
    UniaxialChecked = Parameter("aniso").DefaultText == "UA";
    QuarticChecked = Parameter("aniso").DefaultText == "QU";
}

std::string* FieldText(ParameterTexts& texts, std::string_view key) {
    return TextSlot(texts, key);
}
const std::string* FieldText(const ParameterTexts& texts, std::string_view key) {
    return TextSlot(texts, key);
}
int* FieldDegrees(ParameterTexts& texts, std::string_view key) {
    return DegreesSlot(texts, key);
}
const int* FieldDegrees(const ParameterTexts& texts, std::string_view key) {
    return DegreesSlot(texts, key);
}

ParameterSet ParametersOf(const ParameterTexts& texts, char separator, const ParameterSet& base) {
    ClearFloatingPointFlags();
    ParameterSet set = base;
    ConvertModelFields(texts, separator, set);
    for (const std::string_view key : {"start", "steps", "step"}) {
        const ParameterEntry& entry = Parameter(key);
        entry.Set(set, ParseParameter(entry, *TextSlot(texts, key), separator));
    }
    return set;
}

SweepFieldTexts SweepFieldsOf(const ParameterTexts& texts) {
    return {texts.StartF, texts.Nstep, texts.StepF};
}

void TakeParameters(SweepSession& session, const ParameterTexts& texts, char separator) {
    ClearFloatingPointFlags();
    ParameterSet set;
    set.Model = session.Parameters();
    try {
        ConvertModelFields(texts, separator, set);
    } catch (...) {
        session.SetParameters(set.Model);
        throw;
    }
    session.SetParameters(set.Model);
    TakeSweepFields(session, SweepFieldsOf(texts), separator);
}

void ConvertSweepFields(SweepSession& session, const SweepFieldTexts& fields, char separator) {
    ClearFloatingPointFlags();
    session.StartKiloAmperesPerMetre =
        static_cast<double>(ParseParameter(Parameter("start"), fields.StartF, separator));
    session.Steps = static_cast<std::int32_t>(ParseParameter(Parameter("steps"), fields.Nstep, separator));
    session.StepKiloAmperesPerMetre = static_cast<double>(ParseParameter(Parameter("step"), fields.StepF, separator));
}

void TakeSweepFields(SweepSession& session, const SweepFieldTexts& fields, char separator) {
    ConvertSweepFields(session, fields, separator);
    session.ComputeEnd();
}

std::string SweepFieldText(double value, char separator) {
    return GeneralNumberText(value, 15, separator);
}

} // namespace sweep
} // namespace dravo2
