// The one helper-thread type the hand-overs share.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

#include "platform/helper_thread.h"

namespace mc {
namespace {

// Jobs run in the order given, one at a time, and all have run once the helper is idle or
// stopped; a stopped helper starts again with the next job.
TEST(HelperThread, RunsJobsInOrderAndWaitsForThem) {
    for (size_t maxWaiting : {size_t(1), size_t(3)}) {
        HelperThread helper(maxWaiting);
        EXPECT_FALSE(helper.started());
        std::vector<int> ran;  // written by the helper only, read after it is idle
        std::atomic<int> running{0}, most{0};
        for (int round = 0; round < 3; ++round) {
            for (int k = 0; k < 50; ++k) {
                helper.handOver([&, k] {
                    most = std::max(most.load(), ++running);
                    std::this_thread::sleep_for(std::chrono::microseconds(k % 7 * 20));
                    ran.push_back(k);
                    --running;
                });
            }
            if (round == 1) {
                helper.stop();
                EXPECT_FALSE(helper.started());
            } else {
                helper.waitUntilIdle();
            }
            ASSERT_EQ(ran.size(), 50u) << maxWaiting;
            for (int k = 0; k < 50; ++k) EXPECT_EQ(ran[size_t(k)], k);
            ran.clear();
        }
        EXPECT_EQ(most.load(), 1);
    }
}

}  // namespace
}  // namespace mc
