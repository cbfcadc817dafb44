#include "CDownloaderDlg.h"

#include "CAboutDlg.h"
#include "CAddUrlsDlg.h"
#include "CBitmapButton.h"
#include "CFolderChooser.h"
#include "CIconTextButton.h"
#include "CPictureStatic.h"
#include "CProgressListCtrl.h"
#include "CStatusPanel.h"
#include "ControlLookup.h"
#include "DesktopFiles.h"
#include "DialogTemplate.h"
#include "DownloadQueue.h"
#include "ListMenu.h"
#include "ProgramVersion.h"
#include "ResourceImages.h"
#include "RowText.h"
#include "StatusText.h"
#include "UrlLines.h"

#include <QAbstractButton>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <numeric>
#include <unordered_set>

namespace {

const DialogTemplate& MainTemplate() {
    using Kind = DialogControl::Kind;
    using Id = CDownloaderDlg::CommandId;
    static const DialogTemplate dialog(
        417, 271,
        {
            {Id::AddUrlId, Kind::ToolbarButton, 5, 5, 40, 35, "Add URL"},
            {-1, Kind::Separator, 50, 10, 1, 25, ""},
            {Id::StartId, Kind::ToolbarButton, 55, 5, 40, 35, "Start"},
            {Id::PauseId, Kind::ToolbarButton, 100, 5, 40, 35, "Pause"},
            {Id::RemoveId, Kind::ToolbarButton, 145, 5, 40, 35, "Remove"},
            {-1, Kind::Separator, 190, 10, 1, 25, ""},
            {Id::StartAllId, Kind::ToolbarButton, 195, 5, 40, 35, "Start All"},
            {Id::PauseAllId, Kind::ToolbarButton, 240, 5, 40, 35, "Pause All"},
            {Id::RemoveAllId, Kind::ToolbarButton, 285, 5, 40, 35, "Remove All"},
            {Id::ListId, Kind::List, 0, 45, 405, 145, ""},
            {-1, Kind::Label, 5, 197, 30, 11, "Save to:"},
            {Id::FolderFieldId, Kind::ReadOnlyEdit, 37, 195, 245, 15, ""},
            {Id::BrowseId, Kind::Button, 287, 195, 60, 15, "Browse..."},
            {Id::OpenFolderId, Kind::Button, 351, 195, 60, 15, "Open Folder"},
            {Id::ClickAreaId, Kind::ClickArea, 51, 222, 15, 13, ""},
            {Id::StatusPanelId, Kind::Panel, 5, 215, 405, 50, ""},
        });
    return dialog;
}

constexpr int ColumnWidths[] = {320, 120, 80, 80};

struct ToolbarIcon {
    int buttonId;
    int bitmapId;
};
constexpr ToolbarIcon ToolbarIcons[] = {
    {CDownloaderDlg::AddUrlId, 156},    {CDownloaderDlg::StartId, 157},
    {CDownloaderDlg::PauseId, 158},     {CDownloaderDlg::RemoveId, 159},
    {CDownloaderDlg::StartAllId, 160},  {CDownloaderDlg::PauseAllId, 161},
    {CDownloaderDlg::RemoveAllId, 162},
};

// The keys of the toolbar's commands, which their tooltips name.
struct ToolbarKey {
    int buttonId;
    QKeyCombination key;
};
constexpr ToolbarKey ToolbarKeys[] = {
    {CDownloaderDlg::AddUrlId, QKeyCombination(Qt::Key_Insert)},
    {CDownloaderDlg::StartId, Qt::CTRL | Qt::Key_S},
    {CDownloaderDlg::PauseId, Qt::CTRL | Qt::Key_P},
    {CDownloaderDlg::RemoveId, QKeyCombination(Qt::Key_Delete)},
    {CDownloaderDlg::StartAllId, Qt::CTRL | Qt::SHIFT | Qt::Key_S},
    {CDownloaderDlg::PauseAllId, Qt::CTRL | Qt::SHIFT | Qt::Key_P},
    {CDownloaderDlg::RemoveAllId, Qt::CTRL | Qt::SHIFT | Qt::Key_Delete},
};

constexpr const char* HelpText =
    "Add URL (Insert) adds downloads, one URL per line. Links dropped on the list or pasted "
    "into it (Ctrl+V) are added too.\n\n"
    "Start (Ctrl+S), Pause (Ctrl+P) and Remove (Delete) act on the selected rows; Start All, "
    "Pause All and Remove All on the whole list. A right click on a row offers more, and a "
    "double click opens a finished file or starts the row.\n\n"
    "The panel under the list tells what happens to the selected row.";

struct ButtonPictures {
    int buttonId;
    int normal;
    int pressed;
    int focused;
};
constexpr ButtonPictures FolderButtonPictures[] = {
    {CDownloaderDlg::BrowseId, 152, 153, 151},
    {CDownloaderDlg::OpenFolderId, 164, 165, 163},
};

int ListActionCommand(ListAction action) {
    switch (action) {
    case ListAction::Open:
        return CDownloaderDlg::OpenFileMenuId;
    case ListAction::ShowInFolder:
        return CDownloaderDlg::ShowInFolderMenuId;
    case ListAction::CopyAddress:
        return CDownloaderDlg::CopyAddressMenuId;
    case ListAction::Start:
        return CDownloaderDlg::StartId;
    case ListAction::Pause:
        return CDownloaderDlg::PauseId;
    case ListAction::Remove:
        return CDownloaderDlg::RemoveId;
    case ListAction::Paste:
        return CDownloaderDlg::PasteMenuId;
    case ListAction::AddUrl:
        return CDownloaderDlg::AddUrlId;
    }
    return -1;
}

} // namespace

