#include "DownloadListMenu.h"

#include "CDownloaderDlg.h"
#include "CProgressListCtrl.h"
#include "DesktopOpener.h"
#include "DownloadQueue.h"
#include "ListMenu.h"
#include "ListSelection.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>

namespace {

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

DownloadListMenu::DownloadListMenu(CProgressListCtrl& list, DownloadQueue& queue,
                                   const ListSelection& selection, DesktopOpener& opener,
                                   QObject* parent)
    : QObject(parent), list_(list), queue_(queue), selection_(selection), opener_(opener) {
    list_.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&list_, &QWidget::customContextMenuRequested, this, &DownloadListMenu::Show);
    list_.installEventFilter(this);
    connect(&list_, &QAbstractItemView::doubleClicked, this, &DownloadListMenu::OnDoubleClick);
}

bool DownloadListMenu::eventFilter(QObject* watched, QEvent* event) {
    const bool menuKey =
        event->type() == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard;
    const bool shiftF10 = event->type() == QEvent::KeyPress &&
                          static_cast<QKeyEvent*>(event)->key() == Qt::Key_F10 &&
                          static_cast<QKeyEvent*>(event)->modifiers() == Qt::ShiftModifier;
    if (!menuKey && !shiftF10) {
        return QObject::eventFilter(watched, event);
    }
    // From the keyboard the menu is the selection's, shown at the current row.
    const QRect current = list_.visualRect(list_.currentIndex());
    Popup(!selection_.Rows().empty(), current.isValid() ? current.center() : QPoint());
    return true;
}

void DownloadListMenu::Show(const QPoint& position) {
    const QModelIndex index = list_.indexAt(position);
    // As in file managers, a right click outside the selection selects the row it is on.
    if (index.isValid() && !list_.selectionModel()->isRowSelected(index.row())) {
        list_.selectionModel()->select(index, QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
    }
    Popup(index.isValid(), position);
}

void DownloadListMenu::Popup(bool overRows, const QPoint& position) {
    const std::string offered =
        CProgressListCtrl::OfferedText(QApplication::clipboard()->mimeData()).toStdString();
    auto* menu = new QMenu(list_.window());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const ListMenuEntry& entry :
         ListMenuEntries(queue_, selection_.Rows(), overRows, offered)) {
        if (entry.action == ListAction::Start) {
            menu->addSeparator();
        }
        const int id = ListActionCommand(entry.action);
        QAction* action = menu->addAction(entry.text);
        action->setProperty("controlId", id);
        action->setEnabled(entry.enabled);
        connect(action, &QAction::triggered, this, [this, id] { emit commandChosen(id); });
    }
    menu->addSeparator();
    QMenu* limits = menu->addMenu("Limit speed");
    auto* oneChecked = new QActionGroup(limits);
    int id = CDownloaderDlg::FirstSpeedLimitMenuId;
    for (const SpeedLimitChoice& choice : SpeedLimitChoices(queue_.SpeedLimit())) {
        QAction* action = oneChecked->addAction(QString::fromStdString(choice.text));
        action->setCheckable(true);
        action->setChecked(choice.checked);
        action->setProperty("controlId", id);
        connect(action, &QAction::triggered, this, [this, id] { emit commandChosen(id); });
        limits->addAction(action);
        ++id;
    }
    menu->popup(list_.viewport()->mapToGlobal(position));
}

void DownloadListMenu::OnDoubleClick(const QModelIndex& index) {
    const DownloadItem& item = queue_.Item(index.row());
    if (DoubleClickAction(item) == ListAction::Open) {
        opener_.OpenFile(QString::fromStdString(SavedFilePath(item)));
    } else {
        queue_.OnStart({index.row()});
    }
}
