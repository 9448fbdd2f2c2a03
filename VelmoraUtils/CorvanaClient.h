#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Foundation/Task.h"

namespace utils {
class TokenManager;
}

namespace utils::corvana_client {

struct HomeItem {
    std::string name;
    std::string type;  // the feed's kind text: "track", "album", "playlist", ...
    std::string uri;
    std::vector<std::string> images;
    std::vector<std::string> artists;
    std::vector<std::string> albumImages;
    std::optional<std::string> ownerDisplayName;
    std::optional<std::string> showName;
    std::optional<std::string> description;
};

struct HomeSection {
    std::string name;
    std::vector<HomeItem> items;  // never empty
};

inline constexpr std::string_view kPartnerHomePathAndQuery =
    "/v1/views/partner-home?signal=category%3Agaming&content_limit=6&limit=4"
    "&types=track,album,playlist,artist,show,episode,station&include_full_episode_object=true";

// Fetches the partner-home feed with the given access token. Never fails: every failure ends in one log
// line and an empty list. The token never appears in a log line.
platform::Task<std::vector<HomeSection>> FetchHomeSectionsAsync(std::string accessToken);

// One fetch of the feed: its sections, or why there are none.
struct HomeFeedResult {
    std::vector<HomeSection> sections;
    // A one-line reason (never holding a token) when the feed could not be fetched; empty on success,
    // an empty body included.
    std::optional<std::string> failure;
    int32_t statusCode = 0;  // the web API's HTTP status; 0 when it gave none
};

// FetchHomeSectionsAsync that tells a failure from an empty feed: the same request and log line.
platform::Task<HomeFeedResult> FetchHomeFeedAsync(std::string accessToken);
// The feed with the signed-in user's token. When the web API refuses the token (401), the tokens are
// refreshed once and the fetch is tried once more.
platform::Task<HomeFeedResult> FetchHomeFeedAsync(std::shared_ptr<TokenManager> tokens);

// The feed's JSON text as sections. Throws on text that is not a JSON object; within valid JSON, shapes
// that do not fit are skipped, never an error.
std::vector<HomeSection> ParseHomeFeed(std::string_view json);

}  // namespace utils::corvana_client
