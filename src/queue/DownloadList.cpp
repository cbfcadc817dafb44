#include "DownloadList.h"

#include "DownloadListRoles.h"
#include "RowText.h"
#include "StatusText.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <utility>

DownloadList::DownloadList(QObject* parent) : QAbstractTableModel(parent) {}

void DownloadList::Append(DownloadItems items) {
    if (items.empty()) {
        return;
    }
    const int first = Count();
    const int last = first + static_cast<int>(items.size()) - 1;
    beginInsertRows(QModelIndex(), first, last);
    items_.reserve(items_.size() + items.size());
    std::move(items.begin(), items.end(), std::back_inserter(items_));
    endInsertRows();
    emit rowsToSelect(first, last);
}

void DownloadList::EraseRows(const std::vector<int>& rows) {
    // Contiguous runs, from the bottom up so that the lower indexes stay valid.
    std::vector<std::pair<int, int>> runs;
    for (const int row : rows) {
        if (!runs.empty() && runs.back().second + 1 == row) {
            runs.back().second = row;
        } else {
            runs.emplace_back(row, row);
        }
    }
    for (const int row : rows) {
        runs_.erase(items_[row].get());
    }
    constexpr std::size_t MaxSeparateRuns = 256;
    if (runs.size() <= MaxSeparateRuns) {
        for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
            beginRemoveRows(QModelIndex(), run->first, run->second);
            items_.erase(items_.begin() + run->first, items_.begin() + run->second + 1);
            endRemoveRows();
        }
        return;
    }
    // Each run would move the rest of the list; one reset is cheaper for scattered rows.
    beginResetModel();
    std::size_t kept = 0;
    auto next = rows.begin();
    for (std::size_t row = 0; row < items_.size(); ++row) {
        if (next != rows.end() && static_cast<std::size_t>(*next) == row) {
            ++next;
        } else {
            items_[kept++] = std::move(items_[row]);
        }
    }
    items_.resize(kept);
    endResetModel();
}

bool DownloadList::SetState(int row, DownloadState state) {
    DownloadItem& item = MutableItem(row);
    if (item.state == state) {
        return false;
    }
    item.state = state;
    RefreshRow(row);
    return true;
}

bool DownloadList::SetPercent(int row, int percent) {
    DownloadItem& item = MutableItem(row);
    if (item.percent == percent) {
        return false;
    }
    item.percent = percent;
    emit dataChanged(index(row, ProgressColumn), index(row, ProgressColumn));
    emit progressChanged(row);
    return true;
}

void DownloadList::SetFileName(int row, const std::string& name) {
    MutableItem(row).fileName = name;
    RefreshRow(row);
}

void DownloadList::SetTotalSize(int row, std::int64_t size) {
    MutableItem(row).totalSize = size;
    RefreshRow(row);
}

int DownloadList::RowOf(const DownloadItem& item, int hint) const {
    if (hint >= 0 && hint < Count() && items_[hint].get() == &item) {
        return hint;
    }
    const auto found = std::find_if(items_.begin(), items_.end(),
                                    [&item](const auto& held) { return held.get() == &item; });
    return found == items_.end() ? -1 : static_cast<int>(found - items_.begin());
}

void DownloadList::SetActivity(int row, const TransferActivity& activity) {
    runs_[items_.at(row).get()].activity = activity;
    emit activityChanged(row);
}

void DownloadList::SetEnd(int row, const TransferEnd& end) {
    runs_[items_.at(row).get()].end = end;
    emit activityChanged(row);
}

std::string DownloadList::StatusText(int row) const {
    const DownloadItem& item = *items_.at(row);
    const auto run = runs_.find(&item);
    return ::StatusText(item, run == runs_.end() ? nullptr : &run->second);
}

void DownloadList::ReadKeptFiles(int first) {
    for (int row = first; row < Count(); ++row) {
        const DownloadItem& item = *items_[row];
        if (item.state != DownloadState::Done && !item.tempPath.empty()) {
            std::error_code error;
            TransferEnd end;
            end.outcome = TransferOutcome::Paused;
            end.keptBytes =
                static_cast<std::int64_t>(std::filesystem::file_size(item.tempPath, error));
            end.keptBytes = error ? 0 : end.keptBytes;
            SetEnd(row, end);
            ShowKeptPercent(row, end.keptBytes);
        }
    }
}

void DownloadList::ShowKeptPercent(int row, std::int64_t keptBytes) {
    const DownloadItem& item = *items_.at(row);
    if (item.totalSize > 0 && !item.tempPath.empty()) {
        const double percent = static_cast<double>(keptBytes) * 100 / item.totalSize;
        SetPercent(row, static_cast<int>(std::clamp(percent, 0.0, 100.0)));
    }
}

void DownloadList::RefreshRow(int row) {
    emit dataChanged(index(row, 0), index(row, DownloadColumnCount - 1));
    emit rowChanged(row);
}

int DownloadList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int DownloadList::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : DownloadColumnCount;
}

QVariant DownloadList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count() || index.column() >= DownloadColumnCount) {
        return {};
    }
    const DownloadItem& item = *items_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(RowText(item, index.column()));
    case Qt::ForegroundRole:
    case Qt::BackgroundRole: {
        const std::optional<RowColors> colors = StateColors(item.state);
        if (!colors) {
            return {};
        }
        return role == Qt::ForegroundRole ? colors->text : colors->background;
    }
    case PercentRole:
        return index.column() == ProgressColumn ? QVariant(item.percent) : QVariant();
    case Qt::ToolTipRole:
        return QString::fromStdString(StatusText(index.row()));
    default:
        return {};
    }
}

QVariant DownloadList::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= DownloadColumnCount) {
        return {};
    }
    return QString::fromLatin1(ColumnHeader(section));
}
