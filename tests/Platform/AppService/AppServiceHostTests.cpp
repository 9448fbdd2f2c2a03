// AppServiceHost with AppServiceConnection as its client, both ends in this process on the test's private
// bus (the process's one connection calls itself through the bus daemon).
#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>

#include "Platform/AppService/AppServiceConnection.h"
#include "Platform/AppService/AppServiceHost.h"
#include "Platform/Threading/ManualDispatcher.h"

using platform::AppServiceConnection;
using platform::AppServiceConnectionStatus;
using platform::AppServiceHost;
using platform::AppServiceNameState;
using platform::ManualDispatcher;
using platform::Task;
using platform::Value;
using platform::ValueSet;

namespace {

constexpr const char* kService = "org.velmora.TestHost";

std::unique_ptr<AppServiceHost> StartHost(const std::shared_ptr<ManualDispatcher>& dispatcher,
                                          AppServiceHost::Handlers handlers) {
    auto host = std::make_unique<AppServiceHost>(kService, dispatcher, std::move(handlers));
    EXPECT_EQ(host->StartAsync().Get(), AppServiceNameState::Owned);
    return host;
}

std::unique_ptr<AppServiceConnection> OpenChannel() {
    auto connection = std::make_unique<AppServiceConnection>();
    connection->AppServiceName(kService);
    connection->PackageFamilyName("Velmora");
    EXPECT_EQ(connection->OpenAsync().Get(), AppServiceConnectionStatus::Success);
    return connection;
}

// A widget that hangs: on a bus connection of its own, it opens channels as AppServiceConnection does but
// never answers a push, so that each one awaits its reply until the host's time-out.
class SilentClient {
public:
    SilentClient() : connection_(sdbus::createSessionBusConnection()) { connection_->enterEventLoopAsync(); }
    ~SilentClient() {
        connection_->leaveEventLoop();
        unanswered_.clear();
        objects_.clear();
    }

    std::string UniqueName() const { return uniqueName_; }

    void Open(const std::string& path) {
        auto object = sdbus::createObject(*connection_, path);
        object->registerMethod("org.velmora.TestHost.Client", "RequestReceived", "a{sv}", "a{sv}",
                               [this](sdbus::MethodCall call) {
                                   std::lock_guard lock(mutex_);
                                   unanswered_.push_back(std::move(call));
                               });
        object->finishRegistration();
        objects_.push_back(std::move(object));
        Reopen(path);
    }

    // Opens a channel from an object opened already: the host starts that object over on a fresh one.
    void Reopen(const std::string& path) {
        auto host = sdbus::createProxy(*connection_, kService, "/org/velmora/TestHost");
        host->callMethod("Open")
            .onInterface("org.velmora.TestHost.AppService")
            .withArguments(std::string("Velmora"), sdbus::ObjectPath(path));
    }

private:
    std::unique_ptr<sdbus::IConnection> connection_;
    const std::string uniqueName_ = connection_->getUniqueName();
    std::mutex mutex_;
    std::vector<sdbus::MethodCall> unanswered_;
    std::vector<std::unique_ptr<sdbus::IObject>> objects_;
};

// A client that answers every push at once and keeps what it was sent.
struct AnsweringClient {
    AnsweringClient() {
        connection.AppServiceName(kService);
        connection.PackageFamilyName("Velmora");
        connection.RequestReceived([this](const platform::AppServiceRequestReceivedEventArgs& args) {
            {
                std::lock_guard lock(mutex);
                received.push_back(args.Request()->Message().Lookup("n").AsInt32());
            }
            auto answered = args.Request()->SendResponseAsync({});
        });
        EXPECT_EQ(connection.OpenAsync().Get(), AppServiceConnectionStatus::Success);
    }
    std::vector<int32_t> Received() {
        std::lock_guard lock(mutex);
        return received;
    }

    AppServiceConnection connection;
    std::mutex mutex;
    std::vector<int32_t> received;
};

std::vector<Task<bool>> PushBurst(AppServiceHost& host, uint64_t channel, int32_t count) {
    std::vector<Task<bool>> pushes;
    for (int32_t n = 0; n < count; ++n) pushes.push_back(host.PushAsync(channel, ValueSet{{"n", Value(n)}}));
    return pushes;
}

bool AllCompleted(const std::vector<Task<bool>>& pushes) {
    return std::all_of(pushes.begin(), pushes.end(), [](const auto& push) { return push.IsCompleted(); });
}

}  // namespace

