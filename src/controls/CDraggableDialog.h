#pragma once

#include <QDialog>
#include <QPoint>

#include <optional>

class QMouseEvent;
class QWidget;

// A dialog that the user can move by pressing the left button anywhere on its free client area
// (where no child control takes the press) and dragging, as if holding the title bar.
class CDraggableDialog : public QDialog {
    Q_OBJECT

public:
    explicit CDraggableDialog(QWidget* parent = nullptr, Qt::WindowFlags flags = {});

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct ManualDrag {
        QPoint pressGlobal;
        QPoint windowStart;
    };

    // Set while the window follows the mouse by itself, on platforms that offer no
    // interactive window move.
    std::optional<ManualDrag> m_manualDrag;
};
