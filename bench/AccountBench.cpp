// Costs of the account layer: converting the home feed (a realistic 4 x 6 feed and a 1 MB one) and
// reading a token from the vault (gnome-keyring on a private bus, started here).
#include <benchmark/benchmark.h>

#include "VelmoraUtils/CorvanaClient.h"
#include "VelmoraUtils/TokenStore.h"
#include "tests/support/PrivateBus.h"

namespace {

std::string Item(int row, int index) {
    std::string n = std::to_string(row) + "-" + std::to_string(index);
    return R"({"name":"Item )" + n + R"(","type":"playlist","uri":"corvana:playlist:)" + n +
           R"(","description":"A long enough description of a playlist for gaming sessions","images":[)"
           R"({"url":"https://i.scdn.example/image/ab67706f00000002)" +
           n +
           R"(","height":640,"width":640},)"
           R"({"url":"https://i.scdn.example/image/ab67706f00000003)" +
           n +
           R"(","height":300,"width":300}],)"
           R"("owner":{"display_name":"Corvana","id":"corvana"},"artists":[{"name":"Artist A"},{"name":"Artist B"}],)"
           R"("album":{"images":[{"url":"https://i.scdn.example/album/)" +
           n + R"("}]}})";
}

std::string FeedOf(int rows, int itemsPerRow) {
    std::string feed = R"({"content":{"items":[)";
    for (int r = 0; r < rows; ++r) {
        if (r) feed += ",";
        feed += R"({"name":"Row )" + std::to_string(r) + R"(","content":{"items":[)";
        for (int i = 0; i < itemsPerRow; ++i) feed += (i ? "," : "") + Item(r, i);
        feed += "]}}";
    }
    return feed + "]}}";
}

void ConvertFeed(benchmark::State& state, const std::string& feed) {
    for (auto _ : state) benchmark::DoNotOptimize(utils::corvana_client::ParseHomeFeed(feed));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * feed.size()));
    state.counters["bytes"] = static_cast<double>(feed.size());
}

void ConvertRealisticFeed(benchmark::State& state) {
    ConvertFeed(state, FeedOf(4, 6));
}
BENCHMARK(ConvertRealisticFeed)->Unit(benchmark::kMicrosecond);

void ConvertMegabyteFeed(benchmark::State& state) {
    static const std::string feed = FeedOf(4, 500);  // about 1 MB
    ConvertFeed(state, feed);
}
BENCHMARK(ConvertMegabyteFeed)->Unit(benchmark::kMicrosecond);

void VaultRead(benchmark::State& state) {
    utils::TokenStore::SaveCredentials({{"benchCorvanaAccessToken", std::string(300, 't')}});
    for (auto _ : state)
        benchmark::DoNotOptimize(utils::TokenStore::ReadCredential("benchCorvanaAccessToken"));
}
BENCHMARK(VaultRead)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    testsupport::PrivateBusEnvironment bus;
    testsupport::KeyringEnvironment keyring;
    bus.SetUp();
    keyring.SetUp();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
