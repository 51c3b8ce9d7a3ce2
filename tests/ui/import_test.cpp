#include "analysis/model_units.h"
#include "data/result_writer.h"
#include "ui/app_window.h"
#include "ui/form_fixture.h"
#include "ui/import_actions.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <numbers>

namespace dravo2::testing {
namespace {

namespace fs = std::filesystem;

// Answers the import's questions from a script: the file to open, then whether to accept the
// suggestion (with an optional change of unit).
class ScriptedImportDialogs : public ImportDialogs {
public:
    QString OpenMeasuredCurve() override {
        if (Files.empty()) {
            return {};
        }
        QString name = Files.front();
        Files.pop_front();
        return name;
    }
    bool ChooseImport(const ParsedCurveFile&, const QString&, const ImportSuggestion& suggestion,
                      ImportChoice& choice) override {
        Offered = suggestion;
        ++Asked;
        if (Unit) {
            choice.Unit = *Unit;
        }
        return Accept;
    }
    std::deque<QString> Files;
    bool Accept = true;
    std::optional<FieldUnit> Unit;
    ImportSuggestion Offered;
    int Asked = 0;
};

class ImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "dravo2_import_XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        Dir = pattern;
        Actions = Window->findChild<MeasuredCurveActions*>();
        ASSERT_NE(Actions, nullptr);
        auto dialogs = std::make_unique<ScriptedImportDialogs>();
        Script = dialogs.get();
        Actions->SetDialogs(std::move(dialogs));
    }
    void TearDown() override { fs::remove_all(Dir); }

    QString Write(const std::string& name, const std::string& bytes) const {
        const fs::path path = Dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return QString::fromStdString(path.string());
    }
    void Import(const QString& path) {
        Script->Files.push_back(path);
        Actions->ImportAction->trigger();
    }
    // One tick, delivered to every receiver of the timer as the event loop delivers it.
    void Tick() { ASSERT_TRUE(QMetaObject::invokeMethod(Window->Form().Controls().Timer1, "timeout")); }
    void Sweep() {
        Window->Form().Controls().Edit_Nstep->setText(QStringLiteral("60"));
        Window->Form().Controls().BitBtn1_Start->click();
        while (Window->Form().Controls().Timer1->isActive()) {
            Tick();
        }
    }
    std::string Status() const { return Window->StatusText->text().toStdString(); }

    fs::path Dir;
    RecordingReporter Reporter;
    ScriptedDialogs FileAnswers;
    std::unique_ptr<AppWindow> Window = std::make_unique<AppWindow>(Reporter, FileAnswers);
    MeasuredCurveActions* Actions = nullptr;
    ScriptedImportDialogs* Script = nullptr;
};

const std::string kOerstedExport = "[Header]\r\nTITLE,film\r\n[Data]\r\n"
                                   "Comment,Magnetic Field (Oe),Moment (emu),M. Std. Err. (emu)\r\n"
                                   "\"note, 300 K\",\r\n"
                                   ",2000,1.0E-5,\r\n,1000,0.9E-5,\r\n,0,,\r\n,-1000,-0.9E-5,\r\n";

TEST_F(ImportTest, MenusAndTheStatusBeforeAnyCurve) {
    EXPECT_TRUE(Window->FileMenu->actions().contains(Actions->ImportAction));
    const QList<QAction*> compare = Window->CompareMenu->actions();
    ASSERT_EQ(compare.size(), 5);
    EXPECT_EQ(compare.mid(0, 3), (QList<QAction*>{Actions->SlopeAction, Actions->OffsetAction, Actions->AreaAction}));
    EXPECT_TRUE(compare[3]->isSeparator());
    EXPECT_EQ(compare[4], Actions->ModelUnitsAction);
    EXPECT_TRUE(Actions->ModelUnitsAction->isChecked());
    EXPECT_TRUE(Actions->SlopeAction->isCheckable());
    EXPECT_FALSE(Actions->SlopeAction->isChecked());
    EXPECT_FALSE(Actions->OffsetAction->isChecked());
    EXPECT_EQ(Status(), "no misfit: no measured curve is loaded");
    // A load through "Read .DA2" updates it too.
    FileAnswers.OpenAnswers.push_back({Write("curve.dat", "1 2\r\n3 4\r\n"), 2});
    Window->Form().Controls().BOtworzDAT->click();
    EXPECT_EQ(Status(), "no misfit: there is no simulated curve yet");
}

