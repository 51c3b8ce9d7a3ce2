#include "cli/cli_common.h"
#include "cli/command_outcome.h"
#include "cli/fit_command.h"
#include "cli/sweep_command.h"
#include "fit/synthetic_loop.h"
#include "fit/synthetic_resonance.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>

namespace dravo2 {
namespace {

using testing::Outcome;

Outcome RunFit(const std::vector<std::string>& args, bool interrupted = false) {
    return testing::Capture([&](std::ostream& out, std::ostream& err) {
        return RunFitCommand(args, out, err, false, [interrupted] { return interrupted; });
    });
}

class FitCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/dravo2-fit-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        Folder = pattern;
        // A short loop of the default stack in oersted with a column header, as an instrument
        // writes it.
        ParameterTexts truth;
        truth.StartF = "150";
        truth.StepF = "-30";
        truth.Nstep = "10";
        const fit::MeasuredLoop loop = testing::SyntheticLoop(truth, 2e-4, 0, 0);
        std::ofstream file(Path("loop.csv"));
        file << "# moment against field\nField (Oe),Moment (emu)\n";
        file.precision(17);
        for (std::size_t i = 0; i < loop.Field.size(); ++i) {
            file << loop.Field[i] * 4 * std::numbers::pi / 1000 << "," << loop.Moment[i] << "\n";
        }
    }
    void TearDown() override { std::filesystem::remove_all(Folder); }
    std::string Path(const std::string& name) const { return Folder + "/" + name; }

    std::string Folder;
};

TEST_F(FitCommandTest, BadArgumentsAreRefusedWithExitStatusTwo) {
    const std::string file = Path("loop.csv");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--free", "J1"}, "Give the measured FILE"},
        {{file}, "--free"},
        {{file, "--free", "J4"}, "'J4' is not a fittable parameter"},
        {{file, "--free", "J1", "--bounds", "K1=1:2"}, "K1, which is not free"},
        {{file, "--free", "J1", "--bounds", "J1=1"}, "NAME=LO:HI"},
        {{file, "--free", "J1", "--bounds", "J1=1:2"}, "outside its bounds"},
        {{file, "--free", "J1", "--bounds", "J1=2:1"}, "no range"},
        {{file, "--free", "M1", "M1=0"}, "no range"},
        {{file, "--free", "J1", "--evals", "0"}, "--evals"},
        {{file, "--free", "J1", "--background", "curve"}, "not a background"},
        {{file, "--free", "J1", "--field-unit", "G"}, "not a field unit"},
        {{file, "--free", "J1", "--solver", "magic"}, "not a solver"},
        {{file, "--free", "J1", "--threads"}, "needs a value"},
        {{file, "--free", "J1", "--columns", "1"}, "FIELD,MOMENT"},
        {{file, "--free", "J1", "--compare", file}, "Unknown argument"},
        {{file, "--free", "J1", "K1=abc"}, "'abc' is not a valid floating point value"},
        {{file, "--free", "J1", "axis1=91"}, "0 to 90"},
        {{file, "--free", "J1", "--frobnicate"}, "Unknown argument"},
        {{file, "--free", "J1", "--bounds", "J1=-1e308:1e308"}, "too far apart"},
        {{file, "--free", "J1", "--threads", "1e15"}, "from 1 to 4096"},
        {{file, "--free", "J1", "--evals", "3e9"}, "from 1 to 2147483647"},
        {{file, "--free", "J1", "--time", "1e300"}, "at most 1e8"},
        {{file, "--free", "J1,K1,J1"}, "J1 is freed twice"},
        {{file, "--free", "J1", "--bounds", "J1=-1:1", "--bounds", "J1=-2:2"}, "--bounds given twice"},
        {{file, "--free", "J1", "--solver", "newton", "solver=descent"}, "Two solvers"},
        {{file, "--free", "J1", "--seed", "1", "--free", "K1", "--seed", "2"}, "Option --seed is given twice"},
        {{file, "--free", "J1", "--report", ""}, "Option --report needs a file name"},
        {{file, "--free", "J1", "--report", file}, "is the same file as FILE"},
        {{file, "--free", "J1", "--dataset", file}, "not both"},
        {{"--free", "J1", "--dataset", file, "--observable", "resistance"}, "not an observable"},
        {{"--free", "J1", "--dataset", file, "solver=descent"}, "applies to every data set"},
        {{"--free", "J1", "--dataset", file, "--sigma", "3", "--sigma", "3"}, "--sigma is given twice"},
        {{"--free", "J1", "--dataset", file, "J1=-1e-5", "--dataset", file}, "free it as J1@"},
    };
    for (const auto& [args, message] : cases) {
        const Outcome outcome = RunFit(args);
        EXPECT_EQ(outcome.status, kExitBadInput) << args.back();
        EXPECT_NE(outcome.err.find(message), std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.out, "");
    }
    const Outcome missing = RunFit({Path("missing.csv"), "--free", "J1"});
    EXPECT_EQ(missing.status, kExitFileError);
    EXPECT_NE(missing.err.find("missing.csv"), std::string::npos) << missing.err;
    const Outcome report = RunFit({Path("loop.csv"), "--free", "J1", "--report", Path("no/such/folder.json")});
    EXPECT_EQ(report.status, kExitFileError);
    EXPECT_EQ(report.out, "");
    // --help and --version report an output that fails.
    for (const char* option : {"--help", "--version"}) {
        std::ostream closed(nullptr);
        std::ostringstream err;
        EXPECT_EQ(RunFitCommand({option}, closed, err, false, [] { return false; }), kExitFileError) << option;
        EXPECT_EQ(err.str().rfind("Cannot write to standard output: ", 0), 0u) << err.str();
    }
}

