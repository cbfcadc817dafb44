#include "TransferProgress.h"

#include <algorithm>
#include <cmath>
#include <utility>

TransferProgress::TransferProgress(TransferControl& control, SpeedMeter& meter,
                                   SpeedLimiter::SharedLimit limit)
    : control_(control), meter_(meter), limiter_(std::move(limit)) {}

void TransferProgress::SetConnections(int connections) {
    const bool changed = connections != connections_;
    connections_ = connections;
    if (changed) {
        ReportActivity(true);
    }
}

void TransferProgress::Take(std::int64_t bytes) {
    received_ += bytes;
    meter_.Add(bytes, std::chrono::steady_clock::now());
    ReportActivity(false);
    ReportPercent();
    limiter_.Wait(bytes, [this] { return control_.IsStopWanted(); });
}

TransferActivity TransferProgress::Activity() {
    TransferActivity activity;
    activity.received = received_;
    activity.total = total_;
    activity.bytesPerSecond = meter_.BytesPerSecond(std::chrono::steady_clock::now());
    activity.connections = connections_;
    activity.speedLimit = limiter_.Limit();
    return activity;
}

void TransferProgress::ReportActivity(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (force || now - lastActivityReport_ >= std::chrono::milliseconds(500)) {
        lastActivityReport_ = now;
        control_.ReportToOwner(
            [activity = Activity()](TransferOwner& owner) { owner.SetActivity(activity); });
    }
}

void TransferProgress::ReportPercent() {
    if (total_ == 0) {
        return;
    }
    double percent = static_cast<double>(received_) * 100.0 / static_cast<double>(total_);
    if (std::isnan(percent) || percent < 0) {
        percent = 0;
    }
    const int whole = static_cast<int>(std::min(percent, 100.0));
    control_.ReportToOwner([whole](TransferOwner& owner) { owner.SetProgress(whole); });
}
