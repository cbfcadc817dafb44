#include "SpeedLimiter.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace std::chrono_literals;

TEST(SpeedLimiterTest, PacesBytesInShortWaitsThatAStopOrAChangeEnds) {
    const auto limit = std::make_shared<std::atomic<std::int64_t>>(1000);
    SpeedLimiter::Clock::time_point now{};
    std::vector<std::int64_t> waits; // milliseconds
    SpeedLimiter limiter(limit, {[&] { return now; },
                                 [&](SpeedLimiter::Clock::duration length) {
                                     waits.push_back(length / 1ms);
                                     now += length;
                                 }});
    const auto never = [] { return false; };
    limiter.Wait(250, never);
    now += 2s; // fell behind: the shortfall is not made up in a burst
    limiter.Wait(100, never);
    limit->store(0);
    limiter.Wait(1000000, never);
    limit->store(2000);
    int stopPolls = 0;
    limiter.Wait(1000, [&] { return ++stopPolls == 2; });
    EXPECT_EQ(waits, (std::vector<std::int64_t>{100, 100, 50, 100, 100}));
}

} // namespace
