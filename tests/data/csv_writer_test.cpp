#include "data/csv_writer.h"
#include "data/field_branches.h"

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

TEST(FieldBranches, SplitAtDirectionFlipsWithTheTurningRowInBoth) {
    // Up, a plateau that stays in the branch, down, up again.
    const double field[] = {1, 2, 2, 3, 2, 1, 1, 4};
    const std::vector<FieldBranch> branches = SplitFieldBranches(field, 8);
    ASSERT_EQ(branches.size(), 3u);
    EXPECT_EQ(branches[0].First, 1);
    EXPECT_EQ(branches[0].Last, 4);
    EXPECT_FALSE(branches[0].Downward);
    EXPECT_EQ(branches[1].First, 4);
    EXPECT_EQ(branches[1].Last, 7);
    EXPECT_TRUE(branches[1].Downward);
    EXPECT_EQ(branches[2].First, 7);
    EXPECT_EQ(branches[2].Last, 8);
    EXPECT_EQ(BranchNumbers(branches, 8), (std::vector<std::int32_t>{1, 1, 1, 1, 2, 2, 2, 3}));

    EXPECT_TRUE(SplitFieldBranches(field, 0).empty());
    const double flat[] = {5, 5, 5};
    ASSERT_EQ(SplitFieldBranches(flat, 3).size(), 1u);
    EXPECT_EQ(SplitFieldBranches(flat, 3)[0].Last, 3);
    const double down[] = {0, 0, -1, -2};
    ASSERT_EQ(SplitFieldBranches(down, 4).size(), 1u);
    EXPECT_TRUE(SplitFieldBranches(down, 4)[0].Downward);
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

    const std::vector<std::string> lines = Lines(CsvTableText(*simulation, {true, true, false, true}));
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
