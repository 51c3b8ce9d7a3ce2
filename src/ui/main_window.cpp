#include "ui/main_window.h"

#include "data/errors.h"
#include "data/experiment_reader.h"
#include "data/file_io.h"
#include "data/number_text.h"
#include "data/result_writer.h"
#include "engine/physical_constants.h"
#include "plot/dial.h"
#include "ui/canvas_view.h"
#include "ui/number_stepping.h"

#include <QButtonGroup>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

#include <cmath>
#include <iterator>
#include <utility>

namespace dravo2 {
inline namespace ui {
namespace {

std::string Text(const QLineEdit* edit) {
    return edit->text().toStdString();
}

QString Caption(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

TForm1::TForm1(ErrorReporter& reporter, FileDialogs& dialogs, QWidget* parent)
    : QWidget(parent), State(RegionalDecimalSeparator()), Reporter(reporter), Dialogs(dialogs) {
    setObjectName(QStringLiteral("Form1"));
    BuildControls();
    // The default texts are written with a full stop; where the regional separator differs they
    // are shown with it, so that Start with the defaults converts them.
    if (State.Separator() != '.') {
        for (QLineEdit* edit : findChildren<QLineEdit*>()) {
            edit->setText(edit->text().replace(QLatin1Char('.'), QLatin1Char(State.Separator())));
        }
    }
    RegisterNumberFields();
    State.TakeTexts(PanelTexts(), Text(EditDR));
    State.SetMode(CurrentDisplayMode());
    State.SetPointStyleItem(RadioGroup_p.ItemIndex());
    BindEvents();
    Guarded([this] { FormCreate(); });
}

TForm1::~TForm1() = default;

void TForm1::RegisterNumberFields() {
    const std::pair<QLineEdit*, NumberKind> fields[] = {
        {Edit1M, NumberKind::Extended},         {Edit2M, NumberKind::Extended},
        {Edit3M, NumberKind::Extended},         {Edit4M, NumberKind::Extended},
        {Edit1t, NumberKind::Extended},         {Edit2t, NumberKind::Extended},
        {Edit3t, NumberKind::Extended},         {Edit4t, NumberKind::Extended},
        {Edit1K, NumberKind::Extended},         {Edit2K, NumberKind::Extended},
        {Edit3K, NumberKind::Extended},         {Edit4K, NumberKind::Extended},
        {Edit1J, NumberKind::Extended},         {Edit1J2, NumberKind::Extended},
        {Edit2J, NumberKind::Extended},         {Edit2J2, NumberKind::Extended},
        {Edit3J, NumberKind::Extended},         {Editbias, NumberKind::Double},
        {Edit_sp_Ramp, NumberKind::Double},     {Edit_sp_conv, NumberKind::Extended},
        {Edit_sp_maxiter, NumberKind::Integer}, {Edit_startF, NumberKind::Double},
        {Edit_Nstep, NumberKind::Integer},      {Edit_stepF, NumberKind::Double},
        {EditDR, NumberKind::Double},
    };
    NumberFields.reserve(std::size(fields));
    for (const auto& [edit, kind] : fields) {
        NumberFields.push_back({edit, kind, edit->toolTip(), edit->text(), {}});
    }
    // Connected before the sweep fields' handlers, so that a field is marked before they run.
    for (std::size_t i = 0; i < NumberFields.size(); ++i) {
        connect(NumberFields[i].Edit, &QLineEdit::textChanged, this, [this, i] { CheckNumberField(NumberFields[i]); });
        NumberFields[i].Edit->installEventFilter(this);
    }
    for (NumberField& field : NumberFields) {
        CheckNumberField(field);
    }
}

void TForm1::CheckNumberField(NumberField& field) {
    const std::string text = Text(field.Edit);
    QString problem;
    try {
        switch (field.Kind) {
        case NumberKind::Extended:
            TextToReal(text, State.Separator());
            break;
        case NumberKind::Double:
            TextToDouble(text, State.Separator());
            break;
        case NumberKind::Integer:
            TextToInteger(text);
            break;
        }
    } catch (const ProgramError& error) {
        problem = QString::fromUtf8(error.what());
    }
    if (problem.isEmpty() != field.Problem.isEmpty()) {
        field.Edit->setStyleSheet(problem.isEmpty() ? QString()
                                                    : QStringLiteral("QLineEdit { border: 2px solid red; }"));
    }
    field.Problem = problem;
    const QString full = field.Edit->text();
    field.Edit->setToolTip(full == field.DefaultText ? field.Hint : field.Hint + QLatin1Char('\n') + full);

    QString message;
    for (const NumberField& each : NumberFields) {
        if (!each.Problem.isEmpty()) {
            message = each.Hint + QStringLiteral(": ") + each.Problem;
            break;
        }
    }
    if (message != CurrentInputMessage) {
        CurrentInputMessage = message;
        emit InputMessageChanged(message);
    }
}

void TForm1::ShowFromStart(QLineEdit* edit) {
    edit->setCursorPosition(0);
}

void TForm1::BindEvents() {
    auto bind = [this](auto* sender, auto signal, void (TForm1::*handler)()) {
        connect(sender, signal, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    };
    bind(BitBtn1_Start, &QPushButton::clicked, &TForm1::BitBtn1_StartClick);
    bind(SB1_Stop, &QToolButton::clicked, &TForm1::SB1_StopClick);
    bind(SB2_Reverse, &QToolButton::clicked, &TForm1::SB2_ReverseClick);
    bind(Edit_startF, &QLineEdit::textChanged, &TForm1::Edit_startFChange);
    bind(Edit_Nstep, &QLineEdit::textChanged, &TForm1::Edit_NstepChange);
    bind(Edit_stepF, &QLineEdit::textChanged, &TForm1::Edit_stepFChange);
    bind(Timer1, &QTimer::timeout, &TForm1::Timer1Timer);
    bind(BOtworzDAT, &QPushButton::clicked, &TForm1::BOtworzDATClick);
    bind(BZapiszDAT, &QPushButton::clicked, &TForm1::BZapiszDATClick);
    bind(BReplot1, &QPushButton::clicked, &TForm1::BReplot1Click);
    bind(BReplot2, &QPushButton::clicked, &TForm1::BReplot2Click);
    bind(BNormalizeSim, &QPushButton::clicked, &TForm1::BNormalizeSimClick);
    bind(RadioGroup_p.Items, &QButtonGroup::idClicked, &TForm1::RadioGroup_pClick);
    bind(RadioGroup_px.Items, &QButtonGroup::idClicked, &TForm1::RadioGroup_pxClick);
    bind(RadioGroup_py.Items, &QButtonGroup::idClicked, &TForm1::RadioGroup_pyClick);
    bind(ScrollBarHP, &QScrollBar::valueChanged, &TForm1::ScrollBarHPChange);
    bind(ScrollBar1a, &QScrollBar::valueChanged, &TForm1::ScrollBar1aChange);
    bind(ScrollBar2a, &QScrollBar::valueChanged, &TForm1::ScrollBar2aChange);
    bind(ScrollBar3a, &QScrollBar::valueChanged, &TForm1::ScrollBar3aChange);
    bind(ScrollBar4a, &QScrollBar::valueChanged, &TForm1::ScrollBar4aChange);
    bind(ScrollBarHA, &QScrollBar::valueChanged, &TForm1::ScrollBarHAChange);

    // After the fields' own handlers: what listens to edits reads the panel as it now stands.
    for (const NumberField& field : NumberFields) {
        connect(field.Edit, &QLineEdit::textChanged, this, &TForm1::Edited);
    }
    for (QScrollBar* bar : {ScrollBar1a, ScrollBar2a, ScrollBar3a, ScrollBar4a, ScrollBarHA}) {
        connect(bar, &QScrollBar::valueChanged, this, &TForm1::Edited);
    }
    connect(AnisotropyGroup, &QButtonGroup::idClicked, this, &TForm1::Edited);
    connect(DisplayModeGroup, &QButtonGroup::idClicked, this, &TForm1::Edited);
    ConnectModel();
}

void TForm1::ConnectModel() {
    // The model follows a button checked by the program too, not only by a click.
    connect(AnisotropyGroup, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked && !WritingPanel) {
            State.TakeTexts(PanelTexts(), Text(EditDR));
        }
    });
    connect(DisplayModeGroup, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) {
            State.SetMode(CurrentDisplayMode());
        }
    });
    connect(RadioGroup_p.Items, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) {
            State.SetPointStyleItem(id);
        }
    });
    connect(&State, &WindowModel::ParametersChanged, this, &TForm1::ShowModelParameters);

    // The loop's listeners hear of it once the panel's own handler is done, whether or not it
    // succeeded.
    const auto swept = [this] { State.LoopUpdated(LoopChange::Swept); };
    connect(Timer1, &QTimer::timeout, this, swept);
    connect(BitBtn1_Start, &QPushButton::clicked, this, swept);
    connect(SB2_Reverse, &QToolButton::clicked, this, swept);
    connect(BNormalizeSim, &QPushButton::clicked, this, [this] { State.LoopUpdated(LoopChange::Normalised); });
}

