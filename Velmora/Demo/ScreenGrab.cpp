// velmora-screen-grab OUT.png: saves what the X display shows, cropped to the windows on it (what is not
// the black of an empty root window), for scripts/demo on a virtual display.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

namespace {

// The smallest rectangle holding every pixel brighter than the empty root, with a small margin.
QRect ContentOf(const QImage& image) {
    constexpr int kThreshold = 6;
    QRect content;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qRed(line[x]) > kThreshold || qGreen(line[x]) > kThreshold || qBlue(line[x]) > kThreshold)
                content |= QRect(x, y, 1, 1);
        }
    }
    return content.isNull() ? image.rect() : content.adjusted(-8, -8, 8, 8).intersected(image.rect());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: velmora-screen-grab OUT.png\n");
        return 2;
    }
    QGuiApplication application(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "velmora-screen-grab: no screen\n");
        return 1;
    }
    QImage shot = screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
    if (!shot.copy(ContentOf(shot)).save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "velmora-screen-grab: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
