#pragma once

#include <array>
#include <chrono>
#include <cstdint>

// Bytes per second over the last few seconds, from the bytes counted as they arrive. Cheap
// enough to count every read.
class SpeedMeter {
public:
    using Clock = std::chrono::steady_clock;

    void Add(std::int64_t bytes, Clock::time_point now);
    std::int64_t BytesPerSecond(Clock::time_point now);

private:
    static constexpr Clock::duration SlotLength = std::chrono::milliseconds(250);
    static constexpr std::size_t SlotCount = 12; // three seconds

    // Moves to the slot of now, emptying the slots skipped on the way.
    void Advance(Clock::time_point now);

    std::array<std::int64_t, SlotCount> slots_{};
    bool started_ = false;
    Clock::time_point start_;
    std::int64_t currentSlot_ = 0; // counted from start_
};