TEST_F(ImportTest, AnOerstedExportIsConvertedDrawnAndCompared) {
    Import(Write("vsm.dat", kOerstedExport));
    EXPECT_TRUE(Reporter.Messages.empty());
    EXPECT_EQ(Script->Offered.StatedUnit, FieldUnit::Oersted);
    const ExperimentData& experiment = Window->Form().Model().Measured();
    ASSERT_EQ(experiment.ExpRows, 3);
    EXPECT_EQ(experiment.ExpCols, 2);
    EXPECT_DOUBLE_EQ(experiment.ExpTable.At(1, 1), 2000 * 1000 / (4 * std::numbers::pi));
    EXPECT_DOUBLE_EQ(experiment.ExpTable.At(2, 3), -0.9e-5);
    EXPECT_TRUE(Window->Form().Controls().ScrollBarHP->isEnabled()); // drawn as a load draws it
    EXPECT_EQ(Status(), "no misfit: there is no simulated curve yet");

    // The sweep runs upward only; the measured curve is one downward branch with no simulated twin.
    Sweep();
    EXPECT_EQ(Status(), "no misfit: only 0 of 3 measured points lie within a simulated branch of their direction; "
                        "at least 3 are needed");
}

TEST_F(ImportTest, TheMisfitFollowsEveryTickAndTheCompareMenu) {
    // The sweep's own result, measured twice as large, is the measured curve.
    Sweep();
    auto measured = std::make_unique<SimulationData>(*Window->Form().Model().Loop().Simulation);
    for (std::int32_t row = 1; row <= measured->SimRows; ++row) {
        measured->SimTable.At(2, row) = 2 * measured->SimTable.At(2, row) + 1e-7 * measured->SimTable.At(1, row);
    }
    Import(Write("twice.dat", ResultFileText(*measured)));
    EXPECT_EQ(Script->Offered.StatedUnit, FieldUnit::AmperePerMetre);
    ASSERT_TRUE(Actions->LastMisfit().Valid);
    EXPECT_GT(Actions->LastMisfit().Misfit, 1e-6);
    EXPECT_TRUE(Status().starts_with("misfit ")) << Status();
    EXPECT_TRUE(Status().ends_with(" of the measured half range over 60 of 60 measured points")) << Status();

    Actions->SlopeAction->trigger();
    EXPECT_NEAR(Actions->LastMisfit().Slope, 1e-7, 1e-12);
    EXPECT_LT(Actions->LastMisfit().Misfit, 1e-9);

    Window->Form().Controls().BitBtn1_Start->click();
    EXPECT_EQ(Status(), "no misfit: there is no simulated curve yet");
    for (int tick = 1; tick <= 3; ++tick) {
        Tick();
    }
    EXPECT_LT(Actions->LastMisfit().Misfit, 1e-9);
    EXPECT_TRUE(Status().ends_with(" of the measured half range over 3 of 60 measured points")) << Status();
}

