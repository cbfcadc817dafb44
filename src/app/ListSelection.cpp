#include "ListSelection.h"

#include "DownloadQueue.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>

#include <algorithm>
#include <unordered_set>

ListSelection::ListSelection(QAbstractItemView& list, DownloadQueue& queue)
    : list_(list), queue_(queue) {}

std::vector<int> ListSelection::Rows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : Model()->selectedRows()) {
        rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

QString ListSelection::OneSavedFile() const {
    const std::vector<int> rows = Rows();
    if (rows.size() != 1 || queue_.Item(rows.front()).state != DownloadState::Done) {
        return {};
    }
    return QString::fromStdString(SavedFilePath(queue_.Item(rows.front())));
}

void ListSelection::KeepAcross(const std::function<void()>& removal) {
    // A removal of many scattered rows resets the model, which forgets the selection.
    std::unordered_set<const DownloadItem*> selected;
    for (const int row : Rows()) {
        selected.insert(&queue_.Item(row));
    }
    removal();
    QItemSelection keep;
    const int lastColumn = queue_.columnCount() - 1;
    for (int row = 0; row < queue_.Count(); ++row) {
        if (!selected.contains(&queue_.Item(row))) {
            continue;
        }
        const int first = row;
        while (row + 1 < queue_.Count() && selected.contains(&queue_.Item(row + 1))) {
            ++row;
        }
        keep.select(queue_.index(first, 0), queue_.index(row, lastColumn));
    }
    Model()->select(keep, QItemSelectionModel::ClearAndSelect);
}

void ListSelection::Add(int first, int last) {
    const QItemSelection rows(queue_.index(first, 0), queue_.index(last, queue_.columnCount() - 1));
    Model()->select(rows, QItemSelectionModel::Select);
}

QItemSelectionModel* ListSelection::Model() const {
    return list_.selectionModel();
}
