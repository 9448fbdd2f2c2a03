#include "Platform/Ui/UiDispatcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>

namespace platform {

namespace {
const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}

// Shared by the dispatcher and its receiver, so that whichever of the two goes first leaves the other a
// consistent queue.
struct UiDispatcher::Queue {
    std::mutex mutex;
    std::deque<std::function<void()>> work;
    bool stopped = false;
    bool wakePending = false;
    QObject* receiver = nullptr;  // guarded by mutex; nulled when the receiver dies
    QThread* thread = nullptr;

    // Destroys the refused work outside the lock: a destroyed continuation may post to other threads.
    void Stop() {
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard lock(mutex);
            stopped = true;
            dropped.swap(work);
        }
    }

    void Drain();
};

namespace {

// Lives on the main thread and is woken by one posted event per batch of work. It is a child of the
// application object, so it dies with it; the dispatcher itself may die on any thread.
class Receiver final : public QObject {
public:
    explicit Receiver(std::shared_ptr<UiDispatcher::Queue> queue) : queue_(std::move(queue)) {}
    ~Receiver() override {
        {
            std::lock_guard lock(queue_->mutex);
            queue_->receiver = nullptr;
        }
        queue_->Stop();
    }

    bool event(QEvent* event) override {
        if (event->type() != kWakeEvent) return QObject::event(event);
        queue_->Drain();
        return true;
    }

private:
    std::shared_ptr<UiDispatcher::Queue> queue_;
};

}  // namespace

void UiDispatcher::Queue::Drain() {
    size_t budget;
    {
        std::lock_guard lock(mutex);
        wakePending = false;
        budget = work.size();
    }
    // One item at a time, so that a nested event loop inside an item (a dialog, a test waiting) runs the
    // next items in their order rather than a second batch overtaking the rest of this one. The budget
    // lets Qt's own events in between when work keeps arriving.
    for (; budget > 0; --budget) {
        std::function<void()> item;
        {
            std::lock_guard lock(mutex);
            if (stopped || work.empty()) return;
            item = std::move(work.front());
            work.pop_front();
        }
        try {
            item();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "platform: exception escaped UI work: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "platform: exception escaped UI work\n");
        }
    }
    std::lock_guard lock(mutex);
    if (!stopped && !work.empty() && !wakePending && receiver) {
        wakePending = true;
        QCoreApplication::postEvent(receiver, new QEvent(kWakeEvent));
    }
}

UiDispatcher::UiDispatcher() : queue_(std::make_shared<Queue>()) {}

std::shared_ptr<UiDispatcher> UiDispatcher::Create() {
    auto* app = QCoreApplication::instance();
    if (!app || app->thread() != QThread::currentThread()) {
        throw std::logic_error("UiDispatcher::Create needs the application object, on its thread");
    }
    std::shared_ptr<UiDispatcher> dispatcher(new UiDispatcher());
    auto queue = dispatcher->queue_;
    queue->thread = app->thread();
    auto* receiver = new Receiver(queue);
    receiver->setParent(app);
    queue->receiver = receiver;
    QObject::connect(app, &QCoreApplication::aboutToQuit, receiver, [queue] { queue->Stop(); });
    SetForCurrentThread(dispatcher);
    return dispatcher;
}

UiDispatcher::~UiDispatcher() {
    Shutdown();
}

bool UiDispatcher::RunAsync(std::function<void()> work) {
    std::lock_guard lock(queue_->mutex);
    if (queue_->stopped || !queue_->receiver) return false;
    queue_->work.push_back(std::move(work));
    if (!queue_->wakePending) {
        queue_->wakePending = true;
        // Posting under the lock: the receiver's destructor takes the same lock before it goes, so the
        // event never targets a dead object.
        QCoreApplication::postEvent(queue_->receiver, new QEvent(kWakeEvent));
    }
    return true;
}

bool UiDispatcher::HasThreadAccess() const {
    return QThread::currentThread() == queue_->thread;
}

void UiDispatcher::Shutdown() {
    queue_->Stop();
}

bool UiDispatcher::IsShutDown() const {
    std::lock_guard lock(queue_->mutex);
    return queue_->stopped;
}

}  // namespace platform