TEST_F(ImportTest, TheMeasuredCurveIsDrawnInModelUnitsWhileChecked) {
    // The sweep's own loop as a moment far off the simulated axes (5 emu and up): as measured it
    // leaves the plot, in model units it lies on the simulated line.
    TForm1& form = Window->Form();
    form.Controls().Edit_startF->setText(QStringLiteral("-30"));
    Sweep();
    auto measured = std::make_unique<SimulationData>(*form.Model().Loop().Simulation);
    for (std::int32_t row = 1; row <= measured->SimRows; ++row) {
        measured->SimTable.At(2, row) = 3e-4 * measured->SimTable.At(2, row) + 5;
    }
    Import(Write("emu.dat", ResultFileText(*measured)));
    Actions->OffsetAction->trigger();
    const Canvas& image = form.Model().Loop().PlotState->Image;

    Actions->ModelUnitsAction->trigger();
    ASSERT_FALSE(Actions->ModelUnitsAction->isChecked());
    Sweep();
    ASSERT_TRUE(Actions->LastMisfit().Valid) << Status();
    const std::vector<Colour> asMeasured = image.Pixels();

    Actions->ModelUnitsAction->trigger();
    const std::vector<Colour> inModelUnits = image.Pixels();
    // What the overlay adds are the crosses (half-size 2) around the measured points in model
    // units, all of them within the simulated axes.
    const WorldRange& range = form.Model().Loop().PlotState->Range;
    const ModelUnitsCurve curve =
        MeasuredInModelUnits(MeasuredCurve(form.Model().Measured()), SimulatedCurve(*form.Model().Loop().Simulation),
                             Actions->LastMisfit(), Actions->LastSaturation());
    ASSERT_EQ(curve.Value.size(), 60u);
    for (double value : curve.Value) {
        EXPECT_GT(value, range.Bounds.MinY);
        EXPECT_LT(value, range.Bounds.MaxY);
    }
    std::size_t added = 0;
    for (std::int32_t y = 0; y < image.Height(); ++y) {
        for (std::int32_t x = 0; x < image.Width(); ++x) {
            if (image.PixelAt(x, y) == asMeasured[static_cast<std::size_t>(y * image.Width() + x)]) {
                continue;
            }
            ++added;
            bool nearPoint = false;
            for (std::size_t j = 0; j < curve.Value.size() && !nearPoint; ++j) {
                const std::int32_t px = range.WorldToPixelX(curve.Field[j]);
                const std::int32_t py = range.WorldToPixelY(curve.Value[j]);
                nearPoint = std::abs(px - x) <= 2 && std::abs(py - y) <= 2;
            }
            EXPECT_TRUE(nearPoint) << "a mark at " << x << ", " << y;
        }
    }
    EXPECT_GT(added, 0u);

    // Unchecked, the plot is drawn as without the overlay; checked, every tick keeps it.
    Actions->ModelUnitsAction->trigger();
    EXPECT_EQ(image.Pixels(), asMeasured);
    Actions->ModelUnitsAction->trigger();
    EXPECT_EQ(image.Pixels(), inModelUnits);
    Sweep();
    const std::vector<Colour> afterTicks = image.Pixels();
    Actions->ModelUnitsAction->trigger();
    EXPECT_NE(image.Pixels(), afterTicks);
    Actions->ModelUnitsAction->trigger();
    EXPECT_EQ(image.Pixels(), afterTicks);
}

TEST_F(ImportTest, ACancelledOrFailedImportKeepsTheCurve) {
    Import(Write("vsm.dat", kOerstedExport));
    ASSERT_EQ(Window->Form().Model().Measured().ExpRows, 3);
    Script->Accept = false;
    Import(Write("other.csv", "H,M\n1,2\n2,3\n"));
    EXPECT_EQ(Script->Asked, 2);
    Script->Accept = true;
    Import(Write("header.csv", "Field (Oe);Moment (emu)\n"));
    Import(Write("bad.csv", "H,M\n1,2\n2,x\n"));
    Import(Write("one.csv", "H,M\n1,\n2,\n"));
    Import(QString());
    EXPECT_EQ(Script->Asked, 2);
    EXPECT_EQ(Reporter.Messages, (std::vector<std::string>{"The file holds no rows of numbers, only 1 row of text",
                                                           "Line 3: 'x' in column 2 is not a number",
                                                           "The file has fewer than two columns with values"}));
    EXPECT_EQ(Window->Form().Model().Measured().ExpRows, 3);
    EXPECT_DOUBLE_EQ(Window->Form().Model().Measured().ExpTable.At(2, 1), 1e-5);
}

