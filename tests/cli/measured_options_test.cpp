#include "cli/command_outcome.h"
#include "cli/sweep_command.h"
#include "data/number_text.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace dravo2 {
namespace {

using testing::Outcome;
using testing::RunCommand;

class MeasuredCommand : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string path = Folder / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    testing::TempFolder Folder;
};

TEST_F(MeasuredCommand, ImportPrintsTheTableAndStatesItsChoices) {
    const std::string path = Write("vsm.dat", "[Header]\r\nTITLE,x\r\n[Data]\r\n"
                                              "Comment,Temperature (K),Magnetic Field (Oe),Moment (emu)\r\n"
                                              ",300,1000,2E-5\r\n,300,-1000,\r\n,301,-2000,-3E-5\r\n");
    const Outcome outcome = RunCommand({"--import", path});
    EXPECT_EQ(outcome.status, kExitOk);
    EXPECT_EQ(outcome.out, " 7.95774715459477E+0004     2.00000000000000E-0005     3.00000000000000E+0002    \r\n"
                           "-1.59154943091895E+0005    -3.00000000000000E-0005     3.01000000000000E+0002    \r\n");
    EXPECT_EQ(outcome.err, "Magnetometer export ([Header] and [Data])\n"
                           "field: column 3 'Magnetic Field (Oe)' in Oe (as the file states)\n"
                           "moment: column 4 'Moment (emu)' in emu (as the file states)\n"
                           "rows: 2 loaded, 1 without both values skipped\n");

    const Outcome chosen = RunCommand({"--import", path, "--columns", "temperature,3", "--field-unit", "kA/m"});
    EXPECT_EQ(chosen.status, kExitOk);
    EXPECT_EQ(chosen.out.substr(0, 54), " 3.00000000000000E+0005     1.00000000000000E+0003    ");
    EXPECT_NE(chosen.err.find("field: column 2 'Temperature (K)' in kA/m (as given)\n"), std::string::npos);

    const std::string plain = Write("plain.txt", "1 2\n3 4\n");
    EXPECT_NE(RunCommand({"--import", plain}).err.find("in A/m (the file does not state the unit; give --field-unit)"),
              std::string::npos);
}

TEST_F(MeasuredCommand, CompareWithTheSweepsOwnResultGivesNoMisfit) {
    const std::string result = (Folder / "loop.dat");
    ASSERT_EQ(RunCommand({"steps=40", "--reverse", "-o", result}).status, kExitOk);
    const Outcome same = RunCommand({"steps=40", "--reverse", "--compare", result, "-o", (Folder / "again.dat")});
    EXPECT_EQ(same.status, kExitOk);
    const std::size_t line = same.err.rfind("misfit ");
    ASSERT_NE(line, std::string::npos) << same.err;
    std::istringstream words(same.err.substr(line));
    std::string misfit, scale, slope, offset, points;
    double values[4] = {};
    words >> misfit >> values[0] >> scale >> values[1] >> slope >> values[2] >> offset >> values[3] >> points;
    EXPECT_LT(values[0], 1e-9);
    // The default stack saturates at (1.5 * 2 + 1.5 * 2 + 0.7 * 2 + 1 * 20) / 26 T.
    EXPECT_NEAR(values[1], 27.4 / 26, 1e-5);
    EXPECT_TRUE(same.err.ends_with(" slope 0 offset 0 points 80/80\n")) << same.err;

    const Outcome other = RunCommand({"steps=40", "start=100", "--compare", result, "-o", (Folder / "other.dat")});
    EXPECT_NE(other.err.find("misfit none (only 0 of 80 measured points lie within a simulated branch"),
              std::string::npos)
        << other.err;
}