void TForm1::Edited() {
    if (!WritingPanel) {
        State.TakeTexts(PanelTexts(), Text(EditDR));
        emit ParametersEdited();
    }
}

void TForm1::RefreshViews() {
    LabelMinX->setText(Caption(State.Loop().PlotState->LabelMinX));
    LabelMaxX->setText(Caption(State.Loop().PlotState->LabelMaxX));
    LabelMinY->setText(Caption(State.Loop().PlotState->LabelMinY));
    LabelMaxY->setText(Caption(State.Loop().PlotState->LabelMaxY));
    Image1->update();
    Image2->update();
}

DisplayMode TForm1::CurrentDisplayMode() const {
    if (RadioButton4_tt->isChecked()) {
        return DisplayMode::ThetaTheta;
    }
    if (RadioButton5FMR->isChecked()) {
        return DisplayMode::Fmr;
    }
    if (RadioButton4_GMR->isChecked()) {
        return DisplayMode::DeltaR;
    }
    if (RadioButton4_MvH->isChecked()) {
        return DisplayMode::MvHx;
    }
    if (RadioButton4_MvHy->isChecked()) {
        return DisplayMode::MvHy;
    }
    return DisplayMode::MvHz;
}

ParameterTexts TForm1::PanelTexts() const {
    ParameterTexts texts;
    texts.M = {Text(Edit1M), Text(Edit2M), Text(Edit3M), Text(Edit4M)};
    texts.t = {Text(Edit1t), Text(Edit2t), Text(Edit3t), Text(Edit4t)};
    texts.K = {Text(Edit1K), Text(Edit2K), Text(Edit3K), Text(Edit4K)};
    texts.J1 = Text(Edit1J);
    texts.Jbq1 = Text(Edit1J2);
    texts.J2 = Text(Edit2J);
    texts.Jbq2 = Text(Edit2J2);
    texts.J3 = Text(Edit3J);
    texts.Bias = Text(Editbias);
    texts.Ramp = Text(Edit_sp_Ramp);
    texts.Conv = Text(Edit_sp_conv);
    texts.MaxIter = Text(Edit_sp_maxiter);
    texts.AxisDegrees = {ScrollBar1a->value(), ScrollBar2a->value(), ScrollBar3a->value(), ScrollBar4a->value()};
    texts.FieldAngleDegrees = ScrollBarHA->value();
    texts.UniaxialChecked = RadioButton2_ua->isChecked();
    texts.QuarticChecked = RadioButton2_q->isChecked();
    texts.StartF = Text(Edit_startF);
    texts.Nstep = Text(Edit_Nstep);
    texts.StepF = Text(Edit_stepF);
    return texts;
}

