#include "ProgressBarPainter.h"

#include "DrawKeyedBitmap.h"
#include "ResourceImages.h"

#include <QPainter>
#include <QRect>

#include <algorithm>

namespace {

// The cell's first 40 pixels stay free for the percentage text, its last pixel column too.
constexpr int kTextSpace = 40;
constexpr int kRightMargin = 1;
constexpr int kEndWidth = 2;
constexpr int kTopMargin = 3;
constexpr int kMinimumCellWidth = 46;

} // namespace

ProgressBarPainter::ProgressBarPainter()
    : m_barLeft(LoadBitmapResource(130)), m_barEmpty(LoadBitmapResource(131)),
      m_barFull(LoadBitmapResource(132)), m_barRight(LoadBitmapResource(133)) {}

void ProgressBarPainter::Paint(QPainter& painter, const QRect& cell, int percent) const {
    if (cell.width() < kMinimumCellWidth) {
        return;
    }
    const int left = cell.left();
    const int right = cell.left() + cell.width();
    const int y = cell.top() + kTopMargin;
    DrawKeyedBitmap(painter, left + kTextSpace, y, m_barLeft);
    DrawKeyedBitmap(painter, right - kRightMargin - kEndWidth, y, m_barRight);

    // Taken as unsigned, a negative percent counts as above 100.
    const unsigned shown = std::min(static_cast<unsigned>(percent), 100u);
    const int columns = cell.width() - kTextSpace - 2 * kEndWidth - kRightMargin;
    const int filled = static_cast<int>(static_cast<unsigned>(columns) * shown / 100u);
    const int firstColumn = left + kTextSpace + kEndWidth;
    for (int column = 0; column < columns; ++column) {
        DrawKeyedBitmap(painter, firstColumn + column, y, column < filled ? m_barFull : m_barEmpty);
    }
}
