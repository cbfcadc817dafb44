#include "CDraggableDialog.h"

#include <QMouseEvent>
#include <QWindow>

CDraggableDialog::CDraggableDialog(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags) {}

void CDraggableDialog::mousePressEvent(QMouseEvent* event) {
    QDialog::mousePressEvent(event);
    if (event->button() != Qt::LeftButton || !isWindow()) {
        return;
    }
    event->accept();
    QWindow* window = windowHandle();
    if (window != nullptr && window->startSystemMove()) {
        return;
    }
    m_manualDrag = ManualDrag{event->globalPosition().toPoint(), pos()};
}

void CDraggableDialog::mouseMoveEvent(QMouseEvent* event) {
    if (!m_manualDrag || !event->buttons().testFlag(Qt::LeftButton)) {
        m_manualDrag.reset();
        QDialog::mouseMoveEvent(event);
        return;
    }
    event->accept();
    move(m_manualDrag->windowStart + event->globalPosition().toPoint() - m_manualDrag->pressGlobal);
}

void CDraggableDialog::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_manualDrag.reset();
    }
    QDialog::mouseReleaseEvent(event);
}
