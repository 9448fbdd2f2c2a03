#include "tests/Velmora/Native/PageFixture.h"

#include <httplib.h>

#include <QtQuickTest/quicktest.h>
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlProperty>
#include <QTest>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "Velmora/Native/Framework/ResourceHelper.h"
#include "VelmoraUtils/TokenManager.h"

namespace testsupport {

using platform::Value;
using platform::ValueSet;

namespace {

constexpr int kLoaderReady = 1;  // Loader.Ready: the status of a loader whose item is complete

// A cover of its own for every name: two colours from the name's hash, a disc and a band.
std::string CoverPng(const std::string& name) {
    size_t hash = std::hash<std::string>{}(name);
    QColor first = QColor::fromHsv(static_cast<int>(hash % 360), 150, 210);
    QColor second = QColor::fromHsv(static_cast<int>((hash / 360) % 360), 200, 120);
    QImage image(160, 160, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 160, 160);
    gradient.setColorAt(0, first);
    gradient.setColorAt(1, second);
    painter.fillRect(image.rect(), gradient);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 60));
    painter.drawEllipse(QPointF(40 + static_cast<double>(hash % 80), 60), 38, 38);
    painter.setBrush(QColor(0, 0, 0, 50));
    painter.drawRect(0, 110 + static_cast<int>(hash % 30), 160, 18);
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png.toStdString();
}

constexpr const char* kHostMarkup = R"(
import QtQuick
// What the host draws behind a page, over a picture standing for the game.
Item {
    property bool pinnedOnly: false
    property real requestedOpacity: 1
    Rectangle {
        anchors.fill: parent
        gradient: Gradient {
            GradientStop { position: 0; color: "#35506e" }
            GradientStop { position: 0.55; color: "#8a6a55" }
            GradientStop { position: 1; color: "#2f3b2a" }
        }
    }
    Rectangle { x: parent.width * 0.55; y: parent.height * 0.1; width: 120; height: 120; radius: 60; color: "#f0d27a" }
    Rectangle { x: -40; y: parent.height * 0.6; width: parent.width * 0.8; height: 260; rotation: -12; color: "#3e5634" }
    Rectangle {
        anchors.fill: parent
        radius: 8
        color: "#121212"
        opacity: 0.92 * (pinnedOnly ? requestedOpacity : 1)
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.08)
    }
    Item { objectName: "slot"; anchors.fill: parent }
}
)";

}  // namespace

CoverServer& CoverServer::Instance() {
    static CoverServer server;
    return server;
}

CoverServer::CoverServer() {
    server_.Get(R"(/cover/([a-z0-9-]+)\.png)",
                [this](const httplib::Request& request, httplib::Response& response) {
                    ++requests_;
                    // Drawn once per name, while the application exists: a cover still asked for as the
                    // process ends (the page's transfers run on to their end) must not paint then.
                    const std::string name = request.matches[1];
                    std::lock_guard lock(mutex_);
                    auto drawn = drawn_.find(name);
                    if (drawn == drawn_.end()) {
                        if (!QCoreApplication::instance()) {
                            response.status = 503;
                            return;
                        }
                        drawn = drawn_.emplace(name, CoverPng(name)).first;
                    }
                    response.set_content(drawn->second, "image/png");
                });
    server_.Start();
    // The extra CA vouches only for the development origins: the covers' server stands for the web API.
    setenv("VELMORA_CA_FILE", server_.CaFile().c_str(), 1);
    setenv("VELMORA_WEBAPI_URL", server_.Origin().c_str(), 1);
}

platform::Task<bool> WindowWidget::TryResizeWindowAsync(double width, double height) {
    window_.resize(static_cast<int>(width), static_cast<int>(height));
    return FakeGameBarWidget::TryResizeWindowAsync(width, height);
}

utils::TokenManagerServices FakeAccount::Services() {
    // A refresh the page's teardown cut short still stores its tokens, on the pool, after the test may
    // have ended: the account stays as long as the token manager's services do.
    auto self = shared_from_this();
    utils::TokenManagerServices services;
    services.sendTokenRequest = [this, self](platform::HttpRequestMessage) {
        platform::TaskCompletionSource<platform::HttpResponseMessage> answered;
        {
            std::lock_guard lock(mutex);
            ++tokenRequests;
            if (hold) {
                held.push_back(answered);
                return answered.GetTask();
            }
        }
        nlohmann::json body{
            {"access_token", "access-1"}, {"refresh_token", "refresh-2"}, {"expires_in", 3600}};
        answered.TrySetResult({200, {}, body.dump()});
        return answered.GetTask();
    };
    services.readCredential = [this, self](const std::string& user) -> utils::StoredCredential {
        std::lock_guard lock(mutex);
        auto found = vault.find(user);
        if (found == vault.end()) return {utils::StoredCredential::State::Missing, {}};
        return {utils::StoredCredential::State::Found, found->second};
    };
    services.saveCredentials = [this, self](const std::map<std::string, std::string>& entries) {
        std::lock_guard lock(mutex);
        for (const auto& [user, secret] : entries) vault[user] = secret;
        return true;
    };
    return services;
}

