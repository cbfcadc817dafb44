#pragma once

#include <QObject>

class CProgressListCtrl;
class DesktopOpener;
class DownloadQueue;
class ListSelection;
class QModelIndex;
class QPoint;

// The download list's context menu and its double-click. Menu entries carry the window's command
// ids and are handed back to it to run, as its buttons are.
class DownloadListMenu : public QObject {
    Q_OBJECT

public:
    DownloadListMenu(CProgressListCtrl& list, DownloadQueue& queue, const ListSelection& selection,
                     DesktopOpener& opener, QObject* parent = nullptr);

signals:
    void commandChosen(int id);

private:
    // The menu at a point of the list's viewport.
    void Show(const QPoint& position);
    void OnDoubleClick(const QModelIndex& index);

    CProgressListCtrl& list_;
    DownloadQueue& queue_;
    const ListSelection& selection_;
    DesktopOpener& opener_;
};
