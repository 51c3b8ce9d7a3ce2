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
    : QWidget(parent), Reporter(reporter), Dialogs(dialogs) {
    setObjectName(QStringLiteral("Form1"));
    Separator = RegionalDecimalSeparator();
    Driver.Separator = Separator;
    BuildControls();
    // The default texts are written with a full stop; where the regional separator differs they
    // are shown with it, so that Start with the defaults converts them.
    if (Separator != '.') {
        for (QLineEdit* edit : findChildren<QLineEdit*>()) {
            edit->setText(edit->text().replace(QLatin1Char('.'), QLatin1Char(Separator)));
        }
    }
    RegisterNumberFields();
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
            TextToReal(text, Separator);
            break;
        case NumberKind::Double:
            TextToDouble(text, Separator);
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

void TForm1::WriteValue(QLineEdit* edit, double value) {
    edit->setText(Caption(ShortestNumberText(value, Separator)));
    ShowFromStart(edit);
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
}

void TForm1::Edited() {
    if (!WritingPanel) {
        emit ParametersEdited();
    }
}

void TForm1::RefreshViews() {
    LabelMinX->setText(Caption(Driver.PlotState->LabelMinX));
    LabelMaxX->setText(Caption(Driver.PlotState->LabelMaxX));
    LabelMinY->setText(Caption(Driver.PlotState->LabelMinY));
    LabelMaxY->setText(Caption(Driver.PlotState->LabelMaxY));
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

SweepParameters TForm1::PanelSweep() const {
    return {PanelTexts(), Text(EditDR), RadioGroup_p.ItemIndex()};
}

ParameterSet TForm1::PanelParameters() const {
    ParameterSet base;
    base.Model = Driver.Session.Parameters();
    ParameterSet set = ParametersOf(PanelTexts(), Separator, base);
    set.Model.DeltaR = TextToReal(Text(EditDR), Separator);
    return set;
}

void TForm1::SetPanelTexts(const ParameterTexts& texts, const std::string* deltaR) {
    const bool writing = WritingPanel;
    WritingPanel = true;
    auto write = [this](QLineEdit* edit, const std::string& text) {
        QString shown = Caption(text);
        if (Separator != '.') {
            shown.replace(QLatin1Char('.'), QLatin1Char(Separator));
        }
        edit->setText(shown);
        ShowFromStart(edit);
    };
    const std::array<QLineEdit*, kLayers> m{Edit1M, Edit2M, Edit3M, Edit4M};
    const std::array<QLineEdit*, kLayers> t{Edit1t, Edit2t, Edit3t, Edit4t};
    const std::array<QLineEdit*, kLayers> k{Edit1K, Edit2K, Edit3K, Edit4K};
    const std::array<QScrollBar*, kLayers> axes{ScrollBar1a, ScrollBar2a, ScrollBar3a, ScrollBar4a};
    for (std::size_t i = 0; i < kLayers; ++i) {
        write(m[i], texts.M[i]);
        write(t[i], texts.t[i]);
        write(k[i], texts.K[i]);
        axes[i]->setValue(texts.AxisDegrees[i]);
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
    ScrollBarHA->setValue(texts.FieldAngleDegrees);
    // The buttons are exclusive: checking one unchecks the other.
    if (texts.QuarticChecked) {
        RadioButton2_q->setChecked(true);
    } else if (texts.UniaxialChecked) {
        RadioButton2_ua->setChecked(true);
    }
    write(Edit_startF, texts.StartF);
    write(Edit_Nstep, texts.Nstep);
    write(Edit_stepF, texts.StepF);
    if (deltaR != nullptr) {
        write(EditDR, *deltaR);
    }
    WritingPanel = writing;
    Edited();
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
    if (const auto stepped = SteppedNumberText(Text(edit), units, Separator)) {
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
    ExpFileName.clear();
    Experiment->ClearExpTable();
    Driver.Create(ReadSweepFields());
    ClearVectorScreen();
}

void TForm1::BitBtn1_StartClick() {
    Driver.Start(PanelSweep(), CurrentDisplayMode(), Experiment.get(), [this] {
        Label_endF->setText(Caption(FinalFieldCaption(Driver.Session.EndKiloAmperesPerMetre, 4, Separator)));
    });
    BitBtn1_Start->setEnabled(false);
    SB1_Stop->setEnabled(true);
    Timer1->start();
}

void TForm1::EndSweep() {
    Driver.Stop();
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
    TakeSweepFields(Driver.Session, ReadSweepFields(), Separator);
    const SweepFieldTexts reversed = Driver.Reverse();
    // Rewriting the two fields runs their change handlers, as typing does.
    Edit_startF->setText(Caption(reversed.StartF));
    Edit_stepF->setText(Caption(reversed.StepF));
    ShowFromStart(Edit_startF);
    ShowFromStart(Edit_stepF);
    Label_endF->setText(Caption(FinalFieldCaption(Driver.Session.EndKiloAmperesPerMetre, 5, Separator)));
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
        TakeSweepFields(Driver.Session, ReadSweepFields(), Separator);
    } catch (const ProgramError&) {
        return;
    }
    Label_endF->setText(Caption(FinalFieldCaption(Driver.Session.EndKiloAmperesPerMetre, 4, Separator)));
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
    const TickResult result = Driver.Tick(Text(EditDR), CurrentDisplayMode());
    if (Driver.Recorded) {
        const SweepSession& session = Driver.Session;
        const LayerStack& stack = session.Model.Stack;
        QLabel* const angleLabels[] = {Label1, Label2, Label3};
        for (std::size_t i = 0; i < 3; ++i) {
            if (stack.t[i] > 0) {
                angleLabels[i]->setText(Caption(GeneralNumberText(session.Theta[i], 5, Separator)));
            }
        }
        Label7->setText(Caption(GeneralNumberText(session.Theta[3], 5, Separator)));
        Label4->setText(Caption(GeneralNumberText(session.CurrentEnergy, 5, Separator)));
        Label5->setText(QString::number(session.IterationCount));
        Label6->setText(QString::number(session.StepIndex));
        ReplotVectorScreen();
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

QString TForm1::ShowComputedLoop(const SweepParameters& parameters, DisplayMode mode, const LoopResult& result) {
    QString said;
    // A live loop says its problems in the status bar: a message box would take the keys typed next.
    ClearFloatingPointFlags();
    try {
        // Start's own preparation: the intake, the final field's caption, the display preset and
        // the fresh plot with the measured curve; the rows then come from the computed loop
        // instead of the ticks, drawn as each tick draws its row.
        Driver.Start(parameters, mode, Experiment.get(), [this] {
            Label_endF->setText(Caption(FinalFieldCaption(Driver.Session.EndKiloAmperesPerMetre, 4, Separator)));
        });
        Driver.Stop();
        SweepSession& session = Driver.Session;
        SimulationData& simulation = *Driver.Simulation;
        const auto columns = DisplayColumnsFor(mode);
        std::int32_t row = 0;
        for (std::size_t branch = 0; branch < result.BranchRows.size(); ++branch) {
            if (branch > 0) {
                // Reverse, as its button gives it, without rewriting the sweep fields.
                Driver.Reverse();
                Driver.Stop();
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
                    Driver.PlotState->ShowColumns(*columns);
                }
                Driver.PlotState->PlotLivePoint(simulation);
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
            const LayerStack& stack = session.Model.Stack;
            QLabel* const angleLabels[] = {Label1, Label2, Label3};
            for (std::size_t i = 0; i < 3; ++i) {
                if (stack.t[i] > 0) {
                    angleLabels[i]->setText(Caption(GeneralNumberText(session.Theta[i], 5, Separator)));
                }
            }
            Label7->setText(Caption(GeneralNumberText(session.Theta[3], 5, Separator)));
            Label4->setText(Caption(GeneralNumberText(session.CurrentEnergy, 5, Separator)));
            Label5->setText(QString::number(session.IterationCount));
            Label6->setText(QString::number(session.StepIndex));
            ReplotVectorScreen();
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
    emit LoopShown();
    return said;
}

void TForm1::ClearScreen() {
    Driver.PlotState->ClearScreen(RadioGroup_p.ItemIndex(), Separator);
}

void TForm1::ReplotData(const double* xs, const double* ys, std::int32_t count) {
    Driver.PlotState->ReplotData(xs, ys, count);
}

void TForm1::ReplotExperiment() {
    if (Experiment->ExpRows > 0) {
        ScrollBarHP->setEnabled(true);
        ScrollBarHP->setMaximum(Experiment->ExpRows);
    }
    Driver.PlotState->ReplotExperiment(*Experiment, *Driver.Simulation, RadioGroup_p.ItemIndex(), Separator);
}

void TForm1::BReplot1Click() {
    ReplotExperiment();
}

void TForm1::BReplot2Click() {
    ScrollBarHP->setEnabled(false);
    ClearScreen();
    Driver.PlotState->ReplotBoth(*Experiment, *Driver.Simulation);
}

void TForm1::BNormalizeSimClick() {
    const double first = Driver.Simulation->SimTable.At(2, 1);
    const double divisor = first != 0 ? std::fabs(first) : 1.0;
    // Row 1 is divided too, so it becomes +-1 and a second press changes nothing.
    for (std::int32_t row = 1; row <= Driver.Simulation->SimRows; ++row) {
        Driver.Simulation->SimTable.At(2, row) = Driver.Simulation->SimTable.At(2, row) / divisor;
    }
    ReplotExperiment();
    ClearScreen();
    ScrollBarHP->setEnabled(false);
    Driver.PlotState->ReplotBoth(*Experiment, *Driver.Simulation);
}

void TForm1::RadioGroup_pClick() {
    ClearScreen();
    ReplotData(Experiment->ExpTable.Column(Driver.PlotState->ExpXCol),
               Experiment->ExpTable.Column(Driver.PlotState->ExpYCol), Experiment->ExpRows);
}

void TForm1::ColumnChosen(std::int32_t& column, const RadioGroup& group) {
    const std::int32_t chosen = group.ItemIndex() + 1;
    if (chosen >= 1 && chosen <= Experiment->ExpCols) {
        column = chosen;
    }
    ClearScreen();
    ReplotData(Experiment->ExpTable.Column(Driver.PlotState->ExpXCol),
               Experiment->ExpTable.Column(Driver.PlotState->ExpYCol), Experiment->ExpRows);
}

void TForm1::RadioGroup_pxClick() {
    ColumnChosen(Driver.PlotState->ExpXCol, RadioGroup_px);
}
void TForm1::RadioGroup_pyClick() {
    ColumnChosen(Driver.PlotState->ExpYCol, RadioGroup_py);
}

void TForm1::ScrollBarHPChange() {
    const Real span = ScrollBarHP->maximum() - ScrollBarHP->minimum();
    const Real picked = static_cast<Real>(static_cast<std::int64_t>(Experiment->ExpRows) * ScrollBarHP->value()) / span;
    CheckFloatingPoint(picked);
    Driver.PlotState->HighlightRow = static_cast<std::int32_t>(std::nearbyint(picked));
    const std::int32_t row = Driver.PlotState->HighlightRow;
    const bool shown = row >= 1 && row <= MaxRows;
    LabelXH->setText(
        shown ? Caption(GeneralNumberText(Experiment->ExpTable.At(Driver.PlotState->ExpXCol, row), 6, Separator))
              : QStringLiteral("XHighlit"));
    LabelYH->setText(
        shown ? Caption(GeneralNumberText(Experiment->ExpTable.At(Driver.PlotState->ExpYCol, row), 6, Separator))
              : QStringLiteral("YHighlit"));
    ReplotExperiment();
}

void TForm1::ResizePlot(int width, int height) {
    Plot& plot = *Driver.PlotState;
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
    const SimulationData& simulation = *Driver.Simulation;
    const bool fieldAndProjection = plot.SimXCol == 1 && plot.SimYCol == 2;
    const std::int32_t measuredRows =
        fieldAndProjection || simulation.SimRows == 0 ? Experiment->ExpRows : std::int32_t{0};
    try {
        plot.ReplotSweep(Experiment->ExpTable.Column(plot.ExpXCol), Experiment->ExpTable.Column(plot.ExpYCol),
                         measuredRows, RadioGroup_p.ItemIndex(), simulation, Separator);
    } catch (const ProgramError&) {
        // A range that cannot be drawn leaves the plot wiped, as it left the smaller one.
    }
    plot.Clears = clears;
    ClearFloatingPointFlags();
    RefreshViews();
    emit PlotResized();
}

void TForm1::ClearVectorScreen() {
    dravo2::ClearVectorScreen(DialImage, Driver.Session.Model.Stack.Alpha, Driver.Session.Model.FieldAngle,
                              Driver.Session.StartKiloAmperesPerMetre);
}

void TForm1::ReplotVectorScreen() {
    dravo2::ReplotVectorScreen(DialImage, Driver.Session.Model.Stack.Alpha, Driver.Session.Model.FieldAngle,
                               Driver.Session.StartKiloAmperesPerMetre, Driver.Session.Theta);
}

void TForm1::AngleChanged(QScrollBar* bar, const char* hint, int layer) {
    const int degrees = bar->value();
    bar->setToolTip(QString::fromLatin1(hint) + QString::number(degrees));
    const Real angle = DegreesToRadians(degrees);
    if (layer > 0) {
        Driver.Session.Model.Stack.Alpha[static_cast<std::size_t>(layer - 1)] = angle;
    } else {
        Driver.Session.Model.FieldAngle = static_cast<double>(angle);
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
    int filterIndex = OpenFilterIndex;
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
    OpenFilterIndex = filterIndex;
    Experiment->ClearExpTable();
    ExpFileName = name.toStdString();
    std::unique_ptr<InputFile> file;
    try {
        file = std::make_unique<InputFile>(ExpFileName);
    } catch (const NotRegularFileError&) {
        throw; // a FIFO or a device is refused with a message, never waited for
    } catch (const InputOutputError&) {
        return; // a file that cannot be opened loads nothing, without a message
    }
    TextReader text([&file](char* buffer, std::size_t size) { return file->Read(buffer, size); }, true);
    const ExperimentFormat format = OpenFilterIndex == 1 ? ExperimentFormat::Da2 : ExperimentFormat::Dat;
    const bool rowsCut = ReadExperiment(text, format, *Experiment, Separator,
                                        [this](const std::string& status) { Label1->setText(Caption(status)); });
    if (Experiment->ExpRows > 0) {
        ReplotExperiment();
    }
    if (rowsCut) {
        Reporter.Report(QString::fromLatin1(kRowsCutMessage));
    }
}

void TForm1::BZapiszDATClick() {
    if (Driver.Simulation->SimRows <= 0) {
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
        WriteFileSafely(name.toStdString(), ResultFileText(*Driver.Simulation), SpecialFiles::Refuse);
    BZapiszDAT->setEnabled(false);
    if (note == WriteNote::LinksBroken) {
        Reporter.Report(LinksBrokenText(name));
    }
}

} // namespace ui
} // namespace dravo2
