#include "CProgressListDelegate.h"

#include "DownloadListRoles.h"

#include <QApplication>
#include <QBrush>
#include <QModelIndex>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QVariant>
#include <QWidget>

CProgressListDelegate::CProgressListDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void CProgressListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    QStyleOptionViewItem cell(option);
    initStyleOption(&cell, index);
    if (cell.state.testFlag(QStyle::State_Selected)) {
        // The selection look wins over the state colours.
        cell.backgroundBrush = QBrush();
    }
    const QStyle* style = cell.widget != nullptr ? cell.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, cell.widget);

    if (index.column() != kProgressColumn) {
        return;
    }
    const QVariant percent = index.data(PercentRole);
    if (percent.isValid()) {
        m_progressBar.Paint(*painter, option.rect, percent.toInt());
    }
}
