// Costs of the foundation that every message and log line pays.
#include <benchmark/benchmark.h>

#include "Platform/Foundation/Task.h"
#include "Platform/Foundation/ValueSet.h"
#include "Platform/Threading/ThreadDispatcher.h"
#include "VelmoraUtils/Logger.h"
#include "tests/support/TempDir.h"

using namespace platform;

static void LoggerLogWithFileOpen(benchmark::State& state) {
    testsupport::TempDir base;
    utils::Logger logger;
    logger.Initialize(base.path());
    // Standard error would dominate; what is measured is the file path of a line.
    FILE* saved = stderr;
    stderr = std::fopen("/dev/null", "w");
    for (auto _ : state) {
        logger.Log("INFO",
                   "DesktopAPIController: Playback state received - is_active: true, is_paused: false");
    }
    std::fclose(stderr);
    stderr = saved;
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(LoggerLogWithFileOpen);

static ValueSet PlaybackSizedSet() {
    ValueSet track{{"uri", Value("corvana:track:4uLU6hMCjMI75M1A2tKUQC")},
                   {"name", Value("Never Gonna Give You Up")},
                   {"artist", Value("Rick Astley")},
                   {"album", Value("Whenever You Need Somebody")},
                   {"image", Value("https://i.example/ab67616d0000b273.jpg")},
                   {"is_advertisement", Value(false)},
                   {"is_in_collection", Value(true)},
                   {"can_add_to_collection", Value(true)}};
    ValueSet restrictions;
    for (const char* key :
         {"disallow_pausing", "disallow_resuming", "disallow_seeking", "disallow_skipping_prev",
          "disallow_skipping_next", "disallow_toggling_repeat_context", "disallow_toggling_repeat_track",
          "disallow_toggling_shuffle"}) {
        restrictions.Insert(key, Value(false));
    }
    return ValueSet{{"type", Value("track")},
                    {"timestamp", Value("1733650000000")},
                    {"track", Value(track)},
                    {"context", Value(ValueSet{{"uri", Value("corvana:playlist:37i9dQZF1DX")}})},
                    {"playback_speed", Value(1.0)},
                    {"position_as_of_timestamp", Value(int32_t{61000})},
                    {"duration", Value(int32_t{213000})},
                    {"is_active", Value(true)},
                    {"is_paused", Value(false)},
                    {"shuffle", Value(false)},
                    {"repeat", Value("off")},
                    {"restrictions", Value(restrictions)},
                    {"volume_percentage", Value(0.5)}};
}

static void ValueSetBuildAndReadPlaybackState(benchmark::State& state) {
    for (auto _ : state) {
        ValueSet set = PlaybackSizedSet();
        const ValueSet& track = set.Lookup("track").AsValueSet();
        benchmark::DoNotOptimize(track.Lookup("uri").AsString().size());
        benchmark::DoNotOptimize(set.Lookup("position_as_of_timestamp").AsInt32());
        benchmark::DoNotOptimize(
            set.Lookup("restrictions").AsValueSet().Lookup("disallow_seeking").AsBoolean());
    }
}
BENCHMARK(ValueSetBuildAndReadPlaybackState);

static void ResumeBackgroundRoundTrip(benchmark::State& state) {
    for (auto _ : state) {
        [&]() -> Task<void> { co_await ResumeBackground(); }().Get();
    }
}
BENCHMARK(ResumeBackgroundRoundTrip)->UseRealTime();

static void ResumeForegroundOntoDispatcherThread(benchmark::State& state) {
    auto dispatcher = ThreadDispatcher::Create();
    for (auto _ : state) {
        [&]() -> Task<void> { co_await ResumeForeground(dispatcher); }().Get();
    }
}
BENCHMARK(ResumeForegroundOntoDispatcherThread)->UseRealTime();

BENCHMARK_MAIN();
