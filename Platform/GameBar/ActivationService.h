#pragma once

#include <QDBusContext>
#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

namespace platform {

class GameBarHost;

// The freedesktop application interface of the running widget host on the session bus, at
// /org/velmora/Velmora under org.velmora.Velmora: a second start, the desktop's URI handler and D-Bus
// activation reach the host through it. A call with the wrong argument types, an unknown action or a bad
// value gets a D-Bus error and changes nothing.
class ActivationService final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    static constexpr const char* kBusName = "org.velmora.Velmora";
    static constexpr const char* kObjectPath = "/org/velmora/Velmora";
    static constexpr const char* kInterface = "org.freedesktop.Application";

    explicit ActivationService(GameBarHost& host);

public slots:
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData);
    Q_SCRIPTABLE void Open(const QStringList& uris, const QVariantMap& platformData);
    Q_SCRIPTABLE void ActivateAction(const QString& actionName, const QVariantList& parameter,
                                     const QVariantMap& platformData);

private slots:
    // The session bus went away (the session is ending): the widget closes as its close button would.
    void OnBusDisconnected();

private:
    void ReplyError(const QString& name, const QString& message);

    GameBarHost& host_;
};

}  // namespace platform
