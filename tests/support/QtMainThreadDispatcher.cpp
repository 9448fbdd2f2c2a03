#include "tests/support/QtMainThreadDispatcher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace testsupport {

std::shared_ptr<QtMainThreadDispatcher> QtMainThreadDispatcher::Create() {
    std::shared_ptr<QtMainThreadDispatcher> dispatcher(new QtMainThreadDispatcher());
    SetForCurrentThread(dispatcher);
    return dispatcher;
}

bool QtMainThreadDispatcher::RunAsync(std::function<void()> work) {
    auto* application = QCoreApplication::instance();
    if (!application) return false;
    QMetaObject::invokeMethod(
        application,
        [self = std::static_pointer_cast<QtMainThreadDispatcher>(shared_from_this()),
         work = std::move(work)] {
            ++self->depth_;
            work();
            --self->depth_;
            ++self->ran_;
        },
        Qt::QueuedConnection);
    return true;
}

bool QtMainThreadDispatcher::HasThreadAccess() const {
    auto* application = QCoreApplication::instance();
    return application && QThread::currentThread() == application->thread();
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done()) return true;
    // A real event loop rather than QTest::qWaitFor, which sleeps between rounds of events and so would
    // delay every message by up to 10 ms.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    poll.start(1);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

}  // namespace testsupport
