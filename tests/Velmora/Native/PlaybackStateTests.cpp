// The widget view model's now-playing state: conversion of a playback state, the track rule, the cover,
// the progress timer and the presentation rules.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Platform/Foundation/PlatformError.h"
#include "Velmora/Native/ViewModels/ConvertedPlaybackState.h"
#include "Velmora/Native/ViewModels/PlaybackDeviceInfo.h"
#include "Velmora/Native/ViewModels/PlaybackPresentation.h"
#include "tests/Velmora/Native/WidgetFixture.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestHelpers.h"

using namespace velmora;
using testsupport::PlaybackMessage;
using testsupport::Text;
using Counts = std::map<std::string, int>;

namespace {

desktop_api_types::PlaybackStateResponse Parsed(const PlaybackMessage& message) {
    return desktop_api_types::ParsePlaybackStateResponse(platform::Value(message.ToValueSet()));
}

QString Icon(char16_t codePoint) {
    return QString(QChar(codePoint));
}

class PlaybackState : public testsupport::WidgetFixture {};

}  // namespace

TEST(ConvertPlaybackState, IdKindAndActionsFollowTheUriAndContext) {
    struct Case {
        std::optional<std::string> uri;
        std::string id;
        CorvanaViewItemKind kind;
    };
    std::vector<Case> cases = {
        {"corvana:track:abc", "abc", CorvanaViewItemKind::Track},
        {"corvana:episode:e1", "e1", CorvanaViewItemKind::Episode},
        {"corvana:track:", "", CorvanaViewItemKind::Track},
        {"corvana:ad:9", "corvana:ad:9", CorvanaViewItemKind::Unknown},
        {"Corvana:track:x", "Corvana:track:x", CorvanaViewItemKind::Unknown},
    };
    for (const auto& c : cases) {
        PlaybackMessage message;
        message.uri = c.uri;
        auto converted = ConvertedPlaybackState::From(Parsed(message), 0);
        EXPECT_EQ(converted.Track.Id, c.id) << *c.uri;
        EXPECT_EQ(converted.Track.Kind, c.kind) << *c.uri;
        EXPECT_EQ(converted.Track.Uri, *c.uri);
    }

    PlaybackMessage restricted;
    restricted.disallowed = {"disallow_pausing", "disallow_skipping_next"};
    auto actions = ConvertedPlaybackState::From(Parsed(restricted), 0).Actions;
    EXPECT_EQ(actions, (CorvanaActionsInfo{true, false, true, true, false, true}));
    restricted.context.reset();
    auto noContext = ConvertedPlaybackState::From(Parsed(restricted), 0);
    EXPECT_FALSE(noContext.HasContext);
    EXPECT_EQ(noContext.Actions, CorvanaActionsInfo{});

    PlaybackMessage none;
    none.uri.reset();
    none.shuffle = true;
    auto empty = ConvertedPlaybackState::From(Parsed(none), 0);
    EXPECT_FALSE(empty.Track.HasTrack);
    EXPECT_FALSE(empty.Track.IsPlaying);
    EXPECT_TRUE(empty.Track.IsShuffling);
}

TEST(ConvertPlaybackState, TextsFromOutsideAreKeptOnlyAsFarAsTheyAreShown) {
    std::string marks = "a";
    for (int i = 0; i < 10000; ++i) marks += "\xCC\x81";  // U+0301 on one letter
    struct Case {
        std::string name;
        std::string text;
        std::string kept;
    };
    const Case cases[] = {
        {"short", "Neon Boss Fight", "Neon Boss Fight"},
        {"exactly the bound", std::string(kShownTextCodePoints, 'n'), std::string(kShownTextCodePoints, 'n')},
        {"100 kB", std::string(100000, 'n'), std::string(kShownTextCodePoints, 'n')},
        {"combining marks", marks, marks.substr(0, 1 + 2 * (kShownTextCodePoints - 1))},
    };
    // Two-byte letters: cut after a whole letter, never inside one.
    std::string twoByte;
    for (int i = 0; i < 400; ++i) twoByte += "\xC3\xA9";
    std::vector<Case> all(std::begin(cases), std::end(cases));
    all.push_back({"two-byte letters", twoByte, twoByte.substr(0, 2 * kShownTextCodePoints)});
    for (const auto& c : all) {
        SCOPED_TRACE(c.name);
        PlaybackMessage message;
        message.name = message.artist = message.album = c.text;
        auto track = ConvertedPlaybackState::From(Parsed(message), 0).Track;
        EXPECT_EQ(track.Name, c.kept);
        EXPECT_EQ(track.Artist, c.kept);
        EXPECT_EQ(track.Album, c.kept);

        utils::corvana_client::HomeItem item;
        item.name = c.text;
        item.description = c.text;
        auto tile = MakeViewItem(item);
        EXPECT_EQ(tile.Name, c.kept);
        EXPECT_EQ(tile.Description, c.kept);

        desktop_api_types::ConnectDevice device;
        device.device_id = "d1";
        device.name = c.text;
        EXPECT_EQ(PlaybackDeviceInfo::From(device).Name, c.kept);
    }
}

