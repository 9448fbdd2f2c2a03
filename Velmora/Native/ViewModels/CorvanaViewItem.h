#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "VelmoraUtils/CorvanaClient.h"

namespace velmora {

// The values are fixed: the now-playing record carries them too.
enum class CorvanaViewItemKind : int32_t {
    Unknown = 0,
    Album = 1,
    Artist = 2,
    Episode = 3,
    Playlist = 4,
    Show = 5,
    Station = 6,
    Track = 7,
};

// One feed item as a tile shows it.
struct CorvanaViewItem {
    std::string Name;
    std::string Description;  // artists, else show, owner or the item's own description
    std::string Uri;          // the playback context
    std::string ImageUrl;     // empty when the item has no cover
    CorvanaViewItemKind Kind = CorvanaViewItemKind::Unknown;
};

// The feed's kind text, compared exactly: "Artist" is not "artist".
CorvanaViewItemKind KindFromType(std::string_view type);

CorvanaViewItem MakeViewItem(const utils::corvana_client::HomeItem& item);

// What the page keeps of a text from the desktop app or the web API. It shows each on one line, elided,
// and nobody reads further; a longer text would only cost its layout in full (a 100 kB title, 10,000
// combining marks on one letter).
inline constexpr size_t kShownTextCodePoints = 300;
std::string ShownText(std::string_view text);

}  // namespace velmora