TEST_F(ImportTest, AFileDroppedOntoTheWindowIsImported) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(Write("drop.txt", "0.1\t1\n0.2\t2\n"))});
    Script->Unit = FieldUnit::Tesla;
    // A drag enters, is accepted, and drops, as the platform delivers it.
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Window.get(), &drop);
    QApplication::processEvents();
    EXPECT_EQ(Script->Asked, 1);
    EXPECT_EQ(Script->Offered.StatedUnit, std::nullopt);
    ASSERT_EQ(Window->Form().Model().Measured().ExpRows, 2);
    EXPECT_NEAR(Window->Form().Model().Measured().ExpTable.At(1, 2), 0.2 / (4e-7 * std::numbers::pi), 1e-6);
}

TEST(MisfitStatus, RegionalSeparatorAndReason) {
    MisfitResult result;
    result.Valid = true;
    result.Misfit = 0.0123;
    result.Covered = 412;
    result.Total = 800;
    EXPECT_EQ(MisfitStatusText(result, ',').toStdString(),
              "misfit 0,0123 of the measured half range over 412 of 800 measured points");
    result.HasChiSquare = true;
    result.ChiSquare = 830.5;
    result.LinearTerms = 2;
    result.Degenerate = "scale and slope";
    EXPECT_EQ(MisfitStatusText(result, '.').toStdString(),
              "misfit 0.0123 of the measured half range over 412 of 800 measured points, chi2 830.5 on 410 dof "
              "(reduced 2.026); scale and slope cannot be told apart over the measured range");
    result.Valid = false;
    result.Reason = "the fitted scale is 0";
    EXPECT_EQ(MisfitStatusText(result, '.').toStdString(), "no misfit: the fitted scale is 0");
}

TEST(ImportDialogTest, PreviewColumnsUnitWarningAndLongCurves) {
    std::string bytes = "time;B (mT);signal\n";
    for (int i = 0; i < 5000; ++i) {
        bytes += std::to_string(i) + ";" + std::to_string(i % 100) + ",5;" + std::to_string(-i) + "\n";
    }
    const ParsedCurveFile file = ParseCurveFile(bytes);
    ImportSuggestion suggestion = SuggestImport(file);
    suggestion.FieldColumn = 0; // "time" states no unit
    suggestion.StatedUnit.reset();
    ImportDialog dialog(file, QStringLiteral("/x/loop.csv"), suggestion);
    EXPECT_EQ(dialog.Preview->rowCount(), kImportPreviewRows);
    EXPECT_EQ(dialog.Preview->columnCount(), 3);
    EXPECT_EQ(dialog.Preview->item(19, 1)->text(), QStringLiteral("19.5"));
    EXPECT_EQ(dialog.Preview->horizontalHeaderItem(1)->text(), QStringLiteral("B (mT)"));
    EXPECT_TRUE(dialog.UnitWarning->isVisibleTo(&dialog));
    EXPECT_EQ(dialog.Choice().Unit, FieldUnit::AmperePerMetre);
    EXPECT_TRUE(dialog.ThinRows->isVisibleTo(&dialog));
    EXPECT_TRUE(dialog.RowsText->text().contains(QStringLiteral("5000 rows")));
    EXPECT_EQ(dialog.Choice().Long, LongCurve::Thin);

    dialog.FieldColumn->setCurrentIndex(dialog.FieldColumn->findData(1));
    dialog.MomentColumn->setCurrentIndex(dialog.MomentColumn->findData(2));
    dialog.FirstRows->setChecked(true);
    EXPECT_FALSE(dialog.UnitWarning->isVisibleTo(&dialog));
    const ImportChoice choice = dialog.Choice();
    EXPECT_EQ(choice.FieldColumn, 1);
    EXPECT_EQ(choice.MomentColumn, 2);
    EXPECT_EQ(choice.Unit, FieldUnit::MilliTesla);
    EXPECT_EQ(choice.Long, LongCurve::FirstRows);
}

} // namespace
} // namespace dravo2::testing
