// The token store against gnome-keyring's Secret Service on a private bus.
#include <gtest/gtest.h>

#include "VelmoraUtils/TokenStore.h"

using utils::TokenStore;

TEST(TokenStoreInTheKeyring, NeverSavedReadsEmpty) {
    EXPECT_EQ(TokenStore::ReadCredential("never-saved-userCorvanaAccessToken"), std::nullopt);
}

TEST(TokenStoreInTheKeyring, SavingTwiceKeepsOneEntryWithTheSecondPassword) {
    ASSERT_TRUE(TokenStore::SaveCredentials({{"userACorvanaRefreshToken", "first"}}));
    ASSERT_TRUE(TokenStore::SaveCredentials({{"userACorvanaRefreshToken", "second"}}));
    EXPECT_EQ(TokenStore::ReadCredential("userACorvanaRefreshToken"), "second");
}

TEST(TokenStoreInTheKeyring, TwoEntriesUnderTheOneResourceKeepTheirOwnPasswords) {
    ASSERT_TRUE(TokenStore::SaveCredentials(
        {{"userBCorvanaAccessToken", "access-b"}, {"userBCorvanaRefreshToken", "refresh-b"}}));
    EXPECT_EQ(TokenStore::ReadCredential("userBCorvanaAccessToken"), "access-b");
    EXPECT_EQ(TokenStore::ReadCredential("userBCorvanaRefreshToken"), "refresh-b");
    EXPECT_EQ(TokenStore::ReadCredential("userCCorvanaAccessToken"), std::nullopt);
}
