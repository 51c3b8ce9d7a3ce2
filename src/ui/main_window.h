#pragma once

#include "data/data_table.h"
#include "plot/canvas.h"
#include "plot/dial.h"
#include "plot/plot.h"
#include "sweep/run_loop.h"
#include "sweep/sweep_driver.h"
#include "ui/platform.h"
#include "ui/window_model.h"

#include <QWidget>

#include <array>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

class QButtonGroup;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QTimer;
class QToolButton;

namespace dravo2 {
inline namespace ui {

class CanvasView;

// A radio group: a captioned frame with exclusive items and an item index.
struct RadioGroup {
    QGroupBox* Box = nullptr;
    QButtonGroup* Items = nullptr;
    int ItemIndex() const;
    void SetItemIndex(int index);
};

// The instrument panel's controls, named as on the panel.
struct PanelControls {
    CanvasView* Image1 = nullptr;
    CanvasView* Image2 = nullptr;
    QFrame* Panel1 = nullptr;
    QLineEdit* Edit1M = nullptr;
    QLineEdit* Edit1t = nullptr;
    QLineEdit* Edit1K = nullptr;
    QLineEdit* Edit1J = nullptr;
    QLineEdit* Edit1J2 = nullptr;
    QLineEdit* Edit2M = nullptr;
    QLineEdit* Edit2t = nullptr;
    QLineEdit* Edit2K = nullptr;
    QLineEdit* Edit2J = nullptr;
    QLineEdit* Edit2J2 = nullptr;
    QLineEdit* Edit3M = nullptr;
    QLineEdit* Edit3t = nullptr;
    QLineEdit* Edit3K = nullptr;
    QLineEdit* Edit3J = nullptr;
    QLineEdit* Edit4M = nullptr;
    QLineEdit* Edit4t = nullptr;
    QLineEdit* Edit4K = nullptr;
    QLineEdit* EditDR = nullptr;
    QLineEdit* Editbias = nullptr;
    QLineEdit* Edit_startF = nullptr;
    QLineEdit* Edit_Nstep = nullptr;
    QLineEdit* Edit_stepF = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLineEdit* Edit_sp_Ramp = nullptr;
    QLineEdit* Edit_sp_conv = nullptr;
    QLineEdit* Edit_sp_maxiter = nullptr;
    QScrollBar* ScrollBar1a = nullptr;
    QScrollBar* ScrollBar2a = nullptr;
    QScrollBar* ScrollBar3a = nullptr;
    QScrollBar* ScrollBar4a = nullptr;
    QScrollBar* ScrollBarHA = nullptr;
    QScrollBar* ScrollBarHP = nullptr;
    std::array<QGroupBox*, 4> AxisGroups{}; // GroupBox3_1aa .. GroupBox3_4aa
    std::array<QRadioButton*, 4> PlanButtons{};
    std::array<QRadioButton*, 4> PerpButtons{};
    QPushButton* BOtworzDAT = nullptr;
    QPushButton* BZapiszDAT = nullptr;
    QPushButton* BReplot1 = nullptr;
    QPushButton* BReplot2 = nullptr;
    QPushButton* BNormalizeSim = nullptr;
    QToolButton* SB2_Reverse = nullptr;
    QPushButton* BitBtn1_Start = nullptr;
    QToolButton* SB1_Stop = nullptr;
    RadioGroup RadioGroup_p;
    RadioGroup RadioGroup_px;
    RadioGroup RadioGroup_py;
    QGroupBox* RadioGroup_simdisp = nullptr;
    QButtonGroup* DisplayModeGroup = nullptr;
    QRadioButton* RadioButton4_MvH = nullptr;
    QRadioButton* RadioButton4_MvHy = nullptr;
    QRadioButton* RadioButton4_MvHz = nullptr;
    QRadioButton* RadioButton4_tt = nullptr;
    QRadioButton* RadioButton4_GMR = nullptr;
    QRadioButton* RadioButton5FMR = nullptr;
    QGroupBox* RadioGroup_a = nullptr;
    QButtonGroup* AnisotropyGroup = nullptr;
    QRadioButton* RadioButton2_ua = nullptr;
    QRadioButton* RadioButton2_q = nullptr;
    QLabel* LabelMinX = nullptr;
    QLabel* LabelMaxX = nullptr;
    QLabel* LabelMaxY = nullptr;
    QLabel* LabelMinY = nullptr;
    QLabel* LabelXH = nullptr;
    QLabel* LabelYH = nullptr;
    QLabel* Label_endF = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QTimer* Timer1 = nullptr;
};

// The main window: every control of the instrument panel and the handlers that tie them to the
// window's model (parameters, measured curve, loop, misfit). The panel writes each edit into the
// model and shows what others change there. Every handler runs through Guarded, so an error ends
// the handler, is shown by the reporter, and the program goes on.
class TForm1 : public QWidget, private PanelControls {
    Q_OBJECT
public:
    TForm1(ErrorReporter& reporter, FileDialogs& dialogs, QWidget* parent = nullptr);
    ~TForm1() override;

    // The panel's size as laid out; it is also its smallest size. A larger panel gives the plot
    // the extra room: the controls right of the plot move right and those below it move down.
    static constexpr int kDefaultWidth = 973;
    static constexpr int kDefaultHeight = 835;

    WindowModel& Model() { return State; }
    const WindowModel& Model() const { return State; }
    const PanelControls& Controls() const { return *this; }
    // The magnetisation dial as drawn, and the name the result was saved under last.
    const Canvas& Dial() const { return DialImage; }
    const QString& ResultFileName() const { return SaveFileName; }

    // One step of a running sweep, as Timer1 delivers it.
    void Timer1Timer();

    // Loads a measured file as "Read .DA2" does once its dialog confirmed `name` with the filter
    // `filterIndex` (1 da2, 2 dat). Throws for a file that is not a regular one.
    void LoadExperimentFile(const QString& name, int filterIndex);

    // The measured curve replotted as "Replot Exp" does (after a load or an import), or another
    // measured curve drawn the same way in its place.
    void ReplotExperiment();
    void ReplotExperiment(const ExperimentData& curve);

    // The message of the first number field whose text does not (yet) convert, in the order Start
    // reads them, prefixed with the field's meaning; empty while every field converts.
    QString InputMessage() const { return CurrentInputMessage; }

    // Writes a parameter set into the panel (texts with a full stop are shown with the regional
    // separator): the fields, scroll bars and anisotropy buttons, and the amplitude when given.
    // The change counts as one edit.
    void SetPanelTexts(const ParameterTexts& texts, const std::string* deltaR = nullptr);

    // Checks the display mode's button, as a click would.
    void ChooseDisplayMode(DisplayMode mode);

    // A loop computed from the panel's parameters, shown as Start and one Reverse run to the end
    // would leave the window: the plot, the dial, the labels, the tables and the session's state
    // (angles, generator, reversed sweep). The sweep fields keep their texts. `parameters` is what
    // the loop was computed from. A failed step or a full table is said in the returned text.
    QString ShowComputedLoop(const SweepParameters& parameters, DisplayMode mode, const LoopResult& result);

    // Whether Start may be pressed now, and pressing it when it may.
    bool CanStart() const;
    void StartIfEnabled();
    // While a fit runs, Start, Reverse and Read are locked; unlocked, they are as before (Start
    // stays locked while a sweep still runs).
    void LockSweepControls(bool locked);

    // Runs a handler: clears the floating-point flags, catches what it throws and shows the
    // message, then brings the views up to date with whatever state the handler reached.
    template <typename Handler> void Guarded(Handler&& handler);

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Up and Down in a number field step its value by one unit of its last significant digit
    // (Shift: ten units), and so does the mouse wheel over it.
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // A sweep step recorded its row (after the panel's labels and dial show it).
    void StepRecorded();
    // The first field's conversion message as typing changes it (empty: every field converts).
    void InputMessageChanged(const QString& message);
    // A parameter field, an angle scroll bar, the anisotropy form or the display mode changed.
    void ParametersEdited();
    // The plot was drawn anew at a new size, as the sweep drew it, with the measured curve as
    // measured.
    void PlotResized();

private:
    // How a number field's text is read where the value is used.
    enum class NumberKind { Extended, Double, Integer };
    struct NumberField {
        QLineEdit* Edit;
        NumberKind Kind;
        QString Hint;        // the field's meaning and unit
        QString DefaultText; // the text the field starts with
        QString Problem;     // why the text does not convert; empty when it does
    };

    // Handlers, bound to the controls' events.
    void FormCreate();
    void BitBtn1_StartClick();
    void SB1_StopClick();
    void SB2_ReverseClick();
    void Edit_startFChange();
    void Edit_NstepChange();
    void Edit_stepFChange();
    void BOtworzDATClick();
    void BZapiszDATClick();
    void BReplot1Click();
    void BReplot2Click();
    void BNormalizeSimClick();
    void RadioGroup_pClick();
    void RadioGroup_pxClick();
    void RadioGroup_pyClick();
    void ScrollBarHPChange();
    void ScrollBar1aChange();
    void ScrollBar2aChange();
    void ScrollBar3aChange();
    void ScrollBar4aChange();
    void ScrollBarHAChange();

    // Drawing helpers of the handlers.
    void ClearScreen();
    void ReplotData(const double* xs, const double* ys, std::int32_t count);
    void ClearVectorScreen();
    void ReplotVectorScreen();

    // The panel built group by group, in the order the controls stack.
    void BuildControls();
    void BuildParameterFields();
    void BuildSweepFields();
    void BuildAngleBars();
    void BuildAxisGroups();
    void BuildButtons();
    void BuildDisplayChoices();
    void BuildLabels();
    void AnchorToEdges();

    void BindEvents();
    // The panel writes into the model and shows what others change there; the loop's and the
    // curve's listeners hear of them once the panel's own handlers are done.
    void ConnectModel();
    // The panel's fields as texts, as Start reads them.
    ParameterTexts PanelTexts() const;
    DisplayMode CurrentDisplayMode() const;
    // Writes texts into the panel's fields: every field, the texts written with a full stop
    // (a parameter file's) shown with the regional separator; or only the fields that differ from
    // the texts, written as shown. The changes are one edit. Returns whether any field changed.
    enum class FieldWriting { EveryFieldFromFile, ChangedFields };
    bool WriteFields(const ParameterTexts& texts, const std::string* deltaR, FieldWriting how);
    // Writes the model's parameters into the fields that differ, as one edit.
    void ShowModelParameters();
    // Shows a text the program wrote into a field from its start (sign first).
    static void ShowFromStart(QLineEdit* edit);
    // The angles, energy, iterations and step of the session's last row, and the dial.
    void ShowVariables();
    void ReadExperimentFile(const std::string& fileName);
    SweepFieldTexts ReadSweepFields() const;
    void Edited();
    void SweepFieldsChanged();
    void EndSweep();
    void AngleChanged(QScrollBar* bar, const char* hint, int layer);
    void ColumnChosen(std::int32_t& column, const RadioGroup& group);
    void RefreshViews();
    void RegisterNumberFields();
    void LayOutForSize();
    void ResizePlot(int width, int height);
    void CheckNumberField(NumberField& field);

    WindowModel State;
    Canvas DialImage{kDialSize, kDialSize};
    QString SaveFileName = QStringLiteral("dravoresult.dat");
    std::vector<NumberField> NumberFields;
    // The panel's own controls at their default places, and how each follows a larger panel.
    struct Anchored {
        QWidget* Widget;
        QRect Place;
        bool MovesRight;
        bool MovesDown;
    };
    std::vector<Anchored> DefaultPlaces;
    QString CurrentInputMessage;
    bool WritingPanel = false; // WriteFields is at work: its changes are one edit
    int WheelTurn = 0;         // the wheel's turn over a number field not yet stepped (1/8 degree)
    ErrorReporter& Reporter;
    FileDialogs& Dialogs;
    std::array<bool, 3> WasEnabled{};
};

template <typename Handler> void TForm1::Guarded(Handler&& handler) {
    ClearFloatingPointFlags();
    try {
        handler();
    } catch (const std::bad_alloc&) {
        // A bare "std::bad_alloc" would tell the user nothing.
        ClearFloatingPointFlags();
        RefreshViews();
        Reporter.Report(QStringLiteral("Out of memory"));
        return;
    } catch (const std::exception& error) {
        ClearFloatingPointFlags();
        RefreshViews();
        Reporter.Report(QString::fromUtf8(error.what()));
        return;
    }
    RefreshViews();
}

} // namespace ui
} // namespace dravo2
