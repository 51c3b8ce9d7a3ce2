#include "cli/command_outcome.h"
#include "cli/scan_command.h"
#include "cli/sweep_command.h"
#include "data/file_io.h"
#include "data/result_writer.h"
#include "scan/grid_point.h"
#include "scan/scan_grid.h"
#include "scan/scan_table.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <span>
#include <sstream>
#include <stdlib.h>

namespace dravo2 {
namespace {

using testing::Outcome;

Outcome Scan(const std::vector<std::string>& args) {
    ScanEnvironment environment;
    environment.Threads = 2;
    return testing::Capture(
        [&](std::ostream& out, std::ostream& err) { return RunScanCommand(args, out, err, environment); });
}

// A short loop (ten steps a branch) so that a grid runs in a fraction of a second.
std::vector<std::string> SmallScan(std::vector<std::string> extra) {
    std::vector<std::string> args{"J1=-1e-3:1e-3:3", "K1=0:1000:2", "steps=10", "start=-250", "step=50", "maxiter=300"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

TEST(ScanCommand, LoopOfAPointIsTheSweepCommandsStartAndReverse) {
    const std::vector<std::string> keys{"steps=10", "start=-250", "step=50", "maxiter=300", "J1=0.0005"};
    const SweepLoop loop = RunSweepLoop(keys);
    std::vector<std::string> sweepArgs = keys;
    sweepArgs.push_back("--reverse");
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(RunSweepCommand(sweepArgs, out, err, false), kExitOk);
    EXPECT_EQ(ResultFileText(*loop.Table), out.str());
    EXPECT_EQ(loop.StartRows, 10);
    EXPECT_EQ(loop.Table->SimRows, 20);
    EXPECT_GT(loop.Iterations, 0);
}

// The grid point takes numbers; the sweep command reads the same loop from its words. Both must
// give the same row, whatever the solver, the projection or a noisy start.
TEST(GridPoint, NumbersGiveTheRowOfTheSweepCommandsLoop) {
    const std::vector<std::vector<std::string>> cases{
        {"steps=12", "start=-250", "step=40", "J1=0.0005", "solver=newton"},
        {"steps=12", "start=-250", "step=40", "J1=-3e-4", "K1=1500", "solver=descent", "maxiter=300"},
        {"steps=12", "start=250", "step=-40", "J1=-3e-4", "mode=MvHy", "axis1=30", "noise=0.05"},
        {"steps=12", "start=-250", "step=40", "mode=theta-theta", "t2=2e-9", "solver=newton"}};
    for (const std::vector<std::string>& keys : cases) {
        SCOPED_TRACE(keys[3] + " " + keys[4]);
        SweepKeys words;
        for (const std::string& key : keys) {
            ASSERT_TRUE(SetSweepKey(key.substr(0, key.find('=')), key.substr(key.find('=') + 1), words));
        }
        const DisplayMode mode = ModeNamed(words.Mode);
        const ScanPlan plan{mode == DisplayMode::MvHx || mode == DisplayMode::MvHy, mode == DisplayMode::MvHy};
        const ScanRow row = SimulateGridPoint(words.Parameters, plan);

        const SweepLoop loop = RunSweepLoop(keys);
        const auto rows = static_cast<std::size_t>(loop.Table->SimRows);
        const auto startRows = static_cast<std::size_t>(loop.StartRows);
        const std::span<const double> field(loop.Table->SimTable.Column(1), rows);
        const std::span<const double> projection(loop.Table->SimTable.Column(2), rows);
        ScanRow expected;
        expected.Iterations = loop.Iterations;
        expected.Features =
            ComputeLoopFeatures({field.first(startRows), projection.first(startRows)},
                                {field.subspan(startRows), projection.subspan(startRows)}, loop.SaturationProjection);
        EXPECT_EQ(ScanRowLine(row), ScanRowLine(expected));
        EXPECT_TRUE(row.Problem.empty()) << row.Problem;
    }
}

TEST(ScanCommand, RowsInGridOrderWhateverTheThreadCount) {
    const Outcome one = Scan(SmallScan({"--threads", "1"}));
    const Outcome three = Scan(SmallScan({"--threads", "3"}));
    ASSERT_EQ(one.status, kExitOk) << one.err;
    ASSERT_EQ(three.status, kExitOk) << three.err;
    EXPECT_EQ(one.out, three.out);
    std::istringstream lines(one.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "J1,K1,Hc_down (A/m),Hc_up (A/m),H_eb (A/m),Hc (A/m),Mr_down,Mr_up,H_sat (A/m),jumps,misfit,"
                    "iterations");
    for (const char* start : {"-0.001,0,", "-0.001,1000,", "0,0,", "0,1000,", "0.001,0,", "0.001,1000,"}) {
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_EQ(line.rfind(start, 0), 0u) << line;
    }
    EXPECT_FALSE(std::getline(lines, line));
}

TEST(ScanCommand, ShardsMergeIntoTheWholeRunAndForeignOrMissingShardsAreRefused) {
    std::string pattern = (std::filesystem::path(::testing::TempDir()) / "dravo2_scan_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path dir(pattern);
    std::vector<std::string> shards;
    for (int k = 0; k < 4; ++k) {
        shards.push_back((dir / ("shard-" + std::to_string(k) + ".csv")).string());
        const Outcome part = Scan(SmallScan({"--shard", std::to_string(k) + "/4", "-o", shards.back()}));
        ASSERT_EQ(part.status, kExitOk) << part.err;
    }
    const std::string merged = (dir / "merged.csv").string();
    const Outcome merge = Scan({"--merge", shards[2], shards[0], shards[3], shards[1], "-o", merged});
    EXPECT_EQ(merge.status, kExitOk) << merge.err;
    EXPECT_EQ(ReadWholeFile(merged), Scan(SmallScan({})).out);

    const Outcome missing = Scan({"--merge", shards[0], shards[1], shards[3]});
    EXPECT_EQ(missing.status, kExitFileError);
    EXPECT_NE(missing.err.find("Shard 2/4 of the scan is missing"), std::string::npos) << missing.err;

    const Outcome repeated = Scan({"--merge", shards[0], shards[1], shards[1], shards[3]});
    EXPECT_EQ(repeated.status, kExitFileError);
    EXPECT_NE(repeated.err.find("repeats shard 1/4"), std::string::npos) << repeated.err;

    // Shard 2/4 of the same grid with another fixed key belongs to another scan.
    const std::string foreign = (dir / "foreign.csv").string();
    ASSERT_EQ(Scan(SmallScan({"noise=0.001", "--shard", "2/4", "-o", foreign})).status, kExitOk);
    const Outcome mixed = Scan({"--merge", shards[0], shards[1], foreign, shards[3]});
    EXPECT_EQ(mixed.status, kExitFileError);
    EXPECT_NE(mixed.err.find(foreign + " is a shard of another scan"), std::string::npos) << mixed.err;

    const Outcome plain = Scan({"--merge", merged});
    EXPECT_EQ(plain.status, kExitFileError);
    EXPECT_NE(plain.err.find("is not a shard file"), std::string::npos) << plain.err;
    std::filesystem::remove_all(dir);
}

TEST(ScanCommand, MisfitAgainstALoopOfTheGridVanishesAtItsPoint) {
    std::string pattern = (std::filesystem::path(::testing::TempDir()) / "dravo2_scan_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path dir(pattern);
    const std::string measured = (dir / "measured.dat").string();
    const std::vector<std::string> keys{"steps=10", "start=-250", "step=50", "maxiter=300"};
    std::vector<std::string> sweep = keys;
    // The scan's loops relax with Newton's method unless told otherwise.
    sweep.insert(sweep.end(), {"J1=0.0005", "solver=newton", "--reverse", "-o", measured});
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(RunSweepCommand(sweep, out, err, false), kExitOk) << err.str();

    std::vector<std::string> scan = keys;
    scan.insert(scan.end(), {"J1=-0.0005:0.0005:3", "--compare", measured});
    const Outcome compared = Scan(scan);
    ASSERT_EQ(compared.status, kExitOk) << compared.err;
    std::istringstream lines(compared.out);
    std::string line;
    std::getline(lines, line);
    std::vector<double> misfits;
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::istringstream row(line);
        for (std::string cell; std::getline(row, cell, ',');) {
            cells.push_back(cell);
        }
        ASSERT_EQ(cells.size(), 11u) << line;
        misfits.push_back(std::stod(cells[9]));
    }
    ASSERT_EQ(misfits.size(), 3u);
    EXPECT_LT(misfits[2], 1e-9);
    EXPECT_GT(misfits[0], 1e-3);
    std::filesystem::remove_all(dir);
}

TEST(ScanCommand, BadArgumentsAndValuesAreRefusedWithAMessage) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"steps=10"},
                                                 {"Jx=0:1:2"},
                                                 {"J1=0:1:2", "J1=1"},
                                                 {"J1=0:1:2", "J1=0:2:2"},
                                                 {"J1=0:1:2", "--threads", "0"},
                                                 {"J1=0:1:2", "--plot", "map.png", "--value", "Hc"}}) {
        const Outcome refused = Scan(args);
        EXPECT_EQ(refused.status, kExitBadInput) << args[0];
        EXPECT_FALSE(refused.err.empty());
        EXPECT_EQ(refused.out, "");
    }
    std::ostringstream out;
    std::ostringstream err;
    ScanEnvironment environment;
    environment.Interrupted = [] { return true; };
    EXPECT_EQ(RunScanCommand(SmallScan({}), out, err, environment), kExitInterrupted);
    EXPECT_EQ(out.str(), "");

