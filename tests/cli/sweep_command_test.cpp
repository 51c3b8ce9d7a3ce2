#include "cli/command_outcome.h"
#include "cli/sweep_command.h"
#include "data/experiment_reader.h"
#include "data/file_io.h"
#include "support/temp_folder.h"
#include "sweep/sweep_driver.h"
#include "version/version.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dravo2 {
namespace {

using testing::Outcome;
using testing::RunCommand;

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
        {{"solver=fast"}, "'fast' is not a solver (descent or newton)\n"},
        {{"colour=red"}, "Unknown argument 'colour=red' (see --help)\n"},
        {{"bias=1e4000"}, "Floating point overflow\n"},
        {{"mode=DeltaR", "DR=0"}, "Invalid floating point operation\n"},
        {{"-o"}, "Option -o needs a value\n"},
        {{"--format", "csv", "steps=2", "--reverse", "--reverse", "--format", "dat"},
         "Option --format is given twice\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const Outcome outcome = RunCommand(c.args);
        EXPECT_EQ(outcome.status, kExitBadInput);
        EXPECT_EQ(outcome.err, c.message);
        EXPECT_EQ(outcome.out, "");
    }
}

TEST(SweepCommand, SolverChoice) {
    const Outcome plain = RunCommand({"steps=30", "step=10", "--reverse"});
    EXPECT_EQ(RunCommand({"steps=30", "step=10", "--reverse", "solver=descent"}).out, plain.out);
    const Outcome newton = RunCommand({"steps=30", "step=10", "--reverse", "solver=newton"});
    EXPECT_EQ(newton.status, kExitOk);
    ASSERT_EQ(newton.out.size(), plain.out.size());
    EXPECT_NE(newton.out, plain.out);
    for (std::size_t row = 1; row <= 60; ++row) {
        EXPECT_EQ(Line(newton.out, row).substr(0, 23), Line(plain.out, row).substr(0, 23)) << row;
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
    for (const char* solver : {"solver=descent", "solver=newton"}) {
        for (std::vector<std::string> args : cases) {
            SCOPED_TRACE(args.front() + " " + solver);
            args.push_back("steps=4");
            args.push_back(solver);
            const Outcome outcome = RunCommand(args);
            if (outcome.status == kExitOk) {
                EXPECT_EQ(outcome.err, "");
                EXPECT_EQ(outcome.out.size(), 4u * 218);
            } else if (outcome.err.find(") is negative: give 0 for an absent layer") != std::string::npos) {
                // A negative magnetisation or thickness is refused before any step.
                EXPECT_EQ(outcome.status, kExitBadInput);
                EXPECT_EQ(outcome.out, "");
            } else {
                EXPECT_TRUE(messages.count(outcome.err)) << outcome.err;
            }
            EXPECT_EQ(outcome.out.find("Nan"), std::string::npos);
            EXPECT_EQ(outcome.out.find("Inf"), std::string::npos);
        }
    }
}

TEST(SweepCommand, HelpListsEveryKey) {
    const Outcome outcome = RunCommand({"--help"});
    EXPECT_EQ(outcome.status, kExitOk);
    for (const char* key :
         {"M1", "t4",    "K3",    "axis4", "field_angle", "J1",   "J3",      "Jbq1",  "Jbq2", "bias",
          "DR", "start", "steps", "step",  "noise",       "conv", "maxiter", "aniso", "mode", "solver"}) {
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

TEST(SweepCommand, ArgumentsThatWouldBeIgnoredAreRefused) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::string readOnly = "--read prints the rows it reads: -o, --reverse and KEY=VALUE do not go with it\n";
    const Case cases[] = {
        {{"--read", "m.dat", "-o", "r.dat"}, readOnly},
        {{"--reverse", "--read", "m.dat"}, readOnly},
        {{"--read", "m.dat", "M1=1"}, readOnly},
        {{"--filter", "dat"}, "--filter goes with --read FILE\n"},
        {{"-o", ""}, "Option -o needs a file name\n"},
        {{"M1=abc", "M1=1"}, "'abc' is not a valid floating point value\n"},
        {{"steps=1e3", "steps=3"}, "'1e3' is not a valid integer value\n"},
        {{"start=1e400", "start=1"}, "Floating point overflow\n"},
        {{"mode=Hx", "mode=MvHx"}, "'Hx' is not a display mode (MvHx, MvHy, theta-theta, DeltaR or FMR)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const Outcome outcome = RunCommand(c.args);
        EXPECT_EQ(outcome.status, kExitBadInput);
        EXPECT_EQ(outcome.err, c.message);
        EXPECT_EQ(outcome.out, "");
    }
    // The last of repeated valid keys wins.
    EXPECT_EQ(RunCommand({"steps=9", "steps=2"}).out.size(), 2u * 218);
}

// The output location is checked before the sweep (the sweep's own error never shows), and a
// sweep that records no row leaves an earlier result file as it was.
TEST(SweepCommand, TheOutputFileIsCheckedFirstAndNeverEmptied) {
    const testing::TempFolder dir;
    const Outcome missing = RunCommand({"t1=0", "-o", dir / "no/such.dat"});
    EXPECT_EQ(missing.status, kExitFileError);
    EXPECT_EQ(missing.err, "File not found\n");

    const std::string result = dir / "result.dat";
    WriteFileSafely(result, "a good result");
    const Outcome failed = RunCommand({"start=1e308", "-o", result});
    EXPECT_EQ(failed.status, kExitStepError);
    EXPECT_EQ(failed.err, "Floating point overflow\nNo rows were recorded: nothing is written to '" + result + "'.\n");
    EXPECT_EQ(ReadWholeFile(result), "a good result");

    // A hard-linked result is replaced under its name; the other name keeps the old rows.
    ::link(result.c_str(), (dir / "linked.dat").c_str());
    const Outcome linked = RunCommand({"steps=2", "-o", result});
    EXPECT_EQ(linked.status, kExitOk);
    EXPECT_EQ(linked.err, "'" + result + "' is a new file: its other hard links keep the old content.\n");
    EXPECT_EQ(ReadWholeFile(result).size(), 2u * 218);
    EXPECT_EQ(ReadWholeFile(dir / "linked.dat"), "a good result");
}

// Every path option refuses an empty name; an output naming an input or another output, through
// a link or not, and a figure of too many pixels are refused before the sweep, the files kept.
TEST(SweepCommand, OutputsThatWouldDestroyAFileAreRefusedFirst) {
    const testing::TempFolder dir;
    const std::string measured = dir / "meas.txt";
    const std::string link = dir / "link.txt";
    const std::string png = dir / "x.png";
    WriteFileSafely(measured, "-20000 -1\n0 0\n20000 1\n");
    WriteFileSafely(png, "OLD");
    ASSERT_EQ(::symlink(measured.c_str(), link.c_str()), 0);
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"--import", ""}, "Option --import needs a file name\n"},
        {{"--compare", ""}, "Option --compare needs a file name\n"},
        {{"--plot", ""}, "Option --plot needs a file name\n"},
        {{"--read", ""}, "Option --read needs a file name\n"},
        {{"--compare", measured, "-o", measured},
         "-o '" + measured + "' is the same file as --compare '" + measured + "': give another file name\n"},
        {{"--compare", link, "-o", measured},
         "-o '" + measured + "' is the same file as --compare '" + link + "': give another file name\n"},
        {{"-o", png, "--plot", png},
         "--plot '" + png + "' is the same file as -o '" + png + "': give another file name\n"},
        {{"--plot", png, "--plot-size", "100x100", "--dpi", "2400"},
         "A PNG figure of 94488 x 94488 pixels is larger than the 100 megapixels a figure may have: lower the "
         "resolution or the size\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const Outcome outcome = RunCommand(c.args);
        EXPECT_EQ(outcome.status, kExitBadInput);
        EXPECT_EQ(outcome.err, c.message);
        EXPECT_EQ(ReadWholeFile(measured), "-20000 -1\n0 0\n20000 1\n");
        EXPECT_EQ(ReadWholeFile(png), "OLD");
    }
    // --help and --version report an output that fails, as the sweep's rows do.
    for (const char* option : {"--help", "--version"}) {
        std::ostream closed(nullptr);
        std::ostringstream err;
        EXPECT_EQ(RunSweepCommand({option}, closed, err, false), kExitFileError) << option;
        EXPECT_EQ(err.str().rfind("Cannot write to standard output: ", 0), 0u) << err.str();
    }
}

TEST(SweepCommand, ReadRefusesAFifoAndTellsWhenRowsAreCut) {
    const testing::TempFolder dir;
    const std::string fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const Outcome refused = RunCommand({"--read", fifo});
    EXPECT_EQ(refused.status, kExitFileError);
    EXPECT_EQ(refused.err, "'" + fifo + "' is not a regular file\n");

    std::string rows;
    for (int r = 1; r <= MaxRows + 1; ++r) {
        rows += std::to_string(r) + " 2\r\n";
    }
    WriteFileSafely(dir / "long.dat", rows);
    const Outcome cut = RunCommand({"--read", dir / "long.dat"});
    EXPECT_EQ(cut.status, kExitOk);
    EXPECT_EQ(cut.err, std::string(kRowsCutMessage) + "\n");
    EXPECT_EQ(cut.out.size(), static_cast<std::size_t>(MaxRows) * 56);
}

#if !defined(__SANITIZE_ADDRESS__)
// Runs `body` in a child process whose address space may grow by `room` bytes at most; returns
// the child's exit status.
int WithMemoryLimit(std::size_t room, const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        // Large blocks come straight from the system, never from what the parent freed earlier.
        ::mallopt(M_MMAP_THRESHOLD, 64 * 1024);
        ::malloc_trim(0);
        std::ifstream statm("/proc/self/statm");
        std::size_t pages = 0;
        statm >> pages;
        const auto limit = static_cast<rlim_t>(pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) + room);
        rlimit address{limit, limit};
        ::setrlimit(RLIMIT_AS, &address);
        int status = 2;
        try {
            status = body();
        } catch (...) {
        }
        ::_exit(status);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

// A 100 MB file is read with memory for the table and a buffer; with no memory at all the
// command says so instead of aborting.
TEST(SweepCommand, ReadingAHugeFileUnderAMemoryLimit) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit allows";
#else
    const testing::TempFolder dir;
    const std::string huge = dir / "huge.dat";
    {
        std::ofstream file(huge, std::ios::binary);
        const std::string block = [] {
            std::string rows;
            for (int r = 0; r < 10000; ++r) {
                rows += "1.25 -2.5\r\n";
            }
            return rows;
        }();
        while (file.tellp() < 100'000'000) {
            file << block;
        }
    }
    const std::vector<std::string> args = {"--read", huge};
    const int loaded = WithMemoryLimit(32u << 20, [&] {
        const Outcome outcome = RunCommand(args);
        const bool sound = outcome.status == kExitOk && outcome.err == std::string(kRowsCutMessage) + "\n" &&
                           outcome.out.size() == static_cast<std::size_t>(MaxRows) * 56;
        return sound ? 0 : 1;
    });
    EXPECT_EQ(loaded, 0);
    const int starved = WithMemoryLimit(0, [&] {
        std::ostringstream out;
        std::ostringstream err;
        const int status = RunSweepCommand(args, out, err, false);
        return status == kExitFileError && err.str().rfind(kOutOfMemoryMessage, 0) == 0 ? 0 : 1;
    });
    EXPECT_EQ(starved, 0);
#endif
}

} // namespace
} // namespace dravo2
