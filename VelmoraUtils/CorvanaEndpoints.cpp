#include "VelmoraUtils/CorvanaEndpoints.h"

#include <cstdlib>
#include <mutex>

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

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

void CorvanaEndpoints::ReportOverrides() {
    const std::string accounts = Variable("VELMORA_ACCOUNTS_URL");
    const std::string webApi = Variable("VELMORA_WEBAPI_URL");
    const std::string caFile = Variable("VELMORA_CA_FILE");

    // Said also when none is set: a widget started by the session bus (D-Bus activation) has the bus's
    // environment, not the shell's, and this line is the one sign that the overrides did not reach it.
    std::string line =
        accounts.empty() && webApi.empty() && caFile.empty()
            ? "CorvanaEndpoints: no development overrides (VELMORA_ACCOUNTS_URL, VELMORA_WEBAPI_URL and "
              "VELMORA_CA_FILE unset) - accounts: " +
                  std::string(kAccountsOrigin) + ", web API: " + std::string(kWebApiOrigin)
            : "CorvanaEndpoints: development overrides in force - accounts: " +
                  (accounts.empty() ? std::string(kAccountsOrigin) : accounts) +
                  ", web API: " + (webApi.empty() ? std::string(kWebApiOrigin) : webApi) +
                  ", extra CA: " + (caFile.empty() ? std::string("none") : caFile) +
                  (caFile.empty() ? "" : " (trusted for the overridden origins only)");

    // Once per setting: the environment does not change while the widget runs.
    static std::mutex mutex;
    static std::string reported;
    {
        std::lock_guard lock(mutex);
        if (line == reported) return;
        reported = line;
    }
    Logger::Instance().LogInfo(line);
}

std::string CorvanaEndpoints::TokenUrl() {
    return Origin("VELMORA_ACCOUNTS_URL", kAccountsOrigin) + "/api/token";
}

std::string CorvanaEndpoints::WebApiOrigin() {
    return Origin("VELMORA_WEBAPI_URL", kWebApiOrigin);
}

std::optional<std::string> CorvanaEndpoints::ExtraCaFile() {
    std::string value = Variable("VELMORA_CA_FILE");
    if (value.empty()) return std::nullopt;
    return value;
}

}  // namespace utils
