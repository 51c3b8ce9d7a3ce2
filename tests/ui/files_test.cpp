#include "data/file_io.h"
#include "ui/form_fixture.h"

#include <QLabel>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace dravo2::testing {
namespace {

namespace fs = std::filesystem;

class FilesTest : public FormTest {
protected:
    void SetUp() override {
        Dir = fs::path(::testing::TempDir()) / ("dravo2_ui_" + std::to_string(::getpid()));
        fs::remove_all(Dir);
        fs::create_directories(Dir);
    }
    void TearDown() override { fs::remove_all(Dir); }

    QString Write(const std::string& name, const std::string& bytes) {
        const fs::path path = Dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return QString::fromStdString(path.string());
    }
    void Load(const QString& name, int filter) {
        Dialogs.OpenAnswers.push_back({name, filter});
        Form->BOtworzDAT->click();
    }
    fs::path Dir;
};

TEST_F(FilesTest, LoadingThroughTheDatFilterDrawsTheCurve) {
    Load(Write("curve.txt", "sample\r\n@\r\n1 2\r\n3 4\r\n5 6\r\n"), 2);
    EXPECT_EQ(Dialogs.OfferedFilter, 2);
    EXPECT_EQ(Form->Experiment->ExpRows, 3);
    EXPECT_EQ(Form->Experiment->ExpCols, 2);
    EXPECT_EQ(Form->Label1->text(), QStringLiteral("")); // the token that ended the first row
    EXPECT_TRUE(Form->ScrollBarHP->isEnabled());
    EXPECT_EQ(Form->ScrollBarHP->maximum(), 3);
    EXPECT_EQ(Form->LabelMaxX->text(), QStringLiteral("5.5"));

    // The filter chosen, not the name, selects the layout, and it is offered next time.
    Load(Write("curve.dat", "1 2 3\r\n4 5 6\r\n"), 1);
    EXPECT_EQ(Form->Experiment->ExpCols, 2);
    EXPECT_EQ(Form->OpenFilterIndex, 1);
    Load(QString(), 2);
    EXPECT_EQ(Dialogs.OfferedFilter, 1);
}

TEST_F(FilesTest, ACancelledLoadKeepsTheExperiment) {
    Load(Write("curve.dat", "1 2\r\n3 4\r\n"), 2);
    Load(QString(), 2);
    EXPECT_EQ(Form->Experiment->ExpRows, 2);
    EXPECT_EQ(Form->Experiment->ExpTable.At(2, 2), 4);
    EXPECT_TRUE(Reporter.Messages.empty());
}

TEST_F(FilesTest, ABadRowShowsItsMessageAndKeepsWhatWasRead) {
    Load(Write("bad.dat", "1 2\r\n3 4\r\n5,6\r\n"), 2);
    EXPECT_EQ(Reporter.Messages, std::vector<std::string>{"Invalid numeric input"});
    EXPECT_EQ(Form->Experiment->ExpRows, 3);
    EXPECT_FALSE(Form->ScrollBarHP->isEnabled()); // nothing replotted
    Load(QString::fromStdString((Dir / "missing.dat").string()), 2);
    EXPECT_EQ(Form->Experiment->ExpRows, 0);
    EXPECT_EQ(Reporter.Messages.size(), 1u);
}

TEST_F(FilesTest, SaveWritesTheTableAndDisablesItself) {
    Form->BZapiszDAT->setEnabled(true);
    Form->BZapiszDAT->click();
    EXPECT_EQ(Dialogs.OfferedName, QString()); // no rows: no dialog
    Form->Edit_Nstep->setText(QStringLiteral("500"));
    Start();
    RunSweep();
    const QString target = QString::fromStdString((Dir / "loop").string());
    Dialogs.SaveAnswers.push_back(target);
    Form->BZapiszDAT->click();
    EXPECT_EQ(Dialogs.OfferedName, QStringLiteral("dravoresult.dat"));
    EXPECT_FALSE(Form->BZapiszDAT->isEnabled());
    EXPECT_EQ(fs::file_size(Dir / "loop.da2"), 109000u);

    // Read back through "dat": eight columns, every row, drawn.
    Load(target + QStringLiteral(".da2"), 2);
    EXPECT_EQ(Form->Experiment->ExpRows, 500);
    EXPECT_EQ(Form->Experiment->ExpCols, 8);
    EXPECT_EQ(Form->Experiment->ExpTable.At(1, 500), 250000);
    EXPECT_TRUE(Form->ScrollBarHP->isEnabled());
    EXPECT_TRUE(Reporter.Messages.empty());
}

TEST_F(FilesTest, ACancelledSaveWritesNothingAndAFailedOneKeepsTheButton) {
    Form->Edit_Nstep->setText(QStringLiteral("5"));
    Start();
    RunSweep();
    const fs::path existing = Dir / "dravoresult.dat";
    std::ofstream(existing) << "precious";
    fs::current_path(Dir);
    Form->BZapiszDAT->click(); // the script answers with a cancel
    EXPECT_EQ(ReadWholeFile(existing.string()), "precious");
    EXPECT_TRUE(Form->BZapiszDAT->isEnabled());

    Dialogs.SaveAnswers.push_back(QString::fromStdString((Dir / "no" / "such" / "r.dat").string()));
    Form->BZapiszDAT->click();
    EXPECT_EQ(Reporter.Messages, std::vector<std::string>{"File not found"});
    EXPECT_TRUE(Form->BZapiszDAT->isEnabled());

    Dialogs.SaveAnswers.push_back(QString::fromStdString(existing.string()));
    Form->BZapiszDAT->click();
    EXPECT_EQ(fs::file_size(existing), 5u * 218);
    EXPECT_EQ(Form->SaveFileName.toStdString(), existing.string());
    fs::current_path(fs::temp_directory_path());
}

} // namespace
} // namespace dravo2::testing
