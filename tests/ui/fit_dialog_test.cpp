#include "fit/synthetic_loop.h"
#include "form_fixture.h"
#include "ui/app_window.h"
#include "ui/fit_dialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QSpinBox>

#include <utility>

namespace dravo2::testing {
namespace {

class FitDialogTest : public ::testing::Test {
protected:
    RecordingReporter Reporter;
    ScriptedDialogs Dialogs;
    std::unique_ptr<AppWindow> Window = std::make_unique<AppWindow>(Reporter, Dialogs);

    // A measured loop of the default stack, short and coarse so that a fit is quick.
    void LoadSyntheticLoop() {
        ParameterTexts truth;
        truth.StartF = "150";
        truth.StepF = "-30";
        truth.Nstep = "10";
        const fit::MeasuredLoop loop = SyntheticLoop(truth, 2e-4, 0, 0);
        ExperimentData& experiment = Window->Form().Model().Measured();
        experiment.ClearExpTable();
        for (std::size_t i = 0; i < loop.Field.size(); ++i) {
            experiment.ExpTable.At(1, static_cast<std::int32_t>(i + 1)) = loop.Field[i];
            experiment.ExpTable.At(2, static_cast<std::int32_t>(i + 1)) = loop.Moment[i];
        }
        experiment.ExpRows = static_cast<std::int32_t>(loop.Field.size());
        experiment.ExpCols = 2;
    }

    FitDialog* OpenDialog() {
        auto* action = Window->findChild<QAction*>(QStringLiteral("FitToMeasuredCurve"));
        EXPECT_NE(action, nullptr);
        action->trigger();
        return Window->findChild<FitDialog*>(QStringLiteral("FitDialog"));
    }

    static bool WaitUntilDone(FitDialog& dialog) {
        QElapsedTimer clock;
        clock.start();
        while (dialog.Running() && clock.elapsed() < 120000) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return !dialog.Running();
    }
};

TEST_F(FitDialogTest, FitsInTheBackgroundLocksTheSweepButtonsAndAppliesTheResult) {
    LoadSyntheticLoop();
    TForm1& form = Window->Form();
    form.Controls().Editbias->setText(QStringLiteral("2e-3")); // twice the loop's exchange bias
    FitDialog* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(dialog->isModal());
    const std::size_t bias = *fit::ParameterIndex("bias");
    EXPECT_EQ(dialog->Rows[bias].Value->text(), QStringLiteral("2e-3"));
    EXPECT_EQ(dialog->Rows[bias].Lower->text(), QStringLiteral("-0.02"));
    dialog->Rows[bias].Free->setChecked(true);
    dialog->Budget->setValue(40);
    dialog->Threads->setValue(2);

    const Colour fitColour = Rgb(0, 150, 0);
    dialog->FitButton->click();
    ASSERT_TRUE(dialog->Running());
    EXPECT_FALSE(form.Controls().BitBtn1_Start->isEnabled());
    EXPECT_FALSE(form.Controls().SB2_Reverse->isEnabled());
    EXPECT_FALSE(form.Controls().BOtworzDAT->isEnabled());
    ASSERT_TRUE(WaitUntilDone(*dialog));

    EXPECT_TRUE(form.Controls().BitBtn1_Start->isEnabled());
    EXPECT_TRUE(form.Controls().BOtworzDAT->isEnabled());
    ASSERT_NE(dialog->Outcome, nullptr);
    const fit::FitSummary& summary = dialog->Outcome->Summary;
    ASSERT_TRUE(summary.MisfitAfter && summary.MisfitBefore);
    EXPECT_LT(*summary.MisfitAfter, *summary.MisfitBefore);
    EXPECT_NE(dialog->Summary->toPlainText().indexOf(QStringLiteral("bias")), -1);
    const auto& pixels = form.Model().Loop().PlotState->Image.Pixels();
    EXPECT_NE(std::find(pixels.begin(), pixels.end(), fitColour), pixels.end());

    ASSERT_TRUE(dialog->ApplyButton->isEnabled());
    dialog->ApplyButton->click();
    // Each written text reads back to the fitted double, is shown from its sign, and is whole in the hint.
    const ParameterTexts& fitted = dialog->Outcome->Fitted;
    const std::pair<QLineEdit*, double> written[] = {
        {form.Controls().Editbias, fit::ParameterValue(fitted, bias)},
        {form.Controls().Edit_startF, TextToDouble(fitted.StartF)},
        {form.Controls().Edit_stepF, TextToDouble(fitted.StepF)},
    };
    for (const auto& [edit, value] : written) {
        SCOPED_TRACE(edit->objectName().toStdString());
        EXPECT_EQ(TextToDouble(edit->text().toStdString()), value);
        EXPECT_EQ(edit->cursorPosition(), 0);
        EXPECT_TRUE(edit->toolTip().endsWith(QLatin1Char('\n') + edit->text()));
    }
    EXPECT_EQ(form.Controls().Edit_Nstep->text(), QStringLiteral("10"));
    EXPECT_TRUE(form.Controls().Timer1->isActive()); // Start runs the fitted loop's first branch
    EXPECT_EQ(form.Model().Loop().Session.Solver.Method, SolverMethod::Newton); // as the fit simulated it
}

TEST_F(FitDialogTest, ExplainsWhyItCannotStart) {
    FitDialog* dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->FitButton->click();
    EXPECT_FALSE(dialog->Running());
    EXPECT_NE(dialog->Summary->toPlainText().indexOf(QStringLiteral("measured curve")), -1);
    LoadSyntheticLoop();
    dialog->FitButton->click();
    EXPECT_FALSE(dialog->Running());
    EXPECT_NE(dialog->Summary->toPlainText().indexOf(QStringLiteral("free")), -1);
}

} // namespace
} // namespace dravo2::testing
