#include "cli/command_outcome.h"
#include "cli/fit_command.h"
#include "fit/synthetic_loop.h"
#include "form_fixture.h"
#include "support/temp_folder.h"
#include "ui/app_window.h"
#include "ui/fit_dialog.h"
#include "ui/import_actions.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include <deque>
#include <fstream>
#include <numbers>

namespace dravo2::testing {
namespace {

class ScriptedCurves : public ImportDialogs {
public:
    QString OpenMeasuredCurve() override {
        QString name = Files.empty() ? QString() : Files.front();
        if (!Files.empty()) {
            Files.pop_front();
        }
        return name;
    }
    bool ChooseImport(const ParsedCurveFile&, const QString&, const ImportSuggestion&, ImportChoice& choice) override {
        choice.Unit = FieldUnit::Oersted;
        return true;
    }
    std::deque<QString> Files;
};

Outcome RunFit(const std::vector<std::string>& args) {
    return Capture([&](std::ostream& out, std::ostream& err) {
        return RunFitCommand(args, out, err, false, [] { return false; });
    });
}

class FitProjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Two "spacers": the same stack with a weak and a strong coupling, in oersted and emu.
        for (const auto& [name, coupling] : {std::pair{"a.csv", "-2e-6"}, std::pair{"b.csv", "-3e-4"}}) {
            ParameterTexts truth;
            truth.StartF = "150";
            truth.StepF = "-30";
            truth.Nstep = "10";
            truth.J1 = coupling;
            const fit::MeasuredLoop loop = SyntheticLoop(truth, 2e-4, 0, 0);
            std::ofstream file(Folder / name);
            file << "Field (Oe),Moment (emu)\n";
            file.precision(17);
            for (std::size_t i = 0; i < loop.Field.size(); ++i) {
                file << loop.Field[i] * 4 * std::numbers::pi / 1000 << "," << loop.Moment[i] << "\n";
            }
        }
        auto curves = std::make_unique<ScriptedCurves>();
        Curves = curves.get();
        Window->MeasuredCurve->SetDialogs(std::move(curves));
    }

    static bool WaitUntilDone(FitDialog& dialog) {
        QElapsedTimer clock;
        clock.start();
        while (dialog.Running() && clock.elapsed() < 120000) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return !dialog.Running();
    }

    TempFolder Folder;
    RecordingReporter Reporter;
    ScriptedDialogs Dialogs;
    std::unique_ptr<AppWindow> Window = std::make_unique<AppWindow>(Reporter, Dialogs);
    ScriptedCurves* Curves = nullptr;
};

TEST_F(FitProjectTest, AProjectFitsInTheWindowAsTheCommandFitsItAndSavesAsItReruns) {
    const std::string project = Folder / "p.json";
    const Outcome saved = RunFit({"--free", "J1@,K1", "--bounds", "K1=0:1000", "--evals", "12", "--threads", "1",
                                  "J1=-6e-6", "--field-unit", "Oe", "--dataset", Folder / "a.csv", "--dataset",
                                  Folder / "b.csv", "--save-project", project});
    ASSERT_EQ(saved.status, 0) << saved.err;
    const Outcome command = RunFit({project});
    ASSERT_EQ(command.status, 0) << command.err;
    ASSERT_NE(command.out.find("\nJ1@2="), std::string::npos) << command.out;

    ASSERT_TRUE(OpenFitProject(*Window, QString::fromStdString(project)))
        << (Reporter.Messages.empty() ? "" : Reporter.Messages[0]);
    FitDialog& dialog = TheFitDialog(*Window);
    ASSERT_EQ(dialog.DataSetTable->rowCount(), 2);
    EXPECT_EQ(dialog.LocalKeys(), std::vector<std::string>{"J1"});
    EXPECT_EQ(dialog.Budget->value(), 12);
    dialog.FitButton->click();
    ASSERT_TRUE(dialog.Running());
    ASSERT_TRUE(WaitUntilDone(dialog));
    ASSERT_NE(dialog.Outcome, nullptr) << dialog.Summary->toPlainText().toStdString();
    EXPECT_EQ(fit::KeyValueLines(dialog.Outcome->FittedSets, true, {"J1"}), command.out);
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        const fit::DataSetSummary& own = dialog.Outcome->Summary.DataSets.at(static_cast<std::size_t>(k));
        EXPECT_EQ(dialog.DataSetTable->item(k, 1)->text(), QStringLiteral("%1/%2").arg(own.Covered).arg(own.Total));
        EXPECT_FALSE(dialog.DataSetTable->item(k, 2)->text().isEmpty());
    }

    // Each data set is drawn with its own loop over its own curve.
    const auto& pixels = Window->Form().Model().Loop().PlotState->Image.Pixels();
    std::vector<std::vector<Colour>> drawn;
    for (int k : {0, 1}) {
        dialog.DrawnDataSet->setCurrentIndex(k);
        dialog.DrawDataSet(k);
        drawn.emplace_back(pixels.begin(), pixels.end());
        EXPECT_NE(std::find(pixels.begin(), pixels.end(), Rgb(0, 150, 0)), pixels.end()) << k;
    }
    EXPECT_NE(drawn[0], drawn[1]);

    // Saved from the window, the set-up reruns to the same values; so it does with data set 2
    // removed and added again through the import dialog.
    ASSERT_TRUE(SaveFitProject(*Window, QString::fromStdString(Folder / "q.json")));
    EXPECT_EQ(RunFit({Folder / "q.json"}).out, command.out);
    dialog.DataSetTable->setCurrentCell(1, 0);
    dialog.RemoveDataSetButton->click();
    ASSERT_EQ(dialog.DataSetTable->rowCount(), 1);
    Curves->Files.push_back(QString::fromStdString(Folder / "b.csv"));
    dialog.AddDataSetButton->click();
    ASSERT_EQ(dialog.DataSetTable->rowCount(), 2);
    EXPECT_EQ(dialog.DataSetTable->item(1, 3)->text(), QStringLiteral("-6e-6"));
    ASSERT_TRUE(SaveFitProject(*Window, QString::fromStdString(Folder / "r.json")));
    EXPECT_EQ(RunFit({Folder / "r.json"}).out, command.out);
    EXPECT_TRUE(Reporter.Messages.empty());
}

} // namespace
} // namespace dravo2::testing
