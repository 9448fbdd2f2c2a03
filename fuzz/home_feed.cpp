// The home-feed parser: the web API's body, any bytes. What must hold: only a PlatformError or
// JSON parse error (for text that is no JSON object) comes out, as FetchHomeFeedAsync expects; every
// section has items; every text is valid UTF-8 (bad characters mended) and a URI holds no U+FFFD; the
// sections sent to the page (the homeContent event) and read back as a feed give the same sections.
#include <nlohmann/json.hpp>

#include "Platform/Foundation/PlatformError.h"
#include "Velmora/WebView/BridgeEvents.h"
#include "VelmoraUtils/CorvanaClient.h"
#include "fuzz/FuzzSupport.h"

using nlohmann::json;
using utils::corvana_client::HomeItem;
using utils::corvana_client::HomeSection;

namespace {

bool SameItem(const HomeItem& a, const HomeItem& b) {
    return a.name == b.name && a.type == b.type && a.uri == b.uri && a.images == b.images &&
           a.artists == b.artists && a.albumImages == b.albumImages &&
           a.ownerDisplayName == b.ownerDisplayName && a.showName == b.showName &&
           a.description == b.description;
}

bool SameSections(const std::vector<HomeSection>& a, const std::vector<HomeSection>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].items.size() != b[i].items.size()) return false;
        for (size_t k = 0; k < a[i].items.size(); ++k)
            if (!SameItem(a[i].items[k], b[i].items[k])) return false;
    }
    return true;
}

void CheckText(const std::string& text) {
    FUZZ_CHECK(fuzz::IsValidUtf8(text), "a feed text that is not valid UTF-8");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view body(reinterpret_cast<const char*>(data), size);
    std::vector<HomeSection> sections;
    try {
        sections = utils::corvana_client::ParseHomeFeed(body);
    } catch (const platform::PlatformError&) {
        return 0;
    } catch (const json::exception&) {
        return 0;
    } catch (const std::exception& error) {
        fuzz::Fail("only a JSON or platform error escapes ParseHomeFeed", error.what());
    }
    size_t items = 0;
    for (const auto& section : sections) {
        FUZZ_CHECK(!section.items.empty(), "a section without items");
        CheckText(section.name);
        for (const auto& item : section.items) {
            ++items;
            CheckText(item.name);
            CheckText(item.type);
            CheckText(item.uri);
            FUZZ_CHECK(item.uri.find("\xEF\xBF\xBD") == std::string::npos, "a mended URI was kept");
            for (const auto& text : item.images) CheckText(text);
            for (const auto& text : item.artists) CheckText(text);
            if (item.description) CheckText(*item.description);
        }
    }
    FUZZ_CHECK(items <= size / 2, std::to_string(items) + " items from " + std::to_string(size) + " bytes");

    // To the page and back: the event's sections, as a feed, parse to the same sections.
    json event = json::parse(velmora::bridge_events::EncodeHomeContent(sections));
    json rows = json::array();
    for (const auto& section : event["sections"])
        rows.push_back({{"name", section["name"]}, {"content", {{"items", section["items"]}}}});
    json feed = {{"content", {{"items", rows}}}};
    auto again = utils::corvana_client::ParseHomeFeed(feed.dump());
    FUZZ_CHECK(SameSections(sections, again), "the sections sent to the page read back differently");
    return 0;
}
