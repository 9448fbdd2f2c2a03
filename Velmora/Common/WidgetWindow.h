#pragma once

namespace velmora {

// The widget window as both front ends ask the host for it.

// A window size in the host's logical pixels (Game Bar window units).
struct WindowSize {
    double width;
    double height;
    bool operator==(const WindowSize&) const = default;
};

// Logged out, and at registration before the first login: room for the sign-in offer.
inline constexpr WindowSize kLoggedOutSize{480, 488};
// Logged in and expanded: the now-playing block above the home feed.
inline constexpr WindowSize kExpandedSize{320, 612};

// Logged in and collapsed, or while the host shows only pinned widgets. Each front end's now-playing block
// has its own height, so these are the page's own.
namespace native_page {
inline constexpr WindowSize kCollapsedSize{320, 194};
// The now-playing block without its controls (padding, cover, spacing, progress, padding), so that the
// widget covers no more of the game.
inline constexpr WindowSize kPinnedOnlySize{320, 108};
}  // namespace native_page
namespace web_page {
inline constexpr WindowSize kCollapsedSize{320, 156};
// The now-playing block without its controls (padding, cover, progress, padding).
inline constexpr WindowSize kPinnedOnlySize{320, 108};
}  // namespace web_page

// The local setting that keeps whether the widget was last expanded, a boolean; the front ends share it,
// so a player who switches finds the widget as they left it.
inline constexpr const char* kExpandedSetting = "CorvanaWidgetExpanded";

}  // namespace velmora
