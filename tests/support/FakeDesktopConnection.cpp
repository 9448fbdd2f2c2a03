#include "tests/support/FakeDesktopConnection.h"

#include <algorithm>

namespace testsupport {

using Response = utils::IDesktopAPIConnection::Response;

void FakeDesktopConnection::Script::Answer(const std::string& method, Response response) {
    std::lock_guard lock(mutex);
    answers[method].emplace_back(std::move(response), nullptr);
}

void FakeDesktopConnection::Script::Fail(const std::string& method, std::exception_ptr error) {
    std::lock_guard lock(mutex);
    answers[method].emplace_back(std::nullopt, std::move(error));
}

void FakeDesktopConnection::Script::ConnectResults(std::vector<bool> results) {
    std::lock_guard lock(mutex);
    connectResults.assign(results.begin(), results.end());
}

void FakeDesktopConnection::Script::HoldConnect() {
    std::lock_guard lock(mutex);
    holdConnect = true;
}

void FakeDesktopConnection::Script::StopHolding() {
    std::lock_guard lock(mutex);
    holdConnect = false;
}

void FakeDesktopConnection::Script::ReleaseConnect(bool result) {
    std::vector<platform::TaskCompletionSource<bool>> held;
    {
        std::lock_guard lock(mutex);
        held.swap(heldConnects);
    }
    for (auto& source : held) source.TrySetResult(result);
}

void FakeDesktopConnection::Script::HoldRequests(const std::string& method) {
    std::lock_guard lock(mutex);
    heldRequests[method];
}

void FakeDesktopConnection::Script::ReleaseRequests(const std::string& method) {
    std::vector<std::pair<platform::TaskCompletionSource<Response>,
                          std::pair<std::optional<Response>, std::exception_ptr>>>
        release;
    {
        std::lock_guard lock(mutex);
        auto held = heldRequests.find(method);
        if (held == heldRequests.end()) return;
        auto& queue = answers[method];
        for (auto& source : held->second) {
            std::pair<std::optional<Response>, std::exception_ptr> answer{Response{}, nullptr};
            if (!queue.empty()) {
                answer = std::move(queue.front());
                queue.pop_front();
            }
            release.emplace_back(source, std::move(answer));
        }
        heldRequests.erase(held);
    }
    for (auto& [source, answer] : release) FakeDesktopConnection::Answer(source, std::move(answer));
}

std::vector<FakeDesktopConnection::Request> FakeDesktopConnection::Script::Requests() {
    std::lock_guard lock(mutex);
    return requests;
}

std::vector<std::string> FakeDesktopConnection::Script::Methods() {
    std::lock_guard lock(mutex);
    std::vector<std::string> methods;
    for (const auto& request : requests) methods.push_back(request.method);
    return methods;
}

int FakeDesktopConnection::Script::Count(const std::string& method) {
    std::lock_guard lock(mutex);
    return static_cast<int>(
        std::count_if(requests.begin(), requests.end(), [&](const auto& r) { return r.method == method; }));
}

bool FakeDesktopConnection::Script::WaitForRequests(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return requests.size() >= count; });
}

bool FakeDesktopConnection::Script::WaitForConnects(int count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return connectCalls >= count; });
}

int FakeDesktopConnection::Script::ConnectCalls() {
    std::lock_guard lock(mutex);
    return connectCalls;
}

int FakeDesktopConnection::Script::DisconnectCalls() {
    std::lock_guard lock(mutex);
    return disconnectCalls;
}

void FakeDesktopConnection::Script::ClearRequests() {
    std::lock_guard lock(mutex);
    requests.clear();
}

void FakeDesktopConnection::Script::Push(const std::string& method, platform::ValueSet params) {
    NotificationHandler handler;
    {
        std::lock_guard lock(mutex);
        handler = notificationHandler;
    }
    if (handler) handler(Notification{method, std::move(params)});
}

void FakeDesktopConnection::Script::Close() {
    ClosedHandler handler;
    {
        std::lock_guard lock(mutex);
        handler = closedHandler;
    }
    if (handler) handler();
}

platform::Task<bool> FakeDesktopConnection::Connect() {
    platform::TaskCompletionSource<bool> source;
    {
        std::lock_guard lock(script_->mutex);
        ++script_->connectCalls;
        script_->changed.notify_all();
        if (script_->holdConnect) {
            script_->heldConnects.push_back(source);
            return source.GetTask();
        }
        bool result = true;
        if (!script_->connectResults.empty()) {
            result = script_->connectResults.front();
            if (script_->connectResults.size() > 1) script_->connectResults.pop_front();
        }
        source.TrySetResult(result);
    }
    return source.GetTask();
}

void FakeDesktopConnection::Disconnect() {
    std::lock_guard lock(script_->mutex);
    ++script_->disconnectCalls;
}

void FakeDesktopConnection::Answer(const platform::TaskCompletionSource<Response>& source,
                                   std::pair<std::optional<Response>, std::exception_ptr> answer) {
    if (answer.second) {
        source.TrySetException(answer.second);
    } else {
        source.TrySetResult(std::move(*answer.first));
    }
}

platform::Task<Response> FakeDesktopConnection::SendRequest(std::string method, Params params) {
    platform::TaskCompletionSource<Response> source;
    std::pair<std::optional<Response>, std::exception_ptr> answer{Response{}, nullptr};
    {
        std::lock_guard lock(script_->mutex);
        platform::ValueSet set;
        for (auto& [key, value] : params) set.Insert(key, value);
        script_->requests.push_back({method, std::move(set)});
        script_->changed.notify_all();
        if (auto held = script_->heldRequests.find(method); held != script_->heldRequests.end()) {
            held->second.push_back(source);
            return source.GetTask();
        }
        auto& queue = script_->answers[method];
        if (!queue.empty()) {
            answer = std::move(queue.front());
            queue.pop_front();
        }
    }
    Answer(source, std::move(answer));
    return source.GetTask();
}

void FakeDesktopConnection::SetNotificationHandler(NotificationHandler handler) {
    std::lock_guard lock(script_->mutex);
    script_->notificationHandler = std::move(handler);
}

void FakeDesktopConnection::SetClosedHandler(ClosedHandler handler) {
    std::lock_guard lock(script_->mutex);
    script_->closedHandler = std::move(handler);
}

}  // namespace testsupport
