#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Foundation/Task.h"

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

// The feed's JSON text as sections. Throws on text that is not a JSON object; within valid JSON, shapes
// that do not fit are skipped, never an error.
std::vector<HomeSection> ParseHomeFeed(std::string_view json);

}  // namespace utils::corvana_client
