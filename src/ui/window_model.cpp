#include "ui/window_model.h"

#include "data/errors.h"
#include "data/number_text.h"

#include <tuple>

namespace dravo2 {
inline namespace ui {
namespace {

auto Fields(const ParameterTexts& t) {
    return std::tie(t.M, t.t, t.K, t.J1, t.Jbq1, t.J2, t.Jbq2, t.J3, t.Bias, t.Ramp, t.Conv, t.MaxIter, t.AxisDegrees,
                    t.FieldAngleDegrees, t.UniaxialChecked, t.QuarticChecked, t.StartF, t.Nstep, t.StepF);
}

bool SameTexts(const ParameterTexts& a, const ParameterTexts& b) {
    return Fields(a) == Fields(b);
}

} // namespace

WindowModel::WindowModel(char separator, QObject* parent)
    : QObject(parent), DecimalSeparator(separator), Driver(separator) {
    setObjectName(QStringLiteral("WindowModel"));
}

WindowModel::~WindowModel() = default;

ParameterSet WindowModel::Parameters() const {
    ParameterSet base;
    base.Model = Driver.Session.Parameters();
    ParameterSet set = ParametersOf(Panel.Texts, DecimalSeparator, base);
    set.Model.DeltaR = TextToReal(Panel.DeltaR, DecimalSeparator);
    return set;
}

void WindowModel::TakeTexts(const ParameterTexts& texts, const std::string& deltaR) {
    if (SameTexts(texts, Panel.Texts) && deltaR == Panel.DeltaR) {
        return;
    }
    Panel.Texts = texts;
    Panel.DeltaR = deltaR;
    emit ParametersChanged();
}

void WindowModel::SetValues(const KeyValues& values, const KeyTexts& typed) {
    ParameterTexts texts = Panel.Texts;
    auto refuse = [](const std::string& key) { throw ProgramError("The window has no field of '" + key + "'"); };
    for (const auto& [key, value] : values) {
        if (std::string* text = FieldText(texts, key)) {
            *text = ShortestNumberText(value, DecimalSeparator);
        } else if (int* degrees = FieldDegrees(texts, key)) {
            *degrees = static_cast<int>(value);
        } else {
            refuse(key);
        }
    }
    for (const auto& [key, text] : typed) {
        if (std::string* slot = FieldText(texts, key)) {
            *slot = text;
        } else {
            refuse(key);
        }
    }
    TakeTexts(texts, Panel.DeltaR);
}

void WindowModel::MeasuredReplaced(const std::string& file) {
    ExpFileName = file;
    emit CurveChanged();
}

void WindowModel::LoopUpdated(LoopChange change) {
    emit LoopChanged(change);
}

void WindowModel::SetMisfit(const MisfitResult& misfit, double saturation) {
    LastMisfit = misfit;
    Saturation = saturation;
    emit MisfitChanged();
}

} // namespace ui
} // namespace dravo2