bool TForm1::WriteFields(const ParameterTexts& texts, const std::string* deltaR, FieldWriting how) {
    const bool writing = WritingPanel;
    WritingPanel = true;
    bool changed = false;
    auto write = [this, how, &changed](QLineEdit* edit, const std::string& text) {
        QString shown = Caption(text);
        if (how == FieldWriting::EveryFieldFromFile) {
            if (State.Separator() != '.') {
                shown.replace(QLatin1Char('.'), QLatin1Char(State.Separator()));
            }
        } else if (edit->text() == shown) {
            return;
        }
        changed = changed || edit->text() != shown;
        edit->setText(shown);
        ShowFromStart(edit);
    };
    auto move = [&changed](QScrollBar* bar, int degrees) {
        changed = changed || bar->value() != degrees;
        bar->setValue(degrees);
    };
    const std::array<QLineEdit*, kLayers> m{Edit1M, Edit2M, Edit3M, Edit4M};
    const std::array<QLineEdit*, kLayers> t{Edit1t, Edit2t, Edit3t, Edit4t};
    const std::array<QLineEdit*, kLayers> k{Edit1K, Edit2K, Edit3K, Edit4K};
    const std::array<QScrollBar*, kLayers> axes{ScrollBar1a, ScrollBar2a, ScrollBar3a, ScrollBar4a};
    for (std::size_t i = 0; i < kLayers; ++i) {
        write(m[i], texts.M[i]);
        write(t[i], texts.t[i]);
        write(k[i], texts.K[i]);
        move(axes[i], texts.AxisDegrees[i]);
    }
    write(Edit1J, texts.J1);
    write(Edit1J2, texts.Jbq1);
    write(Edit2J, texts.J2);
    write(Edit2J2, texts.Jbq2);
    write(Edit3J, texts.J3);
    write(Editbias, texts.Bias);
    write(Edit_sp_Ramp, texts.Ramp);
    write(Edit_sp_conv, texts.Conv);
    write(Edit_sp_maxiter, texts.MaxIter);
    move(ScrollBarHA, texts.FieldAngleDegrees);
    // The buttons are exclusive: checking one unchecks the other.
    QRadioButton* form = texts.QuarticChecked ? RadioButton2_q : texts.UniaxialChecked ? RadioButton2_ua : nullptr;
    if (form != nullptr) {
        changed = changed || !form->isChecked();
        form->setChecked(true);
    }
    write(Edit_startF, texts.StartF);
    write(Edit_Nstep, texts.Nstep);
    write(Edit_stepF, texts.StepF);
    if (deltaR != nullptr) {
        write(EditDR, *deltaR);
    }
    WritingPanel = writing;
    return changed;
}

