#include "sweep/parameter_intake.h"

#include "data/errors.h"
#include "data/number_text.h"
#include "engine/physical_constants.h"

namespace dravo2 {

SweepFieldTexts SweepFieldsOf(const ParameterTexts& texts) {
    return {texts.StartF, texts.Nstep, texts.StepF};
}

void TakeParameters(SweepSession& session, const ParameterTexts& texts, char separator) {
    ClearFloatingPointFlags();
    LayerStack& s = session.Model.Stack;
    for (std::size_t i = 0; i < kLayers; ++i) {
        s.M[i] = TextToReal(texts.M[i], separator);
    }
    for (std::size_t i = 0; i < kLayers; ++i) {
        s.t[i] = TextToReal(texts.t[i], separator);
    }
    // A layer is absent with M or t of 0; a negative one would turn the stack's moment around.
    for (std::size_t i = 0; i < kLayers; ++i) {
        const std::string layer = std::to_string(i + 1);
        if (s.M[i] < 0) {
            throw ProgramError("The magnetisation M" + layer + " (" + texts.M[i] +
                               ") is negative: give 0 for an absent layer, else a positive value");
        }
        if (s.t[i] < 0) {
            throw ProgramError("The thickness t" + layer + " (" + texts.t[i] +
                               ") is negative: give 0 for an absent layer, else a positive value");
        }
    }
    for (std::size_t i = 0; i < kLayers; ++i) {
        s.K[i] = TextToReal(texts.K[i], separator);
    }
    s.J[0] = TextToReal(texts.J1, separator);
    s.Jbq[0] = TextToReal(texts.Jbq1, separator);
    s.J[1] = TextToReal(texts.J2, separator);
    s.Jbq[1] = TextToReal(texts.Jbq2, separator);
    s.J[2] = TextToReal(texts.J3, separator);
    s.Jbq[2] = 0;
    s.J[3] = 0;
    s.Jbq[3] = 0;
    s.Bias = TextToDouble(texts.Bias, separator);
    session.Solver.Ramp = TextToDouble(texts.Ramp, separator);
    session.Solver.Conv = TextToReal(texts.Conv, separator);
    session.Solver.MaxIter = TextToInteger(texts.MaxIter);
    for (std::size_t i = 0; i < kLayers; ++i) {
        s.Alpha[i] = DegreesToRadians(texts.AxisDegrees[i]);
    }
    session.Model.FieldAngle = static_cast<double>(DegreesToRadians(texts.FieldAngleDegrees));
    s.Anisotropy = texts.UniaxialChecked  ? AnisotropyForm::Uniaxial
                   : texts.QuarticChecked ? AnisotropyForm::Quartic
                                          : AnisotropyForm::None;
    TakeSweepFields(session, SweepFieldsOf(texts), separator);
}

void ConvertSweepFields(SweepSession& session, const SweepFieldTexts& fields, char separator) {
    ClearFloatingPointFlags();
    session.StartF = TextToDouble(fields.StartF, separator);
    session.Nstep = TextToInteger(fields.Nstep);
    session.StepF = TextToDouble(fields.StepF, separator);
}

void TakeSweepFields(SweepSession& session, const SweepFieldTexts& fields, char separator) {
    ConvertSweepFields(session, fields, separator);
    session.ComputeEndF();
}

std::string SweepFieldText(double value, char separator) {
    return GeneralNumberText(value, 15, separator);
}

} // namespace dravo2
