#include "cli/sweep_command.h"
#include "sweep/sweep_driver.h"
#include "version/version.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace dravo2 {
namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome RunCommand(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunSweepCommand(args, out, err, false);
    return {status, out.str(), err.str()};
}

std::string Line(const std::string& file, std::size_t row) {
    return file.substr((row - 1) * 218, 218);
}

TEST(SweepCommand, DefaultRunWritesTheFiveHundredRowsOfStart) {
    const Outcome first = RunCommand({});
    EXPECT_EQ(first.status, kExitOk);
    EXPECT_EQ(first.err, "");
    ASSERT_EQ(first.out.size(), 109000u);
    EXPECT_EQ(Line(first.out, 1).substr(0, 27), "-2.49000000000000E+0005    ");
    EXPECT_EQ(Line(first.out, 500).substr(0, 23), " 2.50000000000000E+0005");
    EXPECT_EQ(Line(first.out, 500).substr(216), "\r\n");
    EXPECT_EQ(RunCommand({}).out, first.out);
}

TEST(SweepCommand, EachReverseAppendsABranch) {
    const Outcome twice = RunCommand({"steps=40", "--reverse", "--reverse"});
    EXPECT_EQ(twice.status, kExitOk);
    ASSERT_EQ(twice.out.size(), 120u * 218);
    EXPECT_EQ(Line(twice.out, 40).substr(0, 23), "-2.10000000000000E+0005");
    EXPECT_EQ(Line(twice.out, 41).substr(0, 23), " 2.49000000000000E+0005");
    EXPECT_EQ(Line(twice.out, 80).substr(0, 23), " 2.10000000000000E+0005");
    EXPECT_EQ(Line(twice.out, 81).substr(0, 23), "-2.49000000000000E+0005");
}

TEST(SweepCommand, BadValuesAreRefusedWithTheWindowsMessage) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"M1=abc"}, "'abc' is not a valid floating point value\n"},
        {{"steps=1.5"}, "'1.5' is not a valid integer value\n"},
        {{"DR=x"}, "'x' is not a valid floating point value\n"},
        {{"axis2=91"}, "'91' is not a whole number of degrees from 0 to 90\n"},
        {{"mode=MvHz"}, "'MvHz' is not a display mode (MvHx, MvHy, theta-theta, DeltaR or FMR)\n"},
        {{"aniso=XY"}, "'XY' is not an anisotropy form (UA or QU)\n"},
        {{"colour=red"}, "Unknown argument 'colour=red' (see --help)\n"},
        {{"bias=1e4000"}, "Floating point overflow\n"},
        {{"mode=DeltaR", "DR=0"}, "Invalid floating point operation\n"},
        {{"-o"}, "Option -o needs a value\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const Outcome outcome = RunCommand(c.args);
        EXPECT_EQ(outcome.status, kExitBadInput);
        EXPECT_EQ(outcome.err, c.message);
        EXPECT_EQ(outcome.out, "");
    }
}

TEST(SweepCommand, AStepErrorWritesTheRowsRecordedSoFar) {
    const Outcome outcome = RunCommand({"t1=0"});
    EXPECT_EQ(outcome.status, kExitStepError);
    EXPECT_EQ(outcome.err, "Floating point division by zero\n");
    ASSERT_EQ(outcome.out.size(), 218u);
    // Column 8 of the halted row was never written.
    EXPECT_EQ(Line(outcome.out, 1).substr(7 * 27, 23), " 0.00000000000000E+0000");
}

TEST(SweepCommand, AFullTableEndsTheSweepAndSaysSo) {
    const Outcome outcome = RunCommand({"steps=5000", "maxiter=3"});
    EXPECT_EQ(outcome.status, kExitOk);
    EXPECT_EQ(outcome.out.size(), 4096u * 218);
    EXPECT_EQ(outcome.err, std::string(kTableFullMessage) + "\n");
}