TEST_F(FitCommandTest, WritesTheFittedSetTheSweepCommandReadsAndAReportOfTheSummary) {
    const Outcome fit = RunFit({Path("loop.csv"), "--field-unit", "Oe", "--free", "J1,K1", "--evals", "12", "--threads",
                                "1", "--background", "both", "--report", Path("report.json"), "J1=-6e-6"});
    ASSERT_EQ(fit.status, kExitOk) << fit.err;
    // KEY=VALUE lines, the sweep keys of the first measured branch among them.
    std::vector<std::string> keys;
    std::istringstream lines(fit.out);
    for (std::string line; std::getline(lines, line);) {
        ASSERT_NE(line.find('='), std::string::npos) << line;
        keys.push_back(line);
    }
    EXPECT_NE(std::find(keys.begin(), keys.end(), "steps=10"), keys.end());
    const auto start =
        std::find_if(keys.begin(), keys.end(), [](const std::string& key) { return key.starts_with("start="); });
    ASSERT_NE(start, keys.end());
    EXPECT_NEAR(std::stod(start->substr(6)), 150, 1e-7); // kA/m, through oersted with six decimals
    // The sweep command reproduces the fitted loop and its misfit from these lines.
    keys.insert(keys.end(), {"--reverse", "--compare", Path("loop.csv"), "--background", "both"});
    std::ostringstream table;
    std::ostringstream sweepErr;
    EXPECT_EQ(RunSweepCommand(keys, table, sweepErr, false), kExitOk) << sweepErr.str();
    EXPECT_EQ(table.str().size(), 20u * 218);
    const std::size_t misfitAt = sweepErr.str().find("misfit ");
    ASSERT_NE(misfitAt, std::string::npos) << sweepErr.str();
    const double reproduced = std::stod(sweepErr.str().substr(misfitAt + 7));

    EXPECT_NE(fit.err.find("misfit before"), std::string::npos);
    std::ifstream reportFile(Path("report.json"));
    const nlohmann::json report = nlohmann::json::parse(reportFile);
    for (const char* key : {"misfit_before", "misfit_after", "scale", "slope", "offset", "points_compared",
                            "points_measured", "evaluations", "seconds", "threads", "seed", "stopped"}) {
        EXPECT_TRUE(report.contains(key)) << key;
    }
    ASSERT_EQ(report["parameters"].size(), 2u);
    EXPECT_EQ(report["parameters"][0]["name"], "J1");
    EXPECT_EQ(report["parameters"][0]["before"], -6e-6);
    EXPECT_EQ(report["evaluations"], 12);
    EXPECT_LE(report["misfit_after"].get<double>(), report["misfit_before"].get<double>());
    EXPECT_NEAR(reproduced, report["misfit_after"].get<double>(), 1e-5 * reproduced);
    const std::string points = " points " + std::to_string(report["points_compared"].get<int>()) + "/" +
                               std::to_string(report["points_measured"].get<int>());
    EXPECT_NE(sweepErr.str().find(points), std::string::npos) << sweepErr.str();
    for (const auto& parameter : report["parameters"]) {
        EXPECT_TRUE(parameter.contains("standard_error"));
        EXPECT_GE(parameter["after"].get<double>(), parameter["lower"].get<double>());
        EXPECT_LE(parameter["after"].get<double>(), parameter["upper"].get<double>());
    }
}

