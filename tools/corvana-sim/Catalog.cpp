#include "tools/corvana-sim/Catalog.h"

namespace corvanasim {

std::vector<CatalogItem> DefaultQueue() {
    return {
        {"corvana:track:1mK3nT8vX2qR", "Neon Boss Fight", "Pixel Orchestra", "Final Stage", "track-1",
         184000},
        {"corvana:track:7bQ2wL5pZ9aC", "Respawn", "The Checkpoints", "Save Points", "track-2", 201000},
        {"corvana:track:3xF8kD1mH6sV", "Loot Drop", "Critical Hit", "Rare Items", "track-3", 167000},
        {"corvana:episode:5tY9gN2cB4eW", "Speedrunning the Classics", "Game Talk Weekly", "Episode 112",
         "episode-1", 1820000},
        {"corvana:track:9pL4rE7uJ1oI", "Open World", "Wanderlust", "Side Quests", "track-4", 233000},
        {"corvana:ad:1", "Corvana Premium", "Corvana", "", "ad-1", 15000},
        {"corvana:track:2hS6vM3qT8yK", "Last Life", "Pixel Orchestra", "Final Stage", "track-5", 176000},
        {"corvana:episode:8cR1dZ6wQ3fA", "Designing Boss Battles", "Game Talk Weekly", "Episode 113",
         "episode-2", 2410000},
        {"corvana:track:4nW9bX2kP7gU", "Victory Lap", "The Checkpoints", "Save Points", "track-6", 149000},
    };
}

std::vector<FeedRow> HomeFeedRows() {
    return {
        {"Game on",
         {{"playlist", "Battle Mix", "corvana:playlist:4Gk2PqL8battle", "feed-playlist-1", "Corvana"},
          {"playlist", "Boss Fight Anthems", "corvana:playlist:9Xs1BossFight", "feed-playlist-2", "Corvana"},
          {"album", "Final Stage", "corvana:album:3FinalStage", "feed-album-1", "Pixel Orchestra"},
          {"track", "Neon Boss Fight", "corvana:track:1mK3nT8vX2qR", "track-1", "Pixel Orchestra"},
          {"playlist", "Lo-fi Grind", "corvana:playlist:7LofiGrind", "feed-playlist-3", "Corvana"},
          {"station", "Chiptune Radio", "corvana:station:2Chiptune", "feed-station-1", ""}}},
        {"Your favourite artists",
         {{"artist", "Pixel Orchestra", "corvana:artist:5PixelOrch", "feed-artist-1", ""},
          {"artist", "The Checkpoints", "corvana:artist:8Checkpts", "feed-artist-2", ""},
          {"artist", "Critical Hit", "corvana:artist:1CritHit", "feed-artist-3", ""},
          {"album", "Save Points", "corvana:album:6SavePoints", "feed-album-2", "The Checkpoints"}}},
        {"Podcasts for the queue",
         {{"show", "Game Talk Weekly", "corvana:show:3GameTalk", "feed-show-1", "Game Talk Media"},
          {"episode", "Speedrunning the Classics", "corvana:episode:5tY9gN2cB4eW", "episode-1",
           "Game Talk Weekly"},
          {"episode", "Designing Boss Battles", "corvana:episode:8cR1dZ6wQ3fA", "episode-2",
           "Game Talk Weekly"}}},
        {"Recently played",
         {{"album", "Rare Items", "corvana:album:2RareItems", "feed-album-3", "Critical Hit"},
          {"track", "Respawn", "corvana:track:7bQ2wL5pZ9aC", "track-2", "The Checkpoints"},
          {"playlist", "Co-op Night", "corvana:playlist:1CoopNight", "feed-playlist-4", "Corvana"},
          {"track", "Open World", "corvana:track:9pL4rE7uJ1oI", "track-4", "Wanderlust"},
          {"station", "Speedrun Radio", "corvana:station:6Speedrun", "feed-station-2", ""},
          {"playlist", "Victory Laps", "corvana:playlist:5Victory", "feed-playlist-5", "Corvana"}}},
    };
}

}  // namespace corvanasim
