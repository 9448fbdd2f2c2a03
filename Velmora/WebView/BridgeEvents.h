#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "VelmoraUtils/CorvanaClient.h"
#include "VelmoraUtils/DesktopApiTypes.h"

// The events the native side posts to the web page. Each encoder returns the text of one JSON object whose
// "type" names the event; the text is valid JSON whatever the records hold (invalid UTF-8 is replaced).
// Encoding is pure and may run on any thread.
namespace velmora::bridge_events {

std::string EncodeLoginStateChanged(bool loggedIn);
// The same event with the member "signInState" added: "signedOut", "signingIn", "signedIn" or "playerOnly";
// "loggedIn" is true for "signedIn" only, as before.
std::string EncodeLoginStateChanged(std::string_view signInState);
std::string EncodeExpandedState(bool isExpanded);
// How the host shows the widget: only the pinned widgets (the overlay closed), and the opacity the player
// asked for them (0.1 to 1).
std::string EncodeDisplayState(bool isPinnedOnly, double opacity);
std::string EncodeActiveDevice(const desktop_api_types::ConnectActiveDeviceResponse& device);
std::string EncodeDeviceList(const desktop_api_types::ConnectClusterResponse& cluster);
// nowMs: the current time in milliseconds since 1970-01-01 UTC, from which the position is estimated.
// `localImage`: where the page may load a local player's cover (the track's "image" being a file:// URL),
// added to the track as "localImage" when not empty.
std::string EncodePlaybackState(const desktop_api_types::PlaybackStateResponse& state, int64_t nowMs,
                                const std::string& localImage = {});
std::string EncodePlaybackState(const desktop_api_types::PlaybackStateResponse& state,
                                const std::string& localImage = {});
std::string EncodeHomeContent(const std::vector<utils::corvana_client::HomeSection>& sections);

// The position at nowMs: the reported one, advanced by the time since it was measured while playing, and
// capped at the duration. A timestamp that is not a decimal integer leaves the reported position as is.
int64_t EstimatePosition(const desktop_api_types::PlaybackStateResponse& state, int64_t nowMs);

// Whether the track is a podcast episode or an audiobook chapter, which the page shows with other controls.
bool IsEpisodeContent(const desktop_api_types::PlaybackStateResponse& state);

}  // namespace velmora::bridge_events
