#include "cli/command_outcome.h"
#include "data/file_io.h"
#include "engine/resonance_modes.h"
#include "support/temp_folder.h"

#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <sstream>

namespace dravo2 {
namespace {

using testing::Outcome;
using testing::RunCommand;

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) {
        parts.push_back(part);
    }
    if (!text.empty() && text.back() == separator) {
        parts.emplace_back();
    }
    return parts;
}

TEST(ResonanceOutput, ModeColumnsAreAppendedToTheCsvTableWithEmptyCellsWhereAModeIsMissing) {
    const std::vector<std::string> sweep{"steps=60", "start=-30", "solver=newton", "--format", "csv"};
    const Outcome plain = RunCommand(sweep);
    std::vector<std::string> withModes = sweep;
    withModes.push_back("--modes");
    const Outcome modes = RunCommand(withModes);
    ASSERT_EQ(modes.status, kExitOk) << modes.err;
    const std::vector<std::string> plainLines = Split(plain.out, '\n');
    const std::vector<std::string> modeLines = Split(modes.out, '\n');
    ASSERT_EQ(modeLines.size(), plainLines.size());
    EXPECT_EQ(modeLines[0], plainLines[0] + ",f1 (Hz),f2 (Hz),f3 (Hz),f4 (Hz)");
    for (std::size_t row = 1; row + 1 < modeLines.size(); ++row) {
        SCOPED_TRACE(row);
        ASSERT_EQ(modeLines[row].substr(0, plainLines[row].size() + 1), plainLines[row] + ",");
        const std::vector<std::string> cells = Split(modeLines[row].substr(plainLines[row].size() + 1), ',');
        ASSERT_EQ(cells.size(), 4U);
        double previous = 0;
        for (const std::string& cell : cells) { // the default stack: four stable modes, ascending
            const double f = std::stod(cell);
            EXPECT_GE(f, previous);
            previous = f;
        }
    }

    // One layer: one mode, three empty cells; the frequency in proportion to gamma.
    const std::vector<std::string> single{"steps=5",       "t2=0",     "t3=0", "t4=0",
                                          "solver=newton", "--format", "csv",  "--modes"};
    const std::vector<std::string> lines = Split(RunCommand(single).out, '\n');
    std::vector<std::string> doubled = single;
    doubled.push_back("gamma=3.52e11");
    const std::vector<std::string> doubledLines = Split(RunCommand(doubled).out, '\n');
    ASSERT_EQ(lines.size(), 7U);
    ASSERT_EQ(doubledLines.size(), 7U);
    const std::vector<std::string> cells = Split(lines[3], ',');
    ASSERT_EQ(cells.size(), 13U);
    EXPECT_EQ(lines[3].substr(lines[3].size() - 3), ",,,");
    EXPECT_NEAR(std::stod(Split(doubledLines[3], ',')[9]), 2 * std::stod(cells[9]), 1e-12 * std::stod(cells[9]));
}

TEST(ResonanceOutput, FieldsOfASingleLayerAtFixedFrequencyAreKittelInverted) {
    // Saturated along its easy axis down to the field's reversal near zero, and along the reversed
    // axis after it: both sides resonate where (B + Bk)(B + Bk + M) = (2 pi f / gamma)^2.
    for (const auto& [text, frequency] : {std::pair{"9.8GHz", 9.8e9}, std::pair{"14000 MHz", 14e9}}) {
        SCOPED_TRACE(text);
        const Outcome outcome = RunCommand(
            {"t2=0", "t3=0", "t4=0", "start=250", "step=-1", "steps=500", "solver=newton", "--resonance-fields", text});
        ASSERT_EQ(outcome.status, kExitOk) << outcome.err;
        const std::vector<std::string> lines = Split(outcome.err, '\n');
        ASSERT_EQ(lines.size(), 5U) << outcome.err;
        EXPECT_EQ(lines[1], "branch,mode,H (A/m)");
        const double m = 1.5;
        const double bk = 2 * 100 * kVacuumPermeability / m;
        const double w = 2 * std::numbers::pi * frequency / 1.76e11;
        const double kittel = (-m / 2 + std::sqrt(m * m / 4 + w * w) - bk) / kVacuumPermeability;
        for (std::size_t k = 0; k < 2; ++k) {
            const std::vector<std::string> cells = Split(lines[2 + k], ',');
            ASSERT_EQ(cells.size(), 3U);
            EXPECT_EQ(cells[0], "1");
            EXPECT_EQ(cells[1], "1");
            // Down the branch: +H first. Linear interpolation over steps of 1 kA/m.
            EXPECT_NEAR(std::stod(cells[2]), k == 0 ? kittel : -kittel, 1e-4 * kittel);
        }
    }
    const Outcome none = RunCommand({"steps=3", "--resonance-fields", "1000GHz"});
    EXPECT_EQ(none.err, "Resonance fields at 1e+12 Hz: none\n");
}

TEST(ResonanceOutput, ModesFigureDrawsEveryModeOfEveryBranch) {
    const testing::TempFolder folder;
    const Outcome outcome = RunCommand({"steps=40", "start=-20", "t3=0", "t4=0", "solver=newton", "--reverse",
                                        "mode=modes", "-o", folder / "loop.dat", "--plot", folder / "modes.svg"});
    ASSERT_EQ(outcome.status, kExitOk) << outcome.err;
    QXmlStreamReader svg(QByteArray::fromStdString(ReadWholeFile(folder / "modes.svg")));
    std::size_t lines = 0;
    while (!svg.atEnd()) {
        if (svg.readNext() == QXmlStreamReader::StartElement &&
            (svg.name() == QStringLiteral("polyline") || svg.name() == QStringLiteral("path"))) {
            const QString points = svg.attributes().value(QStringLiteral("points")).toString().trimmed();
            lines += points.split(QLatin1Char(' '), Qt::SkipEmptyParts).size() > 2 ? 1 : 0;
        }
    }
    EXPECT_FALSE(svg.hasError());
    EXPECT_EQ(lines, 4U) << "two modes of two layers on each of two branches";
}

TEST(ResonanceOutput, BadArgumentsAreRefusedBeforeTheSweep) {
    const std::vector<std::string> bad[] = {
        {"--modes"}, {"--resonance-fields", "9.8THz"}, {"--resonance-fields", "-1GHz"}, {"gamma=0"}, {"gamma=x"}};
    for (const auto& args : bad) {
        SCOPED_TRACE(args.back());
        const Outcome outcome = RunCommand(args);
        EXPECT_EQ(outcome.status, kExitBadInput);
        EXPECT_NE(outcome.err, "");
        EXPECT_EQ(outcome.out, "");
    }
}

} // namespace
} // namespace dravo2
