#include "cli/sweep_command.h"
#include "data/result_writer.h"
#include "ui/form_fixture.h"
#include "ui/golden_image.h"

#include <QLabel>
#include <QRadioButton>

#include <cmath>
#include <sstream>

namespace dravo2::testing {
namespace {

struct ButtonStates {
    bool start, stop, reverse, save, timer;
};

void ExpectButtons(const TForm1& form, ButtonStates expected) {
    EXPECT_EQ(form.Controls().BitBtn1_Start->isEnabled(), expected.start);
    EXPECT_EQ(form.Controls().SB1_Stop->isEnabled(), expected.stop);
    EXPECT_EQ(form.Controls().SB2_Reverse->isEnabled(), expected.reverse);
    EXPECT_EQ(form.Controls().BZapiszDAT->isEnabled(), expected.save);
    EXPECT_EQ(form.Controls().Timer1->isActive(), expected.timer);
}

constexpr ButtonStates kIdle{true, false, true, false, false};
constexpr ButtonStates kRunningAfterStart{false, true, true, false, true};
constexpr ButtonStates kEnded{true, false, true, true, false};
constexpr ButtonStates kHaltedAfterStart{false, true, true, false, false};

std::string CommandOutput(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    RunSweepCommand(args, out, err, false);
    return out.str();
}

TEST_F(FormTest, TheDefaultSweepFromStartToItsLastTick) {
    ExpectButtons(*Form, kIdle);
    Start();
    ExpectButtons(*Form, kRunningAfterStart);
    EXPECT_EQ(Form->Controls().Label_endF->text(), QStringLiteral("fin. field: 250 kA/m"));
    EXPECT_EQ(Form->Controls().LabelMinX->text(), QStringLiteral("-2.5E5"));
    EXPECT_EQ(Form->Controls().LabelMaxY->text(), QStringLiteral("1.0638"));
    EXPECT_EQ(Form->Model().Loop().PlotState->PointType, PointStyle::SolidLine);

    Tick();
    EXPECT_EQ(Form->Controls().Label6->text(), QStringLiteral("1"));
    EXPECT_EQ(Sim(1, 1), -249000);
    EXPECT_EQ(Form->Model().Loop().Simulation->SimRows, 1);
    EXPECT_TRUE(Form->Controls().Timer1->isActive());
    EXPECT_NE(Form->Controls().Label1->text(), QStringLiteral("theta1"));

    EXPECT_EQ(RunSweep(), 499);
    EXPECT_EQ(Form->Model().Loop().Simulation->SimRows, 500);
    EXPECT_EQ(Form->Controls().Label6->text(), QStringLiteral("500"));
    EXPECT_EQ(Form->Controls().Label1->text().toStdString(),
              GeneralNumberText(Form->Model().Loop().Session.Theta[0], 5));
    EXPECT_EQ(Form->Controls().Label5->text(), QString::number(Form->Model().Loop().Session.IterationCount));
    ExpectButtons(*Form, kEnded);
    EXPECT_TRUE(Reporter.Messages.empty());

    // The loop drawn point by point as the ticks came, and the dial with the last angles.
    ExpectMatchesGolden(Form->Model().Loop().PlotState->Image, "default-sweep-plot");
    ExpectMatchesGolden(Form->Dial(), "default-sweep-dial");

    // The same table as the headless command writes for Start on the default fields.
    EXPECT_EQ(ResultFileText(*Form->Model().Loop().Simulation), CommandOutput({}));
}

TEST_F(FormTest, ReverseAfterTheEndRunsBackAndAppends) {
    Form->Controls().Edit_Nstep->setText(QStringLiteral("60"));
    Start();
    RunSweep();
    Form->Controls().SB2_Reverse->click();
    EXPECT_EQ(Form->Controls().Edit_startF->text(), QStringLiteral("250"));
    EXPECT_EQ(Form->Controls().Edit_stepF->text(), QStringLiteral("-1"));
    EXPECT_EQ(Form->Controls().Label_endF->text(), QStringLiteral("fin. field: 190 kA/m"));
    ExpectButtons(*Form, {false, true, false, false, true});
    EXPECT_EQ(RunSweep(), 60);
    EXPECT_EQ(Form->Model().Loop().Simulation->SimRows, 120);
    EXPECT_EQ(Sim(1, 61), 249000);
    ExpectButtons(*Form, kEnded);
    EXPECT_EQ(ResultFileText(*Form->Model().Loop().Simulation), CommandOutput({"steps=60", "--reverse"}));
    // The reversed branch drawn on the plot of the first one.
    ExpectMatchesGolden(Form->Model().Loop().PlotState->Image, "reverse-60-plot");
}

TEST_F(FormTest, ReverseOfTheDefaultSweepShowsMinus250) {
    Start();
    RunSweep();
    Form->Controls().SB2_Reverse->click();
    EXPECT_EQ(Form->Controls().Label_endF->text(), QStringLiteral("fin. field: -250 kA/m"));
    RunSweep();
    EXPECT_EQ(Form->Model().Loop().Simulation->SimRows, 1000);
    EXPECT_EQ(Sim(1, 501), 249000);
    EXPECT_EQ(Sim(1, 1000), -250000);
}

TEST_F(FormTest, StopInTheMiddleAndReverseDuringASweep) {
    Start();
    for (int k = 0; k < 10; ++k) {
        Tick();
    }
    Form->Controls().SB1_Stop->click();
    ExpectButtons(*Form, kEnded);
    EXPECT_EQ(Form->Model().Loop().Simulation->SimRows, 10);
    EXPECT_EQ(Form->Model().Loop().Session.StepIndex, 10);

    Start();
    Tick();
    Tick();
    Form->Controls().SB2_Reverse->click(); // reverses on the spot; the next step is the first of the new branch
    Tick();
    EXPECT_EQ(Form->Model().Loop().Simulation->SimRows, 3);
    EXPECT_EQ(Sim(1, 3), 249000);
    EXPECT_EQ(Form->Model().Loop().Session.StepIndex, 1);
}

TEST_F(FormTest, NoStepsRecordsOneRowThenEnds) {
    Form->Controls().Edit_Nstep->setText(QStringLiteral("0"));
    Start();
    EXPECT_EQ(Form->Model().Loop().PlotState->Range.Bounds.MaxX, 1);
    EXPECT_EQ(RunSweep(), 1);
    EXPECT_EQ(Form->Model().Loop().Simulation->SimRows, 1);
    ExpectButtons(*Form, kEnded);
}

TEST_F(FormTest, LayerOneWithoutThicknessHaltsAtTheFirstStep) {
    Form->Controls().Edit1t->setText(QStringLiteral("0"));
    Start();
    Tick();
    ASSERT_EQ(Reporter.Messages, std::vector<std::string>{"Floating point division by zero"});
    ExpectButtons(*Form, kHaltedAfterStart);
    EXPECT_EQ(Form->Model().Loop().Simulation->SimRows, 1);
    EXPECT_EQ(Sim(1, 1), -249000);
    Form->Controls().SB1_Stop->click();
    ExpectButtons(*Form, kEnded);
}

TEST_F(FormTest, ReverseBeforeAnyStartHaltsOnTheEmptyStack) {
    Form->Controls().SB2_Reverse->click();
    Tick();
    ASSERT_EQ(Reporter.Messages, std::vector<std::string>{"Invalid floating point operation"});
    EXPECT_FALSE(Form->Controls().Timer1->isActive());
    EXPECT_TRUE(Form->Controls().SB1_Stop->isEnabled());
}

TEST_F(FormTest, ALetterInAFieldStopsStartWithItsMessage) {
    Form->Controls().Edit2K->setText(QStringLiteral("1O0"));
    Start();
    ASSERT_EQ(Reporter.Messages, std::vector<std::string>{"'1O0' is not a valid floating point value"});
    ExpectButtons(*Form, kIdle);
    Form->Controls().Edit2K->setText(QStringLiteral("100"));
    Form->Controls().Edit_sp_maxiter->setText(QStringLiteral("66.6"));
    Start();
    EXPECT_EQ(Reporter.Messages.back(), "'66.6' is not a valid integer value");
    EXPECT_FALSE(Form->Controls().Timer1->isActive());
}

TEST_F(FormTest, SweepFieldsFollowEachKeystroke) {
    Form->Controls().Edit_startF->clear();
    Reporter.Messages.clear();
    Form->Controls().Edit_startF->setText(QStringLiteral("-"));
    Form->Controls().Edit_startF->setText(QStringLiteral("-2"));
    // A text not yet a number marks the field instead of raising a message box (which would take
    // the next keys); the message box comes when the value is used.
    EXPECT_TRUE(Reporter.Messages.empty());
    EXPECT_EQ(Form->Model().Loop().Session.StartKiloAmperesPerMetre, -2);
    EXPECT_EQ(Form->Controls().Label_endF->text(), QStringLiteral("fin. field: 498 kA/m"));

    // During a sweep the next step follows the edited fields.
    Start();
    Tick();
    Form->Controls().Edit_stepF->setText(QStringLiteral("10"));
    Tick();
    EXPECT_EQ(Sim(1, 2), (-2 + 2 * 10) * 1000.0);
}

TEST_F(FormTest, EditsBetweenTicksTakeEffectAtTheNextStep) {
    Form->Controls().Edit1J->setText(QStringLiteral("-5e-3")); // layers 1 and 2 antiparallel
    Form->Controls().Edit_startF->setText(QStringLiteral("0"));
    Form->Controls().Edit_stepF->setText(QStringLiteral("0.001"));
    Form->Controls().Edit_Nstep->setText(QStringLiteral("10"));
    Form->Controls().RadioButton4_GMR->click(); // keeps the angles: start antiparallel
    Form->Model().Loop().Session.Theta = {0, kPi, 0, 0};
    Start();
    Tick();
    EXPECT_EQ(Form->Model().Loop().PlotState->SimYCol, 7);
    EXPECT_NEAR(Sim(7, 1), 100, 1);
    Form->Controls().EditDR->setText(QStringLiteral("50"));
    Tick();
    EXPECT_NEAR(Sim(7, 2), 50, 1);
    // Switching to "M vs Hy" projects on y from the next step, and sets the columns 1, 2.
    Form->Controls().RadioButton4_tt->click();
    Tick();
    EXPECT_EQ(Form->Model().Loop().PlotState->SimXCol, 2);
    EXPECT_EQ(Form->Model().Loop().PlotState->SimYCol, 3);
    const double alongX =
        Form->Model().Loop().Session.Model.MagnetisationProjection(Form->Model().Loop().Session.Theta, false);
    Form->Controls().RadioButton4_MvHy->click();
    Tick();
    EXPECT_NE(Sim(2, 4), alongX);
    EXPECT_NEAR(Sim(2, 4),
                Form->Model().Loop().Session.Model.MagnetisationProjection(Form->Model().Loop().Session.Theta, true),
                1e-15);
    EXPECT_EQ(Form->Model().Loop().PlotState->SimYCol, 2);
    // The angle bars change the anisotropy the next step works with.
    Form->Controls().ScrollBar1a->setValue(45);
    EXPECT_EQ(Form->Model().Loop().Session.Model.Stack.Alpha[0], 45 * kPi / 180);
}

TEST_F(FormTest, DisplayModePresets) {
    struct Case {
        QRadioButton* PanelControls::*button;
        const char* minX;
        const char* maxY;
        PointStyle pointType;
    };
    const Case cases[] = {
        {&PanelControls::RadioButton4_MvH, "-2.5E5", "1.0638", PointStyle::SolidLine},
        {&PanelControls::RadioButton4_MvHy, "-2.5E5", "1.0638", PointStyle::SolidLine},
        {&PanelControls::RadioButton4_tt, "-6.2832", "6.2832", PointStyle::Cross},
        {&PanelControls::RadioButton5FMR, "-2.5E5", "1E10", PointStyle::Dot},
        {&PanelControls::RadioButton4_GMR, "-2.5E5", "100", PointStyle::Cross},
    };
    for (const Case& c : cases) {
        (Form->Controls().*c.button)->click();
        Start();
        SCOPED_TRACE((Form->Controls().*c.button)->text().toStdString());
        EXPECT_EQ(Form->Controls().LabelMinX->text().toStdString(), c.minX);
        EXPECT_EQ(Form->Controls().LabelMaxY->text().toStdString(), c.maxY);
        EXPECT_EQ(Form->Model().Loop().PlotState->PointType, c.pointType);
        Form->Controls().SB1_Stop->click();
    }
    // DeltaR with a zero amplitude has a flat range: Start stops in the plot's clearing.
    Form->Controls().EditDR->setText(QStringLiteral("0"));
    Start();
    EXPECT_EQ(Reporter.Messages, std::vector<std::string>{"Invalid floating point operation"});
    EXPECT_FALSE(Form->Controls().Timer1->isActive());
}

TEST_F(FormTest, AFullTableEndsTheSweepWithAMessage) {
    Form->Controls().Edit_Nstep->setText(QStringLiteral("5000"));
    Form->Controls().Edit_sp_maxiter->setText(QStringLiteral("2"));
    Start();
    EXPECT_EQ(RunSweep(), MaxRows);
    EXPECT_EQ(Form->Model().Loop().Simulation->SimRows, MaxRows);
    EXPECT_EQ(Reporter.Messages, std::vector<std::string>{kTableFullMessage});
    ExpectButtons(*Form, kEnded);
    // Reverse on a full table ends at once, recording nothing.
    Form->Controls().SB2_Reverse->click();
    Tick();
    EXPECT_EQ(Form->Model().Loop().Simulation->SimRows, MaxRows);
    EXPECT_EQ(Reporter.Messages.size(), 2u);
    ExpectButtons(*Form, kEnded);
}

} // namespace
} // namespace dravo2::testing