TEST_F(FitCommandTest, DataSetsWithTheirOwnValuesSavedAsAProjectThatRerunsAndSweepsOneDataSet) {
    // The same stack measured at a second field angle, in a folder of its own.
    ParameterTexts turned;
    turned.StartF = "150";
    turned.StepF = "-30";
    turned.Nstep = "10";
    turned.FieldAngleDegrees = 20;
    const fit::MeasuredLoop loop = testing::SyntheticLoop(turned, 2e-4, 0, 0);
    std::filesystem::create_directories(Path("b"));
    std::filesystem::create_directories(Path("project"));
    {
        std::ofstream file(Path("b/turned.csv"));
        file << "Field (Oe),Moment (emu)\n";
        file.precision(17);
        for (std::size_t i = 0; i < loop.Field.size(); ++i) {
            file << loop.Field[i] * 4 * std::numbers::pi / 1000 << "," << loop.Moment[i] << "\n";
        }
    }
    const std::vector<std::string> common{"--free", "K1,J1@", "--evals", "12", "--threads", "1", "J1=-6e-6"};
    std::vector<std::string> args = common;
    args.insert(args.end(), {"--field-unit", "Oe", "--dataset", Path("loop.csv"), "--background", "slope", "--dataset",
                             Path("b/turned.csv"), "field_angle=20", "--save-project", Path("project/p.json"),
                             "--report", Path("report.json")});
    const Outcome joint = RunFit(args);
    ASSERT_EQ(joint.status, kExitOk) << joint.err;
    for (const char* line : {"\nK1=", "\nJ1@1=", "\nJ1@2=", "\nfield_angle@1=0\n", "\nfield_angle@2=20\n"}) {
        EXPECT_NE(joint.out.find(line), std::string::npos) << line << "\n" << joint.out;
    }
    EXPECT_EQ(joint.out.find("\nK1@"), std::string::npos) << joint.out;
    std::ifstream reportFile(Path("report.json"));
    const nlohmann::json report = nlohmann::json::parse(reportFile);
    ASSERT_EQ(report["data_sets"].size(), 2u);

    // The project names its curves relative to itself and reruns to the same set.
    std::ifstream projectFile(Path("project/p.json"));
    const nlohmann::json project = nlohmann::json::parse(projectFile);
    EXPECT_EQ(project["data_sets"][0]["file"], "../loop.csv");
    EXPECT_EQ(project["data_sets"][1]["file"], "../b/turned.csv");
    const Outcome rerun = RunFit({Path("project/p.json")});
    ASSERT_EQ(rerun.status, kExitOk) << rerun.err;
    EXPECT_EQ(rerun.out, joint.out);

    // The sweep command runs data set 2 from these lines and finds its misfit.
    std::vector<std::string> words;
    std::istringstream lines(joint.out);
    for (std::string line; std::getline(lines, line);) {
        words.push_back(line);
    }
    std::ostringstream table;
    std::ostringstream sweepErr;
    EXPECT_EQ(RunSweepCommand(words, table, sweepErr, false), kExitBadInput);
    EXPECT_NE(sweepErr.str().find("--dataset-index"), std::string::npos) << sweepErr.str();
    words.insert(words.end(), {"--dataset-index", "2", "--reverse", "--compare", Path("b/turned.csv")});
    sweepErr.str("");
    EXPECT_EQ(RunSweepCommand(words, table, sweepErr, false), kExitOk) << sweepErr.str();
    const std::size_t misfitAt = sweepErr.str().find("misfit ");
    ASSERT_NE(misfitAt, std::string::npos) << sweepErr.str();
    const double reproduced = std::stod(sweepErr.str().substr(misfitAt + 7));
    const double fitted = report["data_sets"][1]["misfit_after"].get<double>();
    EXPECT_NEAR(reproduced, fitted, 1e-5 * fitted);

    // One curve given with --dataset fits as the same curve given as FILE.
    std::vector<std::string> plain = common;
    plain.insert(plain.end(), {"--field-unit", "Oe", Path("loop.csv")});
    std::vector<std::string> single = common;
    single.insert(single.end(), {"--field-unit", "Oe", "--dataset", Path("loop.csv")});
    const Outcome asFile = RunFit(plain);
    const Outcome asDataSet = RunFit(single);
    ASSERT_EQ(asFile.status, kExitOk) << asFile.err;
    EXPECT_EQ(asDataSet.out, asFile.out);
    EXPECT_EQ(asDataSet.err.substr(0, asDataSet.err.rfind(" evaluations in ")),
              asFile.err.substr(0, asFile.err.rfind(" evaluations in ")));
}

