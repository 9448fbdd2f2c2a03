#pragma once

#include <functional>

#include <QObject>
#include <QString>

namespace platform {

// The one object the page reaches over the web channel. The channel shows the page every public slot,
// signal and property of it, so it has exactly one of each direction and nothing else of note: the page
// calls postMessage(text), and receives message(text).
class WebMessageBridge : public QObject {
    Q_OBJECT

public:
    using Receiver = std::function<void(const QString& text)>;

    explicit WebMessageBridge(QObject* parent = nullptr);

    // Called on the UI thread for each message the page posts; without a receiver, messages are dropped.
    void SetReceiver(Receiver receiver);
    void Send(const QString& text);

public slots:
    void postMessage(const QString& text);

signals:
    void message(const QString& text);

private:
    Receiver receiver_;
};

}  // namespace platform
