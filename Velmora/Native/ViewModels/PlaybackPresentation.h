#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "Velmora/Native/ViewModels/CorvanaActionsInfo.h"

// The now-playing block's presentation rules, each a function of the little state it depends on, so that
// each rule is written once and the view model only calls them where the state changes. The keys are the
// string table's; the caller resolves them.
namespace velmora::presentation {

// The private-use code points the page maps onto its icons.
inline constexpr char16_t kPauseIcon = 0xF131;         // play/pause while playing
inline constexpr char16_t kPlayIcon = 0xF132;          // play/pause while not playing
inline constexpr char16_t kInLibraryIcon = 0xF321;     // add/remove while in the library
inline constexpr char16_t kNotInLibraryIcon = 0xF31F;  // add/remove while not in the library
inline constexpr char16_t kCollapseGlyph = 0xF263;     // expand button while expanded
inline constexpr char16_t kExpandGlyph = 0xF25F;       // expand button while collapsed

// A control's look: its icon (a code point or an icon's name), its narrator text's key, and whether it shows
// in the "on" (active) brush.
struct Look {
    QString icon;
    const char* narratorKey = "";
    bool active = false;
    bool enabled = true;
};

struct PlayPauseState {
    bool playing = false;
    bool stateReceived = false;  // a playback state came since the last sign-out
    bool hasContext = false;
    bool playerOnly = false;  // a player without a Corvana account: its restrictions alone decide
    bool hasFirstFeedItem = false;
    CorvanaActionsInfo actions;
};
Look PlayPause(const PlayPauseState& state);

Look Library(bool inLibrary);
Look Shuffle(bool on);

// The device button is in the active brush while another device than this machine plays.
bool DeviceButtonActive(bool playingElsewhere, bool playerOnly);

// Which controls the row shows for the kind of content playing. An advertisement leaves previous/next and
// skip back/ahead as they were (nullopt): only its shuffle button goes.
enum class Content { Nothing, Track, Episode, Advertisement };
struct ContentControls {
    std::optional<bool> showPreviousNext;
    std::optional<bool> showSkipBackAhead;
    bool showShuffle = true;
};
ContentControls ControlsFor(Content content);

// Repeat goes off, context, track and round again, skipping what the restrictions forbid: a change
// toggles repeat of the context when either side is "context", of the track when either side is "track".
enum class Repeat { Off, Context, Track };
struct RepeatState {
    Repeat mode = Repeat::Off;
    bool canToggleContext = false;
    bool canToggleTrack = false;
};
// The mode a press goes to, or nullopt when none is allowed.
std::optional<Repeat> NextRepeat(const RepeatState& state);
// The text the desktop app takes for a mode: "off", "context" or "track".
const char* RepeatText(Repeat mode);
Look RepeatLook(const RepeatState& state);

// m:ss, or h:mm:ss from an hour on; a negative or non-finite time is 0:00.
QString FormatTime(double ms);

}  // namespace velmora::presentation
