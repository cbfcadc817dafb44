#include "SpeedMeter.h"

#include <algorithm>
#include <numeric>

void SpeedMeter::Advance(Clock::time_point now) {
    if (!started_) {
        started_ = true;
        start_ = now;
    }
    const std::int64_t slot = std::max<std::int64_t>(0, (now - start_) / SlotLength);
    for (std::int64_t skipped = currentSlot_ + 1;
         skipped <= slot && skipped <= currentSlot_ + static_cast<std::int64_t>(SlotCount);
         ++skipped) {
        slots_[static_cast<std::size_t>(skipped) % SlotCount] = 0;
    }
    currentSlot_ = std::max(currentSlot_, slot);
}

void SpeedMeter::Add(std::int64_t bytes, Clock::time_point now) {
    Advance(now);
    slots_[static_cast<std::size_t>(currentSlot_) % SlotCount] += bytes;
}

std::int64_t SpeedMeter::BytesPerSecond(Clock::time_point now) {
    if (!started_) {
        return 0;
    }
    Advance(now);
    // A young meter divides by the time it has measured, not by the whole window.
    const auto measured = std::clamp<Clock::duration>(now - start_, SlotLength,
                                                      SlotLength * static_cast<int>(SlotCount));
    const std::int64_t bytes = std::accumulate(slots_.begin(), slots_.end(), std::int64_t{0});
    return bytes * 1000 / std::chrono::duration_cast<std::chrono::milliseconds>(measured).count();
}
