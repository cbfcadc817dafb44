#include "DrawKeyedBitmap.h"

#include <QColor>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr QRgb kMagenta = 0xFFFF00FF;

// A target where every pixel differs, so that any stray write shows.
QImage PatternedTarget() {
    QImage target(8, 3, QImage::Format_ARGB32);
    for (int y = 0; y < target.height(); ++y) {
        for (int x = 0; x < target.width(); ++x) {
            target.setPixel(x, y, qRgb(30 * x, 80 * y, 200 - 20 * x));
        }
    }
    return target;
}

} // namespace

TEST(DrawKeyedBitmap, KeyPixelsLeaveTheTargetAndAllOthersReplaceItExactly) {
    struct KeyedCase {
        const char* name;
        QImage::Format format;
        std::vector<QRgb> row; // a 4 x 1 image, drawn at (2, 1)
    };
    const std::vector<KeyedCase> cases = {
        {"all magenta", QImage::Format_RGB32, {kMagenta, kMagenta, kMagenta, kMagenta}},
        {"no magenta", QImage::Format_RGB32, {0xFF000000, 0xFFFFFFFF, 0xFF349AFC, 0xFF123456}},
        {"one step off", QImage::Format_RGB32, {0xFFFE00FF, 0xFFFF01FF, 0xFFFF00FE, kMagenta}},
        {"alpha ignored", QImage::Format_ARGB32, {0x00102030, 0x80FF00FF, 0x7F405060, 0}},
        {"indexed", QImage::Format_Indexed8, {0xFF349AFC, kMagenta, 0xFFFCFEFC, 0xFF349AFC}},
    };
    for (const KeyedCase& keyed : cases) {
        SCOPED_TRACE(keyed.name);
        QImage image(4, 1, keyed.format);
        if (keyed.format == QImage::Format_Indexed8) {
            image.setColorTable(QList<QRgb>(keyed.row.begin(), keyed.row.end()));
        }
        for (int x = 0; x < 4; ++x) {
            image.setPixel(x, 0, keyed.format == QImage::Format_Indexed8 ? x : keyed.row[x]);
        }
        const QImage before = PatternedTarget();
        QImage target = before;
        QPainter painter(&target);
        // Whatever the caller's painter is set to, the pixels are copied as they are.
        painter.setCompositionMode(QPainter::CompositionMode_Multiply);
        painter.setOpacity(0.3);
        DrawKeyedBitmap(painter, 2, 1, image);
        EXPECT_EQ(painter.compositionMode(), QPainter::CompositionMode_Multiply);
        EXPECT_DOUBLE_EQ(painter.opacity(), 0.3);
        painter.end();

        for (int y = 0; y < target.height(); ++y) {
            for (int x = 0; x < target.width(); ++x) {
                const bool covered = y == 1 && x >= 2 && x < 6;
                const QRgb source = covered ? keyed.row[x - 2] | 0xFF000000 : kMagenta;
                const QRgb expected = source == kMagenta ? before.pixel(x, y) : source;
                EXPECT_EQ(target.pixel(x, y), expected) << "at " << x << "," << y;
            }
        }
    }
}