TEST(AppServiceHost, AReplyTheBusCannotCarryIsAnsweredWithAnError) {
    auto dispatcher = ManualDispatcher::Create();
    AppServiceHost::Handlers handlers;
    handlers.request = [](const std::string&, ValueSet) -> Task<ValueSet> {
        co_return ValueSet{{"result", Value(std::string("cut in the middle of \xc3"))}};
    };
    auto host = StartHost(dispatcher, std::move(handlers));
    auto client = OpenChannel();
    auto sent = client->SendMessageAsync(ValueSet{{"method", Value("x")}});
    // Well within the client's own time-out of 25 s.
    ASSERT_TRUE(dispatcher->RunUntil([&] { return sent.IsCompleted(); }));
    EXPECT_EQ(sent.Get().Status, platform::AppServiceResponseStatus::Failure);
}

TEST(AppServiceHost, AClientOpeningChannelAfterChannelLosesItsOldestPastTheLimit) {
    auto dispatcher = ManualDispatcher::Create();
    std::vector<uint64_t> opened, closed;
    AppServiceHost::Handlers handlers;
    handlers.opened = [&](uint64_t channel, const std::string&) { opened.push_back(channel); };
    handlers.closed = [&](uint64_t channel) { closed.push_back(channel); };
    auto host = StartHost(dispatcher, std::move(handlers));
    std::vector<std::unique_ptr<AppServiceConnection>> clients;
    const size_t count = AppServiceHost::kMaxChannelsPerClient + 2;
    while (clients.size() < count) clients.push_back(OpenChannel());
    ASSERT_TRUE(dispatcher->RunUntil([&] { return opened.size() == count; }));
    EXPECT_EQ(closed, (std::vector<uint64_t>{opened[0], opened[1]}));
}

TEST(AppServiceHost, ABurstOfPushesToASlowClientArrivesWholeAndInOrder) {
    auto dispatcher = ManualDispatcher::Create();
    std::vector<uint64_t> opened;
    AppServiceHost::Handlers handlers;
    handlers.opened = [&](uint64_t channel, const std::string&) { opened.push_back(channel); };
    auto host = StartHost(dispatcher, std::move(handlers));
    auto client = OpenChannel();
    std::mutex mutex;
    std::vector<int32_t> received;
    bool refused = false;
    client->RequestReceived([&](const platform::AppServiceRequestReceivedEventArgs& args) {
        // Slow enough that the burst is sent long before the client has taken it: far more pushes await
        // its replies than the bus allows a connection, unless the host holds them back.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        {
            std::lock_guard lock(mutex);
            received.push_back(args.Request()->Message().Lookup("n").AsInt32());
        }
        auto answered = args.Request()->SendResponseAsync({});  // the host sees how it went
    });
    client->RequestsRefused([&] {
        std::lock_guard lock(mutex);
        refused = true;
    });
    ASSERT_TRUE(dispatcher->RunUntil([&] { return !opened.empty(); }));

    constexpr int32_t kBurst = 1000;
    std::vector<Task<bool>> pushes;
    for (int32_t n = 0; n < kBurst; ++n)
        pushes.push_back(host->PushAsync(opened[0], ValueSet{{"n", Value(n)}}));
    int32_t failed = 0;
    for (auto& push : pushes) failed += push.Get() ? 0 : 1;

    EXPECT_EQ(failed, 0);
    std::lock_guard lock(mutex);
    EXPECT_FALSE(refused);
    std::vector<int32_t> sent(kBurst);
    std::iota(sent.begin(), sent.end(), 0);
    EXPECT_EQ(received, sent);  // every one, in order: the last one received is the last one sent
}

TEST(AppServiceHost, BurstsToSeveralChannelsTogetherStayUnderTheBusLimit) {
    auto dispatcher = ManualDispatcher::Create();
    std::vector<uint64_t> opened;
    AppServiceHost::Handlers handlers;
    handlers.opened = [&](uint64_t channel, const std::string&) { opened.push_back(channel); };
    auto host = StartHost(dispatcher, std::move(handlers));
    // Five channels of 32 pushes awaiting replies each would be past the 128 calls the bus lets this
    // connection await: the bound holds for the host's pushes together.
    constexpr size_t kChannels = 5;
    std::vector<std::unique_ptr<AppServiceConnection>> clients;
    for (size_t i = 0; i < kChannels; ++i) {
        auto client = std::make_unique<AppServiceConnection>();
        client->AppServiceName(kService);
        client->PackageFamilyName("Velmora");
        client->RequestReceived([](const platform::AppServiceRequestReceivedEventArgs& args) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));  // slower than the burst
            auto answered = args.Request()->SendResponseAsync({});
        });
        ASSERT_EQ(client->OpenAsync().Get(), AppServiceConnectionStatus::Success);
        clients.push_back(std::move(client));
    }
    ASSERT_TRUE(dispatcher->RunUntil([&] { return opened.size() == kChannels; }));

    std::vector<Task<bool>> pushes;
    for (int32_t n = 0; n < 100; ++n) {
        for (uint64_t channel : opened) pushes.push_back(host->PushAsync(channel, ValueSet{{"n", Value(n)}}));
    }
    size_t failed = 0;
    for (auto& push : pushes) failed += push.Get() ? 0 : 1;
    EXPECT_EQ(failed, 0u);
}

