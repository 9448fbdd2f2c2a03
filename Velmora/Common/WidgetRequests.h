#pragma once

#include <cstdint>
#include <string_view>

// What the widget's buttons ask of the desktop app, one name for each whichever front end asks.
namespace velmora {

// The desktop app, started or brought up minimized, told that the widget asked.
inline constexpr std::string_view kOpenMinimizedFromWidgetUri =
    "corvana:open:minimized?utm_medium=desktop-xbox-game-bar";
// The desktop app, to the front.
inline constexpr std::string_view kOpenUri = "corvana:open";
// The desktop app, started or brought up minimized.
inline constexpr std::string_view kOpenMinimizedUri = "corvana:open:minimized";
// How far skip back and skip ahead move, in milliseconds.
inline constexpr int32_t kSkipMs = 15000;

}  // namespace velmora
