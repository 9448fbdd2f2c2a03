#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace utils {

// Where the Corvana web services live, and who we are to them. For the simulator and tests,
// VELMORA_ACCOUNTS_URL and VELMORA_WEBAPI_URL replace the scheme, host and port of the accounts service and
// of the web API (https only), and VELMORA_CA_FILE names an extra CA certificate to trust for those two
// origins only (HttpClient::DefaultOptions). Nothing else is configurable.
struct CorvanaEndpoints {
    static constexpr std::string_view kClientId = "5e0c9a7d2b4f4e61a8d3c7b90f1e2a46";
    // The desktop app checks the auth request's redirect URI against this, and the token exchange must
    // repeat it exactly.
    static constexpr std::string_view kRedirectUri = "https://www.corvana.com";
    static constexpr std::string_view kAccountsOrigin = "https://accounts.corvana.com";
    static constexpr std::string_view kWebApiOrigin = "https://api.corvana.com";
    static constexpr std::string_view kScopes =
        "playlist-read-private user-read-currently-playing user-modify-playback-state "
        "user-read-playback-state "
        "streaming user-library-read user-library-modify";

    static std::string TokenUrl();
    static std::string WebApiOrigin();
    static std::optional<std::string> ExtraCaFile();

    // Logs one "INFO" line naming the overrides in force, so that a session log shows that the widget did
    // not talk to the real services, or that none is set, so that one that was meant to be shows missing.
    // Every front end calls it at start; a later call with the same setting logs nothing.
    static void ReportOverrides();
};

}  // namespace utils
