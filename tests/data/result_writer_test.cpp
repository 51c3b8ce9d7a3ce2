#include "data/result_writer.h"

#include <gtest/gtest.h>

#include <memory>

namespace dravo2 {
namespace {

TEST(ResultFileText, EightValuesWithFourSpacesAndCrLfPerRow) {
    auto simulation = std::make_unique<SimulationData>();
    EXPECT_EQ(ResultFileText(*simulation), "");
    simulation->SimRows = 2;
    simulation->SimTable.At(1, 1) = -250000;
    simulation->SimTable.At(2, 1) = 1.5;
    simulation->SimTable.At(8, 1) = -1;
    simulation->SimTable.At(1, 3) = 99; // beyond SimRows: not written
    const std::string text = ResultFileText(*simulation);
    ASSERT_EQ(text.size(), 2u * 218);
    EXPECT_EQ(text.substr(0, 54), "-2.50000000000000E+0005     1.50000000000000E+0000    ");
    EXPECT_EQ(text.substr(7 * 27, 29), "-1.00000000000000E+0000    \r\n");
    EXPECT_EQ(text.substr(218, 27), " 0.00000000000000E+0000    ");

    simulation->SimRows = 500;
    EXPECT_EQ(ResultFileText(*simulation).size(), 109000u);
}

} // namespace
} // namespace dravo2
