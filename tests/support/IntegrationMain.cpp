#include <gtest/gtest.h>

#include "tests/support/PrivateBus.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new testsupport::PrivateBusEnvironment);
#ifdef VELMORA_TEST_WITH_KEYRING
    testing::AddGlobalTestEnvironment(new testsupport::KeyringEnvironment);
#endif
    return RUN_ALL_TESTS();
}
