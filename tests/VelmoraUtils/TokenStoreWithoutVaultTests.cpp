// The token store on a bus where no Secret Service runs: it must answer at once, never hang or raise.
#include <gtest/gtest.h>

#include "VelmoraUtils/TokenStore.h"

using utils::TokenStore;

TEST(TokenStoreWithoutAVault, ReadsAreEmptyAndSavesFailPromptly) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TokenStore::ReadCredential("userCorvanaAccessToken"), std::nullopt);
    EXPECT_FALSE(TokenStore::SaveCredentials({{"userCorvanaAccessToken", "token"}}));
    EXPECT_TRUE(TokenStore::SaveCredentials({}));  // nothing to write is no failure
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}
