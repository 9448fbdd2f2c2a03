#pragma once

#include <string>
#include <vector>

namespace corvanasim {

// One playable thing of the simulated catalogue.
struct CatalogItem {
    std::string uri;  // corvana:track:…, corvana:episode:…, corvana:ad:…
    std::string name;
    std::string artist;  // the show, for an episode
    std::string album;
    std::string imageId;
    int32_t durationMs = 0;
    bool isEpisode() const { return uri.rfind("corvana:episode:", 0) == 0; }
    bool isAdvertisement() const { return uri.rfind("corvana:ad:", 0) == 0; }
};

// The queue the player starts with: tracks, two podcast episodes and an advertisement.
std::vector<CatalogItem> DefaultQueue();

// A row of the home feed: its title and items as the web API gives them (kind, name, uri, image id).
struct FeedEntry {
    std::string type;
    std::string name;
    std::string uri;
    std::string imageId;
    std::string subtitle;  // artist, owner or show, by kind
};
struct FeedRow {
    std::string name;
    std::vector<FeedEntry> items;
};
std::vector<FeedRow> HomeFeedRows();

}  // namespace corvanasim
