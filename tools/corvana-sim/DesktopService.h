#pragma once

#include <sdbus-c++/sdbus-c++.h>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/corvana-sim/Accounts.h"
#include "tools/corvana-sim/Messages.h"
#include "tools/corvana-sim/Player.h"
#include "tools/corvana-sim/WebServer.h"

namespace corvanasim {

// The desktop app on the session bus: it owns the service name, opens channels to widgets, answers their
// messages from the player and the accounts, and pushes state changes to subscribed widgets. Everything
// runs on the thread that calls Run(): the bus, the player's clock and the control commands read from
// standard input.
class DesktopService {
public:
    struct Options {
        std::string busName = "corvana.partnerApi";
        std::string clientId;
        std::string user;
        std::string webOrigin;  // for cover image URLs
        bool loggedIn = true;   // the desktop user at start
        // How channels open: answered after openDelayMs, refused (failOpen), or never answered while the
        // app gives up its name (releaseNameOnOpen, a desktop app quitting while a widget opens a channel);
        // connectedPush tells each new channel that the app is connected.
        int openDelayMs = 0;
        bool failOpen = false;
        bool releaseNameOnOpen = false;
        bool connectedPush = true;
        // Answers the "test." methods (TestMethods.cpp) that let a test steer the app through the channel.
        bool testMethods = false;
    };

    DesktopService(Options options, Player& player, Accounts& accounts, WebServer& web);
    ~DesktopService();

    // Owns the name, calls ready(), then serves until "quit" or the end of standard input.
    int Run(const std::function<void()>& ready);

private:
    struct Client {
        uint64_t serial = 0;  // tells apart the channels one widget opens over time
        std::string uniqueName;
        std::string path;
        std::unique_ptr<sdbus::IProxy> proxy;
        bool login = false, playback = false, device = false;
        size_t pushesInFlight = 0;  // their callbacks go with the proxy
    };
    struct Injection {
        int count = 0;
        std::string kind;  // "error", "dbus" or "delay"
        int delayMs = 0;
    };

    void Export();
    void RequestName();
    void OnOpen(sdbus::Result<>&& result, const sdbus::ObjectPath& clientPath);
    void AcceptChannel(sdbus::Result<>& result, const std::string& sender,
                       const sdbus::ObjectPath& clientPath);
    void OnSendMessage(sdbus::Result<DBusMap>&& result, DBusMap message);
    DBusMap Handle(const std::string& method, DBusMap& params, Client* client,
                   std::function<void()>& afterReply);
    void Command(const std::string& line);
    static std::optional<std::string> BurstCountError(int count);

    // TestMethods.cpp
    void HandleTestMethod(sdbus::Result<DBusMap>&& result, const std::string& method, const DBusMap& params);
    void TestPushFollowingReply(const std::string& method, const DBusMap& params);
    void PushToEveryChannel(DBusMap message, std::function<void()> replied = {});
    void PushPaced();

    void Push(Client& client, const std::string& method, DBusMap params);
    void SendPush(uint64_t serial, const std::string& method, DBusMap params);
    void OnPushReplied(uint64_t serial, const sdbus::Error* error);
    void SendQueuedPushesLater();
    void ForgetClients(const std::function<bool(const Client&)>& which);
    void PushLogin();
    void PushPlayback();
    void PushActiveDevice();
    DBusMap PlaybackState() const;
    DBusMap Cluster() const;
    DBusMap ActiveDevice() const;
    std::string Counters() const;
    void After(int ms, std::function<void()> action);
    void RunDue();
    int NextTimeoutMs() const;

    Options options_;
    Player& player_;
    Accounts& accounts_;
    WebServer& web_;
    bool loggedIn_;
    bool quit_ = false;
    int exitCode_ = 0;
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IObject> object_;
    sdbus::Slot ownerWatch_;
    std::vector<Client> clients_;
    uint64_t nextClientSerial_ = 1;
    std::map<std::string, int> requests_;
    std::map<std::string, Injection> injections_;
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::function<void()>>> delayed_;
    std::string input_;
    // Pushes awaiting their replies, and those waiting for a turn, in the order they were made.
    struct QueuedPush {
        uint64_t serial;
        std::string method;
        DBusMap params;
    };
    size_t pushesInFlight_ = 0;
    std::deque<QueuedPush> queuedPushes_;
    std::map<std::string, int> pushOutcomes_;  // "answered", "refused", "refused_by_bus", "dropped"

    // For the test methods: what the widgets asked for, in order, and the calls held unanswered.
    std::vector<std::pair<std::string, DBusMap>> received_;
    std::vector<std::shared_ptr<sdbus::Result<DBusMap>>> hanging_;
    std::vector<std::shared_ptr<sdbus::Result<>>> unansweredOpens_;
    int32_t pacedLeft_ = 0, pacedInFlight_ = 0, pacedLimit_ = 0, pacedSent_ = 0;
};

}  // namespace corvanasim
