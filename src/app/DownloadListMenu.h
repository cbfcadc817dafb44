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

protected:
    // The Menu key and Shift+F10 on the list open the menu of the selection.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The menu for a right click at a point of the list's viewport.
    void Show(const QPoint& position);
    // The menu at a point of the viewport, for rows (overRows) or for the list's free area.
    void Popup(bool overRows, const QPoint& position);
    void OnDoubleClick(const QModelIndex& index);

    CProgressListCtrl& list_;
    DownloadQueue& queue_;
    const ListSelection& selection_;
    DesktopOpener& opener_;
};
