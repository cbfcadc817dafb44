#include "CProgressListCtrl.h"

#include "CProgressListDelegate.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QKeyEvent>

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
}

void CProgressListCtrl::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Insert || event->key() == Qt::Key_Delete) {
        event->accept();
        return;
    }
    QTreeView::keyReleaseEvent(event);
}
