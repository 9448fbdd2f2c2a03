#include "VelmoraUtils/CorvanaClient.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Http/HttpClient.h"
#include "VelmoraUtils/CorvanaEndpoints.h"
#include "VelmoraUtils/Logger.h"
#include "VelmoraUtils/TokenManager.h"
#include "VelmoraUtils/Utf8Text.h"

namespace utils::corvana_client {

using nlohmann::json;

namespace {

// A key counts only when it holds the expected JSON type; anything else is absence, never an error.
const json* Member(const json& object, const char* key, json::value_t type) {
    auto it = object.find(key);
    if (it == object.end() || it->type() != type) return nullptr;
    return &*it;
}

std::optional<std::string> String(const json& object, const char* key) {
    const json* value = Member(object, key, json::value_t::string);
    if (!value) return std::nullopt;
    return value->get<std::string>();
}

// For each object of array `key` with a string `field`, that string, in order.
std::vector<std::string> Strings(const json& object, const char* key, const char* field) {
    std::vector<std::string> texts;
    const json* array = Member(object, key, json::value_t::array);
    if (!array) return texts;
    for (const auto& element : *array) {
        if (!element.is_object()) continue;
        if (auto text = String(element, field)) texts.push_back(std::move(*text));
    }
    return texts;
}

std::optional<std::string> NestedString(const json& object, const char* key, const char* field) {
    const json* inner = Member(object, key, json::value_t::object);
    return inner ? String(*inner, field) : std::nullopt;
}

HomeItem ConvertItem(const json& item) {
    HomeItem converted;
    converted.name = String(item, "name").value_or("");
    converted.type = String(item, "type").value_or("");
    converted.uri = String(item, "uri").value_or("");
    // A URI that lost a character to mending names something else: the item plays nothing rather than
    // the wrong thing.
    if (converted.uri.find(Utf8Text::kReplacement) != std::string::npos) converted.uri.clear();
    converted.images = Strings(item, "images", "url");
    converted.artists = Strings(item, "artists", "name");
    if (const json* album = Member(item, "album", json::value_t::object)) {
        converted.albumImages = Strings(*album, "images", "url");
    }
    converted.ownerDisplayName = NestedString(item, "owner", "display_name");
    converted.showName = NestedString(item, "show", "name");
    converted.description = String(item, "description");
    return converted;
}

std::vector<HomeSection> ConvertFeed(const json& root) {
    std::vector<HomeSection> sections;
    const json* content = root.is_object() ? Member(root, "content", json::value_t::object) : nullptr;
    const json* rows = content ? Member(*content, "items", json::value_t::array) : nullptr;
    if (!rows) return sections;
    for (const auto& row : *rows) {
        if (!row.is_object()) continue;
        HomeSection section;
        section.name = String(row, "name").value_or("");
        const json* rowContent = Member(row, "content", json::value_t::object);
        const json* items = rowContent ? Member(*rowContent, "items", json::value_t::array) : nullptr;
        if (items) {
            for (const auto& item : *items) {
                if (item.is_object()) section.items.push_back(ConvertItem(item));
            }
        }
        if (!section.items.empty()) sections.push_back(std::move(section));
    }
    return sections;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The code unit of the escape "\uXXXX" at `at`, or -1 when there is none.
int32_t EscapedUnitAt(std::string_view text, size_t at) {
    if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') return -1;
    int32_t unit = 0;
    for (size_t k = at + 2; k < at + 6; ++k) {
        const int digit = HexValue(text[k]);
        if (digit < 0) return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

// The feed's text as the JSON parser takes it. The parser refuses a whole document for one ill-formed
// UTF-8 sequence or one escaped lone surrogate ("\ud800"), which would lose every row for one bad
// character: each such character becomes U+FFFD, and only the text that held it changes.
std::string MendedFeedText(std::string_view text) {
    const std::string valid = Utf8Text::Mended(text);
    std::string mended;
    mended.reserve(valid.size());
    bool inString = false;
    for (size_t i = 0; i < valid.size();) {
        const char c = valid[i];
        if (!inString || c != '\\') {
            if (c == '"') inString = !inString;
            mended += c;
            ++i;
            continue;
        }
        const int32_t unit = EscapedUnitAt(valid, i);
        if (unit < 0xD800 || unit > 0xDFFF) {
            // Any other escape, whole: its second character is never the end of the string.
            mended.append(valid, i, std::min<size_t>(2, valid.size() - i));
            i += 2;
            continue;
        }
        const int32_t next = EscapedUnitAt(valid, i + 6);
        if (unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            mended.append(valid, i, 12);  // a pair
            i += 12;
        } else {
            mended += "\\uFFFD";
            i += 6;
        }
    }
    return mended;
}

}  // namespace

std::vector<HomeSection> ParseHomeFeed(std::string_view text) {
    json root = json::parse(MendedFeedText(text));
    if (!root.is_object())
        throw platform::PlatformError(platform::E_INVALIDARG, "the feed is not a JSON object");
    return ConvertFeed(root);
}

namespace {

// One request and its answer, without a log line.
platform::Task<HomeFeedResult> FetchOnceAsync(std::string accessToken) {
    HomeFeedResult result;
    platform::HttpResponseMessage response;
    try {
        platform::HttpRequestMessage request;
        request.method = platform::HttpMethod::Get;
        request.url = CorvanaEndpoints::WebApiOrigin() + std::string(kPartnerHomePathAndQuery);
        request.maxResponseBytes = 4 * 1024 * 1024;
        platform::HttpClient client;
        co_await platform::ResumeBackground();
        request.headers.emplace_back("Authorization", "Bearer " + accessToken);
        response = co_await client.SendRequestAsync(std::move(request));
    } catch (const std::exception& error) {
        result.failure = std::string("the web API could not be reached: ") + error.what();
        co_return result;
    } catch (...) {
        result.failure = "the web API could not be reached";
        co_return result;
    }
    result.statusCode = response.statusCode;
    if (!response.IsSuccessStatusCode()) {
        result.failure = "the web API answered with HTTP status " + std::to_string(response.statusCode);
    } else if (!response.content.empty()) {
        try {
            result.sections = ParseHomeFeed(response.content);
        } catch (...) {
            result.failure = "the web API's answer is not a home feed";
        }
    }
    co_return result;
}

void LogFailure() {
    Logger::Instance().LogError("corvana_client: FetchHomeSectionsAsync failed");
}

}  // namespace

platform::Task<HomeFeedResult> FetchHomeFeedAsync(std::string accessToken) {
    HomeFeedResult result = co_await FetchOnceAsync(std::move(accessToken));
    if (result.failure) LogFailure();
    co_return result;
}

platform::Task<std::vector<HomeSection>> FetchHomeSectionsAsync(std::string accessToken) {
    HomeFeedResult result = co_await FetchHomeFeedAsync(std::move(accessToken));
    co_return std::move(result.sections);
}

platform::Task<HomeFeedResult> FetchHomeFeedAsync(std::shared_ptr<TokenManager> tokens) {
    std::optional<std::string> accessToken = co_await tokens->GetAccessTokenAsync();
    if (!accessToken) {
        LogFailure();
        co_return HomeFeedResult{{}, "not signed in: there is no access token", 0};
    }
    HomeFeedResult result = co_await FetchOnceAsync(*accessToken);
    if (result.statusCode == 401) {
        // A token can be refused before its timer comes round (revoked, or it outlived the lifetime the
        // server gave): one refresh and one more try, never a loop.
        Logger::Instance().LogInfo("corvana_client: the web API refused the access token; refreshing it");
        std::optional<std::string> renewed = co_await tokens->RefreshRejectedAccessTokenAsync(*accessToken);
        if (renewed) {
            result = co_await FetchOnceAsync(*renewed);
        } else {
            result.failure = *result.failure + ", and the access token could not be refreshed";
        }
    }
    if (result.failure) LogFailure();
    co_return result;
}

}  // namespace utils::corvana_client
