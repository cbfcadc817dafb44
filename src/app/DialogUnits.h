#pragma once

#include <QFont>
#include <QRect>

// Converts dialog units to pixels the way dialog templates are laid out: horizontal units are a
// quarter of the font's average character width, vertical units an eighth of its height.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int ToPixelsX(int units) const;
    int ToPixelsY(int units) const;
    QRect ToPixels(int x, int y, int width, int height) const;

private:
    int baseWidth_;
    int baseHeight_;
};
