#pragma once

#include "ProgressBarPainter.h"

#include <QStyledItemDelegate>

class QModelIndex;
class QObject;
class QPainter;
class QStyleOptionViewItem;

// Paints a download list cell: the row's colours from the model's ForegroundRole and
// BackgroundRole (unless the row is selected), the cell text, and on the progress column a
// bar for the model's PercentRole.
class CProgressListDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    static constexpr int kProgressColumn = 1;

    explicit CProgressListDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    ProgressBarPainter m_progressBar;
};
