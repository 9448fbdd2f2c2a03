#include "Velmora/Native/IconImageProvider.h"

#include <QFile>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <cstdio>

namespace velmora {

QByteArray IconImageProvider::SvgOf(const QString& name) {
    static const QRegularExpression kName(QStringLiteral("^[a-z0-9]+(-[a-z0-9]+)*$"));
    if (!kName.match(name).hasMatch()) return {};
    QFile file(QStringLiteral(":/Velmora/Assets/") + name + QStringLiteral(".svg"));
    if (!file.open(QIODevice::ReadOnly)) {
        // Said once per name (the result is kept): a build that left an icon out shows a blank button, and
        // the installed program's test fails on this line.
        std::fprintf(stderr, "IconImageProvider: cannot read the icon %s\n", qPrintable(name));
        return {};
    }
    return file.readAll();
}

QImage IconImageProvider::Render(const QByteArray& svg, const QColor& colour, const QSize& size) {
    QByteArray painted(svg);
    painted.replace("currentColor", colour.name(QColor::HexRgb).toLatin1());
    QSvgRenderer renderer(painted);
    if (!renderer.isValid()) return {};
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), size));
    // The alpha goes on the finished picture: applied stroke by stroke, overlaps would show darker.
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.fillRect(image.rect(), QColor(0, 0, 0, colour.alpha()));
    painter.end();
    return image;
}

QImage IconImageProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize) {
    qsizetype slash = id.indexOf(QLatin1Char('/'));
    QString name = id.left(slash);
    QString colourText = slash < 0 ? QString() : id.mid(slash + 1);
    QColor colour = QColor::fromString(QLatin1Char('#') + colourText);
    QSize side = requestedSize.isEmpty() ? QSize(kDefaultSide, kDefaultSide) : requestedSize;
    if (side.width() <= 0) side.setWidth(side.height());
    if (side.height() <= 0) side.setHeight(side.width());
    if (size) *size = side;
    if (!colour.isValid() || colourText.size() != 8) return {};

    QByteArray svg;
    {
        QMutexLocker lock(&mutex_);
        auto found = svgs_.find(name);
        if (found == svgs_.end()) found = svgs_.insert(name, SvgOf(name));
        svg = *found;
    }
    if (svg.isEmpty()) return {};
    return Render(svg, colour, side);
}

}  // namespace velmora
