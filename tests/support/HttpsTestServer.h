#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/TempDir.h"

namespace httplib {
class SSLServer;
struct Request;
struct Response;
}  // namespace httplib

namespace testsupport {

// An HTTPS server on 127.0.0.1 with a certificate from a CA made for it. Clients trust it through
// CaFile() (what VELMORA_CA_FILE names).
class HttpsTestServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    HttpsTestServer();
    ~HttpsTestServer();

    void Get(const std::string& pattern, Handler handler);
    void Post(const std::string& pattern, Handler handler);
    void Start();
    // Ends the server and its handlers; the destructor does it too. A server that lives until static
    // destruction must stop before: the library parses requests with statics of its own, made at the first
    // request and so destroyed before such a server.
    void Stop();

    std::string Origin() const { return "https://127.0.0.1:" + std::to_string(port_); }
    const std::string& CaFile() const { return caFile_; }

private:
    TempDir dir_;
    std::string caFile_;
    std::unique_ptr<httplib::SSLServer> server_;
    int port_ = 0;
    std::thread thread_;
};

// A TCP listener on 127.0.0.1 that either closes each connection at once or holds it without a word:
// the two ways a server can fail a client without answering.
class SilentTcpServer {
public:
    enum class Behaviour { CloseAtOnce, NeverAnswer };
    explicit SilentTcpServer(Behaviour behaviour);
    ~SilentTcpServer();
    std::string Origin() const { return "https://127.0.0.1:" + std::to_string(port_); }

private:
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace testsupport
