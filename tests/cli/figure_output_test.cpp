#include "cli/figure_output.h"
#include "cli/sweep_command.h"
#include "data/csv_writer.h"
#include "data/file_io.h"
#include "plot/figure.h"
#include "support/sweep_fixture.h"

#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <sstream>

namespace dravo2 {
namespace {

class FigureOutput : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "dravo2_figure_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        Folder = pattern + "/";
    }
    void TearDown() override { std::filesystem::remove_all(Folder); }

    int Run(std::vector<std::string> args, std::string* out = nullptr) {
        std::ostringstream outStream;
        std::ostringstream err;
        const int status = RunSweepCommand(args, outStream, err, false);
        Err = err.str();
        if (out != nullptr) {
            *out = outStream.str();
        }
        return status;
    }

    std::string Folder;
    std::string Err;
};

TEST_F(FigureOutput, CsvOfTheDefaultSweepReadsBackToTheTablesDoubles) {
    testing::SweepRig rig;
    rig.Start();
    rig.RunBranch();
    ASSERT_EQ(rig.Simulation->SimRows, 500);
    const std::string csv =
        CsvTableText(*rig.Simulation, {true, true, true, true}, TableBranchNumbers(*rig.Simulation));

    std::string out;
    ASSERT_EQ(Run({"--format", "csv"}, &out), kExitOk);
    EXPECT_EQ(out, csv) << "the command writes the same table";

    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, kCsvHeader);
    std::int32_t row = 0;
    int emptyResonances = 0;
    while (std::getline(in, line)) {
        ++row;
        const char* cursor = line.c_str();
        char* end = nullptr;
        EXPECT_EQ(std::strtol(cursor, &end, 10), 1);
        for (std::int32_t column = 1; column <= MaxCols; ++column) {
            ASSERT_EQ(*end, ',');
            cursor = end + 1;
            const double read = std::strtod(cursor, &end);
            const double expected = rig.Simulation->SimTable.At(column, row);
            if (end == cursor) {
                EXPECT_TRUE(column == 8 && expected == -1) << "row " << row << " column " << column;
                ++emptyResonances;
                continue;
            }
            EXPECT_EQ(std::memcmp(&read, &expected, sizeof read), 0) << "row " << row << " column " << column;
        }
        EXPECT_EQ(*end, '\0');
    }
    EXPECT_EQ(row, 500);
    EXPECT_GT(emptyResonances, 0) << "the default loop has steps without a resonance";
}

TEST_F(FigureOutput, PlotFilesOfTheRequestedSizes) {
    // SVG: one polyline per branch, the turning row in both, and a marker per measured point
    // (and three in the legend).
    WriteFileSafely(Folder + "measured.dat", "-20000 -1\n-10000 -1\n0 0\n10000 1\n20000 1\n");
    ASSERT_EQ(Run({"steps=40", "start=-20", "--reverse", "-o", Folder + "loop.dat", "--plot", Folder + "loop.svg",
                   "--compare", Folder + "measured.dat"}),
              kExitOk);
    std::size_t markers = 0;
    QXmlStreamReader svg(QByteArray::fromStdString(ReadWholeFile(Folder + "loop.svg")));
    std::vector<std::size_t> lines;
    while (!svg.atEnd()) {
        if (svg.readNext() != QXmlStreamReader::StartElement) {
            continue;
        }
        if (svg.name() == QStringLiteral("circle")) {
            ++markers;
        } else if (svg.name() == QStringLiteral("polyline") || svg.name() == QStringLiteral("path")) {
            const QString points = svg.attributes().value(QStringLiteral("points")).toString().trimmed();
            const auto count = static_cast<std::size_t>(points.split(QLatin1Char(' '), Qt::SkipEmptyParts).size());
            if (count > 2) { // frame, ticks and legend samples are single strokes
                lines.push_back(count);
            }
        }
    }
    EXPECT_FALSE(svg.hasError()) << svg.errorString().toStdString();
    EXPECT_EQ(lines, (std::vector<std::size_t>{40, 41}));
    EXPECT_EQ(markers, 5u + 3u);

    // PDF: one page of 10 cm x 5 cm (Qt writes the page size in whole points).
    ASSERT_EQ(Run({"steps=40", "-o", Folder + "loop.dat", "--plot", Folder + "loop.pdf", "--plot-size", "10x5"}),
              kExitOk);
    const std::string pdf = ReadWholeFile(Folder + "loop.pdf");
    EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
    const std::regex pageRe(R"(/Type\s*/Page[^s])");
    EXPECT_EQ(std::distance(std::sregex_iterator(pdf.begin(), pdf.end(), pageRe), std::sregex_iterator()), 1);
    std::smatch box;
    ASSERT_TRUE(std::regex_search(pdf, box, std::regex(R"(/MediaBox\s*\[\s*0\s+0\s+([0-9.]+)\s+([0-9.]+)\s*\])")));
    EXPECT_NEAR(std::stod(box[1]), 100 / 25.4 * 72, 0.6);
    EXPECT_NEAR(std::stod(box[2]), 50 / 25.4 * 72, 0.6);

    // PNG: the size in pixels at the resolution, read from the IHDR chunk.
    ASSERT_EQ(Run({"steps=40", "-o", Folder + "loop.dat", "--plot", Folder + "loop.png", "--dpi", "120"}), kExitOk);
    const std::string png = ReadWholeFile(Folder + "loop.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    auto bigEndian = [&png](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            value = value << 8 | static_cast<unsigned char>(png[at + i]);
        }
        return value;
    };
    EXPECT_EQ(bigEndian(16), 402u); // 8.5 cm at 120 dpi
    EXPECT_EQ(bigEndian(20), 307u); // 6.5 cm
}

