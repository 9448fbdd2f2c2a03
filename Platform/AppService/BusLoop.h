#pragma once

// Private to the bus users of Platform (AppService, Media): the process's one session-bus connection and the
// thread that owns it.

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace sdbus {
class IConnection;
class IProxy;
}  // namespace sdbus

namespace platform::detail {

// Every sdbus-c++ object is created, used and destroyed on the loop thread: sdbus values are not
// thread-safe and a synchronous call from a callback would block the whole connection. Other threads
// hand work over with Post().
class BusLoop : public std::enable_shared_from_this<BusLoop> {
public:
    static constexpr const char* kThreadName = "velmora-bus";

    // The process-wide loop, connecting on first use. Throws PlatformError when there is no session bus;
    // a later call tries again.
    static std::shared_ptr<BusLoop> Get();
    ~BusLoop();

    // Runs work on the loop thread; false once the loop has stopped.
    bool Post(std::function<void()> work);
    bool HasStopped();
    // Ends the loop after the work it is running; later Posts are refused. Waits unless on the loop thread.
    void Stop();
    bool IsLoopThread() const { return std::this_thread::get_id() == thread_.get_id(); }

    // Loop thread only.
    sdbus::IConnection& Connection() { return *connection_; }
    sdbus::IProxy& BusDaemon() { return *busDaemon_; }
    // Objects that must die on the loop thread before the connection; released when the loop stops.
    void Keep(uint64_t id, std::shared_ptr<void> owned);
    void Release(uint64_t id);

private:
    BusLoop();
    void Run();
    void Wake();
    void RunPosted();

    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IProxy> busDaemon_;
    int wakeFd_ = -1;
    std::mutex mutex_;
    std::vector<std::function<void()>> posted_;
    bool stopping_ = false;
    std::vector<std::pair<uint64_t, std::shared_ptr<void>>> kept_;  // loop thread only
    std::thread thread_;
};

}  // namespace platform::detail
