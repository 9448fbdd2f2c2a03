#include "VelmoraUtils/CorvanaEndpoints.h"

#include <cstdlib>

#include "VelmoraUtils/Logger.h"

namespace utils {

namespace {

// An override counts only when it is an https origin; anything else is reported and ignored, so a typo
// can never send tokens over plain text.
std::string Origin(const char* variable, std::string_view fallback) {
    const char* value = std::getenv(variable);
    if (!value || !*value) return std::string(fallback);
    std::string origin(value);
    if (!origin.starts_with("https://")) {
        Logger::Instance().LogError(std::string("CorvanaEndpoints: ignoring ") + variable +
                                    ", which is not an https URL");
        return std::string(fallback);
    }
    while (origin.ends_with("/")) origin.pop_back();
    return origin;
}

}  // namespace

std::string CorvanaEndpoints::TokenUrl() {
    return Origin("VELMORA_ACCOUNTS_URL", kAccountsOrigin) + "/api/token";
}

std::string CorvanaEndpoints::WebApiOrigin() {
    return Origin("VELMORA_WEBAPI_URL", kWebApiOrigin);
}

std::optional<std::string> CorvanaEndpoints::ExtraCaFile() {
    const char* value = std::getenv("VELMORA_CA_FILE");
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

}  // namespace utils
