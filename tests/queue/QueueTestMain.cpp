// The queue tests run with a QCoreApplication in a home of their own, so the user's real settings
// and list file are never touched.
#include "TemporaryHome.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    const TemporaryHome home;
    if (!home.IsValid()) {
        return 2;
    }
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
