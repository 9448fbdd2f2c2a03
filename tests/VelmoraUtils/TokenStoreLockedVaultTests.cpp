// The token store against a gnome-keyring whose collection has been locked.
#include <gtest/gtest.h>

#include "VelmoraUtils/TokenStore.h"
#include "tests/support/PrivateBus.h"

using utils::StoredCredential;
using utils::TokenStore;

TEST(TokenStoreInALockedKeyring, ReadsSayLockedRatherThanMissingAndSavesAreRefused) {
    ASSERT_TRUE(TokenStore::SaveCredentials({{"userLCorvanaRefreshToken", "stored-before-the-lock"}}));
    testsupport::LockDefaultKeyring();

    EXPECT_EQ(TokenStore::Read("userLCorvanaRefreshToken").state, StoredCredential::State::Locked);
    EXPECT_EQ(TokenStore::ReadCredential("userLCorvanaRefreshToken"), std::nullopt);
    EXPECT_EQ(TokenStore::Read("never-savedCorvanaRefreshToken").state, StoredCredential::State::Missing);
    EXPECT_FALSE(TokenStore::SaveCredentials({{"userLCorvanaRefreshToken", "new"}}));
}
