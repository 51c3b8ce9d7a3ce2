#include "data/csv_writer.h"
#include "data/file_io.h"
#include "plot/figure.h"
#include "ui/app_window.h"
#include "ui/export_actions.h"
#include "ui/form_fixture.h"

#include <QAction>
#include <QLabel>
#include <QMenu>

#include <deque>
#include <filesystem>

namespace dravo2::testing {
namespace {

namespace fs = std::filesystem;

// Answers the export dialogs from a script; an empty answer is a cancel.
class ScriptedExportDialogs : public ExportDialogs {
public:
    std::optional<FigureExportRequest> AskFigure(const FigureExportRequest& last) override {
        Offered = last;
        if (Figures.empty()) {
            return std::nullopt;
        }
        const FigureExportRequest answer = Figures.front();
        Figures.pop_front();
        if (answer.Path.isEmpty()) {
            return std::nullopt;
        }
        return answer;
    }
    QString AskTable(const QString&) override {
        if (Tables.empty()) {
            return {};
        }
        QString answer = Tables.front();
        Tables.pop_front();
        return answer;
    }
    std::deque<FigureExportRequest> Figures; // an empty path is a cancel
    std::deque<QString> Tables;
    FigureExportRequest Offered;
};

class ExportActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "dravo2_export_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        Dir = pattern;
        auto dialogs = std::make_unique<ScriptedExportDialogs>();
        Scripted = dialogs.get();
        SetExportDialogs(Window, std::move(dialogs));
    }
    void TearDown() override { fs::remove_all(Dir); }

    QAction* Action(const char* name) const { return Window.findChild<QAction*>(QString::fromLatin1(name)); }
    void Sweep(int steps) {
        Window.Form().Controls().Edit_Nstep->setText(QString::number(steps));
        Window.Form().Controls().BitBtn1_Start->click();
        while (Window.Form().Controls().Timer1->isActive()) {
            Window.Form().Guarded([this] { Window.Form().Timer1Timer(); });
        }
    }
    QString In(const std::string& name) const { return QString::fromStdString((Dir / name).string()); }

    RecordingReporter Reporter;
    ScriptedDialogs Dialogs;
    AppWindow Window{Reporter, Dialogs};
    ScriptedExportDialogs* Scripted = nullptr;
    fs::path Dir;
};

TEST_F(ExportActionsTest, FileMenuExportsThePlotAndTheTable) {
    ASSERT_NE(Action("ExportPlotAction"), nullptr);
    ASSERT_NE(Action("ExportTableAction"), nullptr);
    EXPECT_TRUE(Window.FileMenu->actions().contains(Action("ExportPlotAction")));
    Sweep(30);
    ASSERT_EQ(Window.Form().Model().Loop().Simulation->SimRows, 30);
    const fs::path measured = Dir / "measured" / "curve.dat";
    fs::create_directory(measured.parent_path());
    WriteFileSafely(measured.string(), "-240000 -1.05\r\n0 0.6\r\n240000 1.05\r\n");
    Dialogs.OpenAnswers.push_back({QString::fromStdString(measured.string()), 2});
    Window.Form().Controls().BOtworzDAT->click();
    ASSERT_EQ(Window.Form().Model().Measured().ExpRows, 3);

    FigureExportRequest png{In("loop.png"), 100, 5.08, 2.54, 8};
    Scripted->Figures.push_back(png);
    Action("ExportPlotAction")->trigger();
    const std::string bytes = ReadWholeFile((Dir / "loop.png").string());
    ASSERT_GT(bytes.size(), 24u);
    EXPECT_EQ(bytes.substr(1, 3), "PNG");
    EXPECT_EQ(static_cast<unsigned char>(bytes[19]), 200u); // 2 inches at 100 dpi
    EXPECT_EQ(static_cast<unsigned char>(bytes[23]), 100u);
    EXPECT_EQ(Scripted->Offered.Path, QStringLiteral("dravoplot.pdf"));
    EXPECT_EQ(Window.StatusText->text(), QStringLiteral("Plot exported to ") + png.Path);

    // The next export starts from the last answers.
    Scripted->Figures.push_back(FigureExportRequest{In("loop.svg")});
    Action("ExportPlotAction")->trigger();
    EXPECT_EQ(Scripted->Offered.Path, png.Path);
    EXPECT_EQ(Scripted->Offered.Dpi, 100);
    EXPECT_EQ(ReadWholeFile((Dir / "loop.svg").string()).substr(0, 5), "<?xml");

    Scripted->Tables.push_back(In("loop.csv"));
    Action("ExportTableAction")->trigger();
    EXPECT_EQ(ReadWholeFile((Dir / "loop.csv").string()),
              CsvTableText(*Window.Form().Model().Loop().Simulation, {true, true, true, true},
                           TableBranchNumbers(*Window.Form().Model().Loop().Simulation)));
    EXPECT_TRUE(Reporter.Messages.empty());
}

TEST_F(ExportActionsTest, CancelledOrRefusedExportsWriteNothing) {
    Sweep(5);
    Scripted->Figures.push_back(FigureExportRequest{});
    Action("ExportPlotAction")->trigger();
    Scripted->Tables.push_back(QString());
    Action("ExportTableAction")->trigger();
    Scripted->Figures.push_back(FigureExportRequest{In("loop.gif")});
    Action("ExportPlotAction")->trigger();
    ASSERT_EQ(Reporter.Messages.size(), 1u);
    EXPECT_NE(Reporter.Messages[0].find("not a figure file name"), std::string::npos);
    Scripted->Figures.push_back(FigureExportRequest{In("missing/loop.pdf")});
    Action("ExportPlotAction")->trigger();
    EXPECT_EQ(Reporter.Messages.size(), 2u);
    EXPECT_TRUE(fs::is_empty(Dir));
}

} // namespace
} // namespace dravo2::testing