CDownloaderDlg::CDownloaderDlg(QWidget* parent)
    : CDraggableDialog(parent), queue_(std::make_unique<DownloadQueue>()) {
    setWindowTitle(QString::fromLatin1(ProgramTitle.data(), ProgramTitle.size()));
    setWindowIcon(LoadIconResource(140));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    BuildMenu();
    BuildControls(menuBar_->sizeHint().height());
    LoadPictures();

    queue_->SetNewVersionQuestion([this] { return AskForNewVersion(); });
    connect(queue_.get(), &DownloadQueue::rowsToSelect, this, &CDownloaderDlg::SelectRows);
    connect(list_, &CProgressListCtrl::textOffered, this,
            [this](const QString& text) { queue_->AddUrls(SchemeUrlText(text.toStdString())); });
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, &CDownloaderDlg::ShowListMenu);
    connect(list_, &QAbstractItemView::doubleClicked, this, &CDownloaderDlg::OnListDoubleClick);
    ConnectStatusPanel();
    ConnectNotifications();

    queue_->Folder() = DownloadFolder::FromSettings();
    queue_->LoadSpeedLimit();
    queue_->LoadList();
    ShowFolder();
}

void CDownloaderDlg::ConnectStatusPanel() {
    statusTimer_.setSingleShot(true);
    statusTimer_.setInterval(0);
    connect(&statusTimer_, &QTimer::timeout, this, &CDownloaderDlg::ShowStatus);
    connect(queue_.get(), &DownloadQueue::activityChanged, this, &CDownloaderDlg::ShowStatusSoon);
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        notice_.clear();
        ShowStatusSoon();
    });
    // A percentage alone changes nothing the panel says.
    connect(queue_.get(), &DownloadList::rowChanged, this, &CDownloaderDlg::ShowStatusSoon);
    connect(queue_.get(), &QAbstractItemModel::rowsRemoved, this, &CDownloaderDlg::ShowStatusSoon);
    connect(queue_.get(), &QAbstractItemModel::modelReset, this, &CDownloaderDlg::ShowStatusSoon);
}

void CDownloaderDlg::ConnectNotifications() {
    connect(queue_.get(), &DownloadQueue::downloadFailed, this, [this](int row) {
        if (!isActiveWindow()) {
            notifier_.Notify("Download failed", QString::fromStdString(queue_->StatusText(row)));
        }
    });
    // The finished notification names the last file done, as the queue may have moved on since.
    connect(queue_.get(), &DownloadQueue::downloadDone, this, [this](int row) {
        lastDoneStatus_ = QString::fromStdString(queue_->StatusText(row));
        lastDoneFile_ = QString::fromStdString(SavedFilePath(queue_->Item(row)));
    });
    connect(queue_.get(), &DownloadQueue::ranEmpty, this, [this](int done, int failed) {
        const QString counts = QString("%1 done, %2 failed").arg(done).arg(failed);
        if (done > 0) {
            notifier_.NotifyWithFile("Downloads finished", counts + "\n" + lastDoneStatus_,
                                     lastDoneFile_);
        } else {
            notifier_.Notify("Downloads finished", counts);
        }
    });
    connect(&notifier_, &DesktopNotifier::showInFolderChosen, this,
            &CDownloaderDlg::ShowFileInFolder);
}

