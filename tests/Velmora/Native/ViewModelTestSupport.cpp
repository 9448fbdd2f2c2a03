#include "tests/Velmora/Native/ViewModelTestSupport.h"

#include <QMetaProperty>

namespace testsupport {

platform::Task<bool> FakeGameBarWidget::TryResizeWindowAsync(double width, double height) {
    sizes.emplace_back(width, height);
    platform::TaskCompletionSource<bool> done;
    done.TrySetResult(true);
    return done.GetTask();
}

platform::Task<bool> FakeGameBarWidget::LaunchUriAsync(std::string uri) {
    launches.push_back(std::move(uri));
    platform::TaskCompletionSource<bool> done;
    done.TrySetResult(true);
    return done.GetTask();
}

platform::IGameBarWidget::EventToken FakeGameBarWidget::GameBarDisplayModeChanged(ChangedHandler handler) {
    modeHandlers.emplace(nextToken, std::move(handler));
    return nextToken++;
}

platform::IGameBarWidget::EventToken FakeGameBarWidget::RequestedOpacityChanged(ChangedHandler handler) {
    opacityHandlers.emplace(nextToken, std::move(handler));
    return nextToken++;
}

void FakeGameBarWidget::ChangeDisplayMode(platform::GameBarDisplayMode newMode) {
    mode = newMode;
    auto handlers = modeHandlers;
    for (auto& [token, handler] : handlers) handler();
}

void FakeGameBarWidget::ChangeOpacity(double newOpacity) {
    opacity = newOpacity;
    auto handlers = opacityHandlers;
    for (auto& [token, handler] : handlers) handler();
}

platform::Task<std::optional<std::string>> FakeAccessTokens::GetAccessTokenAsync() {
    ++reads_;
    platform::TaskCompletionSource<std::optional<std::string>> read;
    {
        std::lock_guard lock(mutex_);
        if (hold_) {
            held_.push_back(read);
            return read.GetTask();
        }
    }
    read.TrySetResult(token_);
    return read.GetTask();
}

platform::Task<std::optional<std::string>> FakeAccessTokens::RefreshRejectedAccessTokenAsync(
    std::string rejected) {
    {
        std::lock_guard lock(mutex_);
        rejected_.push_back(std::move(rejected));
    }
    platform::TaskCompletionSource<std::optional<std::string>> refreshed;
    refreshed.TrySetResult(renewed_);
    return refreshed.GetTask();
}

void FakeAccessTokens::Release() {
    std::vector<platform::TaskCompletionSource<std::optional<std::string>>> held;
    {
        std::lock_guard lock(mutex_);
        hold_ = false;
        held.swap(held_);
    }
    for (auto& read : held) read.TrySetResult(token_);
}

NotificationLog::NotificationLog(QObject* object, std::shared_ptr<platform::ManualDispatcher> ui)
    : object_(object), ui_(std::move(ui)) {
    const QMetaObject* meta = object->metaObject();
    QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("OnNotified()"));
    for (int i = 0; i < meta->propertyCount(); ++i) {
        QMetaProperty property = meta->property(i);
        if (!property.hasNotifySignal()) continue;
        QMetaMethod signal = property.notifySignal();
        spies_[property.name()] = std::make_unique<QSignalSpy>(object, signal);
        propertyBySignal_[signal.methodIndex()] = property.name();
        connect(object, signal, this, slot, Qt::DirectConnection);
    }
}

void NotificationLog::OnNotified() {
    if (!ui_->HasThreadAccess()) offThread_ = true;
    const std::string& name = propertyBySignal_.at(senderSignalIndex());
    seen_.emplace_back(name, object_->property(name.c_str()));
}

std::map<std::string, int> NotificationLog::Counts() const {
    std::map<std::string, int> counts;
    for (const auto& [name, spy] : spies_) {
        if (spy->count() > 0) counts[name] = static_cast<int>(spy->count());
    }
    return counts;
}

int NotificationLog::Count(const std::string& property) const {
    auto it = spies_.find(property);
    return it == spies_.end() ? -1 : static_cast<int>(it->second->count());
}

bool NotificationLog::AllOnUiThreadWithValue() const {
    if (offThread_) return false;
    // Each property's last notification must show the value it has now: a notification raised before the
    // store would show the old one.
    std::map<std::string, QVariant> last;
    for (const auto& [name, value] : seen_) last[name] = value;
    for (const auto& [name, value] : last) {
        if (object_->property(name.c_str()) != value) return false;
    }
    return true;
}

void NotificationLog::Clear() {
    for (auto& [name, spy] : spies_) spy->clear();
    seen_.clear();
    offThread_ = false;
}

utils::corvana_client::HomeItem FeedItem(std::string name, std::string type, std::string uri,
                                         std::vector<std::string> images) {
    utils::corvana_client::HomeItem item;
    item.name = std::move(name);
    item.type = std::move(type);
    item.uri = std::move(uri);
    item.images = std::move(images);
    return item;
}

std::vector<utils::corvana_client::HomeSection> Feed(int rows, int perRow) {
    std::vector<utils::corvana_client::HomeSection> sections;
    for (int r = 0; r < rows; ++r) {
        utils::corvana_client::HomeSection section{"Row " + std::to_string(r), {}};
        for (int i = 0; i < perRow; ++i) {
            std::string id = std::to_string(r) + "-" + std::to_string(i);
            auto item = FeedItem("Item " + id, "playlist", "corvana:playlist:" + id,
                                 {"https://images.example/" + id + ".jpg"});
            item.ownerDisplayName = "Owner " + id;
            section.items.push_back(std::move(item));
        }
        sections.push_back(std::move(section));
    }
    return sections;
}

}  // namespace testsupport
