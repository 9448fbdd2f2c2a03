// The page's tests run in one offscreen Qt application, with covers served over HTTPS by a server whose
// CA the page trusts.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <cstdlib>

#include "tests/Velmora/Native/PageFixture.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    testsupport::CoverServer::Instance();
    int result = RUN_ALL_TESTS();
    testsupport::CoverServer::Instance().Stop();
    return result;
}
