#include "fit/worker_crew.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace dravo2::fit {
namespace {

// Every round runs each index exactly once and is over when Run returns; a task's exception
// reaches the caller and the crew keeps working after it.
TEST(WorkerCrew, RunsEachIndexOncePerRoundAndPassesOnErrors) {
    WorkerCrew crew(3);
    std::vector<int> counts(4, 0);
    for (int round = 1; round <= 500; ++round) {
        crew.Run([&](std::size_t k) { ++counts[k]; });
        for (std::size_t k = 0; k < counts.size(); ++k) {
            ASSERT_EQ(counts[k], round) << "index " << k;
        }
    }
    EXPECT_THROW(crew.Run([](std::size_t k) {
        if (k == 2) {
            throw std::runtime_error("data set 3");
        }
    }),
                 std::runtime_error);
    std::atomic<int> after{0};
    crew.Run([&](std::size_t /*k*/) { ++after; });
    EXPECT_EQ(after.load(), 4);
}

} // namespace
} // namespace dravo2::fit
