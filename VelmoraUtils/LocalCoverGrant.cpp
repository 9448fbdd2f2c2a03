#include "VelmoraUtils/LocalCoverGrant.h"

#include <string_view>

namespace utils {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::string> LocalCoverGrant::FilePathOf(const std::string& url) {
    constexpr std::string_view kScheme = "file://";
    std::string_view rest = url;
    if (rest.size() <= kScheme.size()) return std::nullopt;
    for (size_t i = 0; i < kScheme.size(); ++i) {
        const char c = rest[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kScheme[i]) return std::nullopt;
    }
    rest.remove_prefix(kScheme.size());
    if (rest.starts_with("localhost/")) rest.remove_prefix(std::string_view("localhost").size());
    // Another host's file is not this machine's to show.
    if (!rest.starts_with('/')) return std::nullopt;
    if (rest.find_first_of("?#") != std::string_view::npos) return std::nullopt;
    std::string path;
    path.reserve(rest.size());
    for (size_t i = 0; i < rest.size(); ++i) {
        char c = rest[i];
        if (c == '%') {
            if (i + 2 >= rest.size()) return std::nullopt;
            const int high = HexValue(rest[i + 1]);
            const int low = HexValue(rest[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        if (c == '\0') return std::nullopt;
        path.push_back(c);
    }
    return path;
}

uint64_t LocalCoverGrant::Follow(const std::string& imageUrl) {
    auto path = FilePathOf(imageUrl);
    std::lock_guard lock(lock_);
    if (!path) {
        url_.clear();
        path_.clear();
        number_ = 0;
        return 0;
    }
    if (number_ == 0 || imageUrl != url_) {
        url_ = imageUrl;
        path_ = std::move(*path);
        number_ = ++lastNumber_;
    }
    return number_;
}

std::optional<std::string> LocalCoverGrant::PathOf(uint64_t number) const {
    std::lock_guard lock(lock_);
    if (number == 0 || number != number_) return std::nullopt;
    return path_;
}

std::optional<std::string> LocalCoverGrant::PathOfUrl(const std::string& fileUrl) const {
    // By path: a URL handed back by another part may escape other characters than the state did.
    auto path = FilePathOf(fileUrl);
    std::lock_guard lock(lock_);
    if (number_ == 0 || !path || *path != path_) return std::nullopt;
    return path_;
}

}  // namespace utils
