#include "CProgressListCtrl.h"

#include "CProgressListDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QStringList>
#include <QUrl>

CProgressListCtrl::CProgressListCtrl(QWidget* parent) : QTreeView(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    // Lets the view lay out 100 000 rows without asking each one for its height.
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setAllColumnsShowFocus(true);
    setSortingEnabled(false);
    setItemDelegate(new CProgressListDelegate(this));

    header()->setSectionsClickable(false);
    header()->setSectionsMovable(false);
    header()->setSortIndicatorShown(false);
    header()->setStretchLastSection(false);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
}

QString CProgressListCtrl::OfferedText(const QMimeData* data) {
    if (data == nullptr) {
        return {};
    }
    if (data->hasUrls()) {
        QStringList links;
        for (const QUrl& url : data->urls()) {
            links.append(url.toString(QUrl::FullyEncoded));
        }
        return links.join('\n');
    }
    return data->text();
}

void CProgressListCtrl::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Paste)) {
        emit textOffered(OfferedText(QApplication::clipboard()->mimeData()));
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void CProgressListCtrl::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() || event->mimeData()->hasText()) {
        event->acceptProposedAction();
    }
}

void CProgressListCtrl::dragMoveEvent(QDragMoveEvent* event) {
    event->acceptProposedAction();
}

void CProgressListCtrl::dropEvent(QDropEvent* event) {
    event->acceptProposedAction();
    emit textOffered(OfferedText(event->mimeData()));
}

void CProgressListCtrl::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Insert || event->key() == Qt::Key_Delete) {
        event->accept();
        return;
    }
    QTreeView::keyReleaseEvent(event);
}