// Absurd parameters give one of the floating-point messages or a table of finite numbers, never a
// Nan or an infinity written as if it were a result.
TEST(SweepCommand, AbsurdParametersGiveAMessageOrASoundTable) {
    const std::vector<std::vector<std::string>> cases = {
        {"M1=1e300"},
        {"M1=-1e300"},
        {"M1=1e4000"},
        {"M1=1e-4000"},
        {"t1=1e300"},
        {"t1=-1e300"},
        {"K1=1e300"},
        {"K4=-1e300"},
        {"K1=1e4000"},
        {"J1=1e300"},
        {"J3=-1e300"},
        {"Jbq1=1e300"},
        {"bias=1e300"},
        {"bias=-1e300"},
        {"start=1e300"},
        {"start=-1e300"},
        {"step=1e300"},
        {"noise=1e300"},
        {"noise=-1e300"},
        {"conv=1e4000"},
        {"conv=-1e300"},
        {"DR=1e4000"},
        {"DR=-1e300"},
        {"t1=0", "t2=0", "t3=0", "t4=0"},
        {"M1=0"},
        {"aniso=QU", "K1=1e300"},
        {"mode=FMR", "M1=1e300"},
        {"mode=theta-theta", "noise=1e300"},
        {"mode=MvHy", "M1=1e300"},
        {"mode=DeltaR", "DR=1e300"},
    };
    const std::set<std::string> messages = {"Invalid floating point operation\n", "Floating point division by zero\n",
                                            "Floating point overflow\n"};
    for (std::vector<std::string> args : cases) {
        SCOPED_TRACE(args.front());
        args.push_back("steps=4");
        const Outcome outcome = RunCommand(args);
        if (outcome.status == kExitOk) {
            EXPECT_EQ(outcome.err, "");
            EXPECT_EQ(outcome.out.size(), 4u * 218);
        } else {
            EXPECT_TRUE(messages.count(outcome.err)) << outcome.err;
        }
        EXPECT_EQ(outcome.out.find("Nan"), std::string::npos);
        EXPECT_EQ(outcome.out.find("Inf"), std::string::npos);
    }
}

TEST(SweepCommand, HelpListsEveryKey) {
    const Outcome outcome = RunCommand({"--help"});
    EXPECT_EQ(outcome.status, kExitOk);
    for (const char* key : {"M1", "t4", "K3", "axis4", "field_angle", "J1", "J3", "Jbq1", "Jbq2", "bias", "DR", "start",
                            "steps", "step", "noise", "conv", "maxiter", "aniso", "mode"}) {
        EXPECT_NE(outcome.out.find(std::string("  ") + key + " "), std::string::npos) << key;
    }
}

TEST(SweepCommand, VersionNamesTheCommandAndRunsNoSweep) {
    const Outcome outcome = RunCommand({"steps=3", "--version"});
    EXPECT_EQ(outcome.status, kExitOk);
    EXPECT_EQ(outcome.err, "");
    // help2man takes the first line, "NAME (PACKAGE) VERSION", for the man page.
    EXPECT_EQ(outcome.out.substr(0, outcome.out.find('\n')), "dravo2-sweep (Dravo2) " + std::string(kVersion));
    EXPECT_NE(outcome.out.find("License MIT"), std::string::npos);
}

TEST(SweepCommand, OutputFileAndReadBack) {
    const std::string path = ::testing::TempDir() + "dravo2_cli_result.dat";
    std::remove(path.c_str());
    const Outcome saved = RunCommand({"steps=3", "-o", path});
    EXPECT_EQ(saved.status, kExitOk);
    EXPECT_EQ(saved.out, "");
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.size(), 3u * 218);

    const Outcome dat = RunCommand({"--read", path, "--filter", "dat"});
    EXPECT_EQ(dat.status, kExitOk);
    EXPECT_EQ(dat.out, bytes);
    const Outcome da2 = RunCommand({"--read", path, "--filter", "da2"});
    ASSERT_EQ(da2.out.size(), 3u * (2 * 27 + 2));
    EXPECT_EQ(da2.out.substr(0, 54), bytes.substr(0, 54));

    const Outcome missing = RunCommand({"--read", path + ".missing"});
    EXPECT_EQ(missing.status, kExitFileError);
    EXPECT_EQ(missing.err, "File not found\n");
    std::remove(path.c_str());
}

} // namespace
} // namespace dravo2
