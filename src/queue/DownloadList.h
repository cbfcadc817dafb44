#pragma once

#include "DownloadItem.h"
#include "ItemRun.h"
#include "ListFile.h"

#include <QAbstractTableModel>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// The download items as the list's model: row i is item i. DisplayRole gives the cell texts,
// ForegroundRole and BackgroundRole the state's colours (nothing for plain rows), PercentRole (on
// the "Progress" column) the raw percentage, ToolTipRole the row's StatusText. Items are only
// appended at the end; rows are removed anywhere.
class DownloadList : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit DownloadList(QObject* parent = nullptr);

    int Count() const { return static_cast<int>(items_.size()); }
    // Bounds-checked; throws std::out_of_range outside 0..Count()-1.
    const DownloadItem& Item(int index) const { return *items_.at(index); }
    // The item's row, looked up from hint first; -1 when the item is not in the list.
    int RowOf(const DownloadItem& item, int hint) const;
    // What the status panel and the tooltip say of a row (see StatusText.h).
    std::string StatusText(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

signals:
    // Rows first..last were just appended; the view selects them, keeping other selections.
    void rowsToSelect(int first, int last);
    // A row changed its state, name or size (rowChanged), or only its percentage
    // (progressChanged); each also comes with the model's dataChanged.
    void rowChanged(int row);
    void progressChanged(int row);
    // A row's transfer reported its bytes, speed or retries, or ended.
    void activityChanged(int row);

protected:
    DownloadItem& MutableItem(int index) { return *items_.at(index); }
    const DownloadItems& Items() const { return items_; }

    // Appends the items as they are, each a new row to select.
    void Append(DownloadItems items);
    // Removes the given rows (ascending, unique) in as few model changes as possible.
    void EraseRows(const std::vector<int>& rows);
    // Each changes one field of a row's item and refreshes what the row shows of it. False when
    // the field already had the value.
    bool SetState(int row, DownloadState state);
    bool SetPercent(int row, int percent);
    void SetFileName(int row, const std::string& name);
    void SetTotalSize(int row, std::int64_t size);
    // What this run's transfer of a row reports, and how it ended.
    void SetActivity(int row, const TransferActivity& activity);
    void SetEnd(int row, const TransferEnd& end);
    // For rows from first on, as loaded from the list: what their temporary files hold, read
    // once here rather than each time a row is shown.
    void ReadKeptFiles(int first);
    // The percentage of what the row's temporary file holds (keptBytes), where its total is
    // known: what the last report said may be more than a failed write or a crash kept.
    void ShowKeptPercent(int row, std::int64_t keptBytes);

private:
    void RefreshRow(int row);

    DownloadItems items_;
    std::unordered_map<const DownloadItem*, ItemRun> runs_;
};
