#pragma once

#include "engine/layer_model.h"
#include "engine/parameter_registry.h"
#include "engine/sweep_session.h"

#include <array>
#include <functional>
#include <string>
#include <string_view>

namespace dravo2 {
inline namespace sweep {

// The parameter fields as the user left them, with the positions of the angle scroll bars
// (whole degrees) and the anisotropy-form buttons. J1, J2 and J3 are the bilinear couplings of
// layers 1-2, 2-3 and 3-4; Jbq1 and Jbq2 the biquadratic couplings of layers 1-2 and 2-3. A
// fresh set holds the registry's defaults.
struct ParameterTexts {
    ParameterTexts();

    std::array<std::string, kLayers> M;
    std::array<std::string, kLayers> t;
    std::array<std::string, kLayers> K;
    std::string J1;
    std::string Jbq1;
    std::string J2;
    std::string Jbq2;
    std::string J3;
    std::string Bias;
    std::string Ramp;
    std::string Conv;
    std::string MaxIter;
    std::array<int, kLayers> AxisDegrees{};
    int FieldAngleDegrees = 0;
    bool UniaxialChecked = true;
    bool QuarticChecked = false;
    std::string StartF;
    std::string Nstep;
    std::string StepF;
};

// The field of a parameter's key in a set of texts, or null for a key the texts hold as a scroll
// bar's position (the angles), a button (aniso) or not at all (DR, solver).
std::string* FieldText(ParameterTexts& texts, std::string_view key);
const std::string* FieldText(const ParameterTexts& texts, std::string_view key);

// The scroll bar's position of an angle's key, or null.
int* FieldDegrees(ParameterTexts& texts, std::string_view key);
const int* FieldDegrees(const ParameterTexts& texts, std::string_view key);

// Refuses a negative magnetisation or thickness, naming the layer and the value as typed
// (`typed` gives a key's text).
void CheckLayerSigns(const LayerStack& stack, const std::function<std::string(std::string_view key)>& typed);

// The parameters the texts give, converted as Start converts them, over `base` (which supplies
// the solver method and the magnetoresistance amplitude, not held in the texts). Throws as
// TakeParameters does.
ParameterSet ParametersOf(const ParameterTexts& texts, char separator, const ParameterSet& base = {});

// The three sweep fields.
struct SweepFieldTexts {
    std::string StartF;
    std::string Nstep;
    std::string StepF;
};

// The sweep fields of a parameter set.
SweepFieldTexts SweepFieldsOf(const ParameterTexts& texts);

// Start's intake: every field converted in order into the stack, solver and sweep settings,
// then EndF. A field that does not convert, or a negative magnetisation or thickness, throws
// with every earlier target already set.
void TakeParameters(SweepSession& session, const ParameterTexts& texts, char separator);

// The three sweep fields converted in order (StartF, Nstep, StepF), without EndF; a field that
// does not convert throws and leaves the later ones unset.
void ConvertSweepFields(SweepSession& session, const SweepFieldTexts& fields, char separator);

// The sweep fields' change handling: the three fields converted in order, then EndF.
void TakeSweepFields(SweepSession& session, const SweepFieldTexts& fields, char separator);

// The text a sweep field is rewritten with (Reverse): 15 significant digits.
std::string SweepFieldText(double value, char separator);

} // namespace sweep
} // namespace dravo2
