#include "Platform/Threading/CoreDispatcher.h"

namespace platform {

namespace {
thread_local std::weak_ptr<CoreDispatcher> currentDispatcher;
}

std::shared_ptr<CoreDispatcher> CoreDispatcher::ForCurrentThread() {
    return currentDispatcher.lock();
}

void CoreDispatcher::SetForCurrentThread(const std::shared_ptr<CoreDispatcher>& dispatcher) {
    currentDispatcher = dispatcher;
}

}  // namespace platform
