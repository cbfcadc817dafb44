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
#include "DesktopOpener.h"
#include "DialogTemplate.h"
#include "DownloadListMenu.h"
#include "DownloadNotifications.h"
#include "DownloadQueue.h"
#include "ListMenu.h"
#include "ListSelection.h"
#include "ProgramVersion.h"
#include "ResourceImages.h"
#include "StatusPanelFeed.h"
#include "UrlLines.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

#include <numeric>

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
    connect(queue_.get(), &DownloadQueue::rowsToSelect, this,
            [this](int first, int last) { selection_->Add(first, last); });
    connect(list_, &CProgressListCtrl::textOffered, this,
            [this](const QString& text) { queue_->AddUrls(SchemeUrlText(text.toStdString())); });
    opener_ = std::make_unique<DesktopOpener>();
    listMenu_ = std::make_unique<DownloadListMenu>(*list_, *queue_, *selection_, *opener_);
    connect(listMenu_.get(), &DownloadListMenu::commandChosen, this, &CDownloaderDlg::OnCommand);
    statusFeed_ = std::make_unique<StatusPanelFeed>(
        *static_cast<CStatusPanel*>(FindControl(this, StatusPanelId)), *queue_, *selection_);
    connect(opener_.get(), &DesktopOpener::openFailed, statusFeed_.get(),
            &StatusPanelFeed::ShowNotice);
    notifications_ = std::make_unique<DownloadNotifications>(*queue_, *this);
    connect(notifications_.get(), &DownloadNotifications::showInFolderChosen, opener_.get(),
            &DesktopOpener::ShowFileInFolder);

    queue_->Folder() = DownloadFolder::FromSettings();
    queue_->LoadSpeedLimit();
    queue_->LoadList();
    ShowFolder();
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
    auto* statusPanel = static_cast<CStatusPanel*>(FindControl(this, StatusPanelId));
    // Buttons are named by their captions; these by what a screen reader should say.
    list_->setAccessibleName("Downloads");
    folderField_->setAccessibleName("Save to");
    statusPanel->setAccessibleName("Status");
    const QWidget* clickArea = FindControl(this, ClickAreaId);
    statusPanel->KeepTextOutOf(clickArea->geometry().translated(-statusPanel->pos()));
    list_->setModel(queue_.get());
    for (int column = 0; column < 4; ++column) {
        list_->setColumnWidth(column, ColumnWidths[column]);
    }
    selection_ = std::make_unique<ListSelection>(*list_, *queue_);
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
        selection_->KeepAcross([this] { queue_->OnRemoveAll(); });
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
        queue_->OnStart(selection_->Rows());
        break;
    case PauseId:
        queue_->OnPause(selection_->Rows());
        break;
    case RemoveId:
        selection_->KeepAcross([this] { queue_->OnRemove(selection_->Rows()); });
        break;
    case OpenFolderId:
        opener_->OpenFolder(DownloadFolderPath());
        break;
    case OpenFileMenuId:
        opener_->OpenFile(selection_->OneSavedFile());
        break;
    case ShowInFolderMenuId:
        opener_->ShowFileInFolder(selection_->OneSavedFile());
        break;
    case CopyAddressMenuId:
        QApplication::clipboard()->setText(
            QString::fromStdString(CopiedAddresses(*queue_, selection_->Rows())));
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

void CDownloaderDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CDownloaderDlg::PasteClipboard() {
    const QString offered = CProgressListCtrl::OfferedText(QApplication::clipboard()->mimeData());
    queue_->AddUrls(SchemeUrlText(offered.toStdString()));
}
