#pragma once

#include <memory>

#include "Velmora/Common/IAccessTokenProvider.h"
#include "VelmoraUtils/TokenManager.h"

namespace velmora {

// The access token as the token manager keeps it, read on the blocking pool.
class TokenManagerAccessTokenProvider : public IAccessTokenProvider {
public:
    explicit TokenManagerAccessTokenProvider(std::shared_ptr<utils::TokenManager> manager)
        : manager_(std::move(manager)) {}

    platform::Task<std::optional<std::string>> GetAccessTokenAsync() override;
    platform::Task<std::optional<std::string>> RefreshRejectedAccessTokenAsync(
        std::string rejectedAccessToken) override;

private:
    std::shared_ptr<utils::TokenManager> manager_;
};

}  // namespace velmora
