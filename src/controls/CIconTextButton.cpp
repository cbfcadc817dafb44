#include "CIconTextButton.h"

#include "DrawKeyedBitmap.h"
#include "ResourceImages.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPalette>
#include <QRect>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>

namespace {

constexpr int kCaptionBottomMargin = 5;
constexpr int kIconLift = 5;
// Room left between the frame and the widest or tallest content in the size hint.
constexpr int kFramePadding = 8;

} // namespace

CIconTextButton::CIconTextButton(QWidget* parent) : QAbstractButton(parent) {}

void CIconTextButton::SetIconBitmap(const QImage& icon) {
    m_iconBitmap = icon;
    updateGeometry();
    update();
}

void CIconTextButton::SetIconBitmap(int resourceId) {
    SetIconBitmap(LoadBitmapResource(resourceId));
}

QSize CIconTextButton::sizeHint() const {
    const QFontMetrics metrics(font());
    const QSize icon = m_iconBitmap.deviceIndependentSize().toSize();
    const int width = std::max(icon.width(), metrics.horizontalAdvance(text())) + 2 * kFramePadding;
    const int height =
        kFramePadding + icon.height() + kIconLift + metrics.height() + kCaptionBottomMargin;
    return {width, height};
}

void CIconTextButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const bool pressed = isDown();

    QStyleOptionButton frame;
    frame.initFrom(this);
    frame.state &= ~QStyle::State_HasFocus;
    frame.state |= pressed ? QStyle::State_Sunken : QStyle::State_Raised;
    style()->drawControl(QStyle::CE_PushButtonBevel, &frame, &painter, this);

    const int shift = pressed ? 1 : 0;
    const QRect content(shift, shift, width() - 1, height() - kCaptionBottomMargin);
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.setFont(font());
    painter.drawText(content, Qt::AlignHCenter | Qt::AlignBottom | Qt::TextSingleLine, text());

    if (!m_iconBitmap.isNull()) {
        const QSize icon = m_iconBitmap.deviceIndependentSize().toSize();
        const int x = content.left() + (content.width() - icon.width()) / 2;
        const int y = content.top() + (content.height() - icon.height()) / 2 - kIconLift;
        DrawKeyedBitmap(painter, x, y, m_iconBitmap);
    }
}
