#include "CBitmapButton.h"

#include "ResourceImages.h"

#include <QPainter>
#include <QPoint>

CBitmapButton::CBitmapButton(QWidget* parent) : QAbstractButton(parent) {}

void CBitmapButton::LoadBitmaps(int normalId, int selectedId, int focusedId, int disabledId) {
    m_normal = LoadBitmapResource(normalId);
    m_selected = LoadBitmapResource(selectedId);
    m_focused = LoadBitmapResource(focusedId);
    m_disabled = LoadBitmapResource(disabledId);
    updateGeometry();
    update();
}

QSize CBitmapButton::sizeHint() const {
    return m_normal.deviceIndependentSize().toSize();
}

QSize CBitmapButton::minimumSizeHint() const {
    return sizeHint();
}

const QImage& CBitmapButton::ChoosePicture() const {
    const QImage* role = &m_normal;
    if (isDown()) {
        role = &m_selected;
    } else if (hasFocus()) {
        role = &m_focused;
    } else if (!isEnabled()) {
        role = &m_disabled;
    }
    return role->isNull() ? m_normal : *role;
}

void CBitmapButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), ChoosePicture());
}
