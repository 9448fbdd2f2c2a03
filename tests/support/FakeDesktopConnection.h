#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "VelmoraUtils/IDesktopAPIConnection.h"

namespace testsupport {

// A desktop connection the test drives: it records every request, answers from a script (a success with
// empty data unless told otherwise), and lets the test push notifications and close the channel. The
// controller owns the fake; the test keeps the shared Script.
class FakeDesktopConnection : public utils::IDesktopAPIConnection {
public:
    struct Request {
        std::string method;
        platform::ValueSet params;
    };

    struct Script {
        // Next answers per method; an exception_ptr makes SendRequest fail with it.
        void Answer(const std::string& method, Response response);
        void Fail(const std::string& method, std::exception_ptr error);
        // Next answers of Connect(); true when none is scripted. While held, Connect() calls wait until
        // ReleaseConnect answers those waiting so far.
        void ConnectResults(std::vector<bool> results);
        void HoldConnect();
        void StopHolding();
        void ReleaseConnect(bool result);
        // While a method is held, its requests are recorded but wait unanswered until ReleaseRequests
        // answers those waiting so far (each from the script, in order) and stops holding it.
        void HoldRequests(const std::string& method);
        void ReleaseRequests(const std::string& method);

        std::vector<Request> Requests();
        std::vector<std::string> Methods();
        int Count(const std::string& method);
        bool WaitForRequests(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
        bool WaitForConnects(int count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
        int ConnectCalls();
        int DisconnectCalls();
        void ClearRequests();

        void Push(const std::string& method, platform::ValueSet params);
        void Close();

        std::mutex mutex;
        std::condition_variable changed;
        std::vector<Request> requests;
        std::map<std::string, std::deque<std::pair<std::optional<Response>, std::exception_ptr>>> answers;
        std::deque<bool> connectResults;
        bool holdConnect = false;
        std::vector<platform::TaskCompletionSource<bool>> heldConnects;
        std::map<std::string, std::vector<platform::TaskCompletionSource<Response>>> heldRequests;
        int connectCalls = 0;
        int disconnectCalls = 0;
        NotificationHandler notificationHandler;
        ClosedHandler closedHandler;
    };

    explicit FakeDesktopConnection(std::shared_ptr<Script> script) : script_(std::move(script)) {}

    platform::Task<bool> Connect() override;
    void Disconnect() override;
    platform::Task<Response> SendRequest(std::string method, Params params) override;
    void SetNotificationHandler(NotificationHandler handler) override;
    void SetClosedHandler(ClosedHandler handler) override;

private:
    static void Answer(const platform::TaskCompletionSource<Response>& source,
                       std::pair<std::optional<Response>, std::exception_ptr> answer);

    std::shared_ptr<Script> script_;
};

}  // namespace testsupport
