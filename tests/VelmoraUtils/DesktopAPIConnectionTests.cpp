// The desktop channel against corvana-sim over a private session bus.
#include <gtest/gtest.h>

#include <pthread.h>

#include <sdbus-c++/sdbus-c++.h>
#include <atomic>
#include <mutex>
#include <thread>

#include "Platform/AppService/AppServiceConnection.h"
#include "Platform/Foundation/PlatformError.h"
#include "Platform/Storage/ApplicationData.h"
#include "Platform/Threading/ManualResetEvent.h"
#include "VelmoraUtils/DesktopAPIConnection.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PushRecorder.h"
#include "tests/support/TestHelpers.h"

using namespace std::chrono_literals;
using platform::Value;
using platform::ValueSet;
using utils::DesktopAPIConnection;

namespace {

// The desktop app says nothing on its own here: every push a test sees is one it asked for.
std::unique_ptr<testsupport::SimulatorProcess> StartPeer(std::vector<std::string> args = {}) {
    args.push_back("--no-connected-push");
    return testsupport::StartDesktopApp(std::move(args));
}

ValueSet Push(const std::string& method, std::optional<ValueSet> params) {
    ValueSet message{{"method", Value(method)}};
    if (params) message.Insert("params", Value(*params));
    return ValueSet{{"message", Value(message)}};
}

utils::IDesktopAPIConnection::Params ParamsOf(const ValueSet& set) {
    utils::IDesktopAPIConnection::Params params;
    for (const auto& [key, value] : set) params.emplace(key, value);
    return params;
}

std::string CurrentThreadName() {
    char name[16] = "";
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

// Where the caller of an operation continues once the operation has ended, and with what.
template <typename T>
platform::Task<std::pair<T, std::string>> ContinuationOf(platform::Task<T> operation) {
    T result = co_await std::move(operation);
    co_return std::pair<T, std::string>{std::move(result), CurrentThreadName()};
}

// An open channel to the peer, recording what it pushes.
class DesktopConnectionWithPushes : public testing::Test {
protected:
    void SetUp() override {
        received.Attach(connection);
        ASSERT_TRUE(connection.Connect().Get());
    }

    std::unique_ptr<testsupport::SimulatorProcess> peer = StartPeer();
    testsupport::LogCapture log;
    DesktopAPIConnection connection;
    testsupport::PushRecorder received;
    std::atomic<int> handled{0};
};

}  // namespace

TEST(DesktopConnection, ConnectWithoutTheDesktopAppYieldsFalseAndLogsTheStatus) {
    testsupport::LogCapture log;
    DesktopAPIConnection connection;
    EXPECT_FALSE(connection.Connect().Get());
    EXPECT_TRUE(log.Contains("ERROR DesktopAPIConnection: OpenAsync failed with status: 2"));
}

TEST(DesktopConnection, RefusedOpenYieldsFalseWithItsStatus) {
    auto peer = StartPeer({"--fail-open"});
    testsupport::LogCapture log;
    DesktopAPIConnection connection;
    EXPECT_FALSE(connection.Connect().Get());
    EXPECT_TRUE(log.Contains("ERROR DesktopAPIConnection: OpenAsync failed with status: 3"));
}

TEST(DesktopConnection, ConnectWhileAChannelExistsDropsItThenTheNextOneOpensAnew) {
    auto peer = StartPeer();
    testsupport::LogCapture log;
    DesktopAPIConnection connection;
    ASSERT_TRUE(connection.Connect().Get());
    EXPECT_FALSE(connection.Connect().Get());
    EXPECT_THROW(connection.SendRequest("test.echo", {}).Get(), platform::PlatformError);
    ASSERT_TRUE(connection.Connect().Get());
    EXPECT_EQ(log.Count("INFO DesktopAPIConnection: OpenAsync succeeded"), 2u);
    EXPECT_FALSE(connection.SendRequest("test.echo", {}).Get().is_error);
}

TEST(DesktopConnection, ChannelDroppedWhileOpeningYieldsFalseWithoutALogLine) {
    auto peer = StartPeer({"--open-delay-ms", "300"});
    testsupport::LogCapture log;
    DesktopAPIConnection connection;
    auto opening = connection.Connect();
    std::this_thread::sleep_for(50ms);
    connection.Disconnect();
    EXPECT_FALSE(opening.Get());
    EXPECT_TRUE(log.Lines().empty()) << log.Lines().front();
}

TEST(DesktopConnection, SendRequestWithoutAChannelFailsUnexpected) {
    auto peer = StartPeer();
    DesktopAPIConnection connection;
    ASSERT_TRUE(connection.Connect().Get());
    connection.Disconnect();
    try {
        connection.SendRequest("me", {}).Get();
        FAIL() << "expected E_UNEXPECTED";
    } catch (const platform::PlatformError& error) {
        EXPECT_EQ(error.code(), platform::E_UNEXPECTED);
    }
}

TEST(DesktopConnection, EveryValueKindCrossesTheBusUnchanged) {
    auto peer = StartPeer();
    DesktopAPIConnection connection;
    ASSERT_TRUE(connection.Connect().Get());
    ValueSet sent{{"text", Value("héllo")},
                  {"flag", Value(true)},
                  {"int", Value(int32_t{-7})},
                  {"double", Value(0.125)},
                  {"uris", Value(std::vector<std::string>{"corvana:track:1"})},
                  {"nested", Value(ValueSet{{"deeper", Value(ValueSet{{"n", Value(int32_t{1})}})}})}};
    auto reply = connection.SendRequest("test.echo", ParamsOf(sent)).Get();
    EXPECT_FALSE(reply.is_error);
    EXPECT_EQ(reply.data, sent);
}

TEST(DesktopConnection, ErrorRepliesAndTransportFailures) {
    auto peer = StartPeer();
    DesktopAPIConnection connection;
    ASSERT_TRUE(connection.Connect().Get());

    auto transport = connection.SendRequest("test.dbus_error", {}).Get();
    EXPECT_TRUE(transport.is_error);
    EXPECT_TRUE(transport.data.Empty());

    ValueSet error{{"code", Value(int32_t{4})}, {"message", Value("nope")}};
    ValueSet reply{{"error", Value(error)}, {"result", Value(ValueSet{{"x", Value(true)}})}};
    auto both = connection.SendRequest("test.reply", {{"reply", Value(reply)}}).Get();
    EXPECT_TRUE(both.is_error);
    EXPECT_EQ(both.data, error);
}

TEST_F(DesktopConnectionWithPushes, PushesReachTheHandlerAndAPushWithoutParamsHasEmptyParams) {
    connection.SendRequest("test.push", ParamsOf(Push("connection_state_changed", std::nullopt))).Get();
    connection
        .SendRequest("test.push",
                     ParamsOf(Push("login_state_subscription", ValueSet{{"logged_in", Value(true)}})))
        .Get();
    ASSERT_TRUE(received.WaitForCount(2));
    std::map<std::string, ValueSet> byMethod;
    for (size_t i = 0; i < 2; ++i) byMethod[received.At(i).method] = received.At(i).params;
    EXPECT_TRUE(byMethod.at("connection_state_changed").Empty());
    EXPECT_TRUE(byMethod.at("login_state_subscription").Lookup("logged_in").AsBoolean());
}

TEST_F(DesktopConnectionWithPushes, AStrangersPushIsRefusedAndNeverDispatched) {
    auto channel = connection.SendRequest("test.received", {}).Get().data;
    auto paths = channel.Lookup("client_paths").AsStringArray();
    auto names = channel.Lookup("client_names").AsStringArray();
    ASSERT_EQ(paths.size(), 1u);

    // Another process on the bus (here: a second connection of ours) calls our client object directly.
    auto stranger = sdbus::createSessionBusConnection();
    auto target = sdbus::createProxy(*stranger, names[0], paths[0]);
    std::map<std::string, sdbus::Variant> fake{
        {"method", sdbus::Variant(std::string("login_state_subscription"))},
        {"params",
         sdbus::Variant(std::map<std::string, sdbus::Variant>{{"logged_in", sdbus::Variant(true)}})}};
    int refused = 0;
    try {
        std::map<std::string, sdbus::Variant> reply;
        target->callMethod("RequestReceived")
            .onInterface("corvana.partnerApi.Client")
            .withArguments(fake)
            .storeResultsTo(reply);
    } catch (const sdbus::Error& error) {
        if (error.getName() == "org.freedesktop.DBus.Error.AccessDenied") ++refused;
    }
    EXPECT_EQ(refused, 1);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(received.Count(), 0u);
}

TEST(DesktopConnection, ThePeerExitingFiresTheClosedHandlerAndDropsTheChannel) {
    auto peer = StartPeer();
    DesktopAPIConnection connection;
    platform::ManualResetEvent closed;
    connection.SetClosedHandler([&] { closed.Set(); });
    ASSERT_TRUE(connection.Connect().Get());
    connection.SendRequest("test.exit", {}).Get();
    ASSERT_TRUE(closed.Wait(5s));
    EXPECT_THROW(connection.SendRequest("me", {}).Get(), platform::PlatformError);
}

TEST(DesktopConnection, AHundredConcurrentRequestsEachGetTheirOwnReply) {
    auto peer = StartPeer();
    DesktopAPIConnection connection;
    ASSERT_TRUE(connection.Connect().Get());
    std::vector<platform::Task<utils::IDesktopAPIConnection::Response>> inFlight;
    for (int32_t i = 0; i < 100; ++i)
        inFlight.push_back(connection.SendRequest("test.echo", {{"n", Value(i)}}));
    for (int32_t i = 0; i < 100; ++i) EXPECT_EQ(inFlight[i].Get().data.Lookup("n").AsInt32(), i);
}

TEST(DesktopConnection, RequestsMadeOneAfterTheOtherReachThePeerInThatOrder) {
    auto peer = StartPeer();
    DesktopAPIConnection connection;
    ASSERT_TRUE(connection.Connect().Get());
    constexpr int32_t kCount = 300;
    std::vector<platform::Task<utils::IDesktopAPIConnection::Response>> inFlight;
    for (int32_t i = 0; i < kCount; ++i)
        inFlight.push_back(
            connection.SendRequest("playback_volume", {{"volume_percentage", Value(0.5)}, {"n", Value(i)}}));
    for (auto& request : inFlight) EXPECT_FALSE(request.Get().is_error);

    auto received = connection.SendRequest("test.received", {}).Get().data;
    const auto& params = received.Lookup("params").AsValueSet();
    ASSERT_EQ(params.Size(), static_cast<size_t>(kCount));
    std::vector<int32_t> order;
    for (int32_t i = 0; i < kCount; ++i)
        order.push_back(params.Lookup(std::to_string(i)).AsValueSet().Lookup("n").AsInt32());
    int32_t inversions = 0;
    for (size_t i = 1; i < order.size(); ++i) inversions += order[i] < order[i - 1];
    EXPECT_EQ(inversions, 0);
}

TEST(DesktopConnection, ABurstBeyondTheBusDaemonsReplyLimitWaitsItsTurnInsteadOfFailing) {
    // The test bus keeps the daemon's default of 128 calls awaiting replies per connection.
    auto peer = StartPeer();
    DesktopAPIConnection connection;
    ASSERT_TRUE(connection.Connect().Get());
    std::vector<platform::Task<utils::IDesktopAPIConnection::Response>> inFlight;
    for (int32_t i = 0; i < 300; ++i)
        inFlight.push_back(
            connection.SendRequest("test.slow", {{"ms", Value(int32_t{100})}, {"n", Value(i)}}));
    auto me = connection.SendRequest("me", {});
    int32_t failed = 0;
    for (int32_t i = 0; i < 300; ++i) {
        auto response = inFlight[i].Get();
        failed += response.is_error || response.data.Lookup("n").AsInt32() != i;
    }
    EXPECT_EQ(failed, 0);
    auto user = me.Get();
    ASSERT_FALSE(user.is_error);
    EXPECT_EQ(user.data.Lookup("username").AsString(), "gamer42");
}

TEST_F(DesktopConnectionWithPushes, APushWithAnUnsupportedTypeIsContained) {
    connection.SendRequest("test.push_unsupported", {}).Get();
    ASSERT_TRUE(
        log.WaitFor("ERROR DesktopAPIConnection: failed to handle a pushed message: 0x80004002 "
                    "unsupported D-Bus type 't' in a message"));
    EXPECT_EQ(received.Count(), 0u);
    // The channel carries on.
    connection.SendRequest("test.push", ParamsOf(Push("connection_state_changed", std::nullopt))).Get();
    EXPECT_TRUE(received.WaitForCount(1));
}

TEST(DesktopConnection, TheServiceLeavingEndsPendingCallsAsFailuresOffTheBusThread) {
    {
        SCOPED_TRACE("a request pending");
        auto peer = StartPeer();
        DesktopAPIConnection connection;
        ASSERT_TRUE(connection.Connect().Get());
        auto pending = ContinuationOf(connection.SendRequest("test.hang", {}));
        for (int i = 0;
             i < 1000 &&
             connection.SendRequest("test.received", {}).Get().data.Lookup("hanging").AsInt32() == 0;
             ++i) {
        }
        connection.SendRequest("test.release_name", {}).Get();
        ASSERT_TRUE(pending.WaitFor(5s));
        auto [response, thread] = pending.Get();
        EXPECT_TRUE(response.is_error);  // a transport failure, as the Part's callers expect it
        EXPECT_TRUE(response.data.Empty());
        EXPECT_NE(thread, "velmora-bus");
    }
    {
        SCOPED_TRACE("requests waiting their turn behind those awaiting replies");
        auto peer = StartPeer();
        auto connection = std::make_unique<DesktopAPIConnection>();
        ASSERT_TRUE(connection->Connect().Get());
        std::vector<platform::Task<std::pair<utils::IDesktopAPIConnection::Response, std::string>>> waiting;
        for (int i = 0; i < 100; ++i)
            waiting.push_back(ContinuationOf(connection->SendRequest("test.hang", {})));
        // test.received waits its turn behind the hanging ones too: ask the peer on another channel.
        DesktopAPIConnection observer;
        ASSERT_TRUE(observer.Connect().Get());
        for (int i = 0; i < 1000 &&
                        observer.SendRequest("test.received", {}).Get().data.Lookup("hanging").AsInt32() < 32;
             ++i) {
        }
        observer.SendRequest("test.release_name", {}).Get();
        for (auto& request : waiting) {
            ASSERT_TRUE(request.WaitFor(5s));
            auto [response, thread] = request.Get();
            EXPECT_TRUE(response.is_error);
            EXPECT_NE(thread, "velmora-bus");
        }
    }
    {
        SCOPED_TRACE("the connection destroyed with requests waiting their turn");
        // What was sent is still answered, those that waited their turn included.
        auto peer = StartPeer();
        auto connection = std::make_unique<DesktopAPIConnection>();
        ASSERT_TRUE(connection->Connect().Get());
        std::vector<platform::Task<utils::IDesktopAPIConnection::Response>> waiting;
        for (int32_t i = 0; i < 100; ++i)
            waiting.push_back(
                connection->SendRequest("test.slow", {{"ms", Value(int32_t{50})}, {"n", Value(i)}}));
        connection.reset();
        for (int32_t i = 0; i < 100; ++i) {
            ASSERT_TRUE(waiting[i].WaitFor(5s));
            auto response = waiting[i].Get();
            ASSERT_FALSE(response.is_error);
            EXPECT_EQ(response.data.Lookup("n").AsInt32(), i);
        }
    }
    {
        SCOPED_TRACE("Open pending");
        auto peer = StartPeer({"--release-name-on-open"});
        testsupport::LogCapture log;
        DesktopAPIConnection connection;
        auto opening = ContinuationOf(connection.Connect());
        ASSERT_TRUE(opening.WaitFor(5s));
        auto [opened, thread] = opening.Get();
        EXPECT_FALSE(opened);
        EXPECT_NE(thread, "velmora-bus");
        EXPECT_EQ(log.Lines(),
                  std::vector<std::string>{"ERROR DesktopAPIConnection: OpenAsync failed with status: 3"});
    }
}

TEST(DesktopConnection, NoHandlerRunsOnceTheConnectionIsDestroyedOrItsChannelDropped) {
    auto peer = StartPeer();
    enum class Ending { Destroy, Disconnect };
    for (Ending ending : {Ending::Destroy, Ending::Disconnect}) {
        SCOPED_TRACE(ending == Ending::Destroy ? "destroyed" : "disconnected");
        struct Calls {
            std::atomic<int> total{0};
            std::atomic<bool> over{false};
            std::atomic<int> late{0};
        };
        std::vector<std::shared_ptr<Calls>> rounds;
        for (int round = 0; round < 40; ++round) {
            auto calls = rounds.emplace_back(std::make_shared<Calls>());
            auto connection = std::make_unique<DesktopAPIConnection>();
            connection->SetNotificationHandler([calls](utils::IDesktopAPIConnection::Notification&&) {
                ++calls->total;
                std::this_thread::sleep_for(100us);  // widens the window a racing teardown could slip into
                if (calls->over) ++calls->late;
            });
            ASSERT_TRUE(connection->Connect().Get());
            connection->SendRequest("test.push_burst", {{"count", Value(int32_t{50})}}).Get();
            for (int i = 0; i < 5000 && calls->total == 0; ++i) std::this_thread::sleep_for(1ms);
            ASSERT_GT(calls->total, 0);
            if (ending == Ending::Destroy) {
                connection.reset();
            } else {
                connection->Disconnect();
            }
            calls->over = true;
        }
        // Pushes still on their way from earlier rounds have had every later round to turn up in.
        int late = 0;
        for (const auto& calls : rounds) late += calls->late;
        EXPECT_EQ(late, 0);
    }
}

TEST_F(DesktopConnectionWithPushes, PushesReachTheHandlerInTheOrderTheyWereSent) {
    constexpr int32_t kBurst = 100;
    constexpr int32_t kCount = 10 * kBurst;
    for (int32_t first = 0; first < kCount; first += kBurst) {
        connection.SendRequest("test.push_burst", {{"first", Value(first)}, {"count", Value(kBurst)}}).Get();
        ASSERT_TRUE(received.WaitForCount(first + kBurst));
    }
    auto pushes = received.All();
    int32_t outOfOrder = 0;
    for (int32_t i = 0; i < kCount; ++i) outOfOrder += pushes[i].params.Lookup("n").AsInt32() != i;
    EXPECT_EQ(outOfOrder, 0);
}

TEST_F(DesktopConnectionWithPushes, APushOverTheSizeBoundIsRefusedWithOneErrorLineAndTheChannelGoesOn) {
    const std::string refusal =
        "ERROR DesktopAPIConnection: failed to handle a pushed message: 0x80070057 "
        "the message is larger than 1048576 bytes or holds more than 10000 values";
    struct Case {
        int32_t values;
        int32_t textBytes;
        bool delivered;
    };
    size_t expected = 0, refused = 0;
    for (auto [values, textBytes, accepted] : std::vector<Case>{{9000, 0, true},
                                                                {10001, 0, false},
                                                                {0, 1000 * 1024, true},
                                                                {0, 1024 * 1024, false},
                                                                {100000, 0, false}}) {
        SCOPED_TRACE(std::to_string(values) + " values, " + std::to_string(textBytes) + " bytes of text");
        connection
            .SendRequest("test.push_large", {{"values", Value(values)}, {"text_bytes", Value(textBytes)}})
            .Get();
        // A small push follows each large one: once it is in, the large one has been handled.
        connection.SendRequest("test.push", ParamsOf(Push("connection_state_changed", ValueSet{}))).Get();
        expected += accepted ? 2 : 1;
        refused += accepted ? 0 : 1;
        ASSERT_TRUE(received.WaitForCount(expected));
        EXPECT_EQ(received.Count(), expected);
        EXPECT_EQ(log.Count(refusal), refused);
        EXPECT_EQ(received.At(received.Count() - 1).method, "connection_state_changed");
    }
}

// A thousand pushes from a sender that keeps just under the bus daemon's limit, to a widget slower than
// it: the widget refuses what it cannot take before the bus would (which the widget would never learn
// of), and is told that it refused some, after the pushes it took.
TEST_F(DesktopConnectionWithPushes, ABurstPastWhatTheWidgetCanTakeIsRefusedByItAndReported) {
    connection.SetNotificationHandler([this](utils::IDesktopAPIConnection::Notification&&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a handler slower than the sender
        ++handled;
    });
    std::atomic<int> refusals{0};
    std::atomic<int> handledBeforeRefusal{0};
    connection.SetRefusedHandler([&] {
        if (refusals++ == 0) handledBeforeRefusal = handled.load();
    });
    constexpr int32_t kBurst = 1000;
    connection.SendRequest("test.push_paced", {{"count", Value(kBurst)}, {"in_flight", Value(127)}}).Get();
    ValueSet outcomes;
    auto settled = [&] {
        outcomes = connection.SendRequest("test.push_outcomes", {}).Get().data;
        return outcomes.Lookup("answered").AsInt32() + outcomes.Lookup("refused").AsInt32() +
                   outcomes.Lookup("refused_by_bus").AsInt32() ==
               kBurst;
    };
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!settled() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(outcomes.Lookup("answered").AsInt32() + outcomes.Lookup("refused").AsInt32() +
                  outcomes.Lookup("refused_by_bus").AsInt32(),
              kBurst);
    EXPECT_EQ(outcomes.Lookup("refused_by_bus").AsInt32(), 0);
    EXPECT_GT(outcomes.Lookup("refused").AsInt32(), 0);
    EXPECT_GE(refusals, 1);
    EXPECT_GT(handledBeforeRefusal, 0);
}

// Pushes refused after the notice of earlier refusals began to be delivered are told of again: whatever was
// asked for on the first notice may be older than what the later refused pushes said.
TEST(DesktopChannelRefusals, PushesRefusedWhileTheNoticeIsDeliveredAreToldOfAgain) {
    auto peer = StartPeer();
    auto channel = std::make_shared<platform::AppServiceConnection>();
    channel->AppServiceName("corvana.partnerApi");
    channel->PackageFamilyName(platform::Package::FamilyName());
    auto call = [&](const std::string& method, utils::IDesktopAPIConnection::Params params) {
        auto response = channel->SendMessageAsync(utils::BuildRequest(method, params)).Get();
        return utils::ReadResponse(response.Message).data;
    };
    auto refusedSoFar = [&] { return call("test.push_outcomes", {}).Lookup("refused").AsInt32(); };
    std::mutex mutex;
    std::vector<std::shared_ptr<platform::AppServiceRequest>> held;  // every push stays unanswered
    channel->RequestReceived([&](const platform::AppServiceRequestReceivedEventArgs& args) {
        std::lock_guard lock(mutex);
        held.push_back(args.Request());
    });
    std::atomic<int> notices{0};
    std::atomic<int> refusedDuringNotice{0};
    channel->RequestsRefused([&] {
        if (notices++ > 0) return;
        // The pushes before are all delivered but none answered: these four are refused as well.
        call("test.push_burst", {{"first", Value(int32_t{10000})}, {"count", Value(int32_t{4})}});
        for (int i = 0; i < 500 && refusedSoFar() < 8; ++i) std::this_thread::sleep_for(10ms);
        refusedDuringNotice = refusedSoFar();
    });
    ASSERT_EQ(channel->OpenAsync().Get(), platform::AppServiceConnectionStatus::Success);
    call("test.push_burst", {{"count", Value(int32_t{124})}});  // 120 taken, 4 refused

    for (int i = 0; i < 1000 && notices < 2; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(refusedDuringNotice, 8);
    EXPECT_EQ(notices, 2);
    std::lock_guard lock(mutex);
    EXPECT_EQ(held.size(), 120u);
    held.clear();
}
