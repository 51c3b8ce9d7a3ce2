#include "data/csv_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>

namespace dravo2 {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(CsvTable, HeaderBranchesEmptyCellsAndExactValues) {
    auto simulation = std::make_unique<SimulationData>();
    const double tricky[] = {0.1, -0.0, 5e-324, std::numeric_limits<double>::max(), 1.0 / 3, -1e-300, 123456789.0};
    simulation->SimRows = 3;
    for (std::int32_t row = 1; row <= 3; ++row) {
        for (std::int32_t column = 2; column <= 7; ++column) {
            simulation->SimTable.At(column, row) = tricky[(row + column) % 7];
        }
    }
    simulation->SimTable.At(1, 1) = -1000;
    simulation->SimTable.At(1, 2) = 0;
    simulation->SimTable.At(1, 3) = -1000;
    simulation->SimTable.At(8, 1) = -1; // no resonance
    simulation->SimTable.At(8, 2) = 2.5e9;
    simulation->SimTable.At(8, 3) = -1.5;

    const std::vector<std::string> lines = Lines(CsvTableText(*simulation, {true, true, false, true}, {1, 1, 2}));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "branch,H (A/m),M (T),theta1 (rad),theta2 (rad),theta3 (rad),theta4 (rad),dR,f (Hz)");
    EXPECT_EQ(lines[1].substr(0, 8), "1,-1000,");
    EXPECT_EQ(lines[2].substr(0, 4), "1,0,");
    EXPECT_EQ(lines[3].substr(0, 8), "2,-1000,");
    for (std::int32_t row = 1; row <= 3; ++row) {
        std::vector<std::string> cells;
        std::istringstream in(lines[static_cast<std::size_t>(row)]);
        for (std::string cell; std::getline(in, cell, ',');) {
            cells.push_back(cell);
        }
        if (lines[static_cast<std::size_t>(row)].back() == ',') {
            cells.emplace_back();
        }
        ASSERT_EQ(cells.size(), 9u);
        if (row == 1) {
            EXPECT_EQ(cells[6], "0.1") << "the shortest text that reads back";
            EXPECT_EQ(cells[7], "-0");
        }
        for (std::int32_t column = 1; column <= 8; ++column) {
            const std::string& cell = cells[static_cast<std::size_t>(column)];
            if (column == 5 || (column == 8 && row == 1)) {
                EXPECT_EQ(cell, "");
                continue;
            }
            EXPECT_EQ(cell.find(' '), std::string::npos);
            const double expected = simulation->SimTable.At(column, row);
            const double read = std::strtod(cell.c_str(), nullptr);
            EXPECT_EQ(std::memcmp(&read, &expected, sizeof read), 0) << cell;
        }
    }
}

} // namespace
} // namespace dravo2
