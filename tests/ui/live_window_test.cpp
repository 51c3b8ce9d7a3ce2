#include "cli/sweep_command.h"
#include "data/file_io.h"
#include "data/result_writer.h"
#include "support/temp_folder.h"
#include "ui/app_window.h"
#include "ui/form_fixture.h"
#include "ui/import_actions.h"
#include "ui/live_update.h"
#include "ui/number_stepping.h"
#include "ui/resonance_modes_view.h"
#include "ui/session_actions.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QRadioButton>
#include <QStatusBar>
#include <QWheelEvent>

#include <cmath>
#include <sstream>

namespace dravo2::testing {
namespace {

// A measured loop over the default sweep's field range, so that the status bar has a misfit.
std::string MeasuredLoop() {
    std::ostringstream text;
    for (int i = -25; i <= 25; ++i) {
        text << i * 10000 << " " << std::tanh(i / 5.0) << "\r\n";
    }
    return text.str();
}

class LiveWindowTest : public ::testing::Test {
protected:
    struct Opened {
        RecordingReporter Reporter;
        ScriptedDialogs Dialogs;
        std::unique_ptr<AppWindow> Window = std::make_unique<AppWindow>(Reporter, Dialogs);
        TForm1& Form = Window->Form();
    };

    // A window with the measured loop loaded, Newton chosen and a 60-step sweep.
    std::unique_ptr<Opened> Open(bool live) {
        auto opened = std::make_unique<Opened>();
        opened->Window->Live->Action->setChecked(live);
        opened->Dialogs.OpenAnswers.push_back({QString::fromStdString(Measured), 2});
        opened->Form.Controls().BOtworzDAT->click();
        opened->Window->findChild<QAction*>(QStringLiteral("SolverNewton"))->trigger();
        opened->Form.Controls().Edit_Nstep->setText(QStringLiteral("60"));
        return opened;
    }
    static void RunTimer(TForm1& form) {
        while (form.Controls().Timer1->isActive()) {
            ASSERT_TRUE(QMetaObject::invokeMethod(form.Controls().Timer1, "timeout"));
        }
    }
    static std::string Table(const TForm1& form) { return ResultFileText(*form.Model().Loop().Simulation); }

