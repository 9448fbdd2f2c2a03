#include "Platform/AppService/BusLoop.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <sdbus-c++/sdbus-c++.h>
#include <algorithm>
#include <cstdio>

#include "Platform/Foundation/PlatformError.h"

namespace platform::detail {

namespace {

int PollTimeoutMs(uint64_t absoluteUsec) {
    if (absoluteUsec == UINT64_MAX) return -1;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t nowUsec =
        static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
    if (absoluteUsec <= nowUsec) return 0;
    return static_cast<int>(std::min<uint64_t>((absoluteUsec - nowUsec + 999) / 1000, 60000));
}

}  // namespace

namespace {
// Stops the loop at process exit, before the statics its work may touch are gone.
struct ProcessLoop {
    ~ProcessLoop() {
        if (!loop) return;
        loop->Stop();
        // The connection is left to the end of the process rather than torn down among the other
        // statics: work still holding it (pending requests, replies) may be destroyed after us.
        static auto* kept = new std::shared_ptr<BusLoop>(std::move(loop));
        (void)kept;
    }
    std::mutex mutex;
    std::shared_ptr<BusLoop> loop;
};
}  // namespace

namespace {
ProcessLoop& TheProcessLoop() {
    // sdbus-c++ builds every Variant on a process-wide pseudo connection that is itself a static. Making
    // one first gets that static constructed before ours, hence destroyed after ours has stopped the loop
    // thread, which uses it to the end.
    static ProcessLoop& process = []() -> ProcessLoop& {
        sdbus::Variant first(int32_t{0});
        static ProcessLoop loop;
        return loop;
    }();
    return process;
}
}  // namespace

std::shared_ptr<BusLoop> BusLoop::Get() {
    ProcessLoop& process = TheProcessLoop();
    std::lock_guard lock(process.mutex);
    if (!process.loop || process.loop->HasStopped()) {
        std::shared_ptr<BusLoop> loop(new BusLoop());
        // The thread keeps its loop alive while it runs, so that a reference dropped by work on the loop
        // thread itself can never free the loop under its own feet.
        loop->thread_ = std::thread([loop]() mutable {
            // Named, so that tests and debuggers can tell when caller code ran here, where it must not.
            pthread_setname_np(pthread_self(), kThreadName);
            loop->Run();
            loop.reset();
        });
        process.loop = std::move(loop);
    }
    return process.loop;
}

void BusLoop::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    Wake();
    if (!IsLoopThread() && thread_.joinable()) thread_.join();
}

BusLoop::BusLoop() {
    try {
        connection_ = sdbus::createSessionBusConnection();
        busDaemon_ = sdbus::createProxy(*connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    } catch (const sdbus::Error& error) {
        throw PlatformError(E_FAIL, "no session bus: " + error.getMessage());
    }
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) throw PlatformError(E_FAIL, "eventfd failed");
}

BusLoop::~BusLoop() {
    // Runs on the loop thread as it ends, or on whichever thread drops the last reference after that.
    if (thread_.joinable()) {
        if (IsLoopThread()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }
    busDaemon_.reset();
    connection_.reset();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool BusLoop::HasStopped() {
    std::lock_guard lock(mutex_);
    return stopping_;
}

bool BusLoop::Post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return false;
        posted_.push_back(std::move(work));
    }
    Wake();
    return true;
}

void BusLoop::Wake() {
    uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

void BusLoop::Keep(uint64_t id, std::shared_ptr<void> owned) {
    kept_.emplace_back(id, std::move(owned));
}

void BusLoop::Release(uint64_t id) {
    std::erase_if(kept_, [id](const auto& entry) { return entry.first == id; });
}

void BusLoop::RunPosted() {
    std::vector<std::function<void()>> work;
    {
        std::lock_guard lock(mutex_);
        work.swap(posted_);
    }
    for (auto& item : work) {
        try {
            item();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "platform: exception escaped bus work: %s\n", e.what());
        }
        item = nullptr;  // captured sdbus objects die here, on this thread
    }
}

void BusLoop::Run() {
    for (;;) {
        RunPosted();
        {
            std::lock_guard lock(mutex_);
            if (stopping_) break;
        }
        try {
            while (connection_->processPendingRequest()) {
            }
            auto data = connection_->getEventLoopPollData();
            pollfd fds[2] = {{data.fd, data.events, 0}, {wakeFd_, POLLIN, 0}};
            ::poll(fds, 2, PollTimeoutMs(data.timeout_usec));
            if (fds[1].revents & POLLIN) {
                uint64_t count;
                [[maybe_unused]] auto read = ::read(wakeFd_, &count, sizeof count);
            }
        } catch (const std::exception& e) {
            // The bus is gone (daemon ended, connection reset). Stop here: work posted from now on is
            // refused, so callers see failures, and the next Get() connects afresh.
            std::fprintf(stderr, "platform: session bus failure: %s\n", e.what());
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
    }
    // Work posted before the stop still runs; then the objects kept for channels go, all on this thread.
    RunPosted();
    kept_.clear();
}

}  // namespace platform::detail