CDownloaderDlg::~CDownloaderDlg() {
    queue_->Teardown();
}

void CDownloaderDlg::BuildMenu() {
    menuBar_ = new QMenuBar(this);
    struct Entry {
        const char* menu;
        const char* text;
        int id;
    };
    static constexpr Entry Entries[] = {
        {"&File", "E&xit", ExitMenuId},
        {"&Options", "&Directory", DirectoryMenuId},
        {"&Help", "&Help", HelpMenuId},
        {"&Help", "&About", AboutMenuId},
    };
    QMenu* menu = nullptr;
    for (const Entry& entry : Entries) {
        if (menu == nullptr || menu->title() != entry.menu) {
            menu = menuBar_->addMenu(entry.menu);
        }
        QAction* action = menu->addAction(entry.text);
        action->setProperty("controlId", entry.id);
        connect(action, &QAction::triggered, this, [this, id = entry.id] { OnCommand(id); });
    }
}

void CDownloaderDlg::BuildControls(int top) {
    const std::vector<QWidget*> controls = MainTemplate().Build(*this, top);
    menuBar_->setGeometry(0, 0, width(), top);
    for (QWidget* control : controls) {
        const int id = GetControlId(control);
        if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            connect(button, &QAbstractButton::clicked, this, [this, id] { OnCommand(id); });
        } else if (auto* clickArea = qobject_cast<CPictureStatic*>(control)) {
            connect(clickArea, &CPictureStatic::clicked, this, &CDownloaderDlg::OnCommand);
        }
    }
    list_ = static_cast<CProgressListCtrl*>(FindControl(this, ListId));
    folderField_ = static_cast<QLineEdit*>(FindControl(this, FolderFieldId));
    statusPanel_ = static_cast<CStatusPanel*>(FindControl(this, StatusPanelId));
    // Buttons are named by their captions; these by what a screen reader should say.
    list_->setAccessibleName("Downloads");
    folderField_->setAccessibleName("Save to");
    statusPanel_->setAccessibleName("Status");
    const QWidget* clickArea = FindControl(this, ClickAreaId);
    statusPanel_->KeepTextOutOf(clickArea->geometry().translated(-statusPanel_->pos()));
    list_->setModel(queue_.get());
    for (int column = 0; column < 4; ++column) {
        list_->setColumnWidth(column, ColumnWidths[column]);
    }
}

void CDownloaderDlg::LoadPictures() {
    for (const ToolbarIcon& icon : ToolbarIcons) {
        static_cast<CIconTextButton*>(FindControl(this, icon.buttonId))
            ->SetIconBitmap(icon.bitmapId);
    }
    for (const ToolbarKey& key : ToolbarKeys) {
        auto* button = static_cast<CIconTextButton*>(FindControl(this, key.buttonId));
        button->setShortcut(QKeySequence(key.key));
        button->setToolTip(QString("%1 (%2)").arg(
            button->text(), QKeySequence(key.key).toString(QKeySequence::NativeText)));
    }
    for (const ButtonPictures& pictures : FolderButtonPictures) {
        static_cast<CBitmapButton*>(FindControl(this, pictures.buttonId))
            ->LoadBitmaps(pictures.normal, pictures.pressed, pictures.focused);
    }
}

QString CDownloaderDlg::DownloadFolderPath() const {
    return QString::fromLocal8Bit(queue_->Folder().Path().c_str());
}

void CDownloaderDlg::ShowFolder() {
    folderField_->setText(DownloadFolderPath());
}

