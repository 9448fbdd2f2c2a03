#include "Velmora/Common/TokenManagerAccessTokenProvider.h"

namespace velmora {

platform::Task<std::optional<std::string>> TokenManagerAccessTokenProvider::GetAccessTokenAsync() {
    auto manager = manager_;  // the provider may go while the read runs
    if (!manager) co_return std::nullopt;
    co_return co_await manager->GetAccessTokenAsync();
}

platform::Task<std::optional<std::string>> TokenManagerAccessTokenProvider::RefreshRejectedAccessTokenAsync(
    std::string rejectedAccessToken) {
    auto manager = manager_;
    if (!manager) co_return std::nullopt;
    co_return co_await manager->RefreshRejectedAccessTokenAsync(std::move(rejectedAccessToken));
}

}  // namespace velmora