    TempFolder Folder;
    std::string Measured = Folder / "measured.dat";
    void SetUp() override { WriteFileSafely(Measured, MeasuredLoop()); }
};

TEST_F(LiveWindowTest, ALiveLoopShowsWhatStartAndReverseShowAtTheirEnd) {
    for (const char* button : {"RadioButton4_MvH", "RadioButton4_MvHy", "RadioButton4_tt"}) {
        SCOPED_TRACE(button);
        auto live = Open(true);
        auto timed = Open(false);
        for (Opened* each : {live.get(), timed.get()}) {
            each->Form.findChild<QRadioButton*>(QString::fromLatin1(button))->click();
            each->Form.Controls().Edit1J->setText(QStringLiteral("-1.5e-3"));
        }
        live->Window->Live->WaitUntilShown();
        timed->Form.Controls().BitBtn1_Start->click();
        RunTimer(timed->Form);
        timed->Form.Controls().SB2_Reverse->click();
        RunTimer(timed->Form);

        EXPECT_EQ(live->Window->Live->Shown(), 1);
        ASSERT_EQ(live->Form.Model().Loop().Simulation->SimRows, 120);
        EXPECT_EQ(Table(live->Form), Table(timed->Form));
        EXPECT_TRUE(live->Form.Model().Loop().PlotState->Image.Pixels() ==
                    timed->Form.Model().Loop().PlotState->Image.Pixels());
        EXPECT_TRUE(live->Form.Dial().Pixels() == timed->Form.Dial().Pixels());
        // The resonance modes' view follows the live loop as it follows the ticks (NaN: no mode).
        const auto modes = [](const Opened& each) {
            std::ostringstream text;
            for (const ModeRow& row : each.Window->findChild<ResonanceModesView*>()->Modes()) {
                for (const double frequency : row) {
                    text << frequency << " ";
                }
            }
            return text.str();
        };
        EXPECT_EQ(modes(*live), modes(*timed));
        EXPECT_NE(modes(*live).find("e+"), std::string::npos); // frequencies, not only "nan"
        EXPECT_EQ(live->Window->StatusText->text().toStdString(), timed->Window->StatusText->text().toStdString());
        EXPECT_TRUE(live->Window->StatusText->text().startsWith(QStringLiteral("misfit ")));
        for (const char* label : {"Label1", "Label2", "Label7", "Label4", "Label5", "Label6"}) {
            EXPECT_EQ(live->Form.findChild<QLabel*>(QString::fromLatin1(label))->text().toStdString(),
                      timed->Form.findChild<QLabel*>(QString::fromLatin1(label))->text().toStdString())
                << label;
        }
        // Start and Reverse from here go on as after a timed loop.
        EXPECT_TRUE(live->Form.Controls().SB2_Reverse->isEnabled());
        EXPECT_TRUE(live->Form.Controls().BitBtn1_Start->isEnabled());
        EXPECT_TRUE(live->Reporter.Messages.empty());
        EXPECT_EQ(live->Form.Controls().Edit_startF->text().toStdString(), "-250.0");
    }
}

TEST_F(LiveWindowTest, ANewerEditCancelsTheOlderAndOnlyTheNewestLoopIsShown) {
    auto live = Open(true);
    live->Form.Controls().Edit1J->setText(QStringLiteral("-1e-3"));
    live->Form.Controls().Edit1J->setText(QStringLiteral("-2e-3"));
    const std::int64_t started = live->Window->Live->Started();
    live->Window->Live->WaitUntilShown();
    EXPECT_EQ(live->Window->Live->Shown(), 1);
    EXPECT_GE(started, 2);
    const SweepLoop newest = RunSweepLoop({"J1=-2e-3", "steps=60", "solver=newton"});
    const SweepLoop older = RunSweepLoop({"J1=-1e-3", "steps=60", "solver=newton"});
    EXPECT_EQ(Table(live->Form), ResultFileText(*newest.Table));
    EXPECT_NE(Table(live->Form), ResultFileText(*older.Table));

    // No loop follows a text that does not convert, the descent or an unchecked action.
    live->Form.Controls().Edit1J->setText(QStringLiteral("-2e"));
    live->Window->findChild<QAction*>(QStringLiteral("SolverDescent"))->trigger();
    live->Form.Controls().Edit1J->setText(QStringLiteral("-3e-3"));
    live->Window->Live->WaitUntilShown();
    EXPECT_EQ(live->Window->Live->Shown(), 1);
    EXPECT_EQ(Table(live->Form), ResultFileText(*newest.Table));

    // A loop that cannot be shown is said in the status bar, never in a box that takes the keys.
    live->Window->findChild<QAction*>(QStringLiteral("SolverNewton"))->trigger();
    live->Form.Controls().RadioButton4_GMR->click();
    live->Form.Controls().EditDR->setText(QStringLiteral("0"));
    live->Form.Controls().Edit1M->setText(QStringLiteral("-1"));
    live->Window->Live->WaitUntilShown();
    EXPECT_TRUE(live->Reporter.Messages.empty());
    EXPECT_EQ(live->Window->statusBar()->currentMessage().toStdString(),
              "The magnetisation M1 (-1) is negative: give 0 for an absent layer, else a positive value");
    live->Form.Controls().Edit1M->setText(QStringLiteral("1.5"));
    live->Window->Live->WaitUntilShown();
    EXPECT_TRUE(live->Reporter.Messages.empty());
    EXPECT_FALSE(live->Window->statusBar()->currentMessage().isEmpty());
    EXPECT_EQ(live->Window->Live->Shown(), 1);
}

TEST_F(LiveWindowTest, ArrowKeysAndTheWheelStepTheLastSignificantDigit) {
    struct Case {
        const char* before;
        int key; // Qt::Key_Up or Qt::Key_Down; 0 for the wheel up
        Qt::KeyboardModifiers modifiers;
        const char* after;
    };
    const Case cases[] = {
        {"-1.5e-3", Qt::Key_Up, Qt::NoModifier, "-1.4e-3"}, {"-6000", Qt::Key_Down, Qt::ShiftModifier, "-6010"},
        {"0.1", Qt::Key_Down, Qt::NoModifier, "0.0"},       {"0.0", Qt::Key_Down, Qt::NoModifier, "-0.1"},
        {"9.9", Qt::Key_Up, Qt::NoModifier, "10.0"},        {"-0.05", Qt::Key_Up, Qt::ShiftModifier, "0.05"},
        {"2e", Qt::Key_Up, Qt::NoModifier, "2e"},           {"1.25E+2", 0, Qt::NoModifier, "1.26E+2"},
        {"5.", Qt::Key_Up, Qt::NoModifier, "6."},           {"+7", 0, Qt::ShiftModifier, "+17"},
    };
    RecordingReporter reporter;
    ScriptedDialogs dialogs;
    TForm1 form(reporter, dialogs);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        form.Controls().Edit1J->setText(QString::fromLatin1(c.before));
        if (c.key != 0) {
            QKeyEvent press(QEvent::KeyPress, c.key, c.modifiers);
            QApplication::sendEvent(form.Controls().Edit1J, &press);
        } else {
            QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton, c.modifiers,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(form.Controls().Edit1J, &wheel);
        }
        EXPECT_EQ(form.Controls().Edit1J->text().toStdString(), c.after);
    }
    // A touchpad's parts of a notch add up to one step.
    form.Controls().Edit1J->setText(QStringLiteral("1.0"));
    for (const char* after : {"1.0", "1.1"}) {
        QWheelEvent part(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 60), Qt::NoButton, Qt::NoModifier,
                         Qt::NoScrollPhase, false);
        QApplication::sendEvent(form.Controls().Edit1J, &part);
        EXPECT_EQ(form.Controls().Edit1J->text().toStdString(), after);
    }
    EXPECT_EQ(SteppedNumberText("1,25", 1, ','), "1,26");
    EXPECT_EQ(SteppedNumberText("1234567890123456789", 1, '.'), std::nullopt);
    EXPECT_TRUE(reporter.Messages.empty());
}