void CDownloaderDlg::OnCommand(int id) {
    switch (id) {
    case BrowseId:
    case DirectoryMenuId:
        OnBrowse();
        break;
    case StartAllId:
        queue_->OnStartAll();
        break;
    case RemoveAllId:
        KeepingSelection([this] { queue_->OnRemoveAll(); });
        ShowFolder();
        break;
    case ClickAreaId:
        break; // the click area has no link to open
    case AddUrlId:
        OnAddUrl();
        break;
    case PauseAllId:
        queue_->OnPauseAll();
        break;
    case StartId:
        queue_->OnStart(SelectedRows());
        break;
    case PauseId:
        queue_->OnPause(SelectedRows());
        break;
    case RemoveId:
        KeepingSelection([this] { queue_->OnRemove(SelectedRows()); });
        break;
    case OpenFolderId:
        OnOpenFolder();
        break;
    case OpenFileMenuId:
        OpenFile(SelectedSavedFile());
        break;
    case ShowInFolderMenuId:
        ShowFileInFolder(SelectedSavedFile());
        break;
    case CopyAddressMenuId:
        QApplication::clipboard()->setText(
            QString::fromStdString(CopiedAddresses(*queue_, SelectedRows())));
        break;
    case PasteMenuId:
        PasteClipboard();
        break;
    case ExitMenuId:
        done(QDialog::Accepted);
        break;
    case AboutMenuId:
        OnAbout();
        break;
    case HelpMenuId:
        QMessageBox::information(this, "Dartflux Help", HelpText);
        break;
    default:
        if (const std::vector<SpeedLimitChoice> choices = SpeedLimitChoices(0);
            id >= FirstSpeedLimitMenuId &&
            id < FirstSpeedLimitMenuId + static_cast<int>(choices.size())) {
            queue_->SetSpeedLimit(choices[id - FirstSpeedLimitMenuId].bytesPerSecond);
        }
        break;
    }
}

void CDownloaderDlg::AddAndStart(const std::string& urls) {
    const int added = queue_->AddUrls(urls);
    if (added == 0) {
        return; // Start on no rows would still run the queue
    }
    std::vector<int> rows(static_cast<std::size_t>(added));
    std::iota(rows.begin(), rows.end(), queue_->Count() - added);
    queue_->OnStart(rows);
}

void CDownloaderDlg::SaveState() {
    queue_->SaveList();
    queue_->Folder().Store();
}