TEST(ConvertPlaybackState, ThePositionIsEstimatedFromTheTimestampOnlyWhilePlaying) {
    struct Case {
        const char* what;
        bool paused;
        std::optional<int32_t> position;
        std::optional<int32_t> duration;
        std::optional<double> speed;
        int64_t nowMs;
        double expected;
    };
    // The state's timestamp is 1,000,000 ms.
    std::vector<Case> cases = {
        {"no stored position", false, std::nullopt, 200000, {}, 1005000, 0},
        {"paused keeps the stored position", true, 30000, 200000, {}, 1005000, 30000},
        {"playing advances by the elapsed time", false, 30000, 200000, {}, 1005000, 35000},
        {"at the given speed", false, 30000, 200000, 2.0, 1005000, 40000},
        {"never beyond the duration", false, 30000, 32000, {}, 1005000, 32000},
        {"never back for a timestamp ahead of now", false, 30000, 200000, {}, 990000, 30000},
        {"never back for a negative speed", false, 30000, 200000, -1.0, 1005000, 30000},
        {"without a duration", false, 30000, std::nullopt, {}, 1005000, 35000},
    };
    for (const auto& c : cases) {
        PlaybackMessage message;
        message.timestamp = "1000000";
        message.paused = c.paused;
        message.position = c.position;
        message.duration = c.duration;
        message.speed = c.speed;
        EXPECT_DOUBLE_EQ(ConvertedPlaybackState::From(Parsed(message), c.nowMs).Track.PositionMs, c.expected)
            << c.what;
    }

    for (const char* bad : {"", "12ab", "1.5", " 12", "99999999999999999999"}) {
        PlaybackMessage message;
        message.timestamp = bad;
        EXPECT_EQ(testsupport::ErrorCodeOf([&] { ConvertedPlaybackState::From(Parsed(message), 0); }),
                  platform::E_INVALIDARG)
            << "'" << bad << "'";
        message.paused = true;  // a paused state does not need the timestamp
        EXPECT_NO_THROW(ConvertedPlaybackState::From(Parsed(message), 0)) << "'" << bad << "'";
    }
}

TEST_F(PlaybackState, ATrackSetsEachPropertyOnceAndTheSameStateAgainNotifiesNothing) {
    PlaybackMessage message;
    message.paused = true;  // the position then does not move between the two pushes
    Push(message);
    Pump();
    EXPECT_EQ(vm->CurrentlyPlayingTrack(), "Song");
    EXPECT_EQ(vm->CurrentlyPlayingTrackArtist(), "Artist");
    EXPECT_EQ(vm->CurrentlyPlayingTrackAlbum(), "Album");
    EXPECT_DOUBLE_EQ(vm->CurrentlyPlayingTrackProgressPercentage(), 0.15);
    EXPECT_FALSE(vm->IsPlaying());
    EXPECT_TRUE(vm->ShowAddRemoveLibraryButton());
    EXPECT_EQ(vm->AddRemoveLibraryIcon(), Icon(presentation::kNotInLibraryIcon));
    EXPECT_EQ(vm->AddRemoveLibraryNarratorText(), Text("CorvanaAddToLibrary_ButtonNarratorText"));
    EXPECT_EQ(vm->PlayPauseIcon(), Icon(presentation::kPlayIcon));
    EXPECT_EQ(vm->PlayPauseNarratorText(), Text("CorvanaPlay_ButtonNarratorText"));
    EXPECT_TRUE(vm->IsPlayPauseButtonEnabled());  // CanResume
    EXPECT_EQ(vm->EnableDisableButtonForegroundBrush(), QColor(0xFF, 0xFF, 0xFF, 0xD8));
    EXPECT_EQ(vm->EnableDisableNarratorText(), Text("CorvanaEnableShuffle_ButtonNarratorText"));
    ASSERT_NE(vm->ImageSource(), nullptr);
    EXPECT_EQ(vm->ImageSource()->UriSource(), QUrl("https://images.example/t1.jpg"));
    EXPECT_EQ(vm->ImageSource()->DecodePixelHeight(), 70);
    EXPECT_EQ(log->Counts(), (Counts{{"CorvanaActionsInfo", 1},
                                     {"CurrentlyPlayingTrack", 1},
                                     {"CurrentlyPlayingTrackAlbum", 1},
                                     {"CurrentlyPlayingTrackArtist", 1},
                                     {"CurrentlyPlayingTrackProgressPercentage", 1},
                                     {"ShowAddRemoveLibraryButton", 1},
                                     {"AddRemoveLibraryIcon", 1},
                                     {"AddRemoveLibraryNarratorText", 1},
                                     {"PlayPauseIcon", 1},
                                     {"PlayPauseNarratorText", 1},
                                     {"IsPlayPauseButtonEnabled", 1},
                                     {"EnableDisableButtonForegroundBrush", 1},
                                     {"EnableDisableNarratorText", 1},
                                     {"ImageSource", 1},
                                     {"AddRemoveLibraryButtonBrush", 1},
                                     {"IsRepeatButtonEnabled", 1},
                                     {"RepeatButtonBrush", 1},
                                     {"RepeatNarratorText", 1},
                                     {"ElapsedTimeText", 1},
                                     {"DurationText", 1}}));
    EXPECT_TRUE(log->AllOnUiThreadWithValue());
    auto* cover = vm->ImageSource().get();

    log->Clear();
    Push(message);
    Pump();
    EXPECT_EQ(log->Counts(), Counts{});
    EXPECT_EQ(vm->ImageSource().get(), cover);  // the same URL keeps the same cover

    message.image = "https://images.example/t2.jpg";
    vm->SetCurrentlyPlayingTrackImageDecodeHeight(96);
    Push(message);
    Pump();
    ASSERT_NE(vm->ImageSource().get(), cover);
    EXPECT_EQ(vm->ImageSource()->DecodePixelHeight(), 96);
}

