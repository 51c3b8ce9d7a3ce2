#include "data/errors.h"
#include "data/experiment_reader.h"
#include "data/result_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace dravo2 {
namespace {

struct Loaded {
    std::unique_ptr<ExperimentData> Data = std::make_unique<ExperimentData>();
    std::vector<std::string> Status;
    std::string Error;
    bool Cut = false;

    std::int32_t Rows() const { return Data->ExpRows; }
    std::int32_t Cols() const { return Data->ExpCols; }
    double At(std::int32_t c, std::int32_t r) const { return Data->ExpTable.At(c, r); }
};

// Loads `bytes` held in memory, or, with a `pieceSize`, handed over that many bytes at a time as
// a file is read.
Loaded Load(std::string_view bytes, ExperimentFormat format, char separator = '.', bool lfEndsLine = true,
            std::size_t pieceSize = 0) {
    Loaded loaded;
    const auto status = [&loaded](const std::string& text) { loaded.Status.push_back(text); };
    try {
        if (pieceSize == 0) {
            loaded.Cut = ReadExperiment(bytes, format, *loaded.Data, separator, status, lfEndsLine);
        } else {
            TextReader text(
                [&bytes, pieceSize](char* buffer, std::size_t size) {
                    const std::size_t count = std::min({size, pieceSize, bytes.size()});
                    bytes.copy(buffer, count);
                    bytes.remove_prefix(count);
                    return count;
                },
                lfEndsLine);
            loaded.Cut = ReadExperiment(text, format, *loaded.Data, separator, status);
        }
    } catch (const ProgramError& error) {
        loaded.Error = error.what();
    }
    return loaded;
}

constexpr auto Dat = ExperimentFormat::Dat;
constexpr auto Da2 = ExperimentFormat::Da2;

TEST(ReadToken, SeparatorsAcceptedAndDroppedCharacters) {
    TextReader file("  +1.5E+03,(12);#@ x@ @@\t\"a/b\"\r\nnext", false);
    EXPECT_EQ(file.ReadToken(), "1.5E03");
    EXPECT_EQ(file.ReadToken(), "12");
    EXPECT_EQ(file.ReadToken(), "@");
    EXPECT_EQ(file.ReadToken(), "x@");
    EXPECT_EQ(file.ReadToken(), "@@");
    EXPECT_EQ(file.ReadToken(), "ab");
    EXPECT_EQ(file.ReadToken(), "");
    EXPECT_TRUE(file.Eoln());
    file.SkipLine();
    EXPECT_EQ(file.ReadToken(), "next");
    EXPECT_TRUE(file.Eof());
}

TEST(TextReader, CtrlZEndsTheFileAndReadNumberCrossesLines) {
    TextReader file("1\r\n\r\n  2.5e1 \x1a 3", false);
    EXPECT_EQ(file.ReadNumber(), 1);
    EXPECT_EQ(file.ReadNumber(), 25);
    EXPECT_EQ(file.ReadNumber(), 0);
    EXPECT_TRUE(file.Eof());
    TextReader bad("1,5", false);
    EXPECT_THROW(bad.ReadNumber(), InputOutputError);
}

TEST(DatFormat, NumbersOnTheFirstLineMeanNoHeader) {
    const Loaded l = Load("1 2 3\r\n4 5 6\r\n7 8 9\r\n", Dat);
    EXPECT_EQ(l.Error, "");
    EXPECT_EQ(l.Rows(), 3);
    EXPECT_EQ(l.Cols(), 3);
    EXPECT_EQ(l.At(3, 3), 9);
    EXPECT_EQ(l.At(4, 1), 0);
    EXPECT_EQ(l.Status.front(), "1");
    EXPECT_EQ(l.Status.back(), "");
}

TEST(DatFormat, HeaderEndsAtTheAtToken) {
    const char* files[] = {
        "sample 7\r\nT=300K 1 2\r\n@\r\n1.5 2\r\n3 4\r\n",
        "sample\r\nsome words @ and more\r\n1.5 2\r\n3 4\r\n",
        "sample\r\n#@\r\n1.5 2\r\n3 4\r\n",
        "-666 header\r\n@\r\n1.5 2\r\n3 4\r\n",
        "\r\nafter an empty line\r\n@\r\n1.5 2\r\n3 4\r\n",
        "sample\n@\n1.5 2\n3 4\n",
    };
    for (const char* file : files) {
        SCOPED_TRACE(file);
        const Loaded l = Load(file, Dat);
        EXPECT_EQ(l.Error, "");
        EXPECT_EQ(l.Rows(), 2);
        EXPECT_EQ(l.Cols(), 2);
        EXPECT_EQ(l.At(1, 1), 1.5);
        EXPECT_EQ(l.At(2, 2), 4);
    }
}

TEST(DatFormat, HeaderWithoutAnAtTokenLoadsNothingSilently) {
    for (const char* file : {"sample\r\nx@ @@\r\n1 2\r\n", "words only", "sample\r\n"}) {
        SCOPED_TRACE(file);
        const Loaded l = Load(file, Dat);
        EXPECT_EQ(l.Error, "");
        EXPECT_EQ(l.Rows(), 0);
    }
}

TEST(DatFormat, NoNumberAfterTheHeaderIsAConversionError) {
    for (const auto& [file, token] :
         {std::pair{"head\r\n@\r\nvalue 1\r\n", "value"}, std::pair{"head\r\n@\r\n\r\n1 2\r\n", ""}}) {
        const Loaded l = Load(file, Dat);
        EXPECT_EQ(l.Error, "'" + std::string(token) + "' is not a valid floating point value");
        EXPECT_EQ(l.Rows(), 0);
    }
}

TEST(DatFormat, OnlyTheFirstRowMaySeparateWithCommas) {
    const Loaded first = Load("1,2;3\r\n4 5 6\r\n", Dat);
    EXPECT_EQ(first.Error, "");
    EXPECT_EQ(first.Cols(), 3);
    EXPECT_EQ(first.Rows(), 2);
    const Loaded second = Load("1 2\r\n3,4\r\n5 6\r\n", Dat);
    EXPECT_EQ(second.Error, "Invalid numeric input");
    EXPECT_EQ(second.Rows(), 2);
    EXPECT_EQ(second.At(1, 2), 0);
}

TEST(DatFormat, LastLineWithoutLineEndAndTrailingEmptyLine) {
    const Loaded oneLine = Load("1 2 3", Dat);
    EXPECT_EQ(oneLine.Rows(), 1);
    EXPECT_EQ(oneLine.Cols(), 2);
    const Loaded single = Load("1 2\r\n3 4\r\n", Dat);
    EXPECT_EQ(single.Rows(), 2);
    const Loaded extra = Load("1 2\r\n3 4\r\n\r\n", Dat);
    EXPECT_EQ(extra.Rows(), 3);
    EXPECT_EQ(extra.At(1, 3), 0);
    EXPECT_EQ(extra.At(2, 3), 0);
}

TEST(DatFormat, ShortAndLongRows) {
    const Loaded l = Load("1 2 3\r\n4 5\r\n6 7 8\r\n9 10 11 12\r\n13 14 15\r\n", Dat);
    EXPECT_EQ(l.Rows(), 4);
    // Row 2 takes its third number from the next line, whose rest is skipped.
    EXPECT_EQ(l.At(3, 2), 6);
    EXPECT_EQ(l.At(1, 3), 9);
    EXPECT_EQ(l.At(1, 4), 13);
}

TEST(DatFormat, AWordEndsTheFirstRow) {
    const Loaded l = Load("1 2 x 4\r\n5 6\r\n", Dat);
    EXPECT_EQ(l.Cols(), 2);
    EXPECT_EQ(l.Rows(), 2);
    EXPECT_EQ(l.At(2, 2), 6);
}

TEST(DatFormat, NineValuesKeepEightColumns) {
    const Loaded l = Load("1 2 3 4 5 6 7 8 9\r\n11 12 13 14 15 16 17 18 19\r\n", Dat);
    EXPECT_EQ(l.Cols(), MaxCols);
    EXPECT_EQ(l.Rows(), 2);
    EXPECT_EQ(l.At(8, 1), 8);
    EXPECT_EQ(l.At(8, 2), 18);
}

TEST(DatFormat, CommaSeparatorTakesAFullStopRowForAHeader) {
    const Loaded l = Load("1.5 2\r\n3 4\r\n", Dat, ',');
    EXPECT_EQ(l.Rows(), 0);
    const Loaded comma = Load("1,5 2\r\n3 4\r\n", Da2, ',');
    // With the comma as decimal separator a comma still separates tokens.
    EXPECT_EQ(comma.Rows(), 2);
    EXPECT_EQ(comma.At(1, 1), 1);
}

TEST(Da2Format, OneOrTwoColumns) {
    const Loaded three = Load("1 2 3\r\n4 5 6\r\n", Da2);
    EXPECT_EQ(three.Cols(), 2);
    EXPECT_EQ(three.Rows(), 2);
    EXPECT_EQ(three.At(2, 2), 5);
    const Loaded one = Load("1\r\n2\r\n3\r\n", Da2);
    EXPECT_EQ(one.Cols(), 1);
    EXPECT_EQ(one.Rows(), 3);
    EXPECT_EQ(one.At(1, 3), 3);
    const Loaded noLineEnd = Load("1 2", Da2);
    EXPECT_EQ(noLineEnd.Rows(), 1);
    EXPECT_EQ(noLineEnd.Cols(), 1);
    EXPECT_TRUE(one.Status.empty());
}

TEST(Da2Format, WordsInTheFirstRow) {
    const Loaded first = Load("x 2\r\n3 4\r\n", Da2);
    EXPECT_EQ(first.Rows(), 0);
    EXPECT_EQ(first.Error, "");
    const Loaded second = Load("1 x\r\n3 4\r\n", Da2);
    EXPECT_EQ(second.Rows(), 1);
    EXPECT_EQ(second.Cols(), 1);
    EXPECT_EQ(second.Error, "");
}

TEST(Reader, StopsAtTheTableCapacity) {
    std::string file;
    for (int r = 1; r <= MaxRows + 10; ++r) {
        file += std::to_string(r) + " 1\r\n";
    }
    for (const auto format : {Dat, Da2}) {
        const Loaded l = Load(file, format);
        EXPECT_EQ(l.Rows(), MaxRows);
        EXPECT_EQ(l.At(1, MaxRows), MaxRows);
    }
}

// Rows beyond the table are reported; blank lines after the last row the table holds are not rows.
TEST(Reader, TellsWhenRowsAreCut) {
    std::string full;
    for (int r = 1; r <= MaxRows; ++r) {
        full += std::to_string(r) + " 1\r\n";
    }
    for (const auto format : {Dat, Da2}) {
        const Loaded exact = Load(full + "\r\n \r\n\t", format);
        EXPECT_EQ(exact.Rows(), MaxRows);
        EXPECT_FALSE(exact.Cut);
        const Loaded over = Load(full + "4097 1\r\n", format);
        EXPECT_EQ(over.Rows(), MaxRows);
        EXPECT_TRUE(over.Cut);
        EXPECT_FALSE(Load(full + "\x1a" + "4097 1\r\n", format).Cut); // Ctrl-Z ends the file
    }
    EXPECT_FALSE(Load("1 2\r\n3 4\r\n", Dat).Cut);
}

// A file that grows for ever (here a header without its "@") is read up to the stated limit and
// refused; a file of exactly the limit is read whole.
TEST(Reader, ReadsAFileOnlyUpToItsLimit) {
    const std::string line = "1 2\r\n";
    for (const std::size_t length : {std::size_t{1000}, std::size_t{1001}}) {
        SCOPED_TRACE(length);
        auto experiment = std::make_unique<ExperimentData>();
        std::size_t given = 0;
        TextReader text(
            [&](char* buffer, std::size_t size) {
                const std::size_t count = std::min(size, length - given);
                for (std::size_t i = 0; i < count; ++i) {
                    buffer[i] = line[(given + i) % line.size()];
                }
                given += count;
                return count;
            },
            true, 1000);
        if (length == 1000) {
            ReadExperiment(text, Da2, *experiment, '.', nullptr);
            EXPECT_EQ(experiment->ExpRows, 200);
        } else {
            EXPECT_THROW(
                try { ReadExperiment(text, Da2, *experiment, '.', nullptr); } catch (const InputOutputError& error) {
                    EXPECT_STREQ(error.what(), MeasuredFileTooLargeMessage(1000).c_str());
                    throw;
                },
                InputOutputError);
            EXPECT_EQ(given, 1001u);
        }
    }
    auto experiment = std::make_unique<ExperimentData>();
    TextReader endless(
        [](char* buffer, std::size_t size) {
            std::fill(buffer, buffer + size, 'x');
            return size;
        },
        true, 1 << 16);
    EXPECT_THROW(ReadExperiment(endless, Dat, *experiment, '.', nullptr), InputOutputError);
}

// A file read in pieces (down to single bytes, so that every line end, number and token is split
// somewhere) gives what the whole text gives.
TEST(Reader, ReadingInPiecesGivesTheSameTable) {
    std::string many;
    for (int r = 1; r <= MaxRows + 3; ++r) {
        many += std::to_string(r * 0.25) + "\t-1.5e-3 7\n";
    }
    const std::string files[] = {
        "sample 7\r\nT=300K 1 2\r\n@\r\n1.5 2\r\n3 4\r\n",
        "1 2 3\r\n4 5\r\n6 7 8\r\n9 10 11 12\r\n13 14 15",
        "1 2\r\n3 4\r\n5,6\r\n",
        "1\r\n\r\n  2.5e1 \x1a 3\r\n",
        "header\n" + std::string(10000, 'w') + " @\n1 2\n",
        many,
    };
    for (const std::string& file : files) {
        for (const auto format : {Dat, Da2}) {
            const Loaded whole = Load(file, format);
            for (const std::size_t piece : {1u, 2u, 7u, 65536u}) {
                SCOPED_TRACE(file.substr(0, 20) + " in pieces of " + std::to_string(piece));
                const Loaded split = Load(file, format, '.', true, piece);
                EXPECT_EQ(split.Error, whole.Error);
                EXPECT_EQ(split.Status, whole.Status);
                EXPECT_EQ(split.Cut, whole.Cut);
                ASSERT_EQ(split.Rows(), whole.Rows());
                ASSERT_EQ(split.Cols(), whole.Cols());
                for (std::int32_t r = 1; r <= whole.Rows(); ++r) {
                    for (std::int32_t c = 1; c <= whole.Cols(); ++c) {
                        ASSERT_EQ(split.At(c, r), whole.At(c, r)) << c << "," << r;
                    }
                }
            }
        }
    }
}

// A header token beyond the extended range is no number; the overflow its conversion met must
// not be charged to the first data number.
TEST(Reader, AnOverflowingHeaderTokenLeavesNoFlagBehind) {
    for (const char* file :
         {"1e5000 header\r\n@\r\n1.5 2\r\n3 4\r\n", "1e5000 x\r\nmore @ words\r\n1.5 2\r\n3 4\r\n"}) {
        const Loaded l = Load(file, Dat);
        EXPECT_EQ(l.Error, "") << file;
        EXPECT_EQ(l.At(1, 1), 1.5) << file;
        EXPECT_EQ(l.At(2, 2), 4) << file;
    }
}

TEST(Reader, UnixLineEndsReadLikeTheirCrLfTwins) {
    const std::string crlf = "header line\r\n@\r\n1 2 3\r\n4 5 6\r\n7 8 9\r\n";
    std::string lf = crlf;
    for (std::size_t p = lf.find('\r'); p != std::string::npos; p = lf.find('\r')) {
        lf.erase(p, 1);
    }
    for (const auto format : {Dat, Da2}) {
        const Loaded a = Load(crlf, format);
        const Loaded b = Load(lf, format);
        EXPECT_EQ(a.Rows(), b.Rows());
        EXPECT_EQ(a.Cols(), b.Cols());
        for (std::int32_t c = 1; c <= MaxCols; ++c) {
            for (std::int32_t r = 1; r <= 4; ++r) {
                EXPECT_EQ(a.At(c, r), b.At(c, r));
            }
        }
    }
    // Taking CR alone as the line end, a Unix file's first row runs into the next lines.
    const Loaded crOnly = Load("1 2\n3 4\n5 6\n", Dat, '.', false);
    EXPECT_EQ(crOnly.Cols(), 5); // the last value stands at the end of the file
    EXPECT_EQ(Load("1 2\n3 4\n5 6\n", Dat).Cols(), 2);
}

TEST(Reader, AResultFileReadsBackThroughBothFilters) {
    auto simulation = std::make_unique<SimulationData>();
    simulation->SimRows = 3;
    for (std::int32_t r = 1; r <= 3; ++r) {
        for (std::int32_t c = 1; c <= MaxCols; ++c) {
            simulation->SimTable.At(c, r) = (c == 8 ? -1.0 : 1e5 * r + c * 0.125);
        }
    }
    const std::string file = ResultFileText(*simulation);
    const Loaded dat = Load(file, Dat);
    EXPECT_EQ(dat.Rows(), 3);
    EXPECT_EQ(dat.Cols(), 8);
    const Loaded da2 = Load(file, Da2);
    EXPECT_EQ(da2.Rows(), 3);
    EXPECT_EQ(da2.Cols(), 2);
    for (std::int32_t r = 1; r <= 3; ++r) {
        for (std::int32_t c = 1; c <= MaxCols; ++c) {
            EXPECT_EQ(dat.At(c, r), simulation->SimTable.At(c, r));
        }
        EXPECT_EQ(da2.At(2, r), simulation->SimTable.At(2, r));
    }
}

TEST(Reader, NumbersBeyondTheDoubleRange) {
    const Loaded row = Load("1 2\r\n1e400 3\r\n", Dat);
    EXPECT_EQ(row.Error, "Floating point overflow");
    EXPECT_EQ(row.Rows(), 2);
    // In the first row such a token is no number: the row is taken for a header.
    EXPECT_EQ(Load("1e400 2\r\n3 4\r\n", Dat).Rows(), 0);
}

} // namespace
} // namespace dravo2