    const Outcome badValue = Scan({"axis1=0:45:3", "steps=2"}); // 22.5 is no whole degree
    EXPECT_EQ(badValue.status, kExitBadInput);
    EXPECT_NE(badValue.err.find("'22.5' is not a valid integer value"), std::string::npos) << badValue.err;
}

// What can be known before the first loop is checked before it: no timing line is written.
TEST(ScanCommand, LimitsConflictsAndUnknownFeaturesAreRefusedBeforeAnyLoop) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"J1=0:1:5000", "K1=0:1:5000"}, "more than 10000000 points"},
        {{"J1=0:1:2", "--plot", "map.png", "--value", "Bogus"}, "'Bogus' is not a feature of the scan"},
        {{"J1=0:1:2", "--solver", "newton", "solver=descent"}, "contradicts --solver newton"},
        {{"steps=1:1e12:2"}, "'1e+12' is not a valid integer value"},
        {{"J1=0:1:2", "--shard", "0/2", "--shard", "1/2"}, "Option --shard is given twice"},
    };
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(args.back());
        const Outcome refused = Scan(args);
        EXPECT_EQ(refused.status, kExitBadInput);
        EXPECT_NE(refused.err.find(message), std::string::npos) << refused.err;
        EXPECT_EQ(refused.err.find("loops in"), std::string::npos) << refused.err;
        EXPECT_EQ(refused.out, "");
    }
    ScanEnvironment environment;
    environment.ThreadLimit = 1;
    const Outcome lowered = testing::Capture([&](std::ostream& out, std::ostream& err) {
        return RunScanCommand(SmallScan({"--threads", "3"}), out, err, environment);
    });
    EXPECT_EQ(lowered.status, kExitOk);
    EXPECT_NE(lowered.err.find("Note: --threads 3 lowered to 1, the cores this process may use"), std::string::npos)
        << lowered.err;
    EXPECT_NE(lowered.err.find("on 1 thread\n"), std::string::npos) << lowered.err;
}

