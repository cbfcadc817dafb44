#pragma once

#include <QString>

#include <functional>
#include <vector>

class DownloadQueue;
class QAbstractItemView;
class QItemSelectionModel;

// The download list's selection in the queue's rows.
class ListSelection {
public:
    ListSelection(QAbstractItemView& list, DownloadQueue& queue);

    // The selected rows in ascending order.
    std::vector<int> Rows() const;
    // The one selected row's saved file; empty unless exactly one Done row is selected.
    QString OneSavedFile() const;
    // Runs a removal and selects again the rows that were selected and stayed.
    void KeepAcross(const std::function<void()>& removal);
    void Add(int first, int last);
    QItemSelectionModel* Model() const;

private:
    QAbstractItemView& list_;
    DownloadQueue& queue_;
};
