#include "Platform/GameBar/ActivationService.h"

#include <QDBusArgument>
#include <QDBusVariant>

#include "Platform/GameBar/GameBarHost.h"
#include "Platform/Ui/ProtocolActivatedEventArgs.h"

namespace platform {

namespace {

const QString kInvalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
const QString kFailed = QStringLiteral("org.freedesktop.DBus.Error.Failed");

// The value inside one element of an `av`, whichever way QtDBus handed it over.
QVariant Unwrap(const QVariant& element) {
    if (element.canConvert<QDBusVariant>()) return element.value<QDBusVariant>().variant();
    return element;
}

}  // namespace

ActivationService::ActivationService(GameBarHost& host) : host_(host) {}

void ActivationService::ReplyError(const QString& name, const QString& message) {
    if (calledFromDBus()) sendErrorReply(name, message);
}

void ActivationService::OnBusDisconnected() {
    host_.EndSession();
}

void ActivationService::Activate(const QVariantMap&) {
    host_.ActivateLaunch();
}

void ActivationService::Open(const QStringList& uris, const QVariantMap&) {
    // All or nothing: one text that is not a URI refuses the whole call.
    for (const QString& uri : uris) {
        if (!ProtocolActivatedEventArgs::SchemeOf(uri.toStdString())) {
            ReplyError(kInvalidArgs, QStringLiteral("not an absolute URI: %1").arg(uri));
            return;
        }
    }
    QString failures;
    for (const QString& uri : uris) {
        std::string failure = host_.ActivateUri(uri.toStdString());
        if (!failure.empty()) failures += (failures.isEmpty() ? "" : "; ") + QString::fromStdString(failure);
    }
    if (!failures.isEmpty()) ReplyError(kFailed, failures);
}

void ActivationService::ActivateAction(const QString& actionName, const QVariantList& parameter,
                                       const QVariantMap&) {
    if (parameter.size() > 1) {
        ReplyError(kInvalidArgs, QStringLiteral("an action takes at most one parameter"));
        return;
    }
    std::optional<QVariant> value;
    if (!parameter.isEmpty()) value = Unwrap(parameter.front());

    if (actionName == QLatin1String("pinned-only")) {
        if (value && value->metaType().id() != QMetaType::Bool) {
            ReplyError(kInvalidArgs, QStringLiteral("pinned-only takes a boolean"));
            return;
        }
        host_.SetPinnedOnly(value ? std::optional<bool>(value->toBool()) : std::nullopt);
    } else if (actionName == QLatin1String("opacity")) {
        if (!value || value->metaType().id() != QMetaType::Double || !host_.SetOpacity(value->toDouble())) {
            ReplyError(kInvalidArgs, QStringLiteral("opacity takes a double from 0.1 to 1"));
        }
    } else if (actionName == QLatin1String("close")) {
        if (value) {
            ReplyError(kInvalidArgs, QStringLiteral("close takes no parameter"));
            return;
        }
        host_.CloseWidgetWindow();
    } else if (actionName == QLatin1String("toggle")) {
        if (value) {
            ReplyError(kInvalidArgs, QStringLiteral("toggle takes no parameter"));
            return;
        }
        std::string failure = host_.ToggleWidgetWindow();
        if (!failure.empty()) ReplyError(kFailed, QString::fromStdString(failure));
    } else {
        ReplyError(kInvalidArgs, QStringLiteral("unknown action: %1").arg(actionName));
    }
}

}  // namespace platform
