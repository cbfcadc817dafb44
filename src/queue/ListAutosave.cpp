#include "ListAutosave.h"

#include "DownloadList.h"

#include <utility>

ListAutosave::ListAutosave(DownloadList& list, std::function<void()> save)
    : save_(std::move(save)) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { save_(); });
    const auto changed = [this] { Schedule(ChangeDelay); };
    connect(&list, &QAbstractItemModel::rowsInserted, this, changed);
    connect(&list, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(&list, &QAbstractItemModel::modelReset, this, changed);
    connect(&list, &DownloadList::rowChanged, this, changed);
    connect(&list, &DownloadList::progressChanged, this, [this] { Schedule(ProgressDelay); });
}

void ListAutosave::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (!enabled) {
        timer_.stop();
    }
}

void ListAutosave::Schedule(std::chrono::milliseconds delay) {
    if (!enabled_ || quiet_ > 0) {
        return;
    }
    // A save due sooner stays as it is.
    if (timer_.isActive() && timer_.remainingTime() <= delay.count()) {
        return;
    }
    timer_.start(delay);
}
