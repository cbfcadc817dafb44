#pragma once

#include "CDraggableDialog.h"
#include "DesktopNotifier.h"

#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class DownloadQueue;
class QLineEdit;
class QMenuBar;
class QModelIndex;
class QPoint;
class CProgressListCtrl;
class CStatusPanel;

// The program's one window: the toolbar, the download list, the "Save to:" folder, the status
// panel and the menu.
// It owns the download queue, routes every command to it by id, and on destruction pauses the
// queue and saves the list and the folder.
class CDownloaderDlg : public CDraggableDialog {
    Q_OBJECT

public:
    enum CommandId {
        BrowseId = 1001,
        StartAllId = 1002,
        FolderFieldId = 1008,
        AddUrlId = 1009,
        ListId = 1011,
        RemoveAllId = 1012,
        ClickAreaId = 1013,
        StartId = 1014,
        PauseId = 1015,
        RemoveId = 1016,
        PauseAllId = 1018,
        OpenFolderId = 1021,
        StatusPanelId = 1030,
        DirectoryMenuId = 32771,
        ExitMenuId = 32772,
        AboutMenuId = 32773,
        HelpMenuId = 32775,
        OpenFileMenuId = 32780,
        ShowInFolderMenuId = 32781,
        CopyAddressMenuId = 32782,
        PasteMenuId = 32783,
        // The "Limit speed" entries, in their order from here on.
        FirstSpeedLimitMenuId = 32790,
    };

    explicit CDownloaderDlg(QWidget* parent = nullptr);
    ~CDownloaderDlg() override;

    DownloadQueue& Queue() { return *queue_; }
    QString DownloadFolderPath() const;

    // Routes a command id as a button, menu entry or the click area sends it.
    void OnCommand(int id);

    // URLs one per line, as the command line hands them: added as Add URL adds them, then
    // started as Start starts selected rows.
    void AddAndStart(const std::string& urls);

    // Writes the list and the folder now, for a session that is ending.
    void SaveState();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildMenu();
    void BuildControls(int top);
    void ConnectStatusPanel();
    // Tells the desktop when the queue runs empty, and of a failure while the window is away.
    void ConnectNotifications();
    void LoadPictures();
    void ShowFolder();
    std::vector<int> SelectedRows() const;
    // Runs a removal and selects again the rows that were selected and stayed.
    void KeepingSelection(const std::function<void()>& removal);
    void SelectRows(int first, int last);
    // The selected row's status (the active row's when none or several are selected) and the
    // running transfer's speeds, once the events at hand are handled: a removal signals while
    // the queue still points at rows that went.
    void ShowStatusSoon();
    void ShowStatus();
    bool AskForNewVersion();

    void OnAddUrl();
    void OnBrowse();
    void OnOpenFolder();
    void OnAbout();

    // The list's context menu at a point of its viewport, and its double-click.
    void ShowListMenu(const QPoint& position);
    void OnListDoubleClick(const QModelIndex& index);
    // The one selected row's saved file; empty unless exactly one Done row is selected.
    QString SelectedSavedFile() const;
    void OpenFile(const QString& path);
    // The file selected in the file manager, else its folder opened.
    void ShowFileInFolder(const QString& path);
    void PasteClipboard();
    // Shown in the status panel instead of the row's status until the selection changes.
    void ShowNotice(const QString& notice);
    void TellOpenFailed(const QString& path);

    std::unique_ptr<DownloadQueue> queue_;
    QMenuBar* menuBar_ = nullptr;
    CProgressListCtrl* list_ = nullptr;
    QLineEdit* folderField_ = nullptr;
    CStatusPanel* statusPanel_ = nullptr;
    QTimer statusTimer_;
    QString notice_;
    DesktopNotifier notifier_;
    QString lastDoneStatus_;
    QString lastDoneFile_;
};