TEST_F(FitCommandTest, AResonanceTableInItsFrequencyUnitWithModesFitsAndSavesAsAProject) {
    ParameterTexts truth;
    truth.M[0] = "1.0";
    truth.t = {"3e-9", "0", "0", "0"};
    truth.K[0] = "2.1e4";
    // The table in GHz with a header that says so, and in MHz with a header that does not, there
    // of a sample with a larger gyromagnetic ratio.
    const std::pair<const char*, double> files[] = {{"modes.csv", 1e9}, {"modes_mhz.csv", 1e6}};
    for (const auto& [name, unit] : files) {
        const fit::MeasuredLoop table =
            testing::SyntheticResonance(truth, 100, 20, false, true, unit == 1e9 ? 1.76e11 : 1.85e11);
        std::ofstream file(Path(name));
        file << (unit == 1e9 ? "H (mT),f (GHz),width (GHz),mode\n" : "H (mT),f,width,mode\n");
        file.precision(17);
        for (std::size_t i = 0; i < table.Field.size(); ++i) {
            file << table.Field[i] * 4e-4 * std::numbers::pi << "," << table.Moment[i] / unit << "," << 0.05e9 / unit
                 << "," << table.Mode[i] << "\n";
        }
    }
    const std::vector<std::string> common{"--observable", "resonance", "--sigma", "3",    "--mode-column", "mode",
                                          "--free",       "K1",        "--evals", "150",  "--threads",     "1",
                                          "M1=1.0",       "t1=3e-9",   "t2=0",    "t3=0", "t4=0",          "K1=1.5e4"};
    std::vector<std::string> inGigahertz{Path("modes.csv"), "--save-project", Path("modes.json")};
    inGigahertz.insert(inGigahertz.end(), common.begin(), common.end());
    std::vector<std::string> inMegahertz{Path("modes_mhz.csv"), "--frequency-unit", "MHz", "gamma=1.85e11"};
    inMegahertz.insert(inMegahertz.end(), common.begin(), common.end());
    const Outcome gigahertz = RunFit(inGigahertz);
    const Outcome megahertz = RunFit(inMegahertz);
    const Outcome project = RunFit({Path("modes.json")});
    for (const auto& [name, outcome, stated] :
         {std::tuple{"GHz", gigahertz, "'f (GHz)' in GHz (as the file states)"},
          std::tuple{"MHz", megahertz, "'f' in MHz (as given)"},
          std::tuple{"project", project, "'f (GHz)' in GHz (as the file states)"}}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(outcome.status, kExitOk) << outcome.err;
        EXPECT_NE(outcome.err.find(std::string("frequency: column 2 ") + stated), std::string::npos) << outcome.err;
        EXPECT_NE(outcome.err.find("mode: column 4 'mode'"), std::string::npos) << outcome.err;
        EXPECT_NE(outcome.err.find("rms residual "), std::string::npos) << outcome.err;
        const std::size_t k1 = outcome.out.find("\nK1=");
        ASSERT_NE(k1, std::string::npos) << outcome.out;
        EXPECT_NEAR(std::stod(outcome.out.substr(k1 + 4)), 2.1e4, 2.1) << outcome.err;
    }
    EXPECT_EQ(project.out, gigahertz.out);
    EXPECT_NE(megahertz.out.find("\ngamma=1.85e11\n"), std::string::npos);
    EXPECT_EQ(gigahertz.out.find("gamma="), std::string::npos);
    std::ifstream saved(Path("modes.json"));
    const nlohmann::json json = nlohmann::json::parse(saved);
    EXPECT_EQ(json["data_sets"][0]["mode_column"], "mode");
    EXPECT_EQ(json["data_sets"][0]["observable"], "resonance");

    for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{Path("modes.csv"), "--free", "K1", "--mode-column", "4"}, "go with --observable resonance"},
             {{Path("modes.csv"), "--free", "K1", "--observable", "resonance", "--frequency-unit", "THz"},
              "not a frequency unit"},
             {{Path("modes.csv"), "--free", "K1", "--observable", "resonance", "--background", "slope"},
              "takes no --background"}}) {
        const Outcome refused = RunFit(args);
        EXPECT_EQ(refused.status, kExitBadInput);
        EXPECT_NE(refused.err.find(message), std::string::npos) << refused.err;
    }
}