int FakeAccount::TokenRequests() {
    std::lock_guard lock(mutex);
    return tokenRequests;
}

void FakeAccount::Release() {
    std::vector<platform::TaskCompletionSource<platform::HttpResponseMessage>> waiting;
    {
        std::lock_guard lock(mutex);
        hold = false;
        waiting.swap(held);
    }
    nlohmann::json body{{"access_token", "access-1"}, {"refresh_token", "refresh-2"}, {"expires_in", 3600}};
    for (auto& answer : waiting) answer.TrySetResult({200, {}, body.dump()});
}

std::vector<utils::corvana_client::HomeSection> SampleFeed() {
    auto& covers = CoverServer::Instance();
    auto item = [&](std::string name, std::string type, std::string id, std::string owner) {
        auto feedItem =
            FeedItem(std::move(name), std::move(type), "corvana:" + type + ":" + id, {covers.Url(id)});
        if (!owner.empty()) feedItem.ownerDisplayName = owner;
        return feedItem;
    };
    return {
        {"Game on",
         {item("Battle Mix", "playlist", "battle-mix", "Corvana"),
          item("Boss Fight Anthems", "playlist", "boss-fight", "Corvana"),
          item("Final Stage", "album", "final-stage", "Pixel Orchestra"),
          item("Lo-fi Grind", "playlist", "lofi-grind", "Corvana")}},
        {"Your favourite artists",
         {item("Pixel Orchestra", "artist", "pixel-orchestra", ""),
          item("The Checkpoints", "artist", "checkpoints", ""),
          item("Critical Hit", "artist", "critical-hit", "")}},
        {"Podcasts for the queue",
         {item("Game Talk Weekly", "show", "game-talk", "Game Talk Media"),
          item("Speedrunning the Classics", "episode", "speedrunning", "Game Talk Weekly")}},
    };
}

PageFixture::PageFixture() {
    framework::ResourceHelper::UseTable({});
    feed = SampleFeed();
    services.retryPeriod = std::chrono::milliseconds(50);
    services.makeConnection = [script = script] { return std::make_unique<FakeDesktopConnection>(script); };
    services.tokenManagerServices = [account = account] { return account->Services(); };
    services.viewModelServices = [this] {
        velmora::CorvanaWidgetViewModel::Services viewModel;
        viewModel.fetchHomeFeed = [this](std::string) {
            ++feedLoads;
            platform::TaskCompletionSource<utils::corvana_client::HomeFeedResult> fetched;
            fetched.TrySetResult({feed, std::nullopt, 200});
            return fetched.GetTask();
        };
        viewModel.settings = &settings;
        return viewModel;
    };

    window = std::make_unique<QQuickWindow>();
    window->resize(320, 194);
    QQmlComponent hostComponent(&engine);
    hostComponent.setData(kHostMarkup, QUrl(QStringLiteral("qrc:/tests/Host.qml")));
    host = qobject_cast<QQuickItem*>(hostComponent.create());
    if (!host) {
        ADD_FAILURE() << hostComponent.errorString().toStdString();
        return;
    }
    host->setParentItem(window->contentItem());
    QQmlProperty::write(host, QStringLiteral("anchors.fill"), QVariant::fromValue(window->contentItem()));
    // As the shell's windows do: asynchronous parts of the markup are built between frames.
    engine.setIncubationController(window->incubationController());
    widget = std::make_shared<WindowWidget>(*window);
    window->show();
}

PageFixture::~PageFixture() {
    if (page) page->Shutdown();
    page.reset();
    Pump();
    delete host;
    window.reset();
}

void PageFixture::CreatePage() {
    CreatePage(std::any(std::shared_ptr<platform::IGameBarWidget>(widget)));
}

void PageFixture::CreatePage(const std::any& parameter) {
    page = velmora::CorvanaWidgetNative::Create(engine, ui, services);
    auto* slot = host->findChild<QQuickItem*>(QStringLiteral("slot"));
    page->Item()->setParentItem(slot);
    QQmlProperty::write(page->Item(), QStringLiteral("anchors.fill"), QVariant::fromValue(slot));
    page->OnNavigatedTo(parameter);
    // The two views are built in the background from the start. Their items join the scene as soon as
    // they are made, before their bindings have run: only a loader that is ready has a finished view.
    ASSERT_TRUE(PumpUntil([&] {
        for (const char* view : {"SignedOutView", "SignedInView"}) {
            auto loaders = FindAll(QString::fromLatin1(view));
            if (loaders.isEmpty() || loaders.front()->property("status").toInt() != kLoaderReady)
                return false;
        }
        return true;
    }));
}

