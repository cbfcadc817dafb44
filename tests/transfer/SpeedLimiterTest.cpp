#include "SpeedLimiter.h"

#include <gtest/gtest.h>

#include <vector>

using namespace std::chrono_literals;

TEST(SpeedLimiterTest, PacesInShortWaitsAndNeverMakesUpAShortfallInABurst) {
    SpeedLimiter::Clock::time_point now{};
    std::vector<std::int64_t> waits; // milliseconds
    SpeedLimiter limiter(std::make_shared<std::atomic<std::int64_t>>(1000),
                         {[&] { return now; },
                          [&](auto length) {
                              waits.push_back(length / 1ms);
                              now += length;
                          }});
    limiter.Wait(250, [] { return false; });
    now += 2s;
    limiter.Wait(100, [] { return false; });
    EXPECT_EQ(waits, (std::vector<std::int64_t>{100, 100, 50, 100}));
}
