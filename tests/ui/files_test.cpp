#include "data/experiment_reader.h"
#include "data/file_io.h"
#include "ui/form_fixture.h"
#include "ui/platform.h"

#include <QLabel>

#include <cfenv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
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
        Form->Controls().BOtworzDAT->click();
    }
    fs::path Dir;
};

TEST_F(FilesTest, LoadingThroughTheDatFilterDrawsTheCurve) {
    Load(Write("curve.txt", "sample\r\n@\r\n1 2\r\n3 4\r\n5 6\r\n"), 2);
    EXPECT_EQ(Dialogs.OfferedFilter, 2);
    EXPECT_EQ(Form->Model().Measured().ExpRows, 3);
    EXPECT_EQ(Form->Model().Measured().ExpCols, 2);
    EXPECT_EQ(Form->Controls().Label1->text(), QStringLiteral("")); // the token that ended the first row
    EXPECT_TRUE(Form->Controls().ScrollBarHP->isEnabled());
    EXPECT_EQ(Form->Controls().ScrollBarHP->maximum(), 3);
    EXPECT_EQ(Form->Controls().LabelMaxX->text(), QStringLiteral("5.5"));

    // The filter chosen, not the name, selects the layout, and it is offered next time.
    Load(Write("curve.dat", "1 2 3\r\n4 5 6\r\n"), 1);
    EXPECT_EQ(Form->Model().Measured().ExpCols, 2);
    EXPECT_EQ(Form->Model().OpenFilterIndex(), 1);
    Load(QString(), 2);
    EXPECT_EQ(Dialogs.OfferedFilter, 1);
}

TEST_F(FilesTest, FlagsLeftByTheDialogDoNotSpoilTheLoad) {
    // Qt's file dialog returns with the invalid-operation flag raised.
    class FlagRaisingDialogs : public ScriptedDialogs {
    public:
        QString OpenExperiment(int& filterIndex) override {
            std::feraiseexcept(FE_INVALID);
            return ScriptedDialogs::OpenExperiment(filterIndex);
        }
    };
    FlagRaisingDialogs dialogs;
    TForm1 form(Reporter, dialogs);
    dialogs.OpenAnswers.push_back({Write("curve.dat", "-2.4e+05 -1.05\r\n2.4e+05 1.05\r\n"), 2});
    form.Controls().BOtworzDAT->click();
    EXPECT_EQ(form.Model().Measured().ExpRows, 2);
    EXPECT_TRUE(Reporter.Messages.empty());
}

TEST_F(FilesTest, ACancelledLoadKeepsTheExperiment) {
    Load(Write("curve.dat", "1 2\r\n3 4\r\n"), 2);
    Load(QString(), 2);
    EXPECT_EQ(Form->Model().Measured().ExpRows, 2);
    EXPECT_EQ(Form->Model().Measured().ExpTable.At(2, 2), 4);
    EXPECT_TRUE(Reporter.Messages.empty());
}

TEST_F(FilesTest, ABadRowShowsItsMessageAndKeepsWhatWasRead) {
    Load(Write("bad.dat", "1 2\r\n3 4\r\n5,6\r\n"), 2);
    EXPECT_EQ(Reporter.Messages, std::vector<std::string>{"Invalid numeric input"});
    EXPECT_EQ(Form->Model().Measured().ExpRows, 3);
    EXPECT_FALSE(Form->Controls().ScrollBarHP->isEnabled()); // nothing replotted
    Load(QString::fromStdString((Dir / "missing.dat").string()), 2);
    EXPECT_EQ(Form->Model().Measured().ExpRows, 0);
    EXPECT_EQ(Reporter.Messages.size(), 1u);
}

TEST_F(FilesTest, SaveWritesTheTableAndDisablesItself) {
    Form->Controls().BZapiszDAT->setEnabled(true);
    Form->Controls().BZapiszDAT->click();
    EXPECT_EQ(Dialogs.OfferedName, QString()); // no rows: no dialog
    Form->Controls().Edit_Nstep->setText(QStringLiteral("500"));
    Start();
    RunSweep();
    const QString target = QString::fromStdString((Dir / "loop").string());
    Dialogs.SaveAnswers.push_back(target);
    Form->Controls().BZapiszDAT->click();
    EXPECT_EQ(Dialogs.OfferedName, QStringLiteral("dravoresult.dat"));
    EXPECT_FALSE(Form->Controls().BZapiszDAT->isEnabled());
    EXPECT_EQ(fs::file_size(Dir / "loop.da2"), 109000u);

    // Read back through "dat": eight columns, every row, drawn.
    Load(target + QStringLiteral(".da2"), 2);
    EXPECT_EQ(Form->Model().Measured().ExpRows, 500);
    EXPECT_EQ(Form->Model().Measured().ExpCols, 8);
    EXPECT_EQ(Form->Model().Measured().ExpTable.At(1, 500), 250000);
    EXPECT_TRUE(Form->Controls().ScrollBarHP->isEnabled());
    EXPECT_TRUE(Reporter.Messages.empty());
}

