#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/corvana-sim/Accounts.h"

namespace httplib {
class SSLServer;
}

namespace corvanasim {

// The accounts service and the web API over HTTPS on 127.0.0.1: "/api/token", the partner-home view
// and the cover images it points at.
class WebServer {
public:
    WebServer(Accounts& accounts, const std::string& certificatePem, const std::string& keyPem);
    ~WebServer();

    // Listens on the port (0: any free one) and returns the port.
    int Start(int port);
    int FeedRequests() const { return feedRequests_; }
    // While held, each token request is decided (and its tokens issued or rotated) when it arrives, but
    // its answer waits for the release: a client that goes meanwhile never learns its new tokens.
    void HoldTokenAnswers();
    void ReleaseTokenAnswers();

private:
    void Routes();

    Accounts& accounts_;
    std::unique_ptr<httplib::SSLServer> server_;
    int port_ = 0;
    std::atomic<int> feedRequests_{0};
    std::mutex holdMutex_;
    std::condition_variable holdChanged_;
    bool holdTokenAnswers_ = false;
    std::thread thread_;
};

}  // namespace corvanasim
