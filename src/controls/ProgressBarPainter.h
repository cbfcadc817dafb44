#pragma once

#include <QImage>

class QPainter;
class QRect;

// The small progress bar painted over a list cell, built from the pieces 130 (left end),
// 131 (empty column), 132 (filled column) and 133 (right end).
class ProgressBarPainter {
public:
    ProgressBarPainter();

    // The bar spans cell.left() + 40 to the cell's third-last pixel column, starting three
    // pixels below its top; a cell narrower than 46 pixels gets none. A percent outside
    // 0..100 (a damaged value) is shown as a full bar.
    void Paint(QPainter& painter, const QRect& cell, int percent) const;

private:
    QImage m_barLeft;
    QImage m_barEmpty;
    QImage m_barFull;
    QImage m_barRight;
};