TEST_F(LiveWindowTest, AResizedPlotKeepsTheMeasuredCurveInModelUnits) {
    auto live = Open(true);
    live->Form.Controls().Edit1J->setText(QStringLiteral("-1.5e-3"));
    live->Window->Live->WaitUntilShown();
    live->Window->show();
    live->Window->resize(live->Window->DefaultSize() + QSize(200, 100));
    QApplication::processEvents();
    ASSERT_EQ(live->Form.Model().Loop().PlotState->Image.Width(), kPlotWidth + 200);
    const std::vector<Colour> resized = live->Form.Model().Loop().PlotState->Image.Pixels();
    // Drawn anew in model units by the comparison itself: nothing changes.
    QAction* modelUnits = live->Window->MeasuredCurve->ModelUnitsAction;
    modelUnits->setChecked(false);
    EXPECT_FALSE(live->Form.Model().Loop().PlotState->Image.Pixels() == resized);
    modelUnits->setChecked(true);
    EXPECT_TRUE(live->Form.Model().Loop().PlotState->Image.Pixels() == resized);
}

// Answers the parameter dialogs from a script.
class ScriptedParameterDialogs : public ParameterDialogs {
public:
    QString OpenParameters(const QString&) override { return Answer; }
    QString SaveParameters(const QString&) override { return Answer; }
    QString Answer;
};

TEST_F(LiveWindowTest, ASavedSetRunsTheSameLoopInTheCommandAndOpensAgain) {
    auto live = Open(true);
    TForm1& form = live->Form;
    form.Controls().Edit1J->setText(QStringLiteral("-1.2e-3"));
    form.Controls().Edit2M->setText(QStringLiteral("1.1"));
    form.Controls().ScrollBar1a->setValue(30);
    form.Controls().RadioButton2_q->click();
    live->Window->Live->WaitUntilShown();
    auto dialogs = std::make_unique<ScriptedParameterDialogs>();
    dialogs->Answer = QString::fromStdString(Folder / "set.txt");
    live->Window->Session->SetDialogs(std::move(dialogs));
    live->Window->Session->SaveAction->trigger();
    EXPECT_EQ(live->Window->Session->RecentFiles().size(), 1);

    std::istringstream words(ReadWholeFile(Folder / "set.txt"));
    std::vector<std::string> args;
    for (std::string word; words >> word;) {
        args.push_back(word);
    }
    EXPECT_EQ(ResultFileText(*RunSweepLoop(args).Table), Table(form));

    auto other = std::make_unique<Opened>();
    ASSERT_TRUE(other->Window->Session->OpenFile(QString::fromStdString(Folder / "set.txt")));
    const ParameterTexts opened = other->Form.Model().Texts();
    const ParameterTexts saved = form.Model().Texts();
    EXPECT_EQ(opened.J1, saved.J1);
    EXPECT_EQ(opened.M, saved.M);
    EXPECT_EQ(opened.AxisDegrees, saved.AxisDegrees);
    EXPECT_TRUE(opened.QuarticChecked);
    EXPECT_EQ(opened.Nstep, "60");
    EXPECT_EQ(other->Form.Model().Loop().Session.Solver.Method, SolverMethod::Newton);
    other->Window->Live->WaitUntilShown();
    EXPECT_EQ(Table(other->Form), Table(form));

    // A bad line is said with the file's name and its line, and changes nothing.
    WriteFileSafely(Folder / "bad.txt", "J1=-5e-4\nJ5=1\n");
    EXPECT_FALSE(other->Window->Session->OpenFile(QString::fromStdString(Folder / "bad.txt")));
    ASSERT_EQ(other->Reporter.Messages.size(), 1u);
    EXPECT_EQ(other->Reporter.Messages[0], "bad.txt: Line 2: unknown key 'J5'");
    EXPECT_EQ(other->Form.Controls().Edit1J->text().toStdString(), saved.J1);

    // A joint fit's values of two data sets open with the first one's, as the status bar says.
    WriteFileSafely(Folder / "joint.txt", "J2=3e-4\nJ1@1=-7e-4\nJ1@2=-9e-4\n");
    ASSERT_TRUE(other->Window->Session->OpenFile(QString::fromStdString(Folder / "joint.txt")));
    EXPECT_EQ(other->Form.Controls().Edit1J->text().toStdString(), "-7e-4");
    EXPECT_EQ(other->Form.Controls().Edit2J->text().toStdString(), "3e-4");
    EXPECT_TRUE(other->Window->statusBar()->currentMessage().contains(QStringLiteral("2 data sets")));
}

