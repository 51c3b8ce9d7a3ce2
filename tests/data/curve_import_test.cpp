#include "data/curve_import.h"
#include "data/errors.h"
#include "data/floating_point.h"
#include "data/input_limits.h"
#include "data/result_writer.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>

namespace dravo2 {
namespace {

constexpr double kOersted = 79.57747154594767; // A/m
constexpr double kTesla = 795774.7154594767;   // A/m of mu0 H = 1 T

std::string ErrorOf(std::string_view bytes) {
    try {
        ParseCurveFile(bytes);
    } catch (const ProgramError& error) {
        return error.what();
    }
    return "";
}

struct Imported {
    ParsedCurveFile File;
    ImportSuggestion Suggestion;
    ImportSummary Summary;
    std::unique_ptr<ExperimentData> Data = std::make_unique<ExperimentData>();

    double At(std::int32_t c, std::int32_t r) const { return Data->ExpTable.At(c, r); }
};

// Parses and imports with the suggested columns and unit (A/m where none is stated).
Imported Import(std::string_view bytes, LongCurve longCurve = LongCurve::Thin) {
    Imported imported;
    imported.File = ParseCurveFile(bytes);
    imported.Suggestion = SuggestImport(imported.File);
    ImportChoice choice{imported.Suggestion.FieldColumn, imported.Suggestion.MomentColumn,
                        imported.Suggestion.StatedUnit.value_or(FieldUnit::AmperePerMetre), longCurve};
    imported.Summary = FillExperiment(imported.File, choice, *imported.Data);
    return imported;
}

TEST(FieldUnits, FactorsAndHeaderTexts) {
    EXPECT_DOUBLE_EQ(FieldUnitToAmperePerMetre(FieldUnit::AmperePerMetre), 1.0);
    EXPECT_DOUBLE_EQ(FieldUnitToAmperePerMetre(FieldUnit::KiloAmperePerMetre), 1000.0);
    EXPECT_DOUBLE_EQ(FieldUnitToAmperePerMetre(FieldUnit::Oersted), kOersted);
    EXPECT_DOUBLE_EQ(FieldUnitToAmperePerMetre(FieldUnit::MilliTesla), kTesla / 1000);
    EXPECT_DOUBLE_EQ(FieldUnitToAmperePerMetre(FieldUnit::Tesla), kTesla);
    EXPECT_EQ(FieldUnitFromText("(Oe)"), FieldUnit::Oersted);
    EXPECT_EQ(FieldUnitFromText(" [kA/m] "), FieldUnit::KiloAmperePerMetre);
    EXPECT_EQ(FieldUnitFromText("mT"), FieldUnit::MilliTesla);
    EXPECT_EQ(FieldUnitFromText("Tesla"), FieldUnit::Tesla);
    EXPECT_EQ(FieldUnitFromText("A/m"), FieldUnit::AmperePerMetre);
    EXPECT_EQ(FieldUnitFromText("emu"), std::nullopt);
    EXPECT_EQ(FieldUnitFromText(""), std::nullopt);
    for (FieldUnit unit : kFieldUnits) {
        EXPECT_EQ(FieldUnitFromText(FieldUnitName(unit)), unit);
    }
}

TEST(CurveImport, MagnetometerExportInOersted) {
    const std::string bytes =
        "[Header]\r\n"
        "; instrument notes, 1.5\r\n"
        "TITLE,SAMPLE 3\r\n"
        "[Data]\r\n"
        "Comment,Time Stamp (sec),Magnetic Field (Oe),Moment (emu),M. Std. Err. (emu),Coil \"x\" (mV)\r\n"
        "\"start, 300 K\",10.5\r\n"
        ",11,100,2.5E-5,,7\r\n"
        ",12,0.5,,1e-7,7\r\n"
        ",13,-100,-2.5E-5,1e-7,8\r\n";
    // Empty fields are NaN inside the parse; they must not raise the flags the program tests.
    ClearFloatingPointFlags();
    const Imported imported = Import(bytes);
    EXPECT_EQ(std::fetestexcept(kTrappedFlags), 0);
    EXPECT_EQ(imported.File.Kind, CurveFileKind::Magnetometer);
    ASSERT_EQ(imported.File.Columns.size(), 6u);
    EXPECT_EQ(imported.File.Columns[5].Name, "Coil \"x\" (mV)");
    EXPECT_FALSE(imported.File.Columns[0].HasValues);
    EXPECT_EQ(imported.Suggestion.FieldColumn, 2);
    EXPECT_EQ(imported.Suggestion.MomentColumn, 3);
    EXPECT_EQ(imported.Suggestion.StatedUnit, FieldUnit::Oersted);
    EXPECT_EQ(imported.Suggestion.SigmaColumn, 4); // offered, not taken unless chosen
    EXPECT_EQ(imported.Data->SigmaColumn, 0);
    EXPECT_EQ(imported.Data->MomentUnit, 1e-3);
    // The comment row and the row without a moment are left out.
    EXPECT_EQ(imported.Summary.UsableRows, 2);
    EXPECT_EQ(imported.Summary.SkippedRows, 2);
    ASSERT_EQ(imported.Data->ExpRows, 2);
    EXPECT_DOUBLE_EQ(imported.At(1, 1), 100 * kOersted);
    EXPECT_DOUBLE_EQ(imported.At(2, 1), 2.5e-5);
    EXPECT_DOUBLE_EQ(imported.At(1, 2), -100 * kOersted);
    // Further columns: those filled in every kept row, in file order.
    EXPECT_EQ(imported.Summary.ExtraColumns, (std::vector<std::int32_t>{1, 5}));
    EXPECT_EQ(imported.Data->ExpCols, 4);
    EXPECT_DOUBLE_EQ(imported.At(3, 2), 13);
    EXPECT_DOUBLE_EQ(imported.At(4, 2), 8);
}

TEST(CurveImport, UncertaintyColumnMomentUnitAndSampleArea) {
    const ParsedCurveFile file = ParseCurveFile("H (Oe),m (A m2),dM,T\n1,5,0.5,300\n2,6,,300\n3,7,0.25,300\n");
    EXPECT_EQ(SuggestImport(file).SigmaColumn, 2);
    ImportChoice choice{0, 1, FieldUnit::Oersted, LongCurve::Thin, 2};
    auto data = std::make_unique<ExperimentData>();
    const ImportSummary summary = FillExperiment(file, choice, *data);
    // The row without an uncertainty is not usable; the uncertainty is column 3, the rest follow.
    EXPECT_EQ(summary.KeptRows, 2);
    EXPECT_EQ(data->SigmaColumn, 3);
    EXPECT_EQ(data->ExpCols, 4);
    EXPECT_EQ(data->ExpTable.At(3, 2), 0.25);
    EXPECT_EQ(data->ExpTable.At(4, 2), 300);
    EXPECT_EQ(data->MomentUnit, 1.0);
    choice.MomentUnit = 1e-3; // chosen over what the header says
    FillExperiment(file, choice, *data);
    EXPECT_EQ(data->MomentUnit, 1e-3);
    try {
        FillExperiment(ParseCurveFile("H,M,sigma\n1,2,0.1\n2,3,0\n"), {0, 1, FieldUnit::Oersted, LongCurve::Thin, 2},
                       *data);
        ADD_FAILURE() << "a zero uncertainty was taken";
    } catch (const ProgramError& error) {
        EXPECT_STREQ(error.what(), "Line 3: the uncertainty 'sigma' is not a positive number");
    }

    EXPECT_EQ(MomentUnitFromText("(emu)"), 1e-3);
    EXPECT_EQ(MomentUnitFromText("A m^2"), 1.0);
    EXPECT_EQ(MomentUnitFromText("Oe"), std::nullopt);
    EXPECT_DOUBLE_EQ(*SampleAreaFromText("0.2947cm2"), 0.2947e-4);
    EXPECT_DOUBLE_EQ(*SampleAreaFromText("29.47 mm^2"), 29.47e-6);
    EXPECT_DOUBLE_EQ(*SampleAreaFromText("3e-5m2"), 3e-5);
    for (const char* bad : {"0.2947", "-1cm2", "0cm2", "cm2", "1,5cm2", "1e999m2", "2 in2"}) {
        EXPECT_EQ(SampleAreaFromText(bad), std::nullopt) << bad;
    }
}

TEST(CurveImport, ResonanceTableWithFrequencyUnitsAndAModeColumn) {
    const std::pair<const char*, std::optional<double>> units[] = {
        {"Hz", 1.0},  {"(kHz)", 1e3},       {"[MHz]", 1e6},    {"GHz", 1e9},
        {"ghz", 1e9}, {"Oe", std::nullopt}, {"", std::nullopt}};
    for (const auto& [text, factor] : units) {
        EXPECT_EQ(FrequencyUnitFromText(text), factor) << text;
    }
    // A row without a mode is not usable; the mode becomes a table column like any other.
    const ParsedCurveFile file = ParseCurveFile("H (mT),f (GHz),mode\n10,8.5,1\n10,12.25,2\n20,9.5,\n20,13,2\n");
    ImportChoice choice{0, 1, FieldUnit::MilliTesla, LongCurve::Thin};
    choice.ModeColumn = 2;
    auto data = std::make_unique<ExperimentData>();
    const ImportSummary summary = FillExperiment(file, choice, *data);
    EXPECT_EQ(summary.Modes, (std::vector<std::int32_t>{1, 2, 2}));
    EXPECT_EQ(summary.KeptRows, 3);
    EXPECT_EQ(data->ExpTable.At(2, 3), 13);
    EXPECT_TRUE(FillExperiment(file, {0, 1, FieldUnit::MilliTesla, LongCurve::Thin}, *data).Modes.empty());
    for (const char* bad : {"0", "1.5", "5"}) {
        try {
            FillExperiment(ParseCurveFile(std::string("H,f,mode\n1,2,1\n2,3,") + bad + "\n"), choice, *data);
            ADD_FAILURE() << bad;
        } catch (const ProgramError& error) {
            EXPECT_STREQ(error.what(), "Line 3: the mode 'mode' is not a whole number from 1 to 4") << bad;
        }
    }
}

TEST(CurveImport, MomentColumnWithValuesIsPreferred) {
    const Imported imported = Import("[Data]\nMagnetic Field (Oe),Moment (emu),DC Moment Err Free Ctr (emu),"
                                     "DC Moment Free Ctr (emu)\n5,,1e-9,3e-4\n6,,1e-9,4e-4\n");
    EXPECT_EQ(imported.Suggestion.MomentColumn, 3);
    EXPECT_DOUBLE_EQ(imported.At(2, 2), 4e-4);
}

TEST(CurveImport, SpacesWithNamesAndUnitsRowInMillitesla) {
    const Imported imported = Import("% loop at 300 K\n"
                                     "H   M   T_sample\n"
                                     "mT  emu K\n"
                                     "  100  1.5e-3   300\n"
                                     "  -20  -1.e-3   301\n");
    EXPECT_EQ(imported.File.Kind, CurveFileKind::Delimited);
    EXPECT_EQ(imported.File.Separator, ' ');
    EXPECT_EQ(imported.File.Columns[2].Name, "T_sample");
    EXPECT_EQ(imported.Suggestion.StatedUnit, FieldUnit::MilliTesla);
    EXPECT_DOUBLE_EQ(imported.At(1, 1), 100 * kTesla / 1000);
    EXPECT_DOUBLE_EQ(imported.At(2, 2), -1e-3);
    EXPECT_DOUBLE_EQ(imported.At(3, 2), 301);
}

TEST(CurveImport, SemicolonsWithDecimalCommasAndEmptyFields) {
    const Imported imported = Import("Field (kA/m);Moment (emu);Note\n1,5;2,25e-3;\n-0,5;;1\n-1,5;-2,25e-3;2\n");
    EXPECT_EQ(imported.File.Separator, ';');
    EXPECT_TRUE(imported.File.DecimalComma);
    EXPECT_EQ(imported.Suggestion.StatedUnit, FieldUnit::KiloAmperePerMetre);
    ASSERT_EQ(imported.Data->ExpRows, 2);
    EXPECT_DOUBLE_EQ(imported.At(1, 1), 1500);
    EXPECT_DOUBLE_EQ(imported.At(2, 2), -2.25e-3);
    EXPECT_EQ(imported.Data->ExpCols, 2); // the note is empty in a kept row
}

TEST(CurveImport, TabsWithoutHeaderStateNoUnit) {
    const Imported imported = Import("0.5\t1e-4\r\n1.0\t2e-4\r\n1.5\t3e-4");
    EXPECT_EQ(imported.File.Separator, '\t');
    EXPECT_FALSE(imported.File.DecimalComma);
    EXPECT_EQ(imported.File.Columns[0].Name, "Column 1");
    EXPECT_EQ(imported.Suggestion.StatedUnit, std::nullopt);
    EXPECT_EQ(imported.Data->ExpRows, 3);
    EXPECT_DOUBLE_EQ(imported.At(1, 3), 1.5);
}

TEST(CurveImport, NamesInTheLastCommentAndCommaColumns) {
    const Imported imported = Import("# fitted\n#\n# Field (T),Mag (Data) (kA/m)\n0.0,1\n1e-2 , 2\n");
    EXPECT_EQ(imported.File.Columns[1].Name, "Mag (Data) (kA/m)");
    EXPECT_EQ(imported.File.Columns[1].Unit, "kA/m");
    EXPECT_EQ(imported.Suggestion.StatedUnit, FieldUnit::Tesla);
    EXPECT_DOUBLE_EQ(imported.At(1, 2), 1e-2 * kTesla);
}

TEST(CurveImport, ResultFileOfThisProgram) {
    auto simulation = std::make_unique<SimulationData>();
    simulation->ClearSimTable();
    for (std::int32_t row = 1; row <= 3; ++row) {
        for (std::int32_t column = 1; column <= MaxCols; ++column) {
            simulation->SimTable.At(column, row) = row * 1000.0 + column;
        }
        simulation->SimRows = row;
    }
    const Imported imported = Import(ResultFileText(*simulation));
    EXPECT_EQ(imported.File.Kind, CurveFileKind::ResultFile);
    EXPECT_EQ(imported.Suggestion.FieldColumn, 0);
    EXPECT_EQ(imported.Suggestion.MomentColumn, 1);
    EXPECT_EQ(imported.Suggestion.StatedUnit, FieldUnit::AmperePerMetre);
    EXPECT_EQ(imported.Data->ExpCols, MaxCols);
    EXPECT_DOUBLE_EQ(imported.At(1, 3), 3001);
    EXPECT_DOUBLE_EQ(imported.At(8, 2), 2008);
}

TEST(CurveImport, LongCurveThinnedOrCut) {
    std::string bytes = "H,M\n";
    for (int i = 0; i < 5000; ++i) {
        bytes += std::to_string(i) + "," + std::to_string(2 * i) + "\n";
    }
    const Imported thinned = Import(bytes, LongCurve::Thin);
    EXPECT_EQ(thinned.Summary.UsableRows, 5000);
    EXPECT_EQ(thinned.Summary.Stride, 2);
    ASSERT_EQ(thinned.Data->ExpRows, 2500);
    EXPECT_DOUBLE_EQ(thinned.At(1, 2500), 4998);
    EXPECT_DOUBLE_EQ(thinned.At(2, 2500), 9996);
    const Imported cut = Import(bytes, LongCurve::FirstRows);
    ASSERT_EQ(cut.Data->ExpRows, MaxRows);
    EXPECT_DOUBLE_EQ(cut.At(1, MaxRows), MaxRows - 1);
}

TEST(CurveImport, FailuresNameTheLineAndProblem) {
    EXPECT_EQ(ErrorOf(""), "The file is empty");
    EXPECT_EQ(ErrorOf("# only\n# notes\n"), "The file holds only comments");
    EXPECT_EQ(ErrorOf("Field (Oe),Moment (emu)\n"), "The file holds no rows of numbers, only 1 row of text");
    EXPECT_EQ(ErrorOf("H;M\n1;2\n3;x4\n"), "Line 3: 'x4' in column 2 is not a number");
    EXPECT_EQ(ErrorOf("H M\nOe emu\nrun 2\n1 2\n"),
              "Line 3: a third row of text before the numbers: only a row of names and a row of units may precede "
              "them");
    EXPECT_EQ(ErrorOf("[Header]\nTITLE,x\n"), "The file has a [Header] section but no [Data] section");
    EXPECT_EQ(ErrorOf("[Header]\n[Data]\n\n"), "Line 2: the [Data] section has no row of column names");
    EXPECT_EQ(ErrorOf("[Data]\nH (Oe),M (emu)\nnote,\n"), "The [Data] section holds no rows of numbers");

    auto huge = std::make_unique<ExperimentData>();
    try {
        FillExperiment(ParseCurveFile("H M\n1 2\n1e305 3\n"), ImportChoice{0, 1, FieldUnit::Tesla, LongCurve::Thin},
                       *huge);
        ADD_FAILURE() << "a field beyond the range was taken";
    } catch (const ProgramError& error) {
        EXPECT_STREQ(error.what(), "Line 3: the field in T is beyond the range of A/m");
    }
    EXPECT_EQ(huge->ExpRows, 0);

    const ParsedCurveFile file = ParseCurveFile("Field (Oe),Moment (emu),T\n1,,3\n");
    EXPECT_EQ(FindColumn(file, "3"), 2);
    EXPECT_EQ(FindColumn(file, "moment"), 1);
    EXPECT_EQ(FindColumn(file, "Field (Oe)"), 0);
    EXPECT_THROW(FindColumn(file, "4"), ProgramError);
    EXPECT_THROW(FindColumn(file, "volume"), ProgramError);
    auto experiment = std::make_unique<ExperimentData>();
    experiment->ExpRows = 7;
    EXPECT_THROW(FillExperiment(file, ImportChoice{0, 1, FieldUnit::Oersted, LongCurve::Thin}, *experiment),
                 ProgramError);
    EXPECT_EQ(experiment->ExpRows, 7); // a failed import keeps what was loaded
}

// Rows of differing widths are padded with empty cells to the widest, also where the widest row
// or the names come last.
TEST(CurveImport, RowsOfDifferentWidthsMakeOneTable) {
    const double e = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::pair<std::string, std::vector<double>>> cases{
        {"1,2,3\n4\n5,6\n", {1, 2, 3, 4, e, e, 5, 6, e}},
        {"1\n2,3\n4,5,6\n", {1, e, e, 2, 3, e, 4, 5, 6}},
        {"a,b,c,d\n1,2\n3\n", {1, 2, e, e, 3, e, e, e}},
        {"[Data]\nH,M\n1,2\n3,4,5\nnote\n6\n", {1, 2, e, 3, 4, 5, 6, e, e}},
    };
    for (const auto& [text, values] : cases) {
        SCOPED_TRACE(text);
        const ParsedCurveFile file = ParseCurveFile(text);
        ASSERT_EQ(file.Values.size(), values.size());
        EXPECT_EQ(file.Values.size(), file.RowCount() * file.Columns.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            EXPECT_TRUE(std::isnan(values[i]) ? std::isnan(file.Values[i]) : file.Values[i] == values[i]) << i;
        }
    }
}

// Hostile files are refused with the limit named, before their table fills the memory. Small
// limits stand in for the stated ones (64 MiB, 1 MiB, 10 million values), which ReadCurveFileBytes
// and the messages show below.
TEST(CurveImport, SizeLineAndTableLimitsAreStated) {
    const MeasuredLimits limits{1000, 100, 50};
    // A row 20 cells wide: three rows of it pass the 50 values.
    const std::string wide = "1" + std::string(19, ',') + "\n2\n3\n";
    const std::vector<std::pair<std::string, std::string>> cases{
        {std::string(1001, '1'), "The file holds more than 1000 bytes, the most a measured file may hold"},
        {"1,2\n" + std::string(101, '3') + "\n", "Line 2: longer than 100 bytes, the longest line the import reads"},
        {wide, "Line 3: more than 50 values (rows times columns), the most the import keeps"},
        {"[Data]\nH,M\n" + wide, "Line 5: more than 50 values (rows times columns), the most the import keeps"},
        {"a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q,r,s,t,u\n1,2\n2,3\n3,4\n",
         "The file's 3 rows of 21 columns are more than 50 values (rows times columns), the most the import keeps"},
    };
    for (const auto& [bytes, message] : cases) {
        SCOPED_TRACE(bytes.substr(0, 20));
        try {
            ParseCurveFile(bytes, limits);
            ADD_FAILURE() << "read beyond a limit";
        } catch (const InputOutputError& error) {
            EXPECT_EQ(error.what(), message);
        }
    }
    EXPECT_EQ(ParseCurveFile("1" + std::string(999, ' '), {1000, 1000, 1}).RowCount(), 1u); // at the limits
    EXPECT_EQ(ParseCurveFile("1" + std::string(9, ',') + "\n2\n3\n4\n5\n", limits).Values.size(), 50u);
    EXPECT_EQ(MeasuredFileTooLargeMessage(),
              "The file holds more than 67108864 bytes (64 MiB), the most a measured file may hold");
    EXPECT_EQ(ErrorOf("1,2\n" + std::string(kMaxMeasuredLineBytes + 1, '3')),
              "Line 2: longer than 1048576 bytes (1 MiB), the longest line the import reads");

    // A file read from disk stops at the limit however much more it holds (a sparse file here).
    const testing::TempFolder folder;
    const std::string path = folder / "huge.csv";
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kMaxMeasuredFileBytes) + 1), 0);
    ::close(fd);
    try {
        ReadCurveFileBytes(path);
        ADD_FAILURE() << "a file beyond the limit was read";
    } catch (const InputOutputError& error) {
        EXPECT_EQ(error.what(), MeasuredFileTooLargeMessage());
    }
}

} // namespace
} // namespace dravo2
