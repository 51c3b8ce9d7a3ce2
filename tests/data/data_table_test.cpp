#include "data/data_table.h"

#include <gtest/gtest.h>

#include <memory>

namespace dravo2 {
namespace {

TEST(DataTable, ColumnsAreContiguousRunsCountedFromOne) {
    auto table = std::make_unique<DataTable>();
    table->At(3, 1) = 1.5;
    table->At(3, 2) = 2.5;
    table->At(3, MaxRows) = 9;
    table->At(4, 1) = 7;
    const double* column = table->Column(3);
    EXPECT_EQ(column[0], 1.5);
    EXPECT_EQ(column[1], 2.5);
    EXPECT_EQ(column[MaxRows - 1], 9);
    EXPECT_EQ(column + MaxRows, table->Column(4));
    EXPECT_EQ(table->At(MaxCols, MaxRows), 0.0);
}

TEST(DataTable, ClearingZeroesEveryCellAndTheCounts) {
    auto experiment = std::make_unique<ExperimentData>();
    auto simulation = std::make_unique<SimulationData>();
    for (std::int32_t c = 1; c <= MaxCols; ++c) {
        experiment->ExpTable.At(c, MaxRows) = c;
        simulation->SimTable.At(c, 1) = -c;
    }
    experiment->ExpRows = MaxRows;
    experiment->ExpCols = MaxCols;
    simulation->SimRows = 17;
    experiment->ClearExpTable();
    simulation->ClearSimTable();
    EXPECT_EQ(experiment->ExpRows, 0);
    EXPECT_EQ(experiment->ExpCols, 0);
    EXPECT_EQ(simulation->SimRows, 0);
    for (std::int32_t c = 1; c <= MaxCols; ++c) {
        EXPECT_EQ(experiment->ExpTable.At(c, MaxRows), 0.0);
        EXPECT_EQ(simulation->SimTable.At(c, 1), 0.0);
    }
}

} // namespace
} // namespace dravo2
