#include "tests/support/FakeGameBarWidget.h"

namespace testsupport {

void FakeGameBarWidget::QueueResizeResults(std::vector<bool> results) {
    std::lock_guard lock(mutex_);
    resizeResults_.insert(resizeResults_.end(), results.begin(), results.end());
}

void FakeGameBarWidget::FailNextLaunch(std::exception_ptr error) {
    std::lock_guard lock(mutex_);
    launchError_ = std::move(error);
}

void FakeGameBarWidget::HoldResizes(bool hold) {
    std::lock_guard lock(mutex_);
    holdResizes_ = hold;
}

void FakeGameBarWidget::ReleaseResizes(bool result) {
    std::vector<platform::TaskCompletionSource<bool>> held;
    {
        std::lock_guard lock(mutex_);
        held.swap(heldResizes_);
    }
    for (auto& source : held) source.TrySetResult(result);
}

std::vector<FakeGameBarWidget::Size> FakeGameBarWidget::Resizes() const {
    std::lock_guard lock(mutex_);
    return resizes_;
}

std::vector<std::string> FakeGameBarWidget::Launches() const {
    std::lock_guard lock(mutex_);
    return launches_;
}

std::optional<bool> FakeGameBarWidget::HorizontalResize() const {
    std::lock_guard lock(mutex_);
    return horizontalResize_;
}

std::optional<bool> FakeGameBarWidget::VerticalResize() const {
    std::lock_guard lock(mutex_);
    return verticalResize_;
}

size_t FakeGameBarWidget::HeldResizes() const {
    std::lock_guard lock(mutex_);
    return heldResizes_.size();
}

platform::Task<bool> FakeGameBarWidget::TryResizeWindowAsync(double width, double height) {
    platform::TaskCompletionSource<bool> source;
    bool result = true;
    {
        std::lock_guard lock(mutex_);
        resizes_.push_back({width, height});
        if (holdResizes_) {
            heldResizes_.push_back(source);
            return source.GetTask();
        }
        if (!resizeResults_.empty()) {
            result = resizeResults_.front();
            resizeResults_.pop_front();
        }
    }
    source.TrySetResult(result);
    return source.GetTask();
}

platform::Task<bool> FakeGameBarWidget::LaunchUriAsync(std::string uri) {
    platform::TaskCompletionSource<bool> source;
    std::exception_ptr error;
    {
        std::lock_guard lock(mutex_);
        launches_.push_back(std::move(uri));
        error.swap(launchError_);
    }
    if (error) {
        source.TrySetException(error);
    } else {
        source.TrySetResult(true);
    }
    return source.GetTask();
}

void FakeGameBarWidget::HorizontalResizeSupported(bool supported) {
    std::lock_guard lock(mutex_);
    horizontalResize_ = supported;
}

void FakeGameBarWidget::VerticalResizeSupported(bool supported) {
    std::lock_guard lock(mutex_);
    verticalResize_ = supported;
}

}  // namespace testsupport
