#include "CPictureStatic.h"

#include "ControlLookup.h"

#include <QMouseEvent>

CPictureStatic::CPictureStatic(QWidget* parent) : QWidget(parent) {}

void CPictureStatic::mousePressEvent(QMouseEvent* event) {
    event->accept();
    m_pressed = event->button() == Qt::LeftButton;
}

void CPictureStatic::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton || !m_pressed) {
        return;
    }
    m_pressed = false;
    if (rect().contains(event->position().toPoint())) {
        emit clicked(GetControlId(this));
    }
}
