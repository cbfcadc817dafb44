#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QSize>

class QPaintEvent;
class QWidget;

// A toolbar button: push-button frame, a one-line caption along the bottom and a keyed icon
// (magenta is transparent) centred above it. While pressed, the frame is sunken and the
// content moves one pixel right and down. Focus adds no mark.
class CIconTextButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit CIconTextButton(QWidget* parent = nullptr);

    void SetIconBitmap(const QImage& icon);
    // A bitmap resource id; an unknown id leaves the button without an icon.
    void SetIconBitmap(int resourceId);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_iconBitmap;
};
