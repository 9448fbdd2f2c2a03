#include <gtest/gtest.h>

#include "tests/support/PrivateBus.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new testsupport::PrivateBusEnvironment);
    return RUN_ALL_TESTS();
}
