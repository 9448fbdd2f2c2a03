#pragma once

#include <QtQml/qqmlregistration.h>
#include <QObject>
#include <QString>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "Platform/Threading/CoreDispatcher.h"

namespace framework {

// The base of every view model: a QObject whose properties the page binds by the names of the behaviour.
// It captures the dispatcher of the thread that creates it (view models are created on the UI thread) and
// delivers every property notification there, queued in the order raised.
//
// View models live in shared pointers made by Adopt(): detached work holds weak or strong references, and
// the last release, wherever it happens, destroys the object on the UI thread that owns it.
class ViewModelBase : public QObject, public std::enable_shared_from_this<ViewModelBase> {
    Q_OBJECT
    QML_ANONYMOUS

public:
    ~ViewModelBase() override;

    const std::shared_ptr<platform::CoreDispatcher>& Dispatcher() const { return dispatcher_; }

protected:
    // Throws E_UNEXPECTED when the calling thread has no dispatcher.
    ViewModelBase();

    template <typename T>
    static std::shared_ptr<T> Adopt(T* viewModel) {
        std::shared_ptr<platform::CoreDispatcher> dispatcher = viewModel->dispatcher_;
        return std::shared_ptr<T>(viewModel, [dispatcher](T* released) { Destroy(dispatcher, released); });
    }

    template <typename T>
    std::shared_ptr<T> SharedFrom(T* self) {
        return std::static_pointer_cast<T>(self->shared_from_this());
    }
    template <typename T>
    std::weak_ptr<T> WeakFrom(T* self) {
        return std::static_pointer_cast<T>(self->shared_from_this());
    }

    // Queues `changed`, a NOTIFY signal of the derived class, on the UI thread and returns at once. It is
    // dropped quietly if the view model is gone by then. `keepAlive` is released only after the signal,
    // so that an object a property has just let go of outlives the page's last look at it.
    template <typename Owner>
    void RaisePropertyChanged(void (Owner::*changed)(), std::shared_ptr<const void> keepAlive = nullptr) {
        QueueNotification([changed](ViewModelBase& self) { (static_cast<Owner&>(self).*changed)(); },
                          std::move(keepAlive));
    }

    // The change-checking setters: store first, then notify, and return whether the value changed. Value
    // kinds compare by value; objects (collections, colours, covers, view models) by identity.
    template <typename T, typename Owner>
    bool SetProperty(T& field, T value, void (Owner::*changed)()) {
        if (field == value) return false;
        field = std::move(value);
        RaisePropertyChanged(changed);
        return true;
    }
    template <typename Owner>
    bool SetProperty(double& field, double value, void (Owner::*changed)()) {
        if (field == value || (std::isnan(field) && std::isnan(value))) return false;
        field = value;
        RaisePropertyChanged(changed);
        return true;
    }
    template <typename T, typename Owner>
    bool SetProperty(std::shared_ptr<T>& field, std::shared_ptr<T> value, void (Owner::*changed)()) {
        if (field == value) return false;
        std::shared_ptr<T> previous = std::exchange(field, std::move(value));
        RaisePropertyChanged(changed, std::move(previous));
        return true;
    }

private:
    static void Destroy(const std::shared_ptr<platform::CoreDispatcher>& dispatcher, ViewModelBase* released);
    void QueueNotification(std::function<void(ViewModelBase&)> notify, std::shared_ptr<const void> keepAlive);

    const std::shared_ptr<platform::CoreDispatcher> dispatcher_;
};

}  // namespace framework
