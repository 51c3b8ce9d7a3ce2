// Thousands of random user actions with a fixed seed: clicks on every button and choice, hostile
// texts in every field, scroll bars, Start, Stop and Reverse at random moments with ticks in
// between, and loads and saves through the dialogs. The window must keep its tables within their
// capacity, never record a number that is not finite, and only ever show its own messages.
// DRAVO2_MONKEY_ACTIONS sets the number of actions (default 1500).
#include "data/experiment_reader.h"
#include "data/result_writer.h"
#include "ui/form_fixture.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QRadioButton>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <unistd.h>

namespace dravo2::testing {
namespace {

namespace fs = std::filesystem;

bool IsProgramMessage(const std::string& message) {
    static const std::vector<std::regex> patterns = [] {
        std::vector<std::regex> p;
        for (const char* pattern :
             {R"('[\s\S]*' is not a valid floating point value)", R"('[\s\S]*' is not a valid integer value)",
              "Invalid floating point operation", "Floating point division by zero", "Floating point overflow",
              "Invalid numeric input", "File not found", "Path not found", "File access denied", "Disk full",
              "Invalid filename", "Too many open files", R"(I/O error \d+)", R"('[\s\S]*' is not a regular file)"}) {
            p.emplace_back(pattern);
        }
        return p;
    }();
    if (message == kTableFullMessage || message == kRowsCutMessage) {
        return true;
    }
    for (const std::regex& pattern : patterns) {
        if (std::regex_match(message, pattern)) {
            return true;
        }
    }
    return false;
}

class MonkeyTest : public FormTest {
protected:
    void SetUp() override {
        Dir = fs::path(::testing::TempDir()) / ("dravo2_monkey_" + std::to_string(::getpid()));
        fs::remove_all(Dir);
        fs::create_directories(Dir / "folder");
        MakeFiles();
        Edits = Form->findChildren<QLineEdit*>();
        for (const QLineEdit* edit : Edits) {
            Defaults[edit] = edit->text().toStdString();
        }
        Buttons = {Form->Controls().BOtworzDAT,    Form->Controls().BZapiszDAT,    Form->Controls().BReplot1,
                   Form->Controls().BReplot2,      Form->Controls().BNormalizeSim, Form->Controls().SB2_Reverse,
                   Form->Controls().BitBtn1_Start, Form->Controls().SB1_Stop};
        for (QRadioButton* r :
             {Form->Controls().RadioButton4_MvH, Form->Controls().RadioButton4_MvHy, Form->Controls().RadioButton4_MvHz,
              Form->Controls().RadioButton4_tt, Form->Controls().RadioButton4_GMR, Form->Controls().RadioButton5FMR,
              Form->Controls().RadioButton2_ua, Form->Controls().RadioButton2_q}) {
            Choices.push_back(r);
        }
        for (const RadioGroup* group :
             {&Form->Controls().RadioGroup_p, &Form->Controls().RadioGroup_px, &Form->Controls().RadioGroup_py}) {
            for (QAbstractButton* item : group->Items->buttons()) {
                Choices.push_back(item);
            }
        }
        Bars = {Form->Controls().ScrollBar1a, Form->Controls().ScrollBar2a, Form->Controls().ScrollBar3a,
                Form->Controls().ScrollBar4a, Form->Controls().ScrollBarHA, Form->Controls().ScrollBarHP};
    }
    void TearDown() override { fs::remove_all(Dir); }

    void MakeFiles() {
        auto write = [this](const std::string& name, const std::string& bytes) {
            std::ofstream(Dir / name, std::ios::binary) << bytes;
            Files.push_back(QString::fromStdString((Dir / name).string()));
        };
        write("header.dat", "sample\r\n@\r\n1 2 3\r\n4 5 6\r\n7 8 9\r\n");
        write("two.da2", "-100 -1\n0 0\n100 1\n");
        write("zeros.dat", "0 0\r\n0 0\r\n");
        write("bad.dat", "1 2\r\n3,4\r\n");
        write("empty.dat", "");
        std::string noise;
        for (int k = 0; k < 4000; ++k) {
            noise += static_cast<char>(Random() % 256);
        }
        write("noise.dat", noise);
        std::string numbers;
        for (int r = 0; r < 5000; ++r) {
            numbers += std::to_string(r) + " " + std::to_string(std::sin(r * 0.01)) + "\r\n";
        }
        write("long.dat", numbers);
        Files.push_back(QString::fromStdString((Dir / "missing.dat").string()));
        Files.push_back(QString::fromStdString((Dir / "folder").string()));
    }

    std::string HostileText() {
        static const char* texts[] = {"",
                                      " ",
                                      "-",
                                      "+",
                                      ".",
                                      ",",
                                      "1e",
                                      "1e4000",
                                      "-1e4000",
                                      "1e-4000",
                                      "1e300",
                                      "-1e300",
                                      "nan",
                                      "inf",
                                      "0x10",
                                      "1,5",
                                      "\xef\xbc\x91",
                                      "\t5",
                                      "5 ",
                                      " 5",
                                      "-0",
                                      "99999999999999999999",
                                      "-2147483649",
                                      "2147483647",
                                      "1.5.5",
                                      "e5",
                                      "\xc3\xa4",
                                      "'",
                                      "%s%n",
                                      "0",
                                      "2e-9",
                                      "-250.0",
                                      "1000"};
        const std::size_t pick = Random() % (std::size(texts) + 3);
        if (pick < std::size(texts)) {
            return texts[pick];
        }
        if (pick == std::size(texts)) {
            return std::string(200 + Random() % 800, '9');
        }
        std::uniform_real_distribution<double> mantissa(-10, 10);
        std::ostringstream number;
        number << mantissa(Random) << "e" << static_cast<int>(Random() % 40) - 20;
        return number.str();
    }

