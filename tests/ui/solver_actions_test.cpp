#include "cli/sweep_command.h"
#include "data/result_writer.h"
#include "ui/app_window.h"
#include "ui/form_fixture.h"

#include <QAction>
#include <QMenu>

#include <sstream>

namespace dravo2::testing {
namespace {

class SolverMenuTest : public ::testing::Test {
protected:
    RecordingReporter Reporter;
    ScriptedDialogs Dialogs;
    std::unique_ptr<AppWindow> Window = std::make_unique<AppWindow>(Reporter, Dialogs);
    TForm1& Form = Window->Form();
    QAction* Descent = Window->findChild<QAction*>(QStringLiteral("SolverDescent"));
    QAction* Newton = Window->findChild<QAction*>(QStringLiteral("SolverNewton"));

    void RunSweep() {
        while (Form.Controls().Timer1->isActive()) {
            Form.Guarded([this] { Form.Timer1Timer(); });
        }
    }
};

TEST_F(SolverMenuTest, OffersBothSolversUnderSweepWithTheDescentChecked) {
    ASSERT_NE(Descent, nullptr);
    ASSERT_NE(Newton, nullptr);
    const QMenu* solver = Window->findChild<QMenu*>(QStringLiteral("SolverMenu"));
    ASSERT_NE(solver, nullptr);
    EXPECT_TRUE(Window->SweepMenu->actions().contains(solver->menuAction()));
    EXPECT_EQ(Descent->text(), QStringLiteral("&Gradient descent"));
    EXPECT_EQ(Newton->text(), QStringLiteral("&Newton (fast)"));
    EXPECT_TRUE(Descent->isChecked());
    EXPECT_FALSE(Newton->isChecked());

    Newton->trigger();
    EXPECT_FALSE(Descent->isChecked());
    EXPECT_EQ(Form.Model().Loop().Session.Solver.Method, SolverMethod::Newton);
    Descent->trigger();
    EXPECT_TRUE(Descent->isChecked());
    EXPECT_EQ(Form.Model().Loop().Session.Solver.Method, SolverMethod::Descent);
}

TEST_F(SolverMenuTest, NewtonRunsStartAndReverseAsTheCommandDoes) {
    Newton->trigger();
    Form.Controls().Edit_Nstep->setText(QStringLiteral("60"));
    Form.Controls().BitBtn1_Start->click();
    RunSweep();
    Form.Controls().SB2_Reverse->click();
    RunSweep();
    EXPECT_TRUE(Newton->isChecked());
    EXPECT_TRUE(Reporter.Messages.empty());
    std::ostringstream out;
    std::ostringstream err;
    RunSweepCommand({"steps=60", "--reverse", "solver=newton"}, out, err, false);
    EXPECT_EQ(ResultFileText(*Form.Model().Loop().Simulation), out.str());
}

TEST_F(SolverMenuTest, AChoiceBetweenTicksTakesEffectAtTheNextStep) {
    // Ten descent steps, then Newton: the same rows as a driver switched at the same point.
    Form.Controls().Edit_Nstep->setText(QStringLiteral("30"));
    Form.Controls().BitBtn1_Start->click();
    for (int tick = 0; tick < 10; ++tick) {
        Form.Guarded([this] { Form.Timer1Timer(); });
    }
    Newton->trigger();
    RunSweep();

    SweepDriver driver;
    SweepParameters parameters;
    parameters.Texts.Nstep = "30";
    driver.Create(SweepFieldsOf(parameters.Texts));
    driver.Start(parameters, DisplayMode::MvHx);
    for (int tick = 0; tick < 30; ++tick) {
        if (tick == 10) {
            driver.Session.Solver.Method = SolverMethod::Newton;
        }
        driver.Tick(parameters.DeltaR, DisplayMode::MvHx);
    }
    ASSERT_EQ(Form.Model().Loop().Simulation->SimRows, 30);
    EXPECT_EQ(ResultFileText(*Form.Model().Loop().Simulation), ResultFileText(*driver.Simulation));
    // And not the rows of a descent to the end.
    std::ostringstream out;
    std::ostringstream err;
    RunSweepCommand({"steps=30"}, out, err, false);
    EXPECT_NE(ResultFileText(*Form.Model().Loop().Simulation), out.str());
}

} // namespace
} // namespace dravo2::testing
