#pragma once

#include <QByteArray>
#include <QColor>
#include <QHash>
#include <QMutex>
#include <QQuickImageProvider>

namespace velmora {

// The page's icons, drawn from our SVGs (qrc:/Velmora/Assets/<name>.svg, strokes and fills in
// "currentColor") in one colour: image://icon/<name>/<AARRGGBB>. Unknown names and malformed colours give
// a null image, which the markup shows as nothing.
class IconImageProvider : public QQuickImageProvider {
public:
    static constexpr const char* kProviderId = "icon";
    static constexpr int kDefaultSide = 24;  // the grid the icons are drawn on

    IconImageProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}

    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;

    // The SVG text of icon `name`, empty when there is no such icon.
    static QByteArray SvgOf(const QString& name);
    static QImage Render(const QByteArray& svg, const QColor& colour, const QSize& size);

private:
    QMutex mutex_;  // the engine may ask from its image loader thread and the UI thread at once
    QHash<QString, QByteArray> svgs_;
};

}  // namespace velmora