TEST_F(LiveWindowTest, TheLastSessionIsRestoredOnRequestAndResetGivesTheDefaults) {
    const QString settings = QString::fromStdString(Folder / "settings.ini");
    {
        auto first = Open(false);
        first->Window->Session->SetSettingsFile(settings);
        first->Form.Controls().Edit3J->setText(QStringLiteral("2e-4"));
        first->Form.Controls().ScrollBarHA->setValue(20);
        first->Window->close();
    }
    auto second = Open(false);
    second->Form.Model().Measured().ClearExpTable();
    second->Window->findChild<QAction*>(QStringLiteral("SolverDescent"))->trigger();
    const ParameterTexts defaults;
    EXPECT_EQ(second->Form.Controls().Edit3J->text().toStdString(), defaults.J3);
    second->Window->Session->SetSettingsFile(settings);
    second->Window->Session->RestoreAction->trigger();
    EXPECT_EQ(second->Form.Controls().Edit3J->text().toStdString(), "2e-4");
    EXPECT_EQ(second->Form.Controls().ScrollBarHA->value(), 20);
    EXPECT_EQ(second->Form.Controls().Edit_Nstep->text().toStdString(), "60");
    EXPECT_EQ(second->Form.Model().Loop().Session.Solver.Method, SolverMethod::Newton);
    EXPECT_EQ(second->Form.Model().MeasuredFile(), Measured);
    EXPECT_EQ(second->Form.Model().Measured().ExpRows, 51);

    second->Window->Session->ResetAction->trigger();
    EXPECT_EQ(second->Form.Controls().Edit3J->text().toStdString(), defaults.J3);
    EXPECT_EQ(second->Form.Controls().ScrollBarHA->value(), defaults.FieldAngleDegrees);
    EXPECT_EQ(second->Form.Controls().Edit_Nstep->text().toStdString(), defaults.Nstep);
    EXPECT_EQ(second->Form.Model().Loop().Session.Solver.Method, SolverMethod::Descent);
    EXPECT_TRUE(second->Reporter.Messages.empty());
}

TEST_F(LiveWindowTest, ShortcutsReachTheirActions) {
    Opened opened;
    const std::pair<const char*, const char*> shortcuts[] = {
        {"ImportMeasuredCurve", "Ctrl+O"}, {"OpenParameters", "Ctrl+Shift+O"}, {"SaveParameters", "Ctrl+S"},
        {"ExportPlotAction", "Ctrl+E"},    {"StartAction", "Ctrl+R"},          {"Quit", "Ctrl+Q"},
        {"ModelHelpAction", "F1"},
    };
    for (const auto& [name, keys] : shortcuts) {
        SCOPED_TRACE(name);
        const auto* action = opened.Window->findChild<QAction*>(QString::fromLatin1(name));
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->shortcut(), QKeySequence(QString::fromLatin1(keys)));
    }
    opened.Window->Session->StartAction->trigger();
    EXPECT_TRUE(opened.Form.Controls().Timer1->isActive());
}

} // namespace
} // namespace dravo2::testing
