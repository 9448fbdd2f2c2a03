#pragma once

#include <optional>
#include <string>

#include "Platform/Foundation/Task.h"

namespace velmora {

// What the widget view model needs of the sign-in: the signed-in user's current access token. Reading it
// is a vault round trip, so it is asynchronous and never blocks the caller's thread; empty when there is
// no token.
class IAccessTokenProvider {
public:
    virtual ~IAccessTokenProvider() = default;
    virtual platform::Task<std::optional<std::string>> GetAccessTokenAsync() = 0;
};

}  // namespace velmora
