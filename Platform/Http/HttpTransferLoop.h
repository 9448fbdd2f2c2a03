#pragma once

// Private to Platform/Http: the thread that runs every HTTP transfer of the process.

#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

typedef void CURL;
typedef void CURLM;

namespace platform::detail {

// All transfers share one thread of their own through curl's multi interface. A server that never
// answers then holds back nothing but its own request: not the shared pool, which carries every bus
// reply, push and timer, and not the other requests.
class HttpTransferLoop {
public:
    class Transfer {
    public:
        virtual ~Transfer() = default;
        // Loop thread: sets up the easy handle, which the transfer owns. Throwing ends the transfer there.
        virtual CURL* Begin() = 0;
        // Loop thread: the transfer is over, with curl's result code (a CURLcode).
        virtual void End(int result) noexcept = 0;
        virtual void Fail(std::exception_ptr error) noexcept = 0;
    };

    // Never destroyed, as transfers may be under way while the process exits; its thread stops at exit,
    // before the TLS library tears down what that thread may be using.
    static HttpTransferLoop& Instance();

    void Start(std::shared_ptr<Transfer> transfer);

private:
    HttpTransferLoop();
    void Stop();
    void Run();
    void BeginQueued();
    bool EndFinished();  // whether any transfer ended

    CURLM* multi_ = nullptr;
    std::mutex mutex_;
    std::vector<std::shared_ptr<Transfer>> queued_;
    bool stopping_ = false;
    std::map<CURL*, std::shared_ptr<Transfer>> running_;  // loop thread only
    std::thread thread_;
};

}  // namespace platform::detail
