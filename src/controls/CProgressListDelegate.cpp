#include "CProgressListDelegate.h"

#include "DownloadListRoles.h"

#include <QModelIndex>
#include <QPainter>
#include <QStyleOptionViewItem>
#include <QVariant>

CProgressListDelegate::CProgressListDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void CProgressListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    // The base delegate takes the colours from ForegroundRole and BackgroundRole; the view's
    // full-row selection paints over them.
    QStyledItemDelegate::paint(painter, option, index);
    if (index.column() != kProgressColumn) {
        return;
    }
    const QVariant percent = index.data(PercentRole);
    if (percent.isValid()) {
        m_progressBar.Paint(*painter, option.rect, percent.toInt());
    }
}
