#include "Velmora/Mpris/MprisPlayer.h"

#include <limits>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>

#include "Platform/Media/MprisClient.h"
#include "VelmoraUtils/Logger.h"

namespace velmora::mpris {

namespace {

constexpr size_t kMaxDeviceIdBytes = 128;
constexpr size_t kMaxReportedProblems = 64;

std::string PercentDecoded(std::string_view text) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            decoded += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

}  // namespace

MprisPlayer::MprisPlayer(std::string busName, std::string deviceId,
                         const platform::MprisProperties& properties, Clock::time_point now)
    : busName_(std::move(busName)), deviceId_(std::move(deviceId)) {
    properties_.Merge(properties);
    sampledPositionUs_ = properties.positionUs.value_or(0);
    sampledAt_ = now;
    for (const auto& problem : properties_.problems) Report(problem);
    properties_.problems.clear();
    Refresh();
}

std::string MprisPlayer::Cut(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

std::string MprisPlayer::DeviceIdFor(const std::string& busName) {
    const std::string prefix = platform::MprisClient::kBusNamePrefix;
    if (busName.rfind(prefix, 0) != 0) return {};
    std::string id = busName.substr(prefix.size());
    if (id.empty() || id.size() > kMaxDeviceIdBytes || !std::isalnum(static_cast<unsigned char>(id[0])))
        return {};
    bool fits = std::all_of(id.begin(), id.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
    });
    return fits ? id : std::string();
}

MprisPlayer::Effect MprisPlayer::Apply(const platform::MprisProperties& change, Clock::time_point now) {
    Effect effect;
    const bool wasPlaying = IsPlaying();
    const auto oldTrack = properties_.metadata ? properties_.metadata->trackId : std::nullopt;
    // The reading moves on to now under the old status and rate, so a pause stops where it happened even
    // before the player is asked where that was.
    sampledPositionUs_ = PositionUsAt(now);
    sampledAt_ = now;
    properties_.Merge(change);
    for (const auto& problem : properties_.problems) Report(problem);
    properties_.problems.clear();
    effect.startedPlaying = !wasPlaying && IsPlaying();
    const auto newTrack = properties_.metadata ? properties_.metadata->trackId : std::nullopt;
    effect.positionStale = change.playbackStatus.has_value() || change.rate.has_value() ||
                           (change.metadata.has_value() && newTrack != oldTrack);
    if (change.metadata) Refresh();
    return effect;
}

void MprisPlayer::Seeked(int64_t positionUs, Clock::time_point now) {
    SamplePosition(positionUs, now);
}

void MprisPlayer::SamplePosition(int64_t positionUs, Clock::time_point now) {
    sampledPositionUs_ = positionUs;
    sampledAt_ = now;
}

std::string MprisPlayer::Name() const {
    if (properties_.identity && !properties_.identity->empty()) {
        return Cut(*properties_.identity, 200);
    }
    return deviceId_;
}

bool MprisPlayer::IsPlaying() const {
    return properties_.playbackStatus == "Playing";
}

bool MprisPlayer::IsStopped() const {
    return !properties_.playbackStatus || *properties_.playbackStatus == "Stopped";
}

std::optional<int64_t> MprisPlayer::LengthUs() const {
    if (!properties_.metadata || !properties_.metadata->lengthUs || *properties_.metadata->lengthUs <= 0)
        return std::nullopt;
    return properties_.metadata->lengthUs;
}

std::optional<double> MprisPlayer::Rate() const {
    if (!properties_.rate || !std::isfinite(*properties_.rate) || *properties_.rate <= 0 ||
        *properties_.rate > 100)
        return std::nullopt;
    return properties_.rate;
}

bool MprisPlayer::HasTrack() const {
    return properties_.metadata && (properties_.metadata->trackId || properties_.metadata->title);
}

int64_t MprisPlayer::PositionUsAt(Clock::time_point now) const {
    double position = static_cast<double>(sampledPositionUs_);
    if (IsPlaying()) {
        double elapsedUs = std::chrono::duration<double, std::micro>(now - sampledAt_).count();
        position += std::max(0.0, elapsedUs) * Rate().value_or(1.0);
    }
    // Compared in doubles, returned in integers: a length beyond 2^53 does not survive the round trip
    // through a double, and the position must never pass it.
    const int64_t end = LengthUs().value_or(std::numeric_limits<int64_t>::max());
    if (!(position > 0)) return 0;  // NaN included
    if (position >= static_cast<double>(end)) return end;
    return std::min(static_cast<int64_t>(position), end);
}

void MprisPlayer::Refresh() {
    const platform::MprisMetadata empty;
    const platform::MprisMetadata& metadata = properties_.metadata ? *properties_.metadata : empty;
    title_ = Fit("title", metadata.title);
    std::optional<std::string> artists;
    if (metadata.artists) {
        std::string joined;
        for (const auto& artist : *metadata.artists) {
            if (artist.empty()) continue;
            if (!joined.empty()) joined += ", ";
            joined += artist;
            if (joined.size() > kMaxTextBytes) break;
        }
        artists = joined;
    }
    artist_ = Fit("artist", artists);
    album_ = Fit("album", metadata.album);
    image_ = CheckedImage(metadata.artUrl);
    if (metadata.lengthUs && *metadata.lengthUs <= 0) {
        Report("its track length is " + std::to_string(*metadata.lengthUs) + " us; the length is left out");
    }
    if (properties_.rate && !Rate())
        Report("its rate " + std::to_string(*properties_.rate) + " is no rate; 1 is used");
}

std::string MprisPlayer::Fit(const char* what, const std::optional<std::string>& text) {
    if (!text) return {};
    if (text->size() <= kMaxTextBytes) return *text;
    Report(std::string("its ") + what + " of " + std::to_string(text->size()) + " bytes is cut to " +
           std::to_string(kMaxTextBytes));
    return Cut(*text, kMaxTextBytes);
}

std::string MprisPlayer::CheckedImage(const std::optional<std::string>& url) {
    if (!url || url->empty()) return {};
    if (url->size() > 4096) {
        Report("its cover URL of " + std::to_string(url->size()) + " bytes is left out");
        return {};
    }
    if (url->rfind("https://", 0) == 0) return *url;
    if (url->rfind("file://", 0) == 0) {
        // Only a local file: nothing else (another host, a folder, a device, a FIFO) is a cover to load.
        std::string rest = url->substr(7);
        if (rest.empty() || rest[0] != '/') {
            Report("its cover " + *url + " is not a local file; left out");
            return {};
        }
        std::string path = PercentDecoded(rest);
        struct stat status {};
        if (path.find('\0') != std::string::npos || ::stat(path.c_str(), &status) != 0 ||
            !S_ISREG(status.st_mode)) {
            Report("its cover " + *url + " is not a regular file; left out");
            return {};
        }
        return *url;
    }
    const std::string scheme = Cut(url->substr(0, url->find(':')), 32);
    Report("its cover URL has the scheme '" + scheme + "', which the widget does not load; left out");
    return {};
}

void MprisPlayer::Report(const std::string& problem) {
    if (reported_.size() >= kMaxReportedProblems || !reported_.insert(problem).second) return;
    utils::Logger::Instance().LogError("MprisPlayer: " + busName_ + ": " + problem);
}

}  // namespace velmora::mpris
