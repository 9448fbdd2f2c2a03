// velmora with the real native page and a reporter, for native_page_bench: the same process entry as the
// shipped program, reporting on standard output, each with the monotonic clock in nanoseconds:
//   SIGNED_IN_FRAME <ns>       the first frame that shows the signed-in view
//   FEED_FRAME <ns>            the first frame that shows the home rows
//   PUSH <ns> <title>          a playback state whose title differs from the last one reached the page
//   TITLE_FRAME <ns> <title>   the first frame that shows a new title

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
    QQuickItem* item = page->Item();
    QObject::connect(item, &QQuickItem::windowChanged, item, [weak, item](QQuickWindow* window) {
        if (!window) return;
        struct Seen {
            bool signedIn = false;
            bool feed = false;
            QString title;
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
        });
    });
}

}  // namespace

int main(int argc, char** argv) {
    velmora::FrontEnd native{velmora::kNativePageType,
                             [](const platform::PageContext& context) {
                                 auto made = velmora::CorvanaWidgetNative::Factory()(context);
                                 Report(std::dynamic_pointer_cast<velmora::CorvanaWidgetNative>(made));
                                 return made;
                             },
                             {}};
    return velmora::RunVelmora(argc, argv, {native}, {});
}
