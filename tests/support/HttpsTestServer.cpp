#include "tests/support/HttpsTestServer.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

#include "tools/common/LocalCertificateAuthority.h"

namespace testsupport {

namespace {

X509* ReadCertificate(const std::string& pem) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return certificate;
}

EVP_PKEY* ReadKey(const std::string& pem) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return key;
}

}  // namespace

HttpsTestServer::HttpsTestServer() {
    auto certificates = simtls::IssueLocalCertificates();
    caFile_ = dir_ / "ca.pem";
    WriteFile(caFile_, certificates.caCertificatePem);
    X509* certificate = ReadCertificate(certificates.serverCertificatePem);
    EVP_PKEY* key = ReadKey(certificates.serverKeyPem);
    server_ = std::make_unique<httplib::SSLServer>(certificate, key);
    X509_free(certificate);
    EVP_PKEY_free(key);
    if (!server_->is_valid()) throw std::runtime_error("the HTTPS test server is not valid");
    server_->set_tcp_nodelay(true);
    // Like a web service, a kept connection serves many requests (the library closes it after 5). An idle
    // one is closed after a second rather than five: stopping the server waits for its kept connections.
    server_->set_keep_alive_max_count(1000);
    server_->set_keep_alive_timeout(1);
}

HttpsTestServer::~HttpsTestServer() {
    Stop();
}

void HttpsTestServer::Stop() {
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

void HttpsTestServer::Get(const std::string& pattern, Handler handler) {
    server_->Get(pattern, std::move(handler));
}

void HttpsTestServer::Post(const std::string& pattern, Handler handler) {
    server_->Post(pattern, std::move(handler));
}

void HttpsTestServer::Start() {
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot bind the HTTPS test server");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // Connections made before listen() starts are queued by the kernel, so the server is usable now;
    // waiting for is_running() keeps stop() from racing the start.
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

SilentTcpServer::SilentTcpServer(Behaviour behaviour) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0) {
        throw std::runtime_error("cannot listen");
    }
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, behaviour] {
        std::vector<int> held;
        while (!stopping_) {
            pollfd fd{listener_, POLLIN, 0};
            if (::poll(&fd, 1, 50) <= 0) continue;
            int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0) continue;
            if (behaviour == Behaviour::CloseAtOnce) {
                ::close(connection);
            } else {
                held.push_back(connection);
            }
        }
        for (int connection : held) ::close(connection);
    });
}

SilentTcpServer::~SilentTcpServer() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

}  // namespace testsupport
