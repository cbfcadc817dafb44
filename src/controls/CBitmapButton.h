#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QSize>

class QPaintEvent;
class QWidget;

// A button drawn entirely by one of its pictures, unscaled at its top-left corner: the selected
// picture while pressed, else the focused one while it has the focus, else the disabled one
// while disabled, else the normal one. A role without a picture shows the normal picture.
class CBitmapButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit CBitmapButton(QWidget* parent = nullptr);

    // Bitmap resource ids; 0 leaves that role without a picture.
    void LoadBitmaps(int normalId, int selectedId = 0, int focusedId = 0, int disabledId = 0);

    // The normal picture's size.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const QImage& ChoosePicture() const;

    QImage m_normal;
    QImage m_selected;
    QImage m_focused;
    QImage m_disabled;
};
