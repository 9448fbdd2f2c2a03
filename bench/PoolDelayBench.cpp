// How long a task posted to the shared pool waits before it starts: on an idle process, and while eight
// home-feed fetches hang on a server that accepts connections and never answers (the fetches give up after
// five seconds). Every D-Bus reply, push and timer of the widget waits like this.
//
//   pool_delay_bench [--samples N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Platform/Http/HttpClient.h"
#include "Platform/Threading/ManualResetEvent.h"
#include "Platform/Threading/ThreadPool.h"
#include "VelmoraUtils/CorvanaClient.h"
#include "tests/support/HttpsTestServer.h"

using namespace std::chrono;

namespace {

struct Summary {
    double p50, p99, max;
    size_t count;
};

// Posts one task at a time for up to `window`, and returns how long each waited to start.
Summary SamplePostDelays(int samples, milliseconds window) {
    std::vector<double> micros;
    auto end = steady_clock::now() + window;
    for (int i = 0; i < samples && steady_clock::now() < end; ++i) {
        platform::ManualResetEvent started;
        steady_clock::time_point startedAt;
        auto posted = steady_clock::now();
        platform::ThreadPool::Default().Post([&] {
            startedAt = steady_clock::now();
            started.Set();
        });
        started.Wait(seconds(60));
        micros.push_back(duration<double, std::micro>(startedAt - posted).count());
        std::this_thread::sleep_for(microseconds(500));
    }
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros[micros.size() * 99 / 100], micros.back(), micros.size()};
}

void Print(const char* label, const Summary& s) {
    std::printf("%-32s p50 %9.1f us   p99 %9.1f us   max %10.1f us   (%zu samples)\n", label, s.p50, s.p99,
                s.max, s.count);
}

}  // namespace

int main(int argc, char** argv) {
    int samples = 2000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--samples") samples = std::atoi(argv[i + 1]);
    }

    Print("posted task, idle pool", SamplePostDelays(samples, seconds(2)));

    testsupport::SilentTcpServer silent(testsupport::SilentTcpServer::Behaviour::NeverAnswer);
    ::setenv("VELMORA_WEBAPI_URL", silent.Origin().c_str(), 1);
    platform::HttpClient::SetDefaultTimeouts(seconds(5), seconds(5));
    std::vector<platform::Task<std::vector<utils::corvana_client::HomeSection>>> fetches;
    for (int i = 0; i < 8; ++i) fetches.push_back(utils::corvana_client::FetchHomeSectionsAsync("token"));

    Print("posted task, 8 fetches hanging", SamplePostDelays(samples, seconds(2)));
    for (auto& fetch : fetches) fetch.Get();
    return 0;
}
