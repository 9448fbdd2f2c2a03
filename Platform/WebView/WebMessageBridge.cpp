#include "Platform/WebView/WebMessageBridge.h"

#include <utility>

namespace platform {

WebMessageBridge::WebMessageBridge(QObject* parent) : QObject(parent) {}

void WebMessageBridge::SetReceiver(Receiver receiver) {
    receiver_ = std::move(receiver);
}

void WebMessageBridge::Send(const QString& text) {
    emit message(text);
}

void WebMessageBridge::postMessage(const QString& text) {
    if (receiver_) receiver_(text);
}

}  // namespace platform