void TForm1::SetPanelTexts(const ParameterTexts& texts, const std::string* deltaR) {
    WriteFields(texts, deltaR, FieldWriting::EveryFieldFromFile);
    Edited();
}

void TForm1::ShowModelParameters() {
    const std::string deltaR = State.DeltaRText();
    if (!WritingPanel && WriteFields(ParameterTexts(State.Texts()), &deltaR, FieldWriting::ChangedFields)) {
        Edited();
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    int units = 0;
    Qt::KeyboardModifiers modifiers;
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        units = key->key() == Qt::Key_Up ? 1 : key->key() == Qt::Key_Down ? -1 : 0;
        modifiers = key->modifiers();
    } else if (event->type() == QEvent::Wheel && qobject_cast<QLineEdit*>(watched) != nullptr) {
        const auto* wheel = static_cast<QWheelEvent*>(event);
        if (wheel->angleDelta().y() == 0) {
            return QWidget::eventFilter(watched, event);
        }
        // A notch is 120; a fine wheel or a touchpad sends parts of one, which add up.
        WheelTurn += wheel->angleDelta().y();
        units = WheelTurn / 120;
        WheelTurn %= 120;
        modifiers = wheel->modifiers();
        if (units == 0) {
            return true;
        }
    }
    auto* edit = qobject_cast<QLineEdit*>(watched);
    if (units == 0 || edit == nullptr || edit->isReadOnly() || !edit->isEnabled()) {
        return QWidget::eventFilter(watched, event);
    }
    if (modifiers & Qt::ShiftModifier) {
        units *= 10;
    }
    // A text that is not a plain number (yet) is left as it is; the key does nothing else.
    if (const auto stepped = SteppedNumberText(Text(edit), units, State.Separator())) {
        const int fromEnd = static_cast<int>(edit->text().size()) - edit->cursorPosition();
        edit->setText(Caption(*stepped));
        edit->setCursorPosition(std::max(0, static_cast<int>(edit->text().size()) - fromEnd));
    }
    return true;
}

SweepFieldTexts TForm1::ReadSweepFields() const {
    return {Text(Edit_startF), Text(Edit_Nstep), Text(Edit_stepF)};
}

void TForm1::FormCreate() {
    State.Measured().ClearExpTable();
    State.MeasuredReplaced({});
    State.Loop().Create(ReadSweepFields());
    ClearVectorScreen();
}

void TForm1::BitBtn1_StartClick() {
    State.Loop().Start(
        {PanelTexts(), Text(EditDR), RadioGroup_p.ItemIndex()}, CurrentDisplayMode(), &State.Measured(), [this] {
            Label_endF->setText(
                Caption(FinalFieldCaption(State.Loop().Session.EndKiloAmperesPerMetre, 4, State.Separator())));
        });
    BitBtn1_Start->setEnabled(false);
    SB1_Stop->setEnabled(true);
    Timer1->start();
}

void TForm1::EndSweep() {
    State.Loop().Stop();
    Timer1->stop();
    BitBtn1_Start->setEnabled(true);
    SB1_Stop->setEnabled(false);
    SB2_Reverse->setEnabled(true);
    BZapiszDAT->setEnabled(true);
}