    std::string TextFor(const QLineEdit* edit) {
        // Often the user puts a field right again, so that sweeps get going between the typos.
        if (Random() % 2 == 0) {
            return Defaults[edit];
        }
        // Counts are kept moderate so that a tick stays short; everything else may be anything.
        if (edit == Form->Controls().Edit_sp_maxiter) {
            return Random() % 4 == 0 ? HostileText() : std::to_string(static_cast<int>(Random() % 20000) - 100);
        }
        if (edit == Form->Controls().Edit_Nstep) {
            return Random() % 4 == 0 ? HostileText() : std::to_string(static_cast<int>(Random() % 6000) - 10);
        }
        return HostileText();
    }

    void Act() {
        switch (Random() % 9) {
        case 0:
        case 1:
            Buttons[Random() % Buttons.size()]->click();
            break;
        case 2:
            Choices[Random() % Choices.size()]->click();
            break;
        case 3: {
            QLineEdit* edit = Edits[static_cast<qsizetype>(Random() % Edits.size())];
            const std::string text = TextFor(edit);
            if (Random() % 3 == 0) {
                for (std::size_t n = 0; n <= text.size(); ++n) {
                    edit->setText(QString::fromUtf8(text.substr(0, n)));
                }
            } else {
                edit->setText(QString::fromUtf8(text));
            }
            break;
        }
        case 4: {
            QScrollBar* bar = Bars[Random() % Bars.size()];
            if (bar->isEnabled()) {
                bar->setValue(bar->minimum() + static_cast<int>(Random() % (bar->maximum() - bar->minimum() + 1)));
            }
            break;
        }
        case 5:
            Dialogs.OpenAnswers.push_back(
                {Random() % 5 == 0 ? QString() : Files[Random() % Files.size()], 1 + static_cast<int>(Random() % 2)});
            Form->Controls().BOtworzDAT->click();
            break;
        case 6: {
            const QString targets[] = {QString(), QString::fromStdString((Dir / "result").string()),
                                       QString::fromStdString((Dir / "result.dat").string()),
                                       QString::fromStdString((Dir / "no" / "result.dat").string()),
                                       QString::fromStdString((Dir / "folder").string())};
            Dialogs.SaveAnswers.push_back(targets[Random() % std::size(targets)]);
            Form->Controls().BZapiszDAT->click();
            Dialogs.SaveAnswers.clear();
            if (fs::exists(Dir / "result.dat") && Random() % 2 == 0) {
                Files.push_back(QString::fromStdString((Dir / "result.dat").string()));
            }
            break;
        }
        default:
            for (int k = static_cast<int>(Random() % 30); k > 0 && Form->Controls().Timer1->isActive(); --k) {
                Tick();
                ++Ticks;
            }
            break;
        }
    }

    void CheckInvariants() {
        ASSERT_GE(Form->Model().Loop().Simulation->SimRows, 0);
        ASSERT_LE(Form->Model().Loop().Simulation->SimRows, MaxRows);
        ASSERT_GE(Form->Model().Measured().ExpRows, 0);
        ASSERT_LE(Form->Model().Measured().ExpRows, MaxRows);
        ASSERT_LE(Form->Model().Measured().ExpCols, MaxCols);
        ASSERT_TRUE(Form->Model().Measured().ExpRows == 0 || Form->Model().Measured().ExpCols >= 1);
        for (std::int32_t c = 1; c <= MaxCols; ++c) {
            const double* column = Form->Model().Loop().Simulation->SimTable.Column(c);
            for (std::int32_t r = 0; r < Form->Model().Loop().Simulation->SimRows; ++r) {
                ASSERT_TRUE(std::isfinite(column[r])) << "column " << c << " row " << r + 1;
            }
        }
        MostRows = std::max(MostRows, Form->Model().Loop().Simulation->SimRows);
        LoadedRows = std::max(LoadedRows, Form->Model().Measured().ExpRows);
        for (; Checked < Reporter.Messages.size(); ++Checked) {
            ASSERT_TRUE(IsProgramMessage(Reporter.Messages[Checked])) << Reporter.Messages[Checked];
        }
    }

    std::mt19937 Random{20261207};
    fs::path Dir;
    std::vector<QString> Files;
    QList<QLineEdit*> Edits;
    std::vector<QAbstractButton*> Buttons;
    std::vector<QAbstractButton*> Choices;
    std::vector<QScrollBar*> Bars;
    std::size_t Checked = 0;
    std::map<const QLineEdit*, std::string> Defaults;
    long long Ticks = 0;
    std::int32_t MostRows = 0;
    std::int32_t LoadedRows = 0;
};

TEST_F(MonkeyTest, RandomActionsNeverBreakTheWindow) {
    const char* configured = std::getenv("DRAVO2_MONKEY_ACTIONS");
    const int actions = configured != nullptr ? std::atoi(configured) : 1500;
    for (int k = 0; k < actions; ++k) {
        Act();
        CheckInvariants();
        if (HasFatalFailure()) {
            FAIL() << "after action " << k;
        }
    }
    RecordProperty("messages", static_cast<int>(Reporter.Messages.size()));
    std::cout << "monkey: " << actions << " actions, " << Ticks << " ticks, " << Reporter.Messages.size()
              << " messages, at most " << MostRows << " simulated and " << LoadedRows << " loaded rows\n";
    // The run must have exercised sweeps and loads, not only typos.
    EXPECT_GT(Ticks, actions / 20);
    EXPECT_GT(MostRows, 50);
    EXPECT_GT(LoadedRows, 2);
}

} // namespace
} // namespace dravo2::testing
