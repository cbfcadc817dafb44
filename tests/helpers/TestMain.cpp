// Runs a test program in a home of its own, so that nothing of the real user's is read or
// written, with the application object its layer needs (widgets always under the offscreen
// platform, whose pixels the tests expect).
#include "TemporaryHome.h"

#ifdef QT_WIDGETS_LIB
#include <QApplication>
using Application = QApplication;
#else
#include <QCoreApplication>
using Application = QCoreApplication;
#endif

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char* argv[]) {
    const TemporaryHome home;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Application application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return home.IsValid() ? RUN_ALL_TESTS() : 2;
}
