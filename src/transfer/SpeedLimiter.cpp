#include "SpeedLimiter.h"

#include <algorithm>
#include <thread>

namespace {

constexpr SpeedLimiter::Clock::duration LongestLag = std::chrono::seconds(1);

} // namespace

SpeedLimiter::SpeedLimiter(SharedLimit limit)
    : SpeedLimiter(std::move(limit),
                   {[] { return Clock::now(); },
                    [](Clock::duration length) { std::this_thread::sleep_for(length); }}) {}

SpeedLimiter::SpeedLimiter(SharedLimit limit, Timing timing)
    : limit_(std::move(limit)), timing_(std::move(timing)) {}

std::int64_t SpeedLimiter::Limit() const {
    return limit_ ? std::max<std::int64_t>(limit_->load(std::memory_order_relaxed), 0) : 0;
}

void SpeedLimiter::Wait(std::int64_t bytes, const std::function<bool()>& stopWanted) {
    const std::int64_t limit = Limit();
    if (limit == 0 && pacedLimit_ == 0) {
        return; // called for every read: no clock while nothing is limited
    }
    const Clock::time_point now = timing_.now();
    if (limit != pacedLimit_) {
        Restart(limit, now);
    }
    if (limit == 0) {
        return;
    }
    if (now - Due() > LongestLag) {
        Restart(limit, now);
    }
    bytesSince_ += bytes;
    for (Clock::time_point at = now; at < Due() && Limit() == limit && !stopWanted();
         at = timing_.now()) {
        timing_.sleep(std::min(Due() - at, LongestStep));
    }
}

void SpeedLimiter::Restart(std::int64_t limit, Clock::time_point now) {
    pacedLimit_ = limit;
    since_ = now;
    bytesSince_ = 0;
}

SpeedLimiter::Clock::time_point SpeedLimiter::Due() const {
    const std::chrono::duration<double> elapsed(static_cast<double>(bytesSince_) /
                                                static_cast<double>(pacedLimit_));
    return since_ + std::chrono::duration_cast<Clock::duration>(elapsed);
}
