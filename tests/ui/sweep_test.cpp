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
    EXPECT_EQ(form.BitBtn1_Start->isEnabled(), expected.start);
    EXPECT_EQ(form.SB1_Stop->isEnabled(), expected.stop);
    EXPECT_EQ(form.SB2_Reverse->isEnabled(), expected.reverse);
    EXPECT_EQ(form.BZapiszDAT->isEnabled(), expected.save);
    EXPECT_EQ(form.Timer1->isActive(), expected.timer);
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
    EXPECT_EQ(Form->Label_endF->text(), QStringLiteral("fin. field: 250 kA/m"));
    EXPECT_EQ(Form->LabelMinX->text(), QStringLiteral("-2.5E5"));
    EXPECT_EQ(Form->LabelMaxY->text(), QStringLiteral("1.0638"));
    EXPECT_EQ(Form->Driver.PlotState->PointType, PointStyle::SolidLine);

    Tick();
    EXPECT_EQ(Form->Label6->text(), QStringLiteral("1"));
    EXPECT_EQ(Sim(1, 1), -249000);
    EXPECT_EQ(Form->Driver.Simulation->SimRows, 1);
    EXPECT_TRUE(Form->Timer1->isActive());
    EXPECT_NE(Form->Label1->text(), QStringLiteral("theta1"));

    EXPECT_EQ(RunSweep(), 499);
    EXPECT_EQ(Form->Driver.Simulation->SimRows, 500);
    EXPECT_EQ(Form->Label6->text(), QStringLiteral("500"));
    EXPECT_EQ(Form->Label1->text().toStdString(), GeneralNumberText(Form->Driver.Session.Theta[0], 5));
    EXPECT_EQ(Form->Label5->text(), QString::number(Form->Driver.Session.IterationCount));
    ExpectButtons(*Form, kEnded);
    EXPECT_TRUE(Reporter.Messages.empty());

    // The loop drawn point by point as the ticks came, and the dial with the last angles.
    ExpectMatchesGolden(Form->Driver.PlotState->Image, "default-sweep-plot");
    ExpectMatchesGolden(Form->DialImage, "default-sweep-dial");

    // The same table as the headless command writes for Start on the default fields.
    EXPECT_EQ(ResultFileText(*Form->Driver.Simulation), CommandOutput({}));
}

TEST_F(FormTest, ReverseAfterTheEndRunsBackAndAppends) {
    Form->Edit_Nstep->setText(QStringLiteral("60"));
    Start();
    RunSweep();
    Form->SB2_Reverse->click();
    EXPECT_EQ(Form->Edit_startF->text(), QStringLiteral("250"));
    EXPECT_EQ(Form->Edit_stepF->text(), QStringLiteral("-1"));
    EXPECT_EQ(Form->Label_endF->text(), QStringLiteral("fin. field: 190 kA/m"));
    ExpectButtons(*Form, {false, true, false, false, true});
    EXPECT_EQ(RunSweep(), 60);
    EXPECT_EQ(Form->Driver.Simulation->SimRows, 120);
    EXPECT_EQ(Sim(1, 61), 249000);
    ExpectButtons(*Form, kEnded);
    EXPECT_EQ(ResultFileText(*Form->Driver.Simulation), CommandOutput({"steps=60", "--reverse"}));
    // The reversed branch drawn on the plot of the first one.
    ExpectMatchesGolden(Form->Driver.PlotState->Image, "reverse-60-plot");
}

TEST_F(FormTest, ReverseOfTheDefaultSweepShowsMinus250) {
    Start();
    RunSweep();
    Form->SB2_Reverse->click();
    EXPECT_EQ(Form->Label_endF->text(), QStringLiteral("fin. field: -250 kA/m"));
    RunSweep();
    EXPECT_EQ(Form->Driver.Simulation->SimRows, 1000);
    EXPECT_EQ(Sim(1, 501), 249000);
    EXPECT_EQ(Sim(1, 1000), -250000);
}

