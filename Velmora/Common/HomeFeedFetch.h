#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Foundation/Task.h"
#include "Velmora/Common/IAccessTokenProvider.h"
#include "VelmoraUtils/CorvanaClient.h"

namespace velmora {

// One fetch of the home feed with an access token: corvana_client::FetchHomeFeedAsync, or a test's fake.
using FetchHomeFeed =
    std::function<platform::Task<utils::corvana_client::HomeFeedResult>(std::string accessToken)>;

// The home feed's sections with `accessToken`. A token the web API refuses (401) has usually expired
// while the refresh timer could not run (a suspended machine), so the feed is asked for once more with the
// token `tokens` gives instead. Empty when the feed could not be had; the fetch logs why.
inline platform::Task<std::vector<utils::corvana_client::HomeSection>> FetchHomeSectionsRetryingOnce(
    std::shared_ptr<IAccessTokenProvider> tokens, std::string accessToken, FetchHomeFeed fetch) {
    constexpr int32_t kUnauthorized = 401;
    auto result = co_await fetch(accessToken);
    if (result.statusCode == kUnauthorized && tokens) {
        auto renewed = co_await tokens->RefreshRejectedAccessTokenAsync(std::move(accessToken));
        if (renewed && !renewed->empty()) result = co_await fetch(std::move(*renewed));
    }
    co_return std::move(result.sections);
}

// The real fetch, for the front ends' default services.
inline FetchHomeFeed DefaultFetchHomeFeed() {
    return [](std::string accessToken) {
        return utils::corvana_client::FetchHomeFeedAsync(std::move(accessToken));
    };
}

}  // namespace velmora
