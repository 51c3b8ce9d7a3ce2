#include "cli/cli_common.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace dravo2 {
namespace {

// The bar the three commands draw: its cells never exceed the width, a count beyond the total
// (a search that ran over its budget) shows a full bar with the count itself, and an empty total
// (a shard without points) is a finished bar.
TEST(ProgressBar, FillsInProportionWithinItsWidth) {
    struct Case {
        std::int64_t done;
        std::int64_t total;
        int width;
        const char* drawn;
    };
    const Case cases[] = {
        {0, 4, 4, "\rrun [    ] 0/4 tail"},        {3, 4, 4, "\rrun [### ] 3/4 tail"},
        {9, 4, 4, "\rrun [####] 9/4 tail"},        {0, 0, 4, "\rrun [####] 0/0 tail"},
        {1, 3, 10, "\rrun [###       ] 1/3 tail"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.drawn);
        std::ostringstream err;
        DrawProgressBar(err, "run", c.done, c.total, c.width, " tail");
        EXPECT_EQ(err.str(), c.drawn);
    }
}

} // namespace
} // namespace dravo2