TEST(AppServiceHost, ASilentClientDoesNotHoldUpAnotherClientsPushes) {
    auto dispatcher = ManualDispatcher::Create();
    std::map<std::string, uint64_t> opened;
    AppServiceHost::Handlers handlers;
    handlers.opened = [&](uint64_t channel, const std::string& client) { opened[client] = channel; };
    auto host = StartHost(dispatcher, std::move(handlers));
    SilentClient silent;
    silent.Open("/silent");
    AnsweringClient healthy;
    ASSERT_TRUE(dispatcher->RunUntil([&] { return opened.size() == 2; }));
    const uint64_t silentChannel = opened.at(silent.UniqueName());
    opened.erase(silent.UniqueName());
    const uint64_t healthyChannel = opened.begin()->second;

    // More than every place the host has for pushes awaiting replies, all before the healthy client's.
    auto unanswered = PushBurst(*host, silentChannel, 40);
    auto answered = PushBurst(*host, healthyChannel, 50);
    for (auto& push : answered) EXPECT_TRUE(push.Get());

    // Every one of the silent client's pushes still awaits its reply or its turn: none has timed out to
    // make room for the healthy client's.
    size_t completed = 0;
    for (const auto& push : unanswered) completed += push.IsCompleted() ? 1 : 0;
    EXPECT_EQ(completed, 0u);
    std::vector<int32_t> sent(50);
    std::iota(sent.begin(), sent.end(), 0);
    EXPECT_EQ(healthy.Received(), sent);
}

TEST(AppServiceHost, ClosedChannelsFailTheirPushesAndGiveTheirPlacesToTheOthers) {
    auto dispatcher = ManualDispatcher::Create();
    std::map<std::string, std::vector<uint64_t>> opened;
    size_t closed = 0;
    AppServiceHost::Handlers handlers;
    handlers.opened = [&](uint64_t channel, const std::string& client) { opened[client].push_back(channel); };
    handlers.closed = [&](uint64_t) { ++closed; };
    auto host = StartHost(dispatcher, std::move(handlers));
    // Hung channels enough to hold every place, with pushes waiting behind those sent.
    constexpr size_t kSilentChannels = 4;
    SilentClient silent;
    for (size_t i = 0; i < kSilentChannels; ++i) silent.Open("/silent/" + std::to_string(i));
    AnsweringClient healthy;
    ASSERT_TRUE(dispatcher->RunUntil(
        [&] { return opened[silent.UniqueName()].size() == kSilentChannels && opened.size() == 2; }));
    const auto silentChannels = opened.at(silent.UniqueName());
    opened.erase(silent.UniqueName());
    const uint64_t healthyChannel = opened.begin()->second.front();

    std::vector<Task<bool>> unanswered;
    for (uint64_t channel : silentChannels) {
        for (auto& push : PushBurst(*host, channel, 20)) unanswered.push_back(std::move(push));
    }
    auto answered = PushBurst(*host, healthyChannel, 50);
    // A widget reloading its page: each of its channels is closed for a fresh one.
    for (size_t i = 0; i < kSilentChannels; ++i) silent.Reopen("/silent/" + std::to_string(i));
    ASSERT_TRUE(dispatcher->RunUntil([&] { return closed == kSilentChannels; }));

    // Those sent and those still waiting alike end as failed pushes, not as errors thrown at the caller.
    size_t failed = 0;
    for (auto& push : unanswered) {
        try {
            failed += push.Get() ? 0 : 1;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "a push threw: " << e.what();
        }
    }
    EXPECT_EQ(failed, unanswered.size());
    // Nothing of the closed channels keeps a place: the healthy client's pushes all go out.
    ASSERT_TRUE(dispatcher->RunUntil([&] { return AllCompleted(answered); }));
    for (auto& push : answered) EXPECT_TRUE(push.Get());
    EXPECT_EQ(healthy.Received().size(), answered.size());
}