TEST_F(FilesTest, ACancelledSaveWritesNothingAndAFailedOneKeepsTheButton) {
    Form->Controls().Edit_Nstep->setText(QStringLiteral("5"));
    Start();
    RunSweep();
    const fs::path existing = Dir / "dravoresult.dat";
    std::ofstream(existing) << "precious";
    fs::current_path(Dir);
    Form->Controls().BZapiszDAT->click(); // the script answers with a cancel
    EXPECT_EQ(ReadWholeFile(existing.string()), "precious");
    EXPECT_TRUE(Form->Controls().BZapiszDAT->isEnabled());

    Dialogs.SaveAnswers.push_back(QString::fromStdString((Dir / "no" / "such" / "r.dat").string()));
    Form->Controls().BZapiszDAT->click();
    EXPECT_EQ(Reporter.Messages, std::vector<std::string>{"File not found"});
    EXPECT_TRUE(Form->Controls().BZapiszDAT->isEnabled());

    // A FIFO would hold the window until a reader came: it is refused with a message.
    const fs::path fifo = Dir / "pipe.dat";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Reporter.Messages.clear();
    Dialogs.SaveAnswers.push_back(QString::fromStdString(fifo.string()));
    Form->Controls().BZapiszDAT->click();
    EXPECT_EQ(Reporter.Messages, std::vector<std::string>{"'" + fifo.string() +
                                                          "' is not a regular file: results are saved only to files"});
    EXPECT_TRUE(Form->Controls().BZapiszDAT->isEnabled());

    Dialogs.SaveAnswers.push_back(QString::fromStdString(existing.string()));
    Form->Controls().BZapiszDAT->click();
    EXPECT_EQ(fs::file_size(existing), 5u * 218);
    EXPECT_EQ(Form->ResultFileName().toStdString(), existing.string());
    fs::current_path(fs::temp_directory_path());
}

// A FIFO is refused with a message instead of waited for; a file longer than the table loads its
// first 4096 rows and says so.
TEST_F(FilesTest, AFifoIsRefusedAndCutRowsAreReported) {
    const fs::path fifo = Dir / "pipe.dat";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Load(QString::fromStdString(fifo.string()), 2);
    EXPECT_EQ(Reporter.Messages, std::vector<std::string>{"'" + fifo.string() + "' is not a regular file"});
    EXPECT_EQ(Form->Model().Measured().ExpRows, 0);

    std::string rows;
    for (int r = 1; r <= MaxRows + 1; ++r) {
        rows += std::to_string(r) + " 2\r\n";
    }
    Reporter.Messages.clear();
    Load(Write("long.dat", rows), 2);
    EXPECT_EQ(Reporter.Messages, std::vector<std::string>{kRowsCutMessage});
    EXPECT_EQ(Form->Model().Measured().ExpRows, MaxRows);
    EXPECT_TRUE(Form->Controls().ScrollBarHP->isEnabled()); // drawn as usual
}

// Under a locale with a decimal comma the fields show their defaults with a comma, and Start with
// them works. The test runs itself again in a child process under such a locale.
class RegionalSeparatorTest : public FormTest {};

TEST_F(RegionalSeparatorTest, DefaultTextsUseTheCommaAndStartTakesThem) {
    if (std::getenv("DRAVO2_TEST_LOCALE") == nullptr) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::setenv("DRAVO2_TEST_LOCALE", "de_DE.UTF-8", 1);
            ::execl("/proc/self/exe", "ui_tests", "--gtest_filter=RegionalSeparatorTest.*", nullptr);
            ::_exit(127);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the run under de_DE.UTF-8 failed: " << status;
        return;
    }
    ASSERT_EQ(RegionalDecimalSeparator(), ',');
    EXPECT_TRUE(Reporter.Messages.empty());
    EXPECT_EQ(Form->Controls().Edit_startF->text(), QStringLiteral("-250,0"));
    EXPECT_EQ(Form->Controls().Edit_stepF->text(), QStringLiteral("1,0"));
    EXPECT_EQ(Form->Controls().Edit_sp_conv->text(), QStringLiteral("0,0000000002"));
    EXPECT_EQ(Form->Controls().Edit1J->text(), QStringLiteral("-0,002e-3"));
    EXPECT_EQ(Form->Controls().Edit1t->text(), QStringLiteral("2e-9"));
    Form->Controls().Edit_Nstep->setText(QStringLiteral("3"));
    Start();
    EXPECT_EQ(RunSweep(), 3);
    EXPECT_TRUE(Reporter.Messages.empty()) << Reporter.Messages.front();
    EXPECT_EQ(Form->Model().Loop().Simulation->SimRows, 3);
    EXPECT_EQ(Sim(1, 3), -247000);
}

} // namespace
} // namespace dravo2::testing