void PageFixture::Pump() {
    for (int round = 0; round < 1000; ++round) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        // Positioners and layouts place their items when the window polishes them, before a frame.
        if (QQuickTest::qIsPolishScheduled(window.get())) QQuickTest::qWaitForPolish(window.get());
        if (ui->RunPending() == 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            if (ui->PendingCount() == 0 && !QQuickTest::qIsPolishScheduled(window.get())) return;
        }
    }
}

bool PageFixture::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        ui->RunPending();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    Pump();
    return true;
}

void PageFixture::ReportLogin() {
    {
        std::lock_guard lock(account->mutex);
        account->vault[utils::TokenManager::UserKeyFor("ada") + "CorvanaRefreshToken"] = "refresh-1";
    }
    script->Answer("me", {false, ValueSet{{"username", Value("ada")}}});
    script->Push("login_state_subscription", ValueSet{{"logged_in", Value(true)}});
}

void PageFixture::SignIn() {
    ReportLogin();
    ASSERT_TRUE(
        PumpUntil([&] { return Vm().IsSignedIn() && Vm().Categories() && Vm().Categories()->Count() > 0; }));
}

void PageFixture::Push(const PlaybackMessage& message) {
    script->Push("playback_state_subscription", message.ToValueSet());
    Pump();
}

void PageFixture::PushDevices(const std::vector<Device>& devices) {
    script->Answer("connect_cluster", {false, Cluster(devices)});
    page->Controller()->RequestDevices();
    PumpUntil([&] { return Vm().PlaybackDevices()->Count() == static_cast<int>(devices.size()); });
}

void PageFixture::ForEachItem(const std::function<void(QQuickItem*)>& visit, QQuickItem* under) {
    // Delegates and popups are items of the scene but no QObject children of the page: walk the scene.
    std::function<void(QQuickItem*)> walk = [&](QQuickItem* item) {
        visit(item);
        for (auto* child : item->childItems()) walk(child);
    };
    walk(under ? under : window->contentItem());
}

QList<QQuickItem*> PageFixture::FindAll(const QString& objectName, QQuickItem* under) {
    QList<QQuickItem*> found;
    ForEachItem(
        [&](QQuickItem* item) {
            if (item->objectName() == objectName) found.append(item);
        },
        under);
    return found;
}

QQuickItem* PageFixture::Find(const QString& objectName) {
    auto found = FindAll(objectName);
    if (found.isEmpty()) {
        ADD_FAILURE() << "no item named " << objectName.toStdString();
        return nullptr;
    }
    return found.front();
}

bool PageFixture::Showing(const QString& objectName) {
    auto found = FindAll(objectName);
    return std::any_of(found.begin(), found.end(), [](QQuickItem* item) { return Shows(item); });
}

bool PageFixture::Shows(QQuickItem* item) {
    if (!item || !item->window()) return false;
    for (; item; item = item->parentItem()) {
        if (!item->isVisible() || item->opacity() == 0) return false;
    }
    return true;
}

void PageFixture::Click(QQuickItem* item) {
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(Shows(item)) << item->objectName().toStdString() << " does not show";
    QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(window.get(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    Pump();
}

void PageFixture::Key(int key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(window.get(), static_cast<Qt::Key>(key), modifiers);
    Pump();
}

testing::AssertionResult PageFixture::TabTo(const QString& objectName, Qt::KeyboardModifiers modifiers) {
    auto focusedName = [&] {
        QQuickItem* focused = window->activeFocusItem();
        return focused ? focused->objectName() : QString("(nothing)");
    };
    QStringList visited;
    for (int presses = 0; presses < kMaxTabs; ++presses) {
        if (window->activeFocusItem() && window->activeFocusItem()->objectName() == objectName)
            return testing::AssertionSuccess();
        Key(Qt::Key_Tab, modifiers);
        visited << focusedName();
    }
    if (window->activeFocusItem() && window->activeFocusItem()->objectName() == objectName)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "the focus never reached " << objectName.toStdString() << " in " << kMaxTabs
           << " presses of Tab; it went through " << visited.join(", ").toStdString();
}

QImage PageFixture::Grab() {
    Pump();
    // Covers load on the image loader's thread and then fade in: wait until every one has settled.
    bool settled = PumpUntil([&] {
        bool settled = true;
        ForEachItem([&](QQuickItem* item) {
            if (item->inherits("QQuickImage") && item->property("status").toInt() == 2 /* Loading */)
                settled = false;
            if (item->property("fading").toBool()) settled = false;
        });
        return settled;
    });
    EXPECT_TRUE(settled) << "covers still loading or fading";
    return window->grabWindow();
}

std::string PageFixture::SaveScreenshot(const std::string& name) {
    QString folder = QStringLiteral(VELMORA_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    QString path = folder + QLatin1Char('/') + QString::fromStdString(name) + QStringLiteral(".png");
    QImage image = Grab();
    EXPECT_FALSE(image.isNull());
    EXPECT_TRUE(image.save(path));
    return path.toStdString();
}

}  // namespace testsupport