void TForm1::SB1_StopClick() {
    EndSweep();
}

void TForm1::SB2_ReverseClick() {
    // The fields as they stand are what is reversed: a text that does not convert halts here.
    TakeSweepFields(State.Loop().Session, ReadSweepFields(), State.Separator());
    const SweepFieldTexts reversed = State.Loop().Reverse();
    // Rewriting the two fields runs their change handlers, as typing does.
    Edit_startF->setText(Caption(reversed.StartF));
    Edit_stepF->setText(Caption(reversed.StepF));
    ShowFromStart(Edit_startF);
    ShowFromStart(Edit_stepF);
    Label_endF->setText(Caption(FinalFieldCaption(State.Loop().Session.EndKiloAmperesPerMetre, 5, State.Separator())));
    BZapiszDAT->setEnabled(false);
    BitBtn1_Start->setEnabled(false);
    SB2_Reverse->setEnabled(false);
    SB1_Stop->setEnabled(true);
    Timer1->start();
}

void TForm1::SweepFieldsChanged() {
    // A text being typed may not be a number yet ("-", "2e"): the fields before it are taken,
    // the field is marked and its message shown in the status bar; the message box comes when
    // the value is used (Start, Reverse), so that no keystroke is lost to it.
    try {
        TakeSweepFields(State.Loop().Session, ReadSweepFields(), State.Separator());
    } catch (const ProgramError&) {
        return;
    }
    Label_endF->setText(Caption(FinalFieldCaption(State.Loop().Session.EndKiloAmperesPerMetre, 4, State.Separator())));
}

void TForm1::Edit_startFChange() {
    SweepFieldsChanged();
}
void TForm1::Edit_NstepChange() {
    SweepFieldsChanged();
}
void TForm1::Edit_stepFChange() {
    SweepFieldsChanged();
}

void TForm1::Timer1Timer() {
    Timer1->stop();
    const TickResult result = State.Loop().Tick(Text(EditDR), CurrentDisplayMode());
    if (State.Loop().Recorded) {
        ShowVariables();
        emit StepRecorded();
    }
    switch (result) {
    case TickResult::Continue:
        Timer1->start();
        break;
    case TickResult::Ended:
        EndSweep();
        break;
    case TickResult::TableFull:
        EndSweep();
        throw ProgramError(kTableFullMessage);
    }
}

void TForm1::ShowVariables() {
    const SweepSession& session = State.Loop().Session;
    const LayerStack& stack = session.Model.Stack;
    QLabel* const angleLabels[] = {Label1, Label2, Label3};
    for (std::size_t i = 0; i < 3; ++i) {
        if (stack.t[i] > 0) {
            angleLabels[i]->setText(Caption(GeneralNumberText(session.Theta[i], 5, State.Separator())));
        }
    }
    Label7->setText(Caption(GeneralNumberText(session.Theta[3], 5, State.Separator())));
    Label4->setText(Caption(GeneralNumberText(session.CurrentEnergy, 5, State.Separator())));
    Label5->setText(QString::number(session.IterationCount));
    Label6->setText(QString::number(session.StepIndex));
    ReplotVectorScreen();
}

