// Runs the window tests in a QApplication whose home, settings and data folders are a fresh
// temporary folder, so that nothing of the real user's is read or written.
#include "TemporaryHome.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char* argv[]) {
    const TemporaryHome home;
    if (!home.IsValid()) {
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
