#pragma once

#include <QWidget>

class QMouseEvent;

// An invisible area that reports a left click with its control id. It paints nothing, so the
// window's background shows, and it takes the press, so the click never drags the window.
class CPictureStatic : public QWidget {
    Q_OBJECT

public:
    explicit CPictureStatic(QWidget* parent = nullptr);

signals:
    void clicked(int id);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_pressed = false;
};
