// velmora with the real native page and a reporter, for native_page_bench: the same process entry as the
// shipped program, reporting on standard output, each with the monotonic clock in nanoseconds:
//   SIGNED_IN_FRAME <ns>       the first frame that shows the signed-in view
//   FEED_FRAME <ns>            the first frame that shows the home rows
//   PUSH <ns> <title>          a playback state whose title differs from the last one reached the page
//   TITLE_FRAME <ns> <title>   the first frame that shows a new title
//   ACTIVE_DEVICE <ns> <id>    the desktop app pushed a new active device (the widget then asks for the list)
//   DEVICE_LIST <ns> <id>      the answer with the device list arrived, before the page reads it
//   DEVICES_APPLIED <ns> <id>  the view models hold the new list, its selected device `id`, on the UI thread
//   DEVICES_FRAME <ns> <id>    the first frame after the view models took a new list

#include <QQuickItem>
#include <QQuickWindow>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "Velmora/FrontEnd.h"
#include "Velmora/Native/CorvanaWidgetNative.h"
#include "Velmora/PageTypes.h"
#include "Velmora/RunVelmora.h"
#include "VelmoraUtils/DesktopAPIConnection.h"
#include "bench/ProcessMeasures.h"

using bench::MonotonicNs;

namespace {

void Say(const std::string& line) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

QQuickItem* FindItem(QQuickItem* under, const QString& objectName) {
    if (under->objectName() == objectName) return under;
    for (auto* child : under->childItems()) {
        if (auto* found = FindItem(child, objectName)) return found;
    }
    return nullptr;
}

// The page's own channel to the desktop app, stamping the answers with the device list as they arrive.
class StampingConnection : public utils::IDesktopAPIConnection {
public:
    platform::Task<bool> Connect() override { return inner_.Connect(); }
    void Disconnect() override { inner_.Disconnect(); }
    platform::Task<Response> SendRequest(std::string method, Params params) override {
        if (method != "connect_cluster") return inner_.SendRequest(std::move(method), std::move(params));
        return StampedRequest(std::move(method), std::move(params));
    }
    void SetNotificationHandler(NotificationHandler handler) override {
        inner_.SetNotificationHandler(std::move(handler));
    }
    void SetClosedHandler(ClosedHandler handler) override { inner_.SetClosedHandler(std::move(handler)); }
    void SetRefusedHandler(ClosedHandler handler) override { inner_.SetRefusedHandler(std::move(handler)); }

private:
    platform::Task<Response> StampedRequest(std::string method, Params params) {
        Response response = co_await inner_.SendRequest(std::move(method), std::move(params));
        int64_t now = MonotonicNs();
        const auto& data = response.data;
        bool named = data.HasKey("active_device_id") &&
                     data.Lookup("active_device_id").Kind() == platform::ValueKind::String;
        Say("DEVICE_LIST " + std::to_string(now) + " " +
            (named ? data.Lookup("active_device_id").AsString() : std::string()));
        co_return response;
    }

    utils::DesktopAPIConnection inner_;
};

// Watches one page's frames and pushes.
void Report(const std::shared_ptr<velmora::CorvanaWidgetNative>& page) {
    std::weak_ptr<velmora::CorvanaWidgetNative> weak = page;
    auto lastPushed = std::make_shared<std::string>();
    page->Controller()->PlaybackStateChanged.Add([lastPushed](const auto& state) {
        int64_t now = MonotonicNs();
        std::string title = state.track ? state.track->name : "";
        // Raised on one event thread at a time.
        if (title == *lastPushed) return;
        *lastPushed = title;
        Say("PUSH " + std::to_string(now) + " " + title);
    });
    page->Controller()->ActiveDeviceChanged.Add([](const auto& active) {
        Say("ACTIVE_DEVICE " + std::to_string(MonotonicNs()) + " " + active.active_device_id);
    });
    auto* vm = page->ViewModel().get();
    // The selected device is set last when a list is applied, a new view model each time.
    QObject::connect(vm, &velmora::CorvanaWidgetViewModel::SelectedPlaybackDeviceChanged, vm, [vm] {
        auto selected = vm->SelectedPlaybackDevice();
        if (selected)
            Say("DEVICES_APPLIED " + std::to_string(MonotonicNs()) + " " + selected->Id().toStdString());
    });
    QQuickItem* item = page->Item();
    QObject::connect(item, &QQuickItem::windowChanged, item, [weak, item](QQuickWindow* window) {
        if (!window) return;
        struct Seen {
            bool signedIn = false;
            bool feed = false;
            QString title;
            const void* devices = nullptr;
        };
        auto seen = std::make_shared<Seen>();
        QObject::connect(window, &QQuickWindow::frameSwapped, item, [weak, item, seen] {
            auto page = weak.lock();
            if (!page) return;
            int64_t now = MonotonicNs();
            const auto& vm = *page->ViewModel();
            QQuickItem* signedInView = FindItem(item, QStringLiteral("SignedInView"));
            if (!seen->signedIn && vm.IsSignedIn() && signedInView && signedInView->isVisible()) {
                seen->signedIn = true;
                Say("SIGNED_IN_FRAME " + std::to_string(now));
            }
            if (!seen->feed && seen->signedIn && vm.Categories() && vm.Categories()->Count() > 0) {
                seen->feed = true;
                Say("FEED_FRAME " + std::to_string(now));
            }
            QQuickItem* title = FindItem(item, QStringLiteral("TrackTitle"));
            QString shown = title ? title->property("text").toString() : QString();
            if (seen->signedIn && shown != seen->title && shown == vm.CurrentlyPlayingTrack()) {
                seen->title = shown;
                Say("TITLE_FRAME " + std::to_string(now) + " " + shown.toStdString());
            }
            const auto& selected = vm.SelectedPlaybackDevice();
            if (seen->signedIn && selected && selected.get() != seen->devices) {
                seen->devices = selected.get();
                Say("DEVICES_FRAME " + std::to_string(now) + " " + selected->Id().toStdString());
            }
        });
    });
}

}  // namespace

int main(int argc, char** argv) {
    velmora::FrontEnd native{velmora::kNativePageType,
                             [](const platform::PageContext& context) {
                                 auto services = velmora::CorvanaWidgetNative::Services::Default();
                                 services.makeConnection = [] {
                                     return std::make_unique<StampingConnection>();
                                 };
                                 auto made = velmora::CorvanaWidgetNative::Factory(services)(context);
                                 Report(std::dynamic_pointer_cast<velmora::CorvanaWidgetNative>(made));
                                 return made;
                             },
                             {}};
    return velmora::RunVelmora(argc, argv, {native}, {});
}
