#pragma once

#include "engine/layer_model.h"
#include "engine/sweep_session.h"

#include <array>
#include <string>

namespace dravo2 {

// The parameter fields as the user left them, with the positions of the angle scroll bars
// (whole degrees) and the anisotropy-form buttons. J1, J2 and J3 are the bilinear couplings of
// layers 1-2, 2-3 and 3-4; Jbq1 and Jbq2 the biquadratic couplings of layers 1-2 and 2-3.
struct ParameterTexts {
    std::array<std::string, kLayers> M{"1.5", "1.5", "0.7", "1.0"};
    std::array<std::string, kLayers> t{"2e-9", "2e-9", "2e-9", "20e-9"};
    std::array<std::string, kLayers> K{"100", "100", "60", "1000"};
    std::string J1 = "-0.002e-3";
    std::string Jbq1 = "-0e-3";
    std::string J2 = "0e-3";
    std::string Jbq2 = "-0e-3";
    std::string J3 = "0.2e-3";
    std::string Bias = "1e-3";
    std::string Ramp = "0.0005";
    std::string Conv = "0.0000000002";
    std::string MaxIter = "6660";
    std::array<int, kLayers> AxisDegrees{};
    int FieldAngleDegrees = 0;
    bool UniaxialChecked = true;
    bool QuarticChecked = false;
    std::string StartF = "-250.0";
    std::string Nstep = "500";
    std::string StepF = "1.0";
};

// The magnetoresistance amplitude's default text.
inline constexpr const char* kDefaultDeltaRText = "100.0";

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

} // namespace dravo2