TEST_F(MeasuredCommand, BadChoicesAreRefused) {
    const std::string path = Write("m.csv", "H (Oe),M (emu)\n1,2\n");
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--import", path, "--field-unit", "G"}, "'G' is not a field unit (A/m, kA/m, Oe, mT or T)\n"},
        {{"--compare", path, "--background", "quadratic"}, "'quadratic' is not a background (slope, offset or both)\n"},
        {{"--import", path, "--columns", "1"}, "--columns takes FIELD,MOMENT\n"},
        {{"--import", path, "--columns", "1,3"}, "There is no column 3: the file has 2 columns\n"},
        {{"--columns", "1,2"},
         "--columns, --field-unit, --rows, --sigma and --moment-unit go with --import or --compare\n"},
        {{"--read", path, "--compare", path}, "--read and --compare do not go together\n"},
        {{"--import", path, "-o", "out.dat"},
         "--import prints the table it would load: --read, -o, --reverse and KEY=VALUE do not go with it\n"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = RunCommand(c.args);
        EXPECT_EQ(outcome.status, kExitBadInput) << c.message;
        EXPECT_EQ(outcome.err, c.message);
        EXPECT_EQ(outcome.out, "");
    }
}

TEST_F(MeasuredCommand, CompareWithUncertaintiesAndASampleArea) {
    // The default loop's own first rows, in T and emu, with a constant uncertainty.
    std::string bytes = "B (T),m (emu),err\n";
    for (int i = 0; i <= 10; ++i) {
        bytes += std::to_string(0.2 - 0.02 * i) + "," + std::to_string(1e-4 * (1 - 0.1 * i)) + ",1e-6\n";
    }
    const std::string path = Write("loop.csv", bytes);
    const Outcome chi =
        RunCommand({"start=200", "step=-5", "steps=40", "--compare", path, "--sigma", "err", "--background", "slope"});
    EXPECT_EQ(chi.status, kExitOk) << chi.err;
    EXPECT_NE(chi.err.find("uncertainty: column 3 'err'\n"), std::string::npos) << chi.err;
    EXPECT_NE(chi.err.find(" chi2 "), std::string::npos) << chi.err;
    EXPECT_NE(chi.err.find(" dof 9 reduced "), std::string::npos) << chi.err;

    const Outcome area = RunCommand({"start=200", "step=-5", "steps=40", "--compare", path, "--area", "0.1cm2"});
    EXPECT_EQ(area.status, kExitOk) << area.err;
    // The default stack's sum(M t) = 27.4e-9 T m on 0.1 cm2, in emu: the scale is computed.
    const std::string scale = GeneralNumberText(27.4e-9 * 1e-5 / (4e-7 * 3.14159265358979323846) / 1e-3, 6, '.');
    EXPECT_NE(area.err.find(" scale " + scale + " slope 0 offset 0 "), std::string::npos) << area.err << scale;

    const std::string unitless = Write("bare.csv", "B (T),m\n0.1,1\n0,0\n-0.1,-1\n");
    const Outcome refused = RunCommand({"steps=40", "--compare", unitless, "--area", "0.1cm2"});
    EXPECT_EQ(refused.status, kExitBadInput);
    EXPECT_NE(refused.err.find("--area needs the moment's unit"), std::string::npos) << refused.err;
    EXPECT_EQ(RunCommand({"steps=40", "--compare", path, "--area", "0.1"}).status, kExitBadInput);
}

TEST_F(MeasuredCommand, AFileThatDoesNotReadIsAFileError) {
    const struct {
        std::string path;
        std::string message;
    } cases[] = {
        {Write("h.csv", "H (Oe),M (emu)\n"), "The file holds no rows of numbers, only 1 row of text\n"},
        {Write("x.csv", "H,M\n1,2\n2,z\n"), "Line 3: 'z' in column 2 is not a number\n"},
        {(Folder / "missing.csv"), "File not found\n"},
    };
    for (const auto& c : cases) {
        const Outcome outcome = RunCommand({"--import", c.path});
        EXPECT_EQ(outcome.status, kExitFileError) << c.message;
        EXPECT_EQ(outcome.err, c.message);
        EXPECT_EQ(outcome.out, "");
    }
}

} // namespace
} // namespace dravo2
