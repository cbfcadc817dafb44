#include "ListAutosave.h"

#include <QAbstractItemModel>

#include <utility>

ListAutosave::ListAutosave(QAbstractItemModel& model, int progressColumn,
                           std::function<void()> save)
    : save_(std::move(save)) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { save_(); });
    const auto changed = [this] { Schedule(ChangeDelay); };
    connect(&model, &QAbstractItemModel::rowsInserted, this, changed);
    connect(&model, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(&model, &QAbstractItemModel::modelReset, this, changed);
    connect(&model, &QAbstractItemModel::dataChanged, this,
            [this, progressColumn](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                const bool progressOnly =
                    topLeft.column() == progressColumn && bottomRight.column() == progressColumn;
                Schedule(progressOnly ? ProgressDelay : ChangeDelay);
            });
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
