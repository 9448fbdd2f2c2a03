#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdlib>
#include <memory>

#include "tests/support/TempDir.h"

// The main of tests that need a Qt application object: a QCoreApplication, or with VELMORA_TEST_GUI a
// QGuiApplication on the offscreen platform (also while ctest lists the tests, before any environment of
// its own applies).
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testsupport::TempDir runtime;
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 0);
#ifdef VELMORA_TEST_GUI
    QGuiApplication application(argc, argv);
#else
    QCoreApplication application(argc, argv);
#endif
    return RUN_ALL_TESTS();
}
