#include "data/errors.h"
#include "scan/scan_grid.h"
#include "scan/scan_table.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace dravo2 {
namespace {

TEST(ScanGrid, PointsInGridOrderWithTheLastAxisFastest) {
    ScanGrid grid;
    grid.Axes = {ParseAxis("J1=-1:1:3"), ParseAxis("K1=5:5:1"), ParseAxis("t2=0:0.3:4")};
    ASSERT_EQ(grid.Size(), 12u);
    EXPECT_EQ(grid.Point(0), (std::vector<double>{-1, 5, 0}));
    EXPECT_EQ(grid.Point(3), (std::vector<double>{-1, 5, 0.3}));
    EXPECT_EQ(grid.Point(4), (std::vector<double>{0, 5, 0}));
    EXPECT_EQ(grid.Point(11), (std::vector<double>{1, 5, 0.3}));
    EXPECT_EQ(grid.Axes[2].Text(), "t2=0:0.3:4");
    for (const char* bad : {"J1=1:2", "J1=a:2:3", "J1=1:2:0", "J1=1:2:3:4", "=1:2:3"}) {
        EXPECT_THROW(ParseAxis(bad), ProgramError) << bad;
    }
    EXPECT_EQ(ParseShard("3/4").Points(14), (std::vector<std::size_t>{3, 7, 11}));
    EXPECT_THROW(ParseShard("4/4"), ProgramError);
}

TEST(ScanMap, FeatureOverTheFirstTwoParametersInGridOrder) {
    const std::string table = "# dravo2-scan shard 0/1, 6 points: ...\n"
                              "J1,K1,Hc_down (A/m),Hc_up (A/m),H_eb (A/m),Hc (A/m),Mr_down,Mr_up,H_sat (A/m),jumps,"
                              "misfit,iterations\n"
                              "-1,0,,,,1,,,,0,,5\n-1,10,,,,2,,,,0,,5\n-1,20,,,,,,,,0,,5\n"
                              "1,0,,,,4,,,,0,,5\n1,10,,,,5,,,,0,,5\n1,20,,,,6,,,,0,,5\n";
    const ScanMap map = BuildScanMap(table, "Hc");
    EXPECT_EQ(map.AxisNames, (std::vector<std::string>{"J1", "K1"}));
    EXPECT_EQ(map.AxisValues, (std::vector<std::vector<double>>{{-1, 1}, {0, 10, 20}}));
    EXPECT_EQ(map.FeatureTitle, "Hc (A/m)");
    EXPECT_EQ(map.Values, (std::vector<std::optional<double>>{1, 2, std::nullopt, 4, 5, 6}));
    EXPECT_THROW(BuildScanMap(table, "Hx"), ProgramError);
}

// Grids and shard headers beyond the point limit are refused before anything is allocated for them.
TEST(ScanGrid, PointCountsAreBoundedBeforeAnyAllocation) {
    EXPECT_EQ(ParseAxis("J1=0:1:10000000").Count, kMaxScanPoints);
    for (const char* text : {"J1=0:1:10000001", "J1=0:1:18446744073709551616", "J1=-1e308:1e308:3"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(ParseAxis(text), ProgramError);
    }
    EXPECT_EQ((ScanGrid{{ParseAxis("J1=0:1:1000"), ParseAxis("K1=0:1:10000")}}.Size()), kMaxScanPoints);
    EXPECT_THROW((ScanGrid{{ParseAxis("J1=0:1:5000"), ParseAxis("K1=0:1:5000")}}.Size()), ProgramError);
    for (const std::size_t grid : {0u, 1u, 13u, 14u, 15u}) {
        for (const char* part : {"0/1", "0/4", "3/4", "5/7"}) {
            EXPECT_EQ(ParseShard(part).PointCount(grid), ParseShard(part).Points(grid).size()) << part << " " << grid;
        }
    }
    const std::string claim = "# dravo2-scan shard 0/2, 100000000000 points: J1=0:1:3 --solver newton\nJ1,Hc\n";
    try {
        MergeShards({{"s0.csv", claim}});
        ADD_FAILURE() << "a shard claiming 1e11 points was merged";
    } catch (const ScanMergeError& error) {
        EXPECT_NE(std::string(error.what()).find("more than the 10000000 a scan computes"), std::string::npos);
    }
}

} // namespace
} // namespace dravo2
