// The token store against gnome-keyring's Secret Service on a private bus.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "VelmoraUtils/TokenStore.h"

using utils::TokenStore;

TEST(TokenStoreInTheKeyring, NeverSavedReadsEmpty) {
    EXPECT_EQ(TokenStore::ReadCredential("never-saved-userCorvanaAccessToken"), std::nullopt);
    EXPECT_EQ(TokenStore::Read("never-saved-userCorvanaAccessToken").state,
              utils::StoredCredential::State::Missing);
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

TEST(TokenStoreInTheKeyring, AReaderNeverFindsAnEntryMissingWhileItIsReplaced) {
    ASSERT_TRUE(TokenStore::SaveCredentials({{"userDCorvanaRefreshToken", "token-0"}}));
    std::atomic<bool> saving = true;
    std::thread saver([&] {
        for (int i = 1; i <= 100; ++i)
            EXPECT_TRUE(
                TokenStore::SaveCredentials({{"userDCorvanaRefreshToken", "token-" + std::to_string(i)}}));
        saving = false;
    });
    int reads = 0;
    std::map<utils::StoredCredential::State, int> states;
    while (saving) {
        ++states[TokenStore::Read("userDCorvanaRefreshToken").state];
        ++reads;
    }
    saver.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(states[utils::StoredCredential::State::Found], reads);
    EXPECT_EQ(TokenStore::ReadCredential("userDCorvanaRefreshToken"), "token-100");
}