TEST_F(PlaybackState, EpisodesAdvertisementsAndNoTrackSetTheControls) {
    PlaybackMessage episode;
    episode.uri = "corvana:episode:e1";
    episode.album = "The Show";
    Push(episode);
    Pump();
    EXPECT_FALSE(vm->ShowPreviousNextControls());
    EXPECT_TRUE(vm->ShowSkipBackAheadControls());
    EXPECT_FALSE(vm->ShowShuffleButton());
    EXPECT_EQ(vm->CurrentlyPlayingTrackArtist(), "The Show");

    PlaybackMessage ad;
    ad.advertisement = true;
    Push(ad);
    Pump();
    EXPECT_EQ(vm->CurrentlyPlayingTrack(), Text("CorvanaAdvertisementText"));
    EXPECT_FALSE(vm->ShowShuffleButton());
    EXPECT_FALSE(vm->ShowPreviousNextControls());  // kept from the episode
    EXPECT_TRUE(vm->ShowSkipBackAheadControls());

    PlaybackMessage none;
    none.uri.reset();
    Push(none);
    Pump();
    EXPECT_EQ(vm->CurrentlyPlayingTrack(), "");
    EXPECT_EQ(vm->CurrentlyPlayingTrackArtist(), "");
    EXPECT_TRUE(vm->ShowPreviousNextControls());
    EXPECT_FALSE(vm->ShowSkipBackAheadControls());
    EXPECT_TRUE(vm->ShowShuffleButton());
    EXPECT_FALSE(vm->IsPlaying());
    EXPECT_EQ(vm->ImageSource(), nullptr);
    EXPECT_DOUBLE_EQ(vm->CurrentlyPlayingTrackProgressPercentage(), 0);
    EXPECT_FALSE(vm->HasProgressTimer());
}