TEST_F(FigureOutput, BadOutputOptionsAreRefusedBeforeTheSweep) {
    const std::vector<std::string> bad[] = {{"--format", "xls"},
                                            {"--plot", Folder + "loop.gif"},
                                            {"--dpi", "0"},
                                            {"--plot-size", "8.5"},
                                            {"--font-size", "x"},
                                            {"--read", Folder + "x.dat", "--plot", Folder + "loop.png"},
                                            {"--residuals", "--plot", Folder + "loop.png"}};
    for (const auto& args : bad) {
        SCOPED_TRACE(args[0]);
        std::string out;
        EXPECT_EQ(Run(args, &out), kExitBadInput);
        EXPECT_NE(Err, "");
        EXPECT_EQ(out, "");
    }
    // A figure that cannot be written is found before the sweep.
    std::string out;
    EXPECT_EQ(Run({"--plot", Folder + "missing/loop.png", "-o", Folder + "loop.dat"}, &out), kExitFileError);
    EXPECT_NE(Err, "");
    EXPECT_TRUE(std::filesystem::is_empty(Folder));
}

TEST_F(FigureOutput, ComparedPointsInModelUnitsInTheTableAndTheFigure) {
    // The measured curve is the sweep's own loop as a moment in emu on an offset: brought back
    // into tesla it lies on the simulated rows, with residuals of zero.
    std::string simulated;
    ASSERT_EQ(Run({"steps=40", "start=-20", "--reverse", "--format", "csv"}, &simulated), kExitOk);
    std::istringstream rows(simulated);
    std::string line;
    std::getline(rows, line);
    std::vector<std::pair<double, double>> loop;
    std::string measured;
    while (std::getline(rows, line)) {
        std::istringstream cells(line);
        std::string branch, field, moment;
        std::getline(cells, branch, ',');
        std::getline(cells, field, ',');
        std::getline(cells, moment, ',');
        loop.emplace_back(std::stod(field), std::stod(moment));
        char text[80];
        std::snprintf(text, sizeof text, "%.17g %.17g\n", loop.back().first, 2.5e-4 * loop.back().second + 3e-6);
        measured += text;
    }
    ASSERT_EQ(loop.size(), 80u);
    WriteFileSafely(Folder + "measured.dat", measured);

    std::string table;
    ASSERT_EQ(Run({"steps=40", "start=-20", "--reverse", "--format", "csv", "--compare", Folder + "measured.dat",
                   "--background", "offset", "--plot", Folder + "loop.svg", "--residuals"},
                  &table),
              kExitOk)
        << Err;
    ASSERT_EQ(table.substr(0, simulated.size()), simulated);
    std::istringstream added(table.substr(simulated.size()));
    std::size_t row = 0;
    while (std::getline(added, line)) {
        SCOPED_TRACE(line);
        ASSERT_LT(row, loop.size());
        const std::regex measuredRow(R"(measured,([^,]+),([^,]+),,,,,,)");
        std::smatch cells;
        ASSERT_TRUE(std::regex_match(line, cells, measuredRow));
        EXPECT_EQ(std::stod(cells[1]), loop[row].first);
        EXPECT_NEAR(std::stod(cells[2]), loop[row].second, 1e-9);
        ++row;
    }
    EXPECT_EQ(row, loop.size());

    // A marker for each measured point, one for each residual and three in the legend.
    QXmlStreamReader svg(QByteArray::fromStdString(ReadWholeFile(Folder + "loop.svg")));
    std::size_t markers = 0;
    while (!svg.atEnd()) {
        if (svg.readNext() == QXmlStreamReader::StartElement && svg.name() == QStringLiteral("circle")) {
            ++markers;
        }
    }
    EXPECT_EQ(markers, 2 * loop.size() + 3);
}

} // namespace
} // namespace dravo2
