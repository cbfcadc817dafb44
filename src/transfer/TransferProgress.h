#pragma once

#include "SpeedLimiter.h"
#include "SpeedMeter.h"
#include "TransferActivity.h"
#include "TransferControl.h"

#include <chrono>
#include <cstdint>

// What one attempt has of its file, told to the owner: the bytes in it and the whole size, the
// speed over all connections and the limit it is held to (at most twice a second unless forced),
// and the percentage after every read while the size is known.
class TransferProgress {
public:
    TransferProgress(TransferControl& control, SpeedMeter& meter, SpeedLimiter::SharedLimit limit);

    std::int64_t Received() const { return received_; }
    std::int64_t Total() const { return total_; }
    void SetReceived(std::int64_t received) { received_ = received; }
    void SetTotal(std::int64_t total) { total_ = total; }
    // Shown at once when it changes.
    void SetConnections(int connections);

    // Counts bytes just taken into the file and tells the owner, then waits while they put the
    // rate above the limit (a pause ends the wait).
    void Take(std::int64_t bytes);
    TransferActivity Activity();
    void ReportActivity(bool force);

private:
    void ReportPercent();

    TransferControl& control_;
    SpeedMeter& meter_;
    SpeedLimiter limiter_;
    std::int64_t received_ = 0;
    std::int64_t total_ = 0;
    int connections_ = 1;
    std::chrono::steady_clock::time_point lastActivityReport_;
};