void CDownloaderDlg::keyPressEvent(QKeyEvent* event) {
    // Enter ends the window like OK, even though no button is the default.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

std::vector<int> CDownloaderDlg::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CDownloaderDlg::KeepingSelection(const std::function<void()>& removal) {
    // A removal of many scattered rows resets the model, which forgets the selection.
    std::unordered_set<const DownloadItem*> selected;
    for (const int row : SelectedRows()) {
        selected.insert(&queue_->Item(row));
    }
    removal();
    QItemSelection keep;
    const int lastColumn = queue_->columnCount() - 1;
    for (int row = 0; row < queue_->Count(); ++row) {
        if (!selected.contains(&queue_->Item(row))) {
            continue;
        }
        const int first = row;
        while (row + 1 < queue_->Count() && selected.contains(&queue_->Item(row + 1))) {
            ++row;
        }
        keep.select(queue_->index(first, 0), queue_->index(row, lastColumn));
    }
    list_->selectionModel()->select(keep, QItemSelectionModel::ClearAndSelect);
}

void CDownloaderDlg::SelectRows(int first, int last) {
    const QItemSelection rows(queue_->index(first, 0),
                              queue_->index(last, queue_->columnCount() - 1));
    list_->selectionModel()->select(rows, QItemSelectionModel::Select);
}

void CDownloaderDlg::ShowStatusSoon() {
    if (!statusTimer_.isActive()) {
        statusTimer_.start();
    }
}

void CDownloaderDlg::ShowStatus() {
    const std::vector<int> selected = SelectedRows();
    const int row = selected.size() == 1 ? selected.front() : queue_->ActiveRow();
    if (!notice_.isEmpty()) {
        statusPanel_->SetText(notice_);
    } else {
        statusPanel_->SetText(row >= 0 && row < queue_->Count()
                                  ? QString::fromStdString(queue_->StatusText(row))
                                  : QString());
    }
    const auto& speeds = queue_->SpeedHistory();
    statusPanel_->SetSpeeds(queue_->ActiveRow() >= 0
                                ? std::vector<std::int64_t>(speeds.begin(), speeds.end())
                                : std::vector<std::int64_t>());
}

bool CDownloaderDlg::AskForNewVersion() {
    QMessageBox question(QMessageBox::Question, "Update",
                         QString("New version found.\r\nDownload?").replace("\r\n", "\n"),
                         QMessageBox::Yes | QMessageBox::No, this);
    return question.exec() == QMessageBox::Yes;
}

void CDownloaderDlg::OnAddUrl() {
    CAddUrlsDlg dialog(this);
    if (dialog.exec() == QDialog::Accepted) {
        queue_->AddUrls(dialog.UrlText().toLocal8Bit().toStdString());
    }
    ShowFolder();
}

void CDownloaderDlg::OnBrowse() {
    CFolderChooser chooser("Select path", "Select download path", DownloadFolderPath(), this);
    if (chooser.DoModal() == 1) {
        queue_->Folder().Choose(chooser.GetPath().toLocal8Bit().toStdString());
    }
    ShowFolder();
}

void CDownloaderDlg::OnOpenFolder() {
    if (!OpenWithDesktop(DownloadFolderPath())) {
        TellOpenFailed(DownloadFolderPath());
    }
}

void CDownloaderDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CDownloaderDlg::ShowListMenu(const QPoint& position) {
    const QModelIndex index = list_->indexAt(position);
    // As in file managers, a right click outside the selection selects the row it is on.
    if (index.isValid() && !list_->selectionModel()->isRowSelected(index.row())) {
        list_->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect |
                                                   QItemSelectionModel::Rows);
    }
    const std::string offered =
        CProgressListCtrl::OfferedText(QApplication::clipboard()->mimeData()).toStdString();
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const ListMenuEntry& entry :
         ListMenuEntries(*queue_, SelectedRows(), index.isValid(), offered)) {
        if (entry.action == ListAction::Start) {
            menu->addSeparator();
        }
        const int id = ListActionCommand(entry.action);
        QAction* action = menu->addAction(entry.text);
        action->setProperty("controlId", id);
        action->setEnabled(entry.enabled);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    }
    menu->addSeparator();
    QMenu* limits = menu->addMenu("Limit speed");
    auto* oneChecked = new QActionGroup(limits);
    int id = FirstSpeedLimitMenuId;
    for (const SpeedLimitChoice& choice : SpeedLimitChoices(queue_->SpeedLimit())) {
        QAction* action = oneChecked->addAction(QString::fromStdString(choice.text));
        action->setCheckable(true);
        action->setChecked(choice.checked);
        action->setProperty("controlId", id);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        limits->addAction(action);
        ++id;
    }
    menu->popup(list_->viewport()->mapToGlobal(position));
}

void CDownloaderDlg::OnListDoubleClick(const QModelIndex& index) {
    const DownloadItem& item = queue_->Item(index.row());
    if (DoubleClickAction(item) == ListAction::Open) {
        OpenFile(QString::fromStdString(SavedFilePath(item)));
    } else {
        queue_->OnStart({index.row()});
    }
}

QString CDownloaderDlg::SelectedSavedFile() const {
    const std::vector<int> rows = SelectedRows();
    if (rows.size() != 1 || queue_->Item(rows.front()).state != DownloadState::Done) {
        return {};
    }
    return QString::fromStdString(SavedFilePath(queue_->Item(rows.front())));
}

void CDownloaderDlg::OpenFile(const QString& path) {
    if (!path.isEmpty() && !OpenWithDesktop(path)) {
        TellOpenFailed(path);
    }
}

void CDownloaderDlg::ShowFileInFolder(const QString& path) {
    if (!path.isEmpty()) {
        ShowInFileManager(path, this, [this, path] { TellOpenFailed(QFileInfo(path).path()); });
    }
}

void CDownloaderDlg::PasteClipboard() {
    const QString offered = CProgressListCtrl::OfferedText(QApplication::clipboard()->mimeData());
    queue_->AddUrls(SchemeUrlText(offered.toStdString()));
}

void CDownloaderDlg::ShowNotice(const QString& notice) {
    notice_ = notice;
    ShowStatus();
}

void CDownloaderDlg::TellOpenFailed(const QString& path) {
    const bool openerMissing = QStandardPaths::findExecutable("xdg-open").isEmpty();
    ShowNotice(QString::fromStdString(OpenFailureText(path.toStdString(), openerMissing)));
}
