#include "Velmora/Native/Framework/ViewModelBase.h"

#include <QQmlEngine>

#include "Platform/Foundation/PlatformError.h"
#include "Velmora/Native/Framework/FailureReport.h"

namespace framework {

ViewModelBase::ViewModelBase() : dispatcher_(platform::CoreDispatcher::ForCurrentThread()) {
    if (!dispatcher_)
        throw platform::PlatformError(platform::E_UNEXPECTED, "a view model is created on a UI thread");
    // QML would otherwise take ownership of a view model that an invokable returns, and delete it.
    QQmlEngine::setObjectOwnership(this, QQmlEngine::CppOwnership);
}

ViewModelBase::~ViewModelBase() = default;

void ViewModelBase::Destroy(const std::shared_ptr<platform::CoreDispatcher>& dispatcher,
                            ViewModelBase* released) {
    if (dispatcher->HasThreadAccess()) {
        delete released;
        return;
    }
    // If the dispatcher drops the work unrun (it has shut down), the holder still deletes the object.
    auto holder = std::make_shared<std::unique_ptr<ViewModelBase>>(released);
    if (!dispatcher->RunAsync([holder] { holder->reset(); })) holder->reset();
}

void ViewModelBase::QueueNotification(std::function<void(ViewModelBase&)> notify,
                                      std::shared_ptr<const void> keepAlive) {
    std::weak_ptr<ViewModelBase> weak = weak_from_this();
    dispatcher_->RunAsync([weak, notify = std::move(notify), keepAlive = std::move(keepAlive)] {
        auto self = weak.lock();
        if (!self) return;
        try {
            notify(*self);
        } catch (...) {
            ReportFailure("ViewModelBase::RaisePropertyChanged", std::current_exception());
        }
    });
}

}  // namespace framework