// Empty file names, and outputs that would replace an input, are refused before any loop; --help
// and --version report an output that fails.
TEST(ScanCommand, OutputsThatWouldDestroyAFileAreRefusedFirst) {
    const testing::TempFolder dir;
    const std::string shard = dir / "s0.csv";
    const std::string measured = dir / "meas.dat";
    WriteFileSafely(shard, "shard");
    WriteFileSafely(measured, "-20000 -1\n0 0\n20000 1\n");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--merge", shard, dir / "s1.csv", "-o", shard}, "-o '" + shard + "' is the same file as --merge"},
        {SmallScan({"--compare", measured, "-o", measured}), "-o '" + measured + "' is the same file as --compare"},
        {SmallScan({"-o", ""}), "Option -o needs a file name"},
        {SmallScan({"--compare", ""}), "Option --compare needs a file name"},
        {SmallScan({"--plot", "", "--value", "Hc"}), "Option --plot needs a file name"},
        {{"--merge", shard, "", "-o", dir / "out.csv"}, "Option --merge needs file names"},
    };
    for (const auto& [args, message] : cases) {
        const Outcome refused = Scan(args);
        EXPECT_EQ(refused.status, kExitBadInput) << refused.err;
        EXPECT_EQ(refused.err.rfind(message, 0), 0u) << refused.err;
    }
    EXPECT_EQ(ReadWholeFile(shard), "shard");
    EXPECT_EQ(ReadWholeFile(measured), "-20000 -1\n0 0\n20000 1\n");
    for (const char* option : {"--help", "--version"}) {
        std::ostream closed(nullptr);
        std::ostringstream err;
        EXPECT_EQ(RunScanCommand({option}, closed, err, ScanEnvironment{}), kExitFileError) << option;
    }
}

} // namespace
} // namespace dravo2

