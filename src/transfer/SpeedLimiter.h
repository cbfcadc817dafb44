#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

// Holds a receive path to a rate in bytes per second that another thread may change at any time
// (0: none). The bytes taken since the limit last changed are paced so that their average rate
// stays at the limit. Falling more than a second behind it (a slower server, a stall) starts the
// count afresh, so that the shortfall never comes through as a burst. One limiter serves every
// connection of a download that takes its bytes on one thread.
class SpeedLimiter {
public:
    using Clock = std::chrono::steady_clock;
    using SharedLimit = std::shared_ptr<const std::atomic<std::int64_t>>;
    // How the limiter tells the time and waits; tests put in a clock of their own.
    struct Timing {
        std::function<Clock::time_point()> now;
        std::function<void(Clock::duration)> sleep;
    };
    // The longest single wait: a pause must take effect within about a second.
    static constexpr Clock::duration LongestStep = std::chrono::milliseconds(100);

    // No limit (null) holds nothing back.
    explicit SpeedLimiter(SharedLimit limit);
    SpeedLimiter(SharedLimit limit, Timing timing);

    // The limit in force; 0 for none.
    std::int64_t Limit() const;
    // Counts bytes just taken, then waits while they put the rate above the limit: in steps of
    // at most LongestStep, until stopWanted answers true or the limit changes.
    void Wait(std::int64_t bytes, const std::function<bool()>& stopWanted);

private:
    void Restart(std::int64_t limit, Clock::time_point now);
    // When the bytes counted since the restart are due at the limit.
    Clock::time_point Due() const;

    SharedLimit limit_;
    Timing timing_;
    std::int64_t pacedLimit_ = 0;
    Clock::time_point since_{};
    std::int64_t bytesSince_ = 0;
};
