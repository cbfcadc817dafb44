#include "ResourceImages.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QSize>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr QRgb kBlue = 0xFF349AFC;  // RGB(52, 154, 252)
constexpr QRgb kWhite = 0xFFFCFEFC; // RGB(252, 254, 252)
constexpr QRgb kMagenta = 0xFFFF00FF;

int Brightness(QRgb pixel) {
    return qRed(pixel) + qGreen(pixel) + qBlue(pixel);
}

} // namespace

// Linking the controls library must be enough to have every picture.
TEST(ResourceImages, EveryPictureIsEmbeddedWithItsSize) {
    struct Expected {
        int firstId;
        int lastId;
        QSize size;
    };
    const std::vector<Expected> table = {
        {130, 130, {2, 7}},   {131, 132, {1, 7}},   {133, 133, {2, 7}},  {142, 153, {89, 24}},
        {156, 162, {24, 24}}, {163, 165, {89, 24}}, {166, 166, {2, 40}},
    };
    for (const Expected& expected : table) {
        for (int id = expected.firstId; id <= expected.lastId; ++id) {
            EXPECT_EQ(LoadBitmapResource(id).size(), expected.size) << "bitmap " << id;
        }
    }
    EXPECT_TRUE(LoadBitmapResource(0).isNull());
    EXPECT_TRUE(LoadBitmapResource(154).isNull());

    for (const int id : {140, 141}) {
        const QIcon icon = LoadIconResource(id);
        ASSERT_FALSE(icon.isNull()) << "icon " << id;
        EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16))) << "icon " << id;
        EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32))) << "icon " << id;
    }
    EXPECT_TRUE(LoadIconResource(140).availableSizes().contains(QSize(256, 256)));
    EXPECT_TRUE(LoadIconResource(128).isNull());
}

TEST(ResourceImages, ProgressBarPiecesHaveExactlyTheirTwoColours) {
    struct Piece {
        int id;
        std::vector<const char*> columns;
    };
    const std::vector<Piece> pieces = {
        {130, {"BBBBBBB", "BWWWWWB"}},
        {131, {"BWWWWWB"}},
        {132, {"BWBBBWB"}},
        {133, {"BWWWWWB", "BBBBBBB"}},
    };
    for (const Piece& piece : pieces) {
        const QImage image = LoadBitmapResource(piece.id);
        EXPECT_EQ(image.depth(), 1) << "bitmap " << piece.id;
        for (int x = 0; x < static_cast<int>(piece.columns.size()); ++x) {
            for (int y = 0; y < 7; ++y) {
                const QRgb expected = piece.columns[x][y] == 'B' ? kBlue : kWhite;
                EXPECT_EQ(image.pixel(x, y), expected)
                    << "bitmap " << piece.id << " at " << x << "," << y;
            }
        }
    }
}

TEST(ResourceImages, ToolbarIconsLieOnTheKeyColour) {
    for (int id = 156; id <= 162; ++id) {
        const QImage icon = LoadBitmapResource(id);
        int keyPixels = 0;
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 24; ++x) {
                EXPECT_EQ(qAlpha(icon.pixel(x, y)), 255) << "bitmap " << id;
                keyPixels += icon.pixel(x, y) == kMagenta ? 1 : 0;
            }
        }
        EXPECT_EQ(icon.pixel(0, 0), kMagenta) << "bitmap " << id;
        EXPECT_GT(keyPixels, 24 * 24 / 4) << "bitmap " << id;
        EXPECT_LT(keyPixels, 24 * 24 * 9 / 10) << "bitmap " << id;
    }
}

// Focused, normal and pressed pictures come in threes: a darker rim for the focused one and
// the face's gradient reversed for the pressed one.
TEST(ResourceImages, ButtonPicturesShowTheirStates) {
    for (const int focusedId : {142, 145, 148, 151, 163}) {
        const QImage focused = LoadBitmapResource(focusedId);
        const QImage normal = LoadBitmapResource(focusedId + 1);
        const QImage pressed = LoadBitmapResource(focusedId + 2);
        const QPoint rim(44, 0);
        const QPoint faceTop(4, 2);
        const QPoint faceBottom(4, 21);
        EXPECT_LT(Brightness(focused.pixel(rim)), Brightness(normal.pixel(rim))) << focusedId;
        EXPECT_GT(Brightness(normal.pixel(faceTop)), Brightness(normal.pixel(faceBottom)))
            << focusedId;
        EXPECT_LT(Brightness(pressed.pixel(faceTop)), Brightness(pressed.pixel(faceBottom)))
            << focusedId;
        EXPECT_EQ(qAlpha(normal.pixel(0, 0)), 0) << "rounded corner " << focusedId;
        EXPECT_EQ(qAlpha(normal.pixel(44, 12)), 255) << focusedId;
    }
}