namespace dravo2 {
namespace {

// A table already written is drawn again without a loop: any feature, the field features on a
// scale no narrower than the loops' field step (from step=, or from the table's step column).
TEST(ScanCommand, FromDrawsAnExistingTableWithTheFieldStepAsItsResolution) {
    const testing::TempFolder dir;
    const std::string table = dir / "scan.csv";
    WriteFileSafely(table, Scan(SmallScan({})).out);
    std::vector<ScanPlotRequest> drawn;
    ScanEnvironment environment;
    environment.PlotTypes = {"svg"};
    environment.Plot = [&drawn](const ScanPlotRequest& request) {
        drawn.push_back(request);
        return WriteNote::None;
    };
    auto run = [&environment](const std::vector<std::string>& args) {
        return testing::Capture(
            [&](std::ostream& out, std::ostream& err) { return RunScanCommand(args, out, err, environment); });
    };
    const std::string map = dir / "map.svg";
    for (const char* feature : {"Hc", "jumps", "iterations", "Mr_up"}) {
        const Outcome outcome = run({"--from", table, "--plot", map, "--value", feature, "step=50"});
        ASSERT_EQ(outcome.status, kExitOk) << outcome.err;
    }
    ASSERT_EQ(drawn.size(), 4u);
    EXPECT_EQ(drawn[0].Path, map);
    EXPECT_EQ(drawn[0].Figure.XTitle, "J1 (J/m^2)");
    EXPECT_EQ(drawn[0].Figure.ValueTitle, "Hc (A/m)");
    EXPECT_EQ(drawn[0].Figure.X, (std::vector<double>{-1e-3, 0, 1e-3}));
    EXPECT_GE(drawn[0].Figure.ColourTicks.High - drawn[0].Figure.ColourTicks.Low, 50000);
    EXPECT_EQ(drawn[1].Figure.ValueTitle, "jumps");

    // A scanned step is the resolution of its table: the largest one.
    const std::string stepped = dir / "stepped.csv";
    WriteFileSafely(stepped, Scan({"step=20:40:2", "steps=4", "start=-100", "maxiter=300"}).out);
    ASSERT_EQ(run({"--from", stepped, "--plot", map, "--value", "Hc_up"}).status, kExitOk);
    const MapFigure& line = drawn.back().Figure;
    EXPECT_TRUE(line.Y.empty());
    EXPECT_GE(line.YTicks.High - line.YTicks.Low, 40000);

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--from", table, "--plot", map, "--value", "Hc", "J1=0:1:2"},
          {"--from", table, "--plot", map, "--value", "Hc", "K1=1"},
          {"--from", table, "--value", "Hc"},
          {"--from", table, "--plot", map, "--value", "Hc", "step=x"},
          {"--from", table, "--plot", table, "--value", "Hc"}}) {
        SCOPED_TRACE(args.back());
        EXPECT_EQ(run(args).status, kExitBadInput);
    }
    EXPECT_EQ(run({"--from", dir / "none.csv", "--plot", map, "--value", "Hc"}).status, kExitFileError);
    EXPECT_EQ(drawn.size(), 5u);
}

} // namespace
} // namespace dravo2
