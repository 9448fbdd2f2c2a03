#pragma once

#include <optional>
#include <string>

#include "Platform/Foundation/Task.h"

namespace velmora {

// What the front ends need of the sign-in: the signed-in user's current access token. Reading it is a
// vault round trip, so it is asynchronous and never blocks the caller's thread; empty when there is no
// token.
class IAccessTokenProvider {
public:
    virtual ~IAccessTokenProvider() = default;
    virtual platform::Task<std::optional<std::string>> GetAccessTokenAsync() = 0;
    // For a web API that refused `rejectedAccessToken` (401): the token to try once instead, refreshed
    // when need be; empty when there is none.
    virtual platform::Task<std::optional<std::string>> RefreshRejectedAccessTokenAsync(
        std::string rejectedAccessToken) = 0;
};

}  // namespace velmora