QString TForm1::ShowComputedLoop(const SweepParameters& parameters, DisplayMode mode, const LoopResult& result) {
    QString said;
    // A live loop says its problems in the status bar: a message box would take the keys typed next.
    ClearFloatingPointFlags();
    try {
        // Start's own preparation: the intake, the final field's caption, the display preset and
        // the fresh plot with the measured curve; the rows then come from the computed loop
        // instead of the ticks, drawn as each tick draws its row.
        State.Loop().Start(parameters, mode, &State.Measured(), [this] {
            Label_endF->setText(
                Caption(FinalFieldCaption(State.Loop().Session.EndKiloAmperesPerMetre, 4, State.Separator())));
        });
        State.Loop().Stop();
        SweepSession& session = State.Loop().Session;
        SimulationData& simulation = *State.Loop().Simulation;
        const auto columns = DisplayColumnsFor(mode);
        std::int32_t row = 0;
        for (std::size_t branch = 0; branch < result.BranchRows.size(); ++branch) {
            if (branch > 0) {
                // Reverse, as its button gives it, without rewriting the sweep fields.
                State.Loop().Reverse();
                State.Loop().Stop();
            }
            for (std::int32_t i = 0; i < result.BranchRows[branch] && simulation.SimRows < MaxRows; ++i, ++row) {
                ++simulation.SimRows;
                for (std::size_t k = 0; k < kObservableCount; ++k) {
                    if (const std::int32_t column = TableColumn(static_cast<Observable>(k))) {
                        simulation.SimTable.At(column, simulation.SimRows) =
                            result[static_cast<Observable>(k)][static_cast<std::size_t>(row)];
                    }
                }
                if (columns) {
                    State.Loop().PlotState->ShowColumns(*columns);
                }
                State.Loop().PlotState->PlotLivePoint(simulation);
            }
            session.StepIndex = result.BranchRows[branch];
        }
        session.Theta = result.FinalAngles;
        session.Generator.RandomState = result.FinalRandomState;
        if (result.Rows() > 0) {
            const auto last = static_cast<std::size_t>(result.Rows() - 1);
            session.IterationCount = static_cast<std::int32_t>(result[Observable::Iterations][last]);
            session.CurrentEnergy = result[Observable::Energy][last];
            session.Projection = result[Observable::Projection][last];
            ShowVariables();
        }
        SB2_Reverse->setEnabled(true);
        BZapiszDAT->setEnabled(simulation.SimRows > 0);
        if (result.End == LoopEnd::FloatingPointError) {
            said = QString::fromStdString(result.Error);
        } else if (result.End == LoopEnd::TableFull) {
            said = QString::fromLatin1(kTableFullMessage);
        }
    } catch (const std::exception& error) {
        said = QString::fromUtf8(error.what());
    }
    ClearFloatingPointFlags();
    RefreshViews();
    State.LoopUpdated(LoopChange::Computed);
    return said;
}

void TForm1::ClearScreen() {
    State.Loop().PlotState->ClearScreen(RadioGroup_p.ItemIndex(), State.Separator());
}

void TForm1::ReplotData(const double* xs, const double* ys, std::int32_t count) {
    State.Loop().PlotState->ReplotData(xs, ys, count);
}

void TForm1::ReplotExperiment() {
    if (State.Measured().ExpRows > 0) {
        ScrollBarHP->setEnabled(true);
        ScrollBarHP->setMaximum(State.Measured().ExpRows);
    }
    State.Loop().PlotState->ReplotExperiment(State.Measured(), *State.Loop().Simulation, RadioGroup_p.ItemIndex(),
                                             State.Separator());
}

void TForm1::ReplotExperiment(const ExperimentData& curve) {
    State.Loop().PlotState->ReplotExperiment(curve, *State.Loop().Simulation, RadioGroup_p.ItemIndex(),
                                             State.Separator());
}

bool TForm1::CanStart() const {
    return BitBtn1_Start->isEnabled();
}

void TForm1::StartIfEnabled() {
    if (CanStart()) {
        BitBtn1_Start->click();
    }
}

void TForm1::LockSweepControls(bool locked) {
    const std::array<QWidget*, 3> controls{BitBtn1_Start, SB2_Reverse, BOtworzDAT};
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (locked) {
            WasEnabled[i] = controls[i]->isEnabled();
            controls[i]->setEnabled(false);
        } else {
            controls[i]->setEnabled(WasEnabled[i]);
        }
    }
    if (!locked) {
        // A sweep that ended meanwhile frees Start; one still running keeps it disabled.
        BitBtn1_Start->setEnabled(!State.Loop().IsRunning());
    }
}

void TForm1::ChooseDisplayMode(DisplayMode mode) {
    const std::pair<DisplayMode, QRadioButton*> buttons[] = {
        {DisplayMode::MvHx, RadioButton4_MvH},   {DisplayMode::MvHy, RadioButton4_MvHy},
        {DisplayMode::MvHz, RadioButton4_MvHz},  {DisplayMode::ThetaTheta, RadioButton4_tt},
        {DisplayMode::DeltaR, RadioButton4_GMR}, {DisplayMode::Fmr, RadioButton5FMR}};
    for (const auto& [each, button] : buttons) {
        if (each == mode) {
            button->setChecked(true);
        }
    }
}

void TForm1::BReplot1Click() {
    ReplotExperiment();
}

void TForm1::BReplot2Click() {
    ScrollBarHP->setEnabled(false);
    ClearScreen();
    State.Loop().PlotState->ReplotBoth(State.Measured(), *State.Loop().Simulation);
}

