#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <optional>
#include <ostream>

// The widget as it is painted, one 32-bit ARGB value per pixel.
inline QImage GrabPixels(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// The smallest rectangle holding every pixel of exactly that colour, if any.
inline std::optional<QRect> BoundsOfColour(const QImage& image, QColor colour, const QRect& area) {
    std::optional<QRect> bounds;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixel(x, y) == colour.rgb()) {
                bounds = bounds ? bounds->united(QRect(x, y, 1, 1)) : QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

inline bool HasColour(const QImage& image, QColor colour, const QRect& area) {
    return BoundsOfColour(image, colour, area).has_value();
}

inline void PrintTo(const QRect& rect, std::ostream* out) {
    *out << "QRect(" << rect.x() << ", " << rect.y() << ", " << rect.width() << " x "
         << rect.height() << ")";
}

inline void PrintTo(const QPoint& point, std::ostream* out) {
    *out << "QPoint(" << point.x() << ", " << point.y() << ")";
}
