// The page bridge's command parsing: whatever the web page posts, one message after another, into the native
// end of the bridge (with doubles at its seams and a clock that stands still). What must hold: nothing
// escapes HandleWebMessage; only a message that is exactly a command, or a command's prefix with its
// argument, reaches the desktop controller, the host or the launcher, with the argument as sent (valid
// UTF-8, no NUL); a volume is a finite number in 0..1, an absolute seek a position of 0 or more; no
// command kind runs more often than its budget allows within one instant; every event posted back is
// valid JSON.
#include <cmath>
#include <map>

#include <nlohmann/json.hpp>

#include "Platform/Threading/ManualDispatcher.h"
#include "Velmora/WebView/WebBridge.h"
#include "fuzz/FuzzSupport.h"
#include "tests/support/ScriptedGameBarWidget.h"

using velmora::WebBridge;

namespace {

std::map<std::string, int> calls;  // by command kind, within one input

void Argument(const std::string& kind, const std::string& argument) {
    ++calls[kind];
    FUZZ_CHECK(fuzz::IsValidUtf8(argument) && argument.find('\0') == std::string::npos,
               kind + " got an argument that is not clean text");
    FUZZ_CHECK(argument.size() <= WebBridge::kMaxMessageBytes, kind + " got an oversized argument");
}

class CheckingController : public velmora::IBridgeController {
public:
    void ModifyPlaybackState(utils::PlaybackAction action, std::string context) override {
        Argument("ModifyPlaybackState" + std::to_string(static_cast<int>(action)), context);
        if (action != utils::PlaybackAction::Play) FUZZ_CHECK(context.empty(), "a context without play");
    }
    void Seek(int32_t positionMs, bool relative) override {
        ++calls[relative ? "SeekRelative" + std::to_string(positionMs) : "SeekTo"];
        if (!relative) FUZZ_CHECK(positionMs >= 0, "an absolute seek to " + std::to_string(positionMs));
        if (relative)
            FUZZ_CHECK(positionMs == 15000 || positionMs == -15000, "a relative seek of another size");
    }
    void SetRepeat(std::string mode) override { Argument("SetRepeat", mode); }
    void SetShuffle(bool) override { ++calls["SetShuffle"]; }
    void SetVolume(double volume) override {
        ++calls["SetVolume"];
        FUZZ_CHECK(std::isfinite(volume) && volume >= 0 && volume <= 1, "volume " + std::to_string(volume));
        FUZZ_CHECK(!std::signbit(volume), "a negative zero volume");
    }
    void LikeTrack(std::string uri) override { Argument("LikeTrack", uri); }
    void UnlikeTrack(std::string uri) override { Argument("UnlikeTrack", uri); }
    void TransferPlayback(std::string deviceId) override { Argument("TransferPlayback", deviceId); }
    void RequestDevices() override { ++calls["RequestDevices"]; }
    void RequestPlaybackState() override { ++calls["RequestPlaybackState"]; }
};

class NoTokens : public velmora::IAccessTokenProvider {
public:
    platform::Task<std::optional<std::string>> GetAccessTokenAsync() override { return Answer("token"); }
    platform::Task<std::optional<std::string>> RefreshRejectedAccessTokenAsync(std::string) override {
        return Answer(std::nullopt);
    }

private:
    static platform::Task<std::optional<std::string>> Answer(std::optional<std::string> token) {
        platform::TaskCompletionSource<std::optional<std::string>> answered;
        answered.TrySetResult(std::move(token));
        return answered.GetTask();
    }
};

const std::vector<std::string_view>& Commands() {
    static const std::vector<std::string_view> commands = {
        "appReady",     "launchCorvana",  "openCorvana",          "pausePlayback",     "resumePlayback",
        "skipNext",     "skipPrevious",   "setShuffle:",          "setRepeat:",        "playContext:",
        "setVolume:",   "requestDevices", "requestPlaybackState", "transferPlayback:", "likeTrack:",
        "unlikeTrack:", "setWidgetSize:", "setExpanded:",         "seekForward15",     "seekBackward15",
        "seekTo:",      "requestHome",    "startWindowMove"};
    return commands;
}

const std::vector<std::string_view>& Arguments() {
    static const std::vector<std::string_view> arguments = {"true",
                                                            "false",
                                                            "expanded",
                                                            "collapsed",
                                                            "0",
                                                            "0.5",
                                                            "1",
                                                            "1.0000001",
                                                            "-0",
                                                            "-0.0",
                                                            "+1",
                                                            ".5",
                                                            "5.",
                                                            "1e-3",
                                                            "nan",
                                                            "inf",
                                                            "0x1",
                                                            "2147483647",
                                                            "2147483648",
                                                            "-1",
                                                            "9223372036854775808",
                                                            "context",
                                                            "track",
                                                            "off",
                                                            "corvana:album:1",
                                                            "",
                                                            " 1",
                                                            "1 ",
                                                            "\xff",
                                                            "\xc0\x80",
                                                            "\xed\xa0\x80",
                                                            "a\0b"};
    return arguments;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::QuietStandardError();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    calls.clear();
    auto dispatcher = platform::ManualDispatcher::Create();
    auto widget = std::make_shared<testsupport::ScriptedGameBarWidget>();
    int moves = 0;
    size_t posted = 0;
    velmora::WebBridgeSeams seams;
    seams.dispatcher = dispatcher;
    seams.widget = widget;
    seams.controller = std::make_shared<CheckingController>();
    seams.accessTokens = std::make_shared<NoTokens>();
    seams.fetchHomeFeed = [](std::string) {
        platform::TaskCompletionSource<utils::corvana_client::HomeFeedResult> done;
        done.TrySetResult({{}, std::nullopt, 200});
        return done.GetTask();
    };
    seams.postWebMessage = [&posted](const std::string& text) {
        ++posted;
        try {
            auto event = nlohmann::json::parse(text);
            FUZZ_CHECK(event.is_object() && event.contains("type"), text);
        } catch (const nlohmann::json::exception& error) {
            fuzz::Fail("a posted event is valid JSON", error.what());
        }
    };
    seams.savePersistedExpandedState = [](bool) {};
    seams.startWindowMove = [&moves] { ++moves; };
    const auto instant = velmora::PageTrafficLimit::Clock::time_point{} + std::chrono::hours(1);
    seams.now = [instant] { return instant; };
    auto bridge = WebBridge::Create(std::move(seams));

    size_t messages = 0;
    while (!input.Empty() && messages < 400) {
        std::string message;
        const uint8_t shape = input.Byte();
        if (shape < 200) {
            message = std::string(Commands()[shape % Commands().size()]);
            if (input.Bool()) message += input.Text(Arguments(), 48);
        } else if (shape < 250) {
            message = input.Bytes(255);
        } else {
            // Around the size limit.
            message.assign(WebBridge::kMaxMessageBytes - 1 + input.Below(3), 'a');
            message.replace(0, 10, "setRepeat:");
        }
        ++messages;
        try {
            bridge->HandleWebMessage(message);
            if (input.Bool()) dispatcher->RunPending();
        } catch (const std::exception& error) {
            fuzz::Fail("nothing escapes HandleWebMessage", error.what());
        }
    }
    dispatcher->RunPending();
    // One instant: each kind within its budget (a second's worth), each launch within one.
    for (const auto& [kind, count] : calls) {
        FUZZ_CHECK(count <= static_cast<int>(WebBridge::kCommandsPerSecond),
                   kind + " ran " + std::to_string(count) + " times in one instant");
    }
    FUZZ_CHECK(moves <= static_cast<int>(WebBridge::kCommandsPerSecond), "startWindowMove beyond its budget");
    auto launches = widget->Launches();
    FUZZ_CHECK(launches.size() <= 2 * static_cast<size_t>(WebBridge::kLaunchesPerSecond),
               std::to_string(launches.size()) + " launches in one instant");
    FUZZ_CHECK(widget->Resizes().size() <= 2 * static_cast<size_t>(WebBridge::kCommandsPerSecond),
               "resizes beyond their budget");
    (void)posted;
    dispatcher->Shutdown();
    return 0;
}
