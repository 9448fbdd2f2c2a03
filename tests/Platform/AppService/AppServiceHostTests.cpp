// AppServiceHost with AppServiceConnection as its client, both ends in this process on the test's private
// bus (the process's one connection calls itself through the bus daemon).
#include <gtest/gtest.h>

#include <chrono>
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
