#pragma once

#include "CDraggableDialog.h"

#include <QString>

#include <memory>
#include <string>

class CProgressListCtrl;
class DesktopOpener;
class DownloadListMenu;
class DownloadNotifications;
class DownloadQueue;
class ListSelection;
class QLineEdit;
class QMenuBar;
class StatusPanelFeed;

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
    void LoadPictures();
    void ShowFolder();
    bool AskForNewVersion();

    void OnAddUrl();
    void OnBrowse();
    void OnAbout();
    void PasteClipboard();

    std::unique_ptr<DownloadQueue> queue_;
    QMenuBar* menuBar_ = nullptr;
    CProgressListCtrl* list_ = nullptr;
    QLineEdit* folderField_ = nullptr;
    // They refer to the queue: declared after it, they are destroyed before it.
    std::unique_ptr<ListSelection> selection_;
    std::unique_ptr<StatusPanelFeed> statusFeed_;
    std::unique_ptr<DesktopOpener> opener_;
    std::unique_ptr<DownloadListMenu> listMenu_;
    std::unique_ptr<DownloadNotifications> notifications_;
};
