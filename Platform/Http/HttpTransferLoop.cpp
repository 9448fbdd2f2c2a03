#include "Platform/Http/HttpTransferLoop.h"

#include <curl/curl.h>
#include <pthread.h>

#include "Platform/Foundation/PlatformError.h"

namespace platform::detail {

namespace {
// The widget talks to two or three hosts; more connections than this wait for one to be free.
constexpr int kMaxConnections = 8;
}  // namespace

HttpTransferLoop& HttpTransferLoop::Instance() {
    static HttpTransferLoop* loop = new HttpTransferLoop();
    // Made after the loop, whose construction initialised OpenSSL and so registered its exit handler
    // first: this one therefore runs before it.
    static struct StopAtExit {
        ~StopAtExit() { loop->Stop(); }
    } stopAtExit;
    return *loop;
}

HttpTransferLoop::HttpTransferLoop() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    multi_ = curl_multi_init();
    if (!multi_) throw PlatformError(E_FAIL, "curl_multi_init failed");
    // One connection per origin, kept between requests: a start-up's token request, feed and covers then
    // cost one TLS handshake per host rather than one each. Requests to a host whose connection is busy
    // wait for it (or share it, over HTTP/2); requests to other hosts do not.
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, 1L);
    curl_multi_setopt(multi_, CURLMOPT_MAX_TOTAL_CONNECTIONS, static_cast<long>(kMaxConnections));
    curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, static_cast<long>(kMaxConnections));
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "velmora-http");
        Run();
    });
}

// Transfers still under way are left as they are: the process is ending.
void HttpTransferLoop::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    curl_multi_wakeup(multi_);
    if (thread_.joinable()) thread_.join();
    // Closes the connections kept for reuse, so that a server in this process (a test's) is not left
    // waiting for them to time out as it stops. The transfers still under way are never touched again.
    std::lock_guard lock(mutex_);
    curl_multi_cleanup(multi_);
    multi_ = nullptr;
}

// A transfer started as the process ends is dropped: nothing would run it.
void HttpTransferLoop::Start(std::shared_ptr<Transfer> transfer) {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    queued_.push_back(std::move(transfer));
    curl_multi_wakeup(multi_);
}

void HttpTransferLoop::Run() {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        BeginQueued();
        int running = 0;
        curl_multi_perform(multi_, &running);
        // A transfer waiting for the origin's one connection is moved on by curl when another ends, but
        // the last of a burst is not always given a timer to run by: without another pass now it would
        // wait for the poll below to time out, and its connection, idle meanwhile, might be closed.
        while (EndFinished()) curl_multi_perform(multi_, &running);
        // Returns early when a socket is ready, a curl timer is due or Start() wakes it.
        curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
    }
}

void HttpTransferLoop::BeginQueued() {
    std::vector<std::shared_ptr<Transfer>> queued;
    {
        std::lock_guard lock(mutex_);
        queued.swap(queued_);
    }
    for (auto& transfer : queued) {
        try {
            CURL* handle = transfer->Begin();
            if (curl_multi_add_handle(multi_, handle) != CURLM_OK) {
                throw PlatformError(E_FAIL, "curl_multi_add_handle failed");
            }
            running_.emplace(handle, std::move(transfer));
        } catch (...) {
            transfer->Fail(std::current_exception());
        }
    }
}

bool HttpTransferLoop::EndFinished() {
    bool ended = false;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        CURL* handle = message->easy_handle;
        CURLcode result = message->data.result;
        curl_multi_remove_handle(multi_, handle);
        auto found = running_.find(handle);
        if (found == running_.end()) continue;
        auto transfer = std::move(found->second);
        running_.erase(found);
        transfer->End(result);
        ended = true;
    }
    return ended;
}

}  // namespace platform::detail
