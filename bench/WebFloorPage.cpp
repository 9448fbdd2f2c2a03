// The floor of the web front end: a bare QtWebEngine page as comparable to the widget's as a page without
// any of the widget can be (bench/web/floor), in a frameless translucent 320 x 612 window like the widget's,
// reached over a plain web channel. web_widget_bench runs it beside velmora and measures both the same way.
//
// Commands on standard input, one a line:
//   play, pause   start or stop the page's update of the elapsed time and the bar once a second
//   pushes N      N pushed states, one every 50 ms: each stamped as C++ emits it, and answered by the page
//                 with the time its DOM held it; prints "PUSHES" and the N latencies in milliseconds
//   quit
// Prints "READY" once the page listens.
//
//   web_floor_page [--play]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlWebChannel>
#include <QSocketNotifier>
#include <QSurfaceFormat>
#include <QTimer>
#include <QtWebEngineQuick/QtWebEngineQuick>

namespace {

double NowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A playback state of the size the widget's bridge posts, with the position that names it.
QString PlaybackStateText(int position) {
    return QStringLiteral(
               "{\"type\":\"playbackState\",\"isActive\":true,\"isPaused\":true,\"position\":%1,"
               "\"duration\":184000,\"playbackSpeed\":1,\"track\":{\"uri\":"
               "\"corvana:track:7bQ2wL5pZ9aCxxxxxxxxxx\",\"name\":\"Neon Boss Fight %1\",\"artist\":"
               "\"The Respawners\",\"album\":\"Final Level\",\"image\":\"https://127.0.0.1/image/"
               "ffffffffffffffffffffffffffffffffffffffff\",\"isInLibrary\":false,\"canAddToLibrary\":true},"
               "\"restrictions\":{\"disallowPausing\":false,\"disallowResuming\":false,"
               "\"disallowSeeking\":false,\"disallowSkippingPrev\":false,\"disallowSkippingNext\":false,"
               "\"disallowTogglingShuffle\":false,\"disallowTogglingRepeatContext\":false,"
               "\"disallowTogglingRepeatTrack\":false},\"options\":{\"shuffling\":false,"
               "\"repeating\":false,\"repeatingTrack\":false},\"volume\":0.5,"
               "\"isEpisodeContent\":false}")
        .arg(position);
}

}  // namespace

class FloorChannel : public QObject {
    Q_OBJECT

public:
    explicit FloorChannel(bool playOnReady) : playOnReady_(playOnReady) {}

    void StartPushes(int count) {
        pushesLeft_ = count;
        latencies_.clear();
        QTimer::singleShot(50, this, &FloorChannel::PushNext);
    }

public slots:
    void postMessage(const QString& text) {
        if (text == QLatin1String("ready")) {
            if (playOnReady_) emit message(QStringLiteral("play"));
            std::printf("READY\n");
            std::fflush(stdout);
        } else if (text.startsWith(QLatin1String("shown ")) && emittedAt_ > 0) {
            latencies_.push_back(text.mid(6).toDouble() - emittedAt_);
            emittedAt_ = 0;
            if (--pushesLeft_ > 0) {
                QTimer::singleShot(50, this, &FloorChannel::PushNext);
                return;
            }
            std::string line = "PUSHES";
            for (double latency : latencies_) line += " " + std::to_string(latency);
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        }
    }

signals:
    void message(const QString& text);

private:
    void PushNext() {
        const QString text = PlaybackStateText(3000 + static_cast<int>(latencies_.size()));
        emittedAt_ = NowMs();
        emit message(text);
    }

    const bool playOnReady_;
    int pushesLeft_ = 0;
    double emittedAt_ = 0;
    std::vector<double> latencies_;
};

int main(int argc, char** argv) {
    const bool play = argc > 1 && std::string(argv[1]) == "--play";
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setAlphaBufferSize(8);
    QSurfaceFormat::setDefaultFormat(format);
    QtWebEngineQuick::initialize();
    QGuiApplication application(argc, argv);

    FloorChannel floor(play);
    QQmlWebChannel channel;
    channel.registerObject(QStringLiteral("floor"), &floor);
    QQmlApplicationEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("floorChannel"), &channel);
    engine.load(QUrl(QStringLiteral("qrc:/floor/floor.qml")));
    if (engine.rootObjects().isEmpty()) return 1;

    std::string input;
    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t read = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (read <= 0) {
            application.quit();
            return;
        }
        input.append(buffer, static_cast<size_t>(read));
        for (size_t end; (end = input.find('\n')) != std::string::npos; input.erase(0, end + 1)) {
            const std::string line = input.substr(0, end);
            if (line == "play" || line == "pause") emit floor.message(QString::fromStdString(line));
            if (line.starts_with("pushes ")) floor.StartPushes(std::max(1, std::stoi(line.substr(7))));
            if (line == "quit") application.quit();
        }
    });
    return application.exec();
}

#include "WebFloorPage.moc"
