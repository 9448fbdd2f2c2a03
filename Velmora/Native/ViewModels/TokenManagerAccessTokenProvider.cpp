#include "Velmora/Native/ViewModels/TokenManagerAccessTokenProvider.h"

namespace velmora {

platform::Task<std::optional<std::string>> TokenManagerAccessTokenProvider::GetAccessTokenAsync() {
    auto manager = manager_;  // the provider may go while the read runs
    if (!manager) co_return std::nullopt;
    co_await platform::ResumeBlocking();
    co_return manager->GetAccessToken();
}

}  // namespace velmora
