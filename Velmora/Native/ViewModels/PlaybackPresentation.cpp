#include "Velmora/Native/ViewModels/PlaybackPresentation.h"

#include <array>
#include <cmath>

namespace velmora::presentation {

namespace {

// A key of the string table, which the caller looks up (the table's test finds the keys by this name).
constexpr const char* StringKey(const char* key) {
    return key;
}

QString CodePoint(char16_t codePoint) {
    return QString(QChar(codePoint));
}

bool ChangeAllowed(Repeat from, Repeat to, const RepeatState& state) {
    auto involves = [&](Repeat mode) { return from == mode || to == mode; };
    return !(involves(Repeat::Context) && !state.canToggleContext) &&
           !(involves(Repeat::Track) && !state.canToggleTrack);
}

}  // namespace

Look PlayPause(const PlayPauseState& state) {
    if (state.playing)
        return {CodePoint(kPauseIcon), StringKey("CorvanaPause_ButtonNarratorText"), false,
                !state.stateReceived || state.actions.CanPause};
    bool enabled = true;
    // Without a context the button starts the feed's first item; a player has no feed, its restrictions
    // decide.
    if (state.stateReceived)
        enabled = state.hasContext || state.playerOnly ? state.actions.CanResume : state.hasFirstFeedItem;
    return {CodePoint(kPlayIcon), StringKey("CorvanaPlay_ButtonNarratorText"), false, enabled};
}

Look Library(bool inLibrary) {
    if (inLibrary)
        return {CodePoint(kInLibraryIcon), StringKey("CorvanaRemoveFromLibrary_ButtonNarratorNext"), true};
    return {CodePoint(kNotInLibraryIcon), StringKey("CorvanaAddToLibrary_ButtonNarratorText"), false};
}

Look Shuffle(bool on) {
    return {QStringLiteral("shuffle"),
            on ? StringKey("CorvanaDisableShuffle_ButtonNarratorText")
               : StringKey("CorvanaEnableShuffle_ButtonNarratorText"),
            on};
}

bool DeviceButtonActive(bool playingElsewhere, bool playerOnly) {
    // Every player is one of this desktop: none of them plays elsewhere.
    return playingElsewhere && !playerOnly;
}

ContentControls ControlsFor(Content content) {
    switch (content) {
        case Content::Advertisement:
            return {std::nullopt, std::nullopt, false};
        case Content::Episode:
            return {false, true, false};
        case Content::Track:
        case Content::Nothing:
            break;
    }
    return {true, false, true};
}

std::optional<Repeat> NextRepeat(const RepeatState& state) {
    constexpr std::array kCycle{Repeat::Off, Repeat::Context, Repeat::Track};
    const auto at = static_cast<size_t>(state.mode);
    for (size_t step = 1; step < kCycle.size(); ++step) {
        Repeat candidate = kCycle[(at + step) % kCycle.size()];
        if (ChangeAllowed(state.mode, candidate, state)) return candidate;
    }
    return std::nullopt;
}

const char* RepeatText(Repeat mode) {
    switch (mode) {
        case Repeat::Context:
            return "context";
        case Repeat::Track:
            return "track";
        case Repeat::Off:
            break;
    }
    return "off";
}

Look RepeatLook(const RepeatState& state) {
    static constexpr std::array kKeys{StringKey("CorvanaRepeatOff_ButtonNarratorText"),
                                      StringKey("CorvanaRepeatContext_ButtonNarratorText"),
                                      StringKey("CorvanaRepeatTrack_ButtonNarratorText")};
    return {state.mode == Repeat::Track ? QStringLiteral("repeat-track") : QStringLiteral("repeat"),
            kKeys[static_cast<size_t>(state.mode)], state.mode != Repeat::Off, NextRepeat(state).has_value()};
}

QString FormatTime(double ms) {
    const auto total = static_cast<long long>(std::isfinite(ms) && ms > 0 ? ms / 1000 : 0);
    const long long hours = total / 3600;
    const long long minutes = total % 3600 / 60;
    const QString seconds = QStringLiteral("%1").arg(total % 60, 2, 10, QLatin1Char('0'));
    if (hours)
        return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QLatin1Char('0')).arg(seconds);
    return QStringLiteral("%1:%2").arg(minutes).arg(seconds);
}

}  // namespace velmora::presentation