TEST_F(FitCommandTest, AnInterruptedFitStillWritesTheBestSetAndExitsWith130) {
    const Outcome fit = RunFit({Path("loop.csv"), "--free", "J1", "--solver", "descent", "--threads", "1"}, true);
    EXPECT_EQ(fit.status, kExitInterrupted);
    EXPECT_NE(fit.out.find("J1="), std::string::npos);
    EXPECT_NE(fit.err.find("stopped: cancelled"), std::string::npos) << fit.err;
}

// Measured curves that no parameters can match: the search computes no misfit, which is a failure
// (status 1) with its reason, and no parameter set is written.
TEST_F(FitCommandTest, AFitThatNeverComputesAMisfitFails) {
    std::ofstream(Path("flat.csv")) << "H,M\n-300,0\n0,0\n300,0\n0,0\n-300,0\n";
    const Outcome fit = RunFit({Path("flat.csv"), "--free", "J1", "--evals", "5", "--threads", "1"});
    EXPECT_EQ(fit.status, kExitStepError);
    EXPECT_NE(fit.err.find("The fit failed: "), std::string::npos) << fit.err;
    EXPECT_EQ(fit.out, "");
}

TEST_F(FitCommandTest, AThreadCountBeyondTheCoresIsLoweredWithANote) {
    const Outcome fit = testing::Capture([&](std::ostream& out, std::ostream& err) {
        return RunFitCommand(
            {Path("loop.csv"), "--free", "J1", "--evals", "4", "--threads", "3"}, out, err, false, [] { return false; },
            '.', 1);
    });
    EXPECT_EQ(fit.status, kExitOk) << fit.err;
    EXPECT_NE(fit.err.find("Note: --threads 3 lowered to 1"), std::string::npos) << fit.err;
    EXPECT_NE(fit.err.find("on 1 thread (seed 1)"), std::string::npos) << fit.err;
}

} // namespace
} // namespace dravo2
