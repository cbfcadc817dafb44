#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class CStatusPanel;
class DownloadQueue;
class ListSelection;

// Keeps the status panel telling the selected row's status (the active row's when none or
// several are selected) and the running transfer's speeds.
class StatusPanelFeed : public QObject {
    Q_OBJECT

public:
    StatusPanelFeed(CStatusPanel& panel, DownloadQueue& queue, const ListSelection& selection,
                    QObject* parent = nullptr);

    // Shown instead of the row's status until the selection changes.
    void ShowNotice(const QString& notice);

private:
    // Once the events at hand are handled: a removal signals while the queue still points at
    // rows that went.
    void ShowSoon();
    void Show();

    CStatusPanel& panel_;
    DownloadQueue& queue_;
    const ListSelection& selection_;
    QTimer timer_;
    QString notice_;
};
