#include "StatusPanelFeed.h"

#include "CStatusPanel.h"
#include "DownloadQueue.h"
#include "ListSelection.h"

#include <QItemSelectionModel>

StatusPanelFeed::StatusPanelFeed(CStatusPanel& panel, DownloadQueue& queue,
                                 const ListSelection& selection, QObject* parent)
    : QObject(parent), panel_(panel), queue_(queue), selection_(selection) {
    timer_.setSingleShot(true);
    timer_.setInterval(0);
    connect(&timer_, &QTimer::timeout, this, &StatusPanelFeed::Show);
    connect(&queue_, &DownloadQueue::activityChanged, this, &StatusPanelFeed::ShowSoon);
    connect(selection_.Model(), &QItemSelectionModel::selectionChanged, this, [this] {
        notice_.clear();
        ShowSoon();
    });
    // A percentage alone changes nothing the panel says.
    connect(&queue_, &DownloadList::rowChanged, this, &StatusPanelFeed::ShowSoon);
    connect(&queue_, &QAbstractItemModel::rowsRemoved, this, &StatusPanelFeed::ShowSoon);
    connect(&queue_, &QAbstractItemModel::modelReset, this, &StatusPanelFeed::ShowSoon);
}

void StatusPanelFeed::ShowNotice(const QString& notice) {
    notice_ = notice;
    Show();
}

void StatusPanelFeed::ShowSoon() {
    if (!timer_.isActive()) {
        timer_.start();
    }
}

void StatusPanelFeed::Show() {
    const std::vector<int> selected = selection_.Rows();
    const int row = selected.size() == 1 ? selected.front() : queue_.ActiveRow();
    if (!notice_.isEmpty()) {
        panel_.SetText(notice_);
    } else {
        panel_.SetText(row >= 0 && row < queue_.Count()
                           ? QString::fromStdString(queue_.StatusText(row))
                           : QString());
    }
    const auto& speeds = queue_.SpeedHistory();
    panel_.SetSpeeds(queue_.ActiveRow() >= 0
                         ? std::vector<std::int64_t>(speeds.begin(), speeds.end())
                         : std::vector<std::int64_t>());
}
