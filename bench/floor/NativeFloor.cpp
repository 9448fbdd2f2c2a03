// The floor the native widget is measured against: a bare Qt Quick page of the same content (a cover,
// two texts, five buttons, a progress bar and a 4 x 6 feed), static, with nothing behind it. Reports
//   FIRST_FRAME <ns>   the monotonic clock at its first frame
// on standard output, then shows the page until it is ended.
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQuickView>
#include <QUrl>
#include <cstdio>

#include "bench/ProcessMeasures.h"

namespace {

constexpr const char* kPage = R"(
import QtQuick
import QtQuick.Controls.Basic
Rectangle {
    width: 320; height: 612; color: "#121212"
    Column {
        x: 12; y: 12; spacing: 8; width: parent.width - 24
        Row {
            spacing: 12
            Rectangle { width: 96; height: 96; radius: 6; color: "#3a3a3a" }
            Column {
                spacing: 4
                Text { text: "Neon Boss Fight"; color: "white"; font.pixelSize: 16 }
                Text { text: "Pixel Orchestra"; color: "#b3ffffff"; font.pixelSize: 13 }
            }
        }
        ProgressBar { width: parent.width; value: 0.4 }
        Row {
            spacing: 8
            Repeater { model: 5; Button { width: 40; height: 40; text: index } }
        }
        Repeater {
            model: 4
            Column {
                spacing: 4
                Text { text: "Row " + index; color: "white"; font.pixelSize: 13 }
                Row {
                    spacing: 8
                    Repeater {
                        model: 6
                        Column {
                            Rectangle { width: 64; height: 64; radius: 4; color: "#2a2a2a" }
                            Text { text: "Tile " + index; color: "#b3ffffff"; font.pixelSize: 11 }
                        }
                    }
                }
            }
        }
    }
}
)";

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QQuickView view;
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.setFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    view.setColor(Qt::transparent);
    bool reported = false;
    QObject::connect(&view, &QQuickWindow::frameSwapped, &view, [&reported] {
        if (reported) return;
        reported = true;
        std::printf("FIRST_FRAME %lld\n", static_cast<long long>(bench::MonotonicNs()));
        std::fflush(stdout);
    });
    QQmlComponent component(view.engine());
    component.setData(kPage, QUrl());
    view.setContent(QUrl(), &component, component.create());
    view.resize(320, 612);
    view.show();
    return app.exec();
}