TEST_F(FormTest, StopInTheMiddleAndReverseDuringASweep) {
    Start();
    for (int k = 0; k < 10; ++k) {
        Tick();
    }
    Form->SB1_Stop->click();
    ExpectButtons(*Form, kEnded);
    EXPECT_EQ(Form->Driver.Simulation->SimRows, 10);
    EXPECT_EQ(Form->Driver.Session.StepIndex, 10);

    Start();
    Tick();
    Tick();
    Form->SB2_Reverse->click(); // reverses on the spot; the next step is the first of the new branch
    Tick();
    EXPECT_EQ(Form->Driver.Simulation->SimRows, 3);
    EXPECT_EQ(Sim(1, 3), 249000);
    EXPECT_EQ(Form->Driver.Session.StepIndex, 1);
}

TEST_F(FormTest, NoStepsRecordsOneRowThenEnds) {
    Form->Edit_Nstep->setText(QStringLiteral("0"));
    Start();
    EXPECT_EQ(Form->Driver.PlotState->Range.Bounds.MaxX, 1);
    EXPECT_EQ(RunSweep(), 1);
    EXPECT_EQ(Form->Driver.Simulation->SimRows, 1);
    ExpectButtons(*Form, kEnded);
}

TEST_F(FormTest, LayerOneWithoutThicknessHaltsAtTheFirstStep) {
    Form->Edit1t->setText(QStringLiteral("0"));
    Start();
    Tick();
    ASSERT_EQ(Reporter.Messages, std::vector<std::string>{"Floating point division by zero"});
    ExpectButtons(*Form, kHaltedAfterStart);
    EXPECT_EQ(Form->Driver.Simulation->SimRows, 1);
    EXPECT_EQ(Sim(1, 1), -249000);
    Form->SB1_Stop->click();
    ExpectButtons(*Form, kEnded);
}

TEST_F(FormTest, ReverseBeforeAnyStartHaltsOnTheEmptyStack) {
    Form->SB2_Reverse->click();
    Tick();
    ASSERT_EQ(Reporter.Messages, std::vector<std::string>{"Invalid floating point operation"});
    EXPECT_FALSE(Form->Timer1->isActive());
    EXPECT_TRUE(Form->SB1_Stop->isEnabled());
}

TEST_F(FormTest, ALetterInAFieldStopsStartWithItsMessage) {
    Form->Edit2K->setText(QStringLiteral("1O0"));
    Start();
    ASSERT_EQ(Reporter.Messages, std::vector<std::string>{"'1O0' is not a valid floating point value"});
    ExpectButtons(*Form, kIdle);
    Form->Edit2K->setText(QStringLiteral("100"));
    Form->Edit_sp_maxiter->setText(QStringLiteral("66.6"));
    Start();
    EXPECT_EQ(Reporter.Messages.back(), "'66.6' is not a valid integer value");
    EXPECT_FALSE(Form->Timer1->isActive());
}

TEST_F(FormTest, SweepFieldsFollowEachKeystroke) {
    Form->Edit_startF->clear();
    Reporter.Messages.clear();
    Form->Edit_startF->setText(QStringLiteral("-"));
    Form->Edit_startF->setText(QStringLiteral("-2"));
    // A text not yet a number marks the field instead of raising a message box (which would take
    // the next keys); the message box comes when the value is used.
    EXPECT_TRUE(Reporter.Messages.empty());
    EXPECT_EQ(Form->Driver.Session.StartKiloAmperesPerMetre, -2);
    EXPECT_EQ(Form->Label_endF->text(), QStringLiteral("fin. field: 498 kA/m"));

    // During a sweep the next step follows the edited fields.
    Start();
    Tick();
    Form->Edit_stepF->setText(QStringLiteral("10"));
    Tick();
    EXPECT_EQ(Sim(1, 2), (-2 + 2 * 10) * 1000.0);
}

