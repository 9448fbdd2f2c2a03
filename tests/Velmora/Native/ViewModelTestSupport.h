#pragma once

#include <QColor>
#include <QObject>
#include <QSignalSpy>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Platform/Foundation/Task.h"
#include "Platform/GameBar/IGameBarWidget.h"
#include "Platform/Threading/ManualDispatcher.h"
#include "Velmora/Common/IAccessTokenProvider.h"
#include "VelmoraUtils/CorvanaClient.h"

// Readable test failures for the Qt values the view models expose.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QUrl& url, std::ostream* out) {
    *out << url.toString().toStdString();
}
inline void PrintTo(const QColor& colour, std::ostream* out) {
    *out << colour.name(QColor::HexArgb).toStdString();
}

namespace testsupport {

// The widget window as the view model sees it: records sizes, launches and resize flags, and lets the test
// change the display mode and opacity (raising the change events) or hold resizes until released.
class FakeGameBarWidget : public platform::IGameBarWidget {
public:
    platform::Task<bool> TryResizeWindowAsync(double width, double height) override;
    platform::Task<bool> LaunchUriAsync(std::string uri) override;
    platform::GameBarDisplayMode DisplayMode() const override { return mode; }
    double RequestedOpacity() const override { return opacity; }
    void HorizontalResizeSupported(bool supported) override { horizontalResize = supported; }
    void VerticalResizeSupported(bool supported) override { verticalResize = supported; }
    EventToken GameBarDisplayModeChanged(ChangedHandler handler) override;
    void GameBarDisplayModeChanged(EventToken token) override { modeHandlers.erase(token); }
    EventToken RequestedOpacityChanged(ChangedHandler handler) override;
    void RequestedOpacityChanged(EventToken token) override { opacityHandlers.erase(token); }

    void ChangeDisplayMode(platform::GameBarDisplayMode newMode);
    void ChangeOpacity(double newOpacity);

    std::vector<std::pair<double, double>> sizes;
    std::vector<std::string> launches;
    std::optional<bool> horizontalResize, verticalResize;
    platform::GameBarDisplayMode mode = platform::GameBarDisplayMode::Foreground;
    double opacity = 0.8;
    std::map<EventToken, ChangedHandler> modeHandlers, opacityHandlers;
    EventToken nextToken = 1;
};

// The access token, read on a pool thread like the vault read; a held read completes on Release().
class FakeAccessTokens : public velmora::IAccessTokenProvider {
public:
    explicit FakeAccessTokens(std::optional<std::string> token) : token_(std::move(token)) {}
    platform::Task<std::optional<std::string>> GetAccessTokenAsync() override;
    // Answers with the renewed token set, recording the token refused.
    platform::Task<std::optional<std::string>> RefreshRejectedAccessTokenAsync(std::string rejected) override;
    void SetToken(std::optional<std::string> token) { token_ = std::move(token); }
    void SetRenewedToken(std::optional<std::string> token) { renewed_ = std::move(token); }
    std::vector<std::string> Rejected() {
        std::lock_guard lock(mutex_);
        return rejected_;
    }
    void Hold() {
        std::lock_guard lock(mutex_);
        hold_ = true;
    }
    void Release();
    int Reads() const { return reads_; }

private:
    std::optional<std::string> token_;
    std::optional<std::string> renewed_;
    std::vector<std::string> rejected_;
    bool hold_ = false;
    std::atomic<int> reads_ = 0;
    std::mutex mutex_;
    std::vector<platform::TaskCompletionSource<std::optional<std::string>>> held_;
};

// Every property notification of one QObject: a QSignalSpy per notifying property, and for each emission
// whether it came on the UI thread with the property already holding the value it still holds.
class NotificationLog : public QObject {
    Q_OBJECT

public:
    NotificationLog(QObject* object, std::shared_ptr<platform::ManualDispatcher> ui);
    // Notified properties and how often, since construction or the last Clear().
    std::map<std::string, int> Counts() const;
    int Count(const std::string& property) const;
    // False when any notification came off the UI thread or before its value was stored.
    bool AllOnUiThreadWithValue() const;
    void Clear();

private slots:
    void OnNotified();

private:
    QObject* object_;
    std::shared_ptr<platform::ManualDispatcher> ui_;
    std::map<std::string, std::unique_ptr<QSignalSpy>> spies_;
    std::map<int, std::string> propertyBySignal_;
    std::vector<std::pair<std::string, QVariant>> seen_;  // the value at each emission
    bool offThread_ = false;
};

// A feed item with the usual fields.
utils::corvana_client::HomeItem FeedItem(std::string name, std::string type, std::string uri,
                                         std::vector<std::string> images = {});
// `rows` rows of `perRow` items each ("Row r", items "Item r.i" of corvana:playlist:r-i, with covers).
std::vector<utils::corvana_client::HomeSection> Feed(int rows, int perRow);

}  // namespace testsupport
