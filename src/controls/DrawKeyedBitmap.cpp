#include "DrawKeyedBitmap.h"

#include <QImage>
#include <QPainter>
#include <QPoint>

namespace {

QImage CutOutKeyColour(const QImage& image) {
    QImage keyed = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < keyed.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
        for (int x = 0; x < keyed.width(); ++x) {
            const QRgb opaque = line[x] | 0xFF000000;
            line[x] = opaque == kKeyColour ? 0 : opaque;
        }
    }
    keyed.setDevicePixelRatio(image.devicePixelRatio());
    return keyed;
}

} // namespace

void DrawKeyedBitmap(QPainter& painter, int x, int y, const QImage& image) {
    if (image.isNull()) {
        return;
    }
    painter.save();
    // Whatever the caller left set, the drawn pixels must replace the target's exactly.
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setOpacity(1.0);
    painter.drawImage(QPoint(x, y), CutOutKeyColour(image));
    painter.restore();
}
