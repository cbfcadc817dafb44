#include "ResourceImages.h"

#include <QIcon>
#include <QImage>
#include <QSize>

#include <gtest/gtest.h>

#include <vector>

// Linking the controls library must be enough to have every picture. (The bar pieces' exact
// pixels are checked where the list paints them.)
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
        const QList<QSize> sizes = LoadIconResource(id).availableSizes();
        EXPECT_TRUE(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(32, 32))) << id;
    }
    EXPECT_TRUE(LoadIconResource(140).availableSizes().contains(QSize(256, 256)));
    EXPECT_TRUE(LoadIconResource(128).isNull());
}
