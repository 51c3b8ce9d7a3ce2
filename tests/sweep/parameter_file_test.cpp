#include "data/errors.h"
#include "sweep/parameter_file.h"

#include <gtest/gtest.h>

namespace dravo2 {
namespace {

TEST(ParameterFile, WrittenSetReadsBackWithEveryWindowKeyOnce) {
    ParameterTexts texts;
    texts.M[1] = "1,25";
    texts.J1 = "-2,5e-3";
    texts.AxisDegrees[2] = 45;
    texts.FieldAngleDegrees = 10;
    texts.UniaxialChecked = false;
    texts.QuarticChecked = true;
    texts.Nstep = "60";
    const std::string text = ParameterFileText(texts, "12,5", SolverMethod::Newton, ',');
    for (const ParameterEntry& entry : ParameterRegistry()) {
        SCOPED_TRACE(std::string(entry.Key));
        const std::string line = "\n" + std::string(entry.Key) + "=";
        const std::size_t at = ("\n" + text).find(line);
        EXPECT_EQ(at == std::string::npos, entry.Key == "gamma");
        if (at != std::string::npos) {
            EXPECT_EQ(("\n" + text).find(line, at + 1), std::string::npos);
        }
    }
    EXPECT_NE(text.find("\nM2=1.25\n"), std::string::npos);
    EXPECT_NE(text.find("\nJ1=-2.5e-3\n"), std::string::npos);

    const ParameterFile read = ReadParameterFile(text);
    ParameterTexts expected = texts;
    expected.M[1] = "1.25";
    expected.J1 = "-2.5e-3";
    EXPECT_EQ(read.Texts.M, expected.M);
    EXPECT_EQ(read.Texts.J1, expected.J1);
    EXPECT_EQ(read.Texts.AxisDegrees, expected.AxisDegrees);
    EXPECT_EQ(read.Texts.FieldAngleDegrees, 10);
    EXPECT_TRUE(read.Texts.QuarticChecked);
    EXPECT_FALSE(read.Texts.UniaxialChecked);
    EXPECT_EQ(read.Texts.Nstep, "60");
    EXPECT_EQ(read.DeltaR, "12.5");
    EXPECT_EQ(read.Solver, SolverMethod::Newton);
    EXPECT_EQ(ParameterFileText(read.Texts, *read.DeltaR, *read.Solver),
              ParameterFileText(expected, "12.5", SolverMethod::Newton));
}

TEST(ParameterFile, CommentsBlanksAndSpacesAreReadAndLeftOutKeysKeepTheBase) {
    ParameterTexts base;
    base.J2 = "7e-4";
    const ParameterFile read =
        ReadParameterFile("# fitted on Monday\r\n\r\n  J1 = -1e-3 \r\n\t# mode below\nmode=MvHy\nJ1=-2e-3\n", base);
    EXPECT_EQ(read.Texts.J1, "-2e-3"); // the later line wins, as a repeated word does
    EXPECT_EQ(read.Texts.J2, "7e-4");
    EXPECT_EQ(read.Mode, "MvHy");
    EXPECT_FALSE(read.Solver.has_value());
    EXPECT_FALSE(read.DeltaR.has_value());
    EXPECT_EQ(read.Keys, (std::vector<std::string>{"J1", "mode", "J1"}));
}

TEST(ParameterFile, DataSetLinesOfAJointFitSetOnlyTheChosenSet) {
    const std::string text = "K1=2e5\nJ1@1=-1e-3\nJ1@2=-3e-3\nfield_angle@2=45\n";
    for (const int set : {1, 2}) {
        SCOPED_TRACE(set);
        const ParameterFile read = ReadParameterFile(text, {}, set);
        EXPECT_EQ(read.DataSets, 2);
        EXPECT_EQ(read.Texts.K[0], "2e5");
        EXPECT_EQ(read.Texts.J1, set == 1 ? "-1e-3" : "-3e-3");
        EXPECT_EQ(read.Texts.FieldAngleDegrees, set == 1 ? ParameterTexts{}.FieldAngleDegrees : 45);
    }
    EXPECT_EQ(ReadParameterFile("K1=2e5\n").DataSets, 0);
}

TEST(ParameterFile, BadLinesAreRefusedWithTheirNumber) {
    const std::pair<const char*, const char*> cases[] = {
        {"M1=1\nJ5=1\n", "Line 2: unknown key 'J5'"},
        {"# set\n\nM1\n", "Line 3: 'M1' is not KEY=VALUE"},
        {"=5", "Line 1: '=5' is not KEY=VALUE"},
        {"M1=abc", "Line 1: 'abc' is not a valid floating point value"},
        {"steps=1.5", "Line 1: '1.5' is not a valid integer value"},
        {"axis1=91", "Line 1: '91' is not a whole number of degrees from 0 to 90"},
        {"aniso=XY", "Line 1: 'XY' is not an anisotropy form (UA or QU)"},
        {"solver=fast", "Line 1: 'fast' is not a solver (descent or newton)"},
        {"mode=Mv", "Line 1: 'Mv' is not a display mode (MvHx, MvHy, theta-theta, DeltaR or FMR)"},
        {"gamma=0", "Line 1: '0' is not a gyromagnetic ratio above 0"},
        {"J1@0=1", "Line 1: 'J1@0' is not KEY@N with a data set number N from 1"},
        {"J1@x=1", "Line 1: 'J1@x' is not KEY@N with a data set number N from 1"},
        {"J5@2=1", "Line 1: unknown key 'J5'"},
        {"J1@2=abc", "Line 1: 'abc' is not a valid floating point value"},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(text);
        try {
            ReadParameterFile(text);
            ADD_FAILURE() << "accepted";
        } catch (const ProgramError& error) {
            EXPECT_STREQ(error.what(), message);
        }
    }
}

} // namespace
} // namespace dravo2