void TForm1::BNormalizeSimClick() {
    const double first = State.Loop().Simulation->SimTable.At(2, 1);
    const double divisor = first != 0 ? std::fabs(first) : 1.0;
    // Row 1 is divided too, so it becomes +-1 and a second press changes nothing.
    for (std::int32_t row = 1; row <= State.Loop().Simulation->SimRows; ++row) {
        State.Loop().Simulation->SimTable.At(2, row) = State.Loop().Simulation->SimTable.At(2, row) / divisor;
    }
    ReplotExperiment();
    ClearScreen();
    ScrollBarHP->setEnabled(false);
    State.Loop().PlotState->ReplotBoth(State.Measured(), *State.Loop().Simulation);
}

void TForm1::RadioGroup_pClick() {
    ClearScreen();
    ReplotData(State.Measured().ExpTable.Column(State.Loop().PlotState->ExpXCol),
               State.Measured().ExpTable.Column(State.Loop().PlotState->ExpYCol), State.Measured().ExpRows);
}

void TForm1::ColumnChosen(std::int32_t& column, const RadioGroup& group) {
    const std::int32_t chosen = group.ItemIndex() + 1;
    if (chosen >= 1 && chosen <= State.Measured().ExpCols) {
        column = chosen;
    }
    ClearScreen();
    ReplotData(State.Measured().ExpTable.Column(State.Loop().PlotState->ExpXCol),
               State.Measured().ExpTable.Column(State.Loop().PlotState->ExpYCol), State.Measured().ExpRows);
}

void TForm1::RadioGroup_pxClick() {
    ColumnChosen(State.Loop().PlotState->ExpXCol, RadioGroup_px);
}
void TForm1::RadioGroup_pyClick() {
    ColumnChosen(State.Loop().PlotState->ExpYCol, RadioGroup_py);
}

void TForm1::ScrollBarHPChange() {
    const Real span = ScrollBarHP->maximum() - ScrollBarHP->minimum();
    const Real picked =
        static_cast<Real>(static_cast<std::int64_t>(State.Measured().ExpRows) * ScrollBarHP->value()) / span;
    CheckFloatingPoint(picked);
    State.Loop().PlotState->HighlightRow = static_cast<std::int32_t>(std::nearbyint(picked));
    const std::int32_t row = State.Loop().PlotState->HighlightRow;
    const bool shown = row >= 1 && row <= MaxRows;
    LabelXH->setText(shown
                         ? Caption(GeneralNumberText(State.Measured().ExpTable.At(State.Loop().PlotState->ExpXCol, row),
                                                     6, State.Separator()))
                         : QStringLiteral("XHighlit"));
    LabelYH->setText(shown
                         ? Caption(GeneralNumberText(State.Measured().ExpTable.At(State.Loop().PlotState->ExpYCol, row),
                                                     6, State.Separator()))
                         : QStringLiteral("YHighlit"));
    ReplotExperiment();
}

void TForm1::ResizePlot(int width, int height) {
    Plot& plot = *State.Loop().PlotState;
    if (plot.Image.Width() == width && plot.Image.Height() == height) {
        return;
    }
    plot.Image = Canvas(width, height);
    if (plot.Range.PlotWidth == 0) {
        return; // nothing drawn yet: the plot stays white
    }
    // The picture is drawn anew at the new size over the same world range, as Start and the ticks
    // drew it: the measured curve (where the display shows the field and the projection) and the
    // recorded rows, the pen left at the last row so that a running sweep joins on. It is the same
    // drawing, so the count of fresh drawings stays.
    const std::uint64_t clears = plot.Clears;
    const SimulationData& simulation = *State.Loop().Simulation;
    const bool fieldAndProjection = plot.SimXCol == 1 && plot.SimYCol == 2;
    const std::int32_t measuredRows =
        fieldAndProjection || simulation.SimRows == 0 ? State.Measured().ExpRows : std::int32_t{0};
    try {
        plot.ReplotSweep(State.Measured().ExpTable.Column(plot.ExpXCol), State.Measured().ExpTable.Column(plot.ExpYCol),
                         measuredRows, RadioGroup_p.ItemIndex(), simulation, State.Separator());
    } catch (const ProgramError&) {
        // A range that cannot be drawn leaves the plot wiped, as it left the smaller one.
    }
    plot.Clears = clears;
    ClearFloatingPointFlags();
    RefreshViews();
    emit PlotResized();
}

void TForm1::ClearVectorScreen() {
    dravo2::ClearVectorScreen(DialImage, State.Loop().Session.Model.Stack.Alpha, State.Loop().Session.Model.FieldAngle,
                              State.Loop().Session.StartKiloAmperesPerMetre);
}