TEST_F(FormTest, EditsBetweenTicksTakeEffectAtTheNextStep) {
    Form->Edit1J->setText(QStringLiteral("-5e-3")); // layers 1 and 2 antiparallel
    Form->Edit_startF->setText(QStringLiteral("0"));
    Form->Edit_stepF->setText(QStringLiteral("0.001"));
    Form->Edit_Nstep->setText(QStringLiteral("10"));
    Form->RadioButton4_GMR->click(); // keeps the angles: start antiparallel
    Form->Driver.Session.Theta = {0, kPi, 0, 0};
    Start();
    Tick();
    EXPECT_EQ(Form->Driver.PlotState->SimYCol, 7);
    EXPECT_NEAR(Sim(7, 1), 100, 1);
    Form->EditDR->setText(QStringLiteral("50"));
    Tick();
    EXPECT_NEAR(Sim(7, 2), 50, 1);
    // Switching to "M vs Hy" projects on y from the next step, and sets the columns 1, 2.
    Form->RadioButton4_tt->click();
    Tick();
    EXPECT_EQ(Form->Driver.PlotState->SimXCol, 2);
    EXPECT_EQ(Form->Driver.PlotState->SimYCol, 3);
    const double alongX = Form->Driver.Session.Model.MagnetisationProjection(Form->Driver.Session.Theta, false);
    Form->RadioButton4_MvHy->click();
    Tick();
    EXPECT_NE(Sim(2, 4), alongX);
    EXPECT_NEAR(Sim(2, 4), Form->Driver.Session.Model.MagnetisationProjection(Form->Driver.Session.Theta, true), 1e-15);
    EXPECT_EQ(Form->Driver.PlotState->SimYCol, 2);
    // The angle bars change the anisotropy the next step works with.
    Form->ScrollBar1a->setValue(45);
    EXPECT_EQ(Form->Driver.Session.Model.Stack.Alpha[0], 45 * kPi / 180);
}

TEST_F(FormTest, DisplayModePresets) {
    struct Case {
        QRadioButton* TForm1::*button;
        const char* minX;
        const char* maxY;
        PointStyle pointType;
    };
    const Case cases[] = {
        {&TForm1::RadioButton4_MvH, "-2.5E5", "1.0638", PointStyle::SolidLine},
        {&TForm1::RadioButton4_MvHy, "-2.5E5", "1.0638", PointStyle::SolidLine},
        {&TForm1::RadioButton4_tt, "-6.2832", "6.2832", PointStyle::Cross},
        {&TForm1::RadioButton5FMR, "-2.5E5", "1E10", PointStyle::Dot},
        {&TForm1::RadioButton4_GMR, "-2.5E5", "100", PointStyle::Cross},
    };
    for (const Case& c : cases) {
        (Form.get()->*c.button)->click();
        Start();
        SCOPED_TRACE((Form.get()->*c.button)->text().toStdString());
        EXPECT_EQ(Form->LabelMinX->text().toStdString(), c.minX);
        EXPECT_EQ(Form->LabelMaxY->text().toStdString(), c.maxY);
        EXPECT_EQ(Form->Driver.PlotState->PointType, c.pointType);
        Form->SB1_Stop->click();
    }
    // DeltaR with a zero amplitude has a flat range: Start stops in the plot's clearing.
    Form->EditDR->setText(QStringLiteral("0"));
    Start();
    EXPECT_EQ(Reporter.Messages, std::vector<std::string>{"Invalid floating point operation"});
    EXPECT_FALSE(Form->Timer1->isActive());
}

TEST_F(FormTest, AFullTableEndsTheSweepWithAMessage) {
    Form->Edit_Nstep->setText(QStringLiteral("5000"));
    Form->Edit_sp_maxiter->setText(QStringLiteral("2"));
    Start();
    EXPECT_EQ(RunSweep(), MaxRows);
    EXPECT_EQ(Form->Driver.Simulation->SimRows, MaxRows);
    EXPECT_EQ(Reporter.Messages, std::vector<std::string>{kTableFullMessage});
    ExpectButtons(*Form, kEnded);
    // Reverse on a full table ends at once, recording nothing.
    Form->SB2_Reverse->click();
    Tick();
    EXPECT_EQ(Form->Driver.Simulation->SimRows, MaxRows);
    EXPECT_EQ(Reporter.Messages.size(), 2u);
    ExpectButtons(*Form, kEnded);
}

} // namespace
} // namespace dravo2::testing
