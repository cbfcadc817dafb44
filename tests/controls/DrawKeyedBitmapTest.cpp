#include "DrawKeyedBitmap.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPen>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr QRgb kMagenta = 0xFFFF00FF;
constexpr int kDrawX = 3;
constexpr int kDrawY = 2;

QImage PatternedTarget() {
    QImage target(12, 10, QImage::Format_ARGB32);
    for (int y = 0; y < target.height(); ++y) {
        for (int x = 0; x < target.width(); ++x) {
            target.setPixel(x, y, qRgb(20 * x, 25 * y, 200 - 10 * x));
        }
    }
    return target;
}

struct KeyedCase {
    std::string name;
    std::vector<QRgb> row; // a 4 x 1 image
    QImage::Format format;
};

} // namespace

TEST(DrawKeyedBitmap, KeyPixelsLeaveTheTargetAndAllOthersReplaceItExactly) {
    const std::vector<KeyedCase> cases = {
        {"all magenta", {kMagenta, kMagenta, kMagenta, kMagenta}, QImage::Format_RGB32},
        {"no magenta", {0xFF000000, 0xFFFFFFFF, 0xFF349AFC, 0xFF123456}, QImage::Format_RGB32},
        {"one step off magenta",
         {0xFFFE00FF, 0xFFFF01FF, 0xFFFF00FE, kMagenta},
         QImage::Format_RGB32},
        {"alpha ignored", {0x00102030, 0x80FF00FF, 0x7F405060, 0xFF000000}, QImage::Format_ARGB32},
        {"indexed", {0xFF349AFC, kMagenta, 0xFFFCFEFC, 0xFF349AFC}, QImage::Format_Indexed8},
    };
    for (const KeyedCase& keyed : cases) {
        SCOPED_TRACE(keyed.name);
        QImage image(4, 1, keyed.format);
        if (keyed.format == QImage::Format_Indexed8) {
            image.setColorTable(QList<QRgb>(keyed.row.begin(), keyed.row.end()));
        }
        for (int x = 0; x < 4; ++x) {
            if (keyed.format == QImage::Format_Indexed8) {
                image.setPixel(x, 0, x);
            } else {
                image.setPixel(x, 0, keyed.row[x]);
            }
        }

        const QImage before = PatternedTarget();
        QImage target = before;
        {
            QPainter painter(&target);
            DrawKeyedBitmap(painter, kDrawX, kDrawY, image);
        }
        for (int y = 0; y < target.height(); ++y) {
            for (int x = 0; x < target.width(); ++x) {
                const bool covered = y == kDrawY && x >= kDrawX && x < kDrawX + 4;
                const QRgb source = covered ? keyed.row[x - kDrawX] | 0xFF000000 : 0;
                const QRgb expected = !covered || source == kMagenta ? before.pixel(x, y) : source;
                ASSERT_EQ(target.pixel(x, y), expected) << "at " << x << "," << y;
            }
        }
    }
}

TEST(DrawKeyedBitmap, IgnoresAndKeepsThePaintersState) {
    QImage image(2, 2, QImage::Format_RGB32);
    image.fill(QColor(10, 200, 30));
    QImage target(4, 4, QImage::Format_ARGB32);
    target.fill(QColor(250, 250, 250));
    QPainter painter(&target);
    painter.setCompositionMode(QPainter::CompositionMode_Multiply);
    painter.setOpacity(0.3);
    painter.setPen(QPen(Qt::red, 3));
    painter.setBrush(Qt::blue);

    DrawKeyedBitmap(painter, 1, 1, image);

    EXPECT_EQ(painter.compositionMode(), QPainter::CompositionMode_Multiply);
    EXPECT_DOUBLE_EQ(painter.opacity(), 0.3);
    EXPECT_EQ(painter.pen().color(), QColor(Qt::red));
    EXPECT_EQ(painter.pen().width(), 3);
    EXPECT_EQ(painter.brush().color(), QColor(Qt::blue));
    painter.end();
    EXPECT_EQ(target.pixel(1, 1), qRgb(10, 200, 30));
    EXPECT_EQ(target.pixel(2, 2), qRgb(10, 200, 30));
    EXPECT_EQ(target.pixel(0, 0), qRgb(250, 250, 250));
}