void TForm1::ReplotVectorScreen() {
    dravo2::ReplotVectorScreen(DialImage, State.Loop().Session.Model.Stack.Alpha, State.Loop().Session.Model.FieldAngle,
                               State.Loop().Session.StartKiloAmperesPerMetre, State.Loop().Session.Theta);
}

void TForm1::AngleChanged(QScrollBar* bar, const char* hint, int layer) {
    const int degrees = bar->value();
    bar->setToolTip(QString::fromLatin1(hint) + QString::number(degrees));
    const Real angle = DegreesToRadians(degrees);
    if (layer > 0) {
        State.Loop().Session.Model.Stack.Alpha[static_cast<std::size_t>(layer - 1)] = angle;
    } else {
        State.Loop().Session.Model.FieldAngle = static_cast<double>(angle);
    }
    ClearVectorScreen();
}

void TForm1::ScrollBar1aChange() {
    AngleChanged(ScrollBar1a, "1st layer anisotropy angle: ", 1);
}
void TForm1::ScrollBar2aChange() {
    AngleChanged(ScrollBar2a, "2nd layer anisotropy angle: ", 2);
}
void TForm1::ScrollBar3aChange() {
    AngleChanged(ScrollBar3a, "3rd layer anisotropy angle: ", 3);
}
void TForm1::ScrollBar4aChange() {
    AngleChanged(ScrollBar4a, "4rd layer anisotropy angle: ", 4);
}
void TForm1::ScrollBarHAChange() {
    AngleChanged(ScrollBarHA, "Field angle: ", 0);
}

void TForm1::BOtworzDATClick() {
    // The dialog comes first: a cancelled load keeps the experiment already loaded.
    int filterIndex = State.OpenFilterIndex();
    const QString name = Dialogs.OpenExperiment(filterIndex);
    // The dialog's own event loop leaves floating-point flags raised (invalid, inexact); the
    // reader's number checks must not take them for a bad number.
    ClearFloatingPointFlags();
    if (name.isEmpty()) {
        return;
    }
    LoadExperimentFile(name, filterIndex);
}

void TForm1::LoadExperimentFile(const QString& name, int filterIndex) {
    State.SetOpenFilterIndex(filterIndex);
    State.Measured().ClearExpTable();
    const std::string fileName = name.toStdString();
    // The curve is replaced (by an empty one at least) however the reading ends.
    try {
        ReadExperimentFile(fileName);
    } catch (...) {
        State.MeasuredReplaced(fileName);
        throw;
    }
    State.MeasuredReplaced(fileName);
}

void TForm1::ReadExperimentFile(const std::string& fileName) {
    std::unique_ptr<InputFile> file;
    try {
        file = std::make_unique<InputFile>(fileName);
    } catch (const NotRegularFileError&) {
        throw; // a FIFO or a device is refused with a message, never waited for
    } catch (const InputOutputError&) {
        return; // a file that cannot be opened loads nothing, without a message
    }
    TextReader text([&file](char* buffer, std::size_t size) { return file->Read(buffer, size); }, true);
    const ExperimentFormat format = State.OpenFilterIndex() == 1 ? ExperimentFormat::Da2 : ExperimentFormat::Dat;
    const bool rowsCut = ReadExperiment(text, format, State.Measured(), State.Separator(),
                                        [this](const std::string& status) { Label1->setText(Caption(status)); });
    if (State.Measured().ExpRows > 0) {
        ReplotExperiment();
    }
    if (rowsCut) {
        Reporter.Report(QString::fromLatin1(kRowsCutMessage));
    }
}

void TForm1::BZapiszDATClick() {
    if (State.Loop().Simulation->SimRows <= 0) {
        return;
    }
    QString name = Dialogs.SaveResult(SaveFileName);
    if (name.isEmpty()) {
        return; // cancelled: nothing is written
    }
    if (QFileInfo(name).suffix().isEmpty()) {
        name += QStringLiteral(".da2");
    }
    SaveFileName = name;
    // A FIFO or device is refused rather than waited for on the interface thread.
    const WriteNote note =
        WriteFileSafely(name.toStdString(), ResultFileText(*State.Loop().Simulation), SpecialFiles::Refuse);
    BZapiszDAT->setEnabled(false);
    if (note == WriteNote::LinksBroken) {
        Reporter.Report(LinksBrokenText(name));
    }
}

} // namespace ui
} // namespace dravo2