TEST_F(PlaybackState, ThePlayButtonFollowsTheActionsAndWithoutContextTheFeed) {
    struct Case {
        const char* what;
        bool paused;
        bool context;
        std::vector<std::string> disallowed;
        bool withFeed;
        bool enabled;
    };
    std::vector<Case> cases = {
        {"playing, may pause", false, true, {}, false, true},
        {"playing, may not pause", false, true, {"disallow_pausing"}, false, false},
        {"paused, may not resume", true, true, {"disallow_resuming"}, false, false},
        {"no context, no feed", true, false, {}, false, false},
        {"no context, a feed item", true, false, {}, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        vm->SetCategories(c.withFeed ? CorvanaWidgetViewModel::BuildCategories(feed, controller) : nullptr);
        PlaybackMessage message;
        message.paused = c.paused;
        if (!c.context) message.context.reset();
        message.disallowed = c.disallowed;
        Push(message);
        Pump();
        EXPECT_EQ(vm->IsPlaying(), !c.paused);
        EXPECT_EQ(vm->IsPlayPauseButtonEnabled(), c.enabled);
        EXPECT_EQ(vm->PlayPauseIcon(), Icon(c.paused ? presentation::kPlayIcon : presentation::kPauseIcon));
    }
}

TEST_F(PlaybackState, LibraryAndShuffleFollowTheTrack) {
    PlaybackMessage message;
    message.inLibrary = true;
    message.shuffle = true;
    Push(message);
    Pump();
    EXPECT_EQ(vm->AddRemoveLibraryIcon(), Icon(presentation::kInLibraryIcon));
    EXPECT_EQ(vm->AddRemoveLibraryNarratorText(), Text("CorvanaRemoveFromLibrary_ButtonNarratorNext"));
    EXPECT_EQ(vm->EnableDisableButtonForegroundBrush(), QColor(0x1D, 0xB9, 0x54));
    EXPECT_EQ(vm->EnableDisableNarratorText(), Text("CorvanaDisableShuffle_ButtonNarratorText"));
}

TEST_F(PlaybackState, ProgressStaysWithinRangeAndTheTimerRunsOnlyWhilePlayingAKnownDuration) {
    PlaybackMessage nearEnd;
    nearEnd.position = 2000;
    nearEnd.duration = 2500;
    Push(nearEnd);
    Pump();
    EXPECT_TRUE(vm->HasProgressTimer());
    // The first tick already goes past the end of the track (3000 of 2500 ms); the progress stops at 1.
    ASSERT_TRUE(ui->RunUntil([&] { return vm->CurrentlyPlayingTrackProgressPercentage() != 0.8; }));
    EXPECT_EQ(vm->CurrentlyPlayingTrackProgressPercentage(), 1.0);

    for (auto [paused, duration] : {std::pair{true, 2500}, std::pair{false, 0}, std::pair{false, -5}}) {
        PlaybackMessage message;
        message.paused = paused;
        message.duration = duration;
        Push(message);
        Pump();
        EXPECT_FALSE(vm->HasProgressTimer()) << "paused " << paused << ", duration " << duration;
    }

    for (auto [value, stored] :
         {std::pair{0.5, 0.5}, std::pair{1.5, 1.0}, std::pair{-2.0, 0.0}, std::pair{std::nan(""), 0.0},
          std::pair{std::numeric_limits<double>::infinity(), 0.0}}) {
        vm->SetCurrentlyPlayingTrackProgressPercentage(value);
        EXPECT_EQ(vm->CurrentlyPlayingTrackProgressPercentage(), stored) << value;
    }
}

TEST_F(PlaybackState, ABadStateIsDroppedAndABadCoverEndsOnlyTheCoverStep) {
    PlaybackMessage message;
    Push(message);
    Pump();
    log->Clear();
    testsupport::LogCapture lines;

    PlaybackMessage badTimestamp;
    badTimestamp.name = "Other";
    badTimestamp.timestamp = "yesterday";
    Push(badTimestamp);
    Pump();
    EXPECT_EQ(log->Counts(), Counts{});
    EXPECT_EQ(vm->CurrentlyPlayingTrack(), "Song");
    EXPECT_TRUE(lines.Contains(
        "ERROR CorvanaWidgetViewModel::OnPlaybackState failed: playback timestamp is not a decimal integer"));

    PlaybackMessage badCover;
    badCover.name = "Other";
    badCover.image = "no cover here";
    badCover.paused = true;
    Push(badCover);
    Pump();
    EXPECT_EQ(vm->ImageSource(), nullptr);
    EXPECT_EQ(vm->CurrentlyPlayingTrack(), "Other");
    EXPECT_FALSE(vm->IsPlaying());  // the steps after the cover still ran
    EXPECT_FALSE(vm->HasProgressTimer());
    EXPECT_EQ(vm->PlayPauseIcon(), Icon(presentation::kPlayIcon));
}

TEST_F(PlaybackState, PinnedOnlyModeShowsTheLogoOnlyWithAContext) {
    vm->RegisterForWidgetEvents(widget);
    Pump();
    log->Clear();
    widget->ChangeDisplayMode(platform::GameBarDisplayMode::PinnedOnly);
    widget->ChangeDisplayMode(platform::GameBarDisplayMode::PinnedOnly);
    Pump();
    EXPECT_TRUE(vm->IsPinnedOnly());
    EXPECT_FALSE(vm->ShowPinnedCorvanaLogo());  // nothing loaded yet
    EXPECT_EQ(log->Counts(), (Counts{{"IsPinnedOnly", 1}}));

    Push(PlaybackMessage{});
    Pump();
    EXPECT_TRUE(vm->ShowPinnedCorvanaLogo());
    log->Clear();
    widget->ChangeDisplayMode(platform::GameBarDisplayMode::Foreground);
    Pump();
    EXPECT_FALSE(vm->ShowPinnedCorvanaLogo());
    EXPECT_EQ(log->Counts(), (Counts{{"IsPinnedOnly", 1}, {"ShowPinnedCorvanaLogo", 1}}));
    EXPECT_TRUE(log->AllOnUiThreadWithValue());
}
