#include "tools/corvana-sim/WebServer.h"

#include <httplib.h>
#include <openssl/pem.h>

#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>

#include "tools/corvana-sim/Catalog.h"
#include "tools/corvana-sim/CoverArt.h"

namespace corvanasim {

using nlohmann::json;

namespace {

int QueryInt(const httplib::Request& request, const char* name, int fallback, int limit) {
    if (!request.has_param(name)) return fallback;
    try {
        return std::clamp(std::stoi(request.get_param_value(name)), 0, limit);
    } catch (...) {
        return fallback;
    }
}

json Images(const std::string& origin, const std::string& imageId) {
    return json::array({{{"url", origin + "/images/" + imageId + ".png"}, {"width", 64}, {"height", 64}}});
}

// One feed entry shaped as the web API shapes that kind.
json FeedItem(const FeedEntry& entry, const std::string& origin) {
    json item{{"type", entry.type},
              {"name", entry.name},
              {"uri", entry.uri},
              {"id", entry.uri.substr(entry.uri.rfind(':') + 1)}};
    if (entry.type == "track") {
        item["album"] = {{"name", entry.name}, {"images", Images(origin, entry.imageId)}};
        item["artists"] = json::array({{{"name", entry.subtitle}}});
    } else if (entry.type == "album") {
        item["images"] = Images(origin, entry.imageId);
        item["artists"] = json::array({{{"name", entry.subtitle}}});
    } else if (entry.type == "playlist") {
        item["images"] = Images(origin, entry.imageId);
        item["owner"] = {{"display_name", entry.subtitle}};
        item["description"] = "Picked for your " + entry.name + " sessions";
    } else if (entry.type == "episode") {
        item["images"] = Images(origin, entry.imageId);
        item["show"] = {{"name", entry.subtitle}};
        item["description"] = "An episode of " + entry.subtitle;
    } else if (entry.type == "show") {
        item["images"] = Images(origin, entry.imageId);
        item["description"] = "A show by " + entry.subtitle;
    } else {
        item["images"] = Images(origin, entry.imageId);
    }
    return item;
}

}  // namespace

WebServer::WebServer(Accounts& accounts, const std::string& certificatePem, const std::string& keyPem)
    : accounts_(accounts) {
    BIO* certBio = BIO_new_mem_buf(certificatePem.data(), static_cast<int>(certificatePem.size()));
    BIO* keyBio = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
    X509* certificate = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    server_ = std::make_unique<httplib::SSLServer>(certificate, key);
    X509_free(certificate);
    EVP_PKEY_free(key);
    BIO_free(certBio);
    BIO_free(keyBio);
    if (!server_->is_valid()) throw std::runtime_error("the HTTPS server could not be set up");
    server_->set_tcp_nodelay(true);
    // Like a web service, a kept connection serves many requests (the library closes it after 5). An idle
    // one is closed after a second rather than five: stopping the server waits for its kept connections.
    server_->set_keep_alive_max_count(1000);
    server_->set_keep_alive_timeout(1);
    Routes();
}

WebServer::~WebServer() {
    ReleaseTokenAnswers();
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

void WebServer::HoldTokenAnswers() {
    std::lock_guard lock(holdMutex_);
    holdTokenAnswers_ = true;
}

void WebServer::ReleaseTokenAnswers() {
    std::lock_guard lock(holdMutex_);
    holdTokenAnswers_ = false;
    holdChanged_.notify_all();
}

int WebServer::Start(int port) {
    port_ = port == 0 ? server_->bind_to_any_port("127.0.0.1")
                      : (server_->bind_to_port("127.0.0.1", port) ? port : -1);
    if (port_ <= 0) throw std::runtime_error("cannot listen on 127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return port_;
}

void WebServer::Routes() {
    server_->Post("/api/token", [this](const httplib::Request& request, httplib::Response& response) {
        if (request.get_header_value("Content-Type") != "application/x-www-form-urlencoded") {
            response.status = 400;
            response.set_content(R"({"error":"invalid_request","error_description":"form body expected"})",
                                 "application/json");
            return;
        }
        httplib::Params params;
        httplib::detail::parse_query_text(request.body, params);
        std::map<std::string, std::string> form(params.begin(), params.end());
        auto answer = accounts_.Token(form);
        {
            std::unique_lock lock(holdMutex_);
            holdChanged_.wait(lock, [this] { return !holdTokenAnswers_; });
        }
        response.status = answer.status;
        response.set_content(answer.body, "application/json");
    });

    server_->Get(
        "/v1/views/partner-home", [this](const httplib::Request& request, httplib::Response& response) {
            ++feedRequests_;
            const std::string authorization = request.get_header_value("Authorization");
            std::optional<std::string> user;
            if (authorization.rfind("Bearer ", 0) == 0)
                user = accounts_.UserOfAccessToken(authorization.substr(7));
            if (!user) {
                response.status = 401;
                response.set_content(R"({"error":{"status":401,"message":"Invalid access token"}})",
                                     "application/json");
                return;
            }
            const int rows = QueryInt(request, "limit", 4, 20);
            const int perRow = QueryInt(request, "content_limit", 6, 50);
            std::set<std::string> types;
            std::stringstream wanted(request.has_param("types")
                                         ? request.get_param_value("types")
                                         : "track,album,playlist,artist,show,episode,station");
            for (std::string type; std::getline(wanted, type, ',');) types.insert(type);

            const std::string origin = "https://127.0.0.1:" + std::to_string(port_);
            json items = json::array();
            for (const auto& row : HomeFeedRows()) {
                if (static_cast<int>(items.size()) >= rows) break;
                json content = json::array();
                for (const auto& entry : row.items) {
                    if (static_cast<int>(content.size()) >= perRow) break;
                    if (types.count(entry.type)) content.push_back(FeedItem(entry, origin));
                }
                items.push_back({{"type", "view"}, {"name", row.name}, {"content", {{"items", content}}}});
            }
            json feed{{"type", "view"}, {"name", "Partner home"}, {"content", {{"items", items}}}};
            response.set_content(feed.dump(), "application/json");
        });

    server_->Get(R"(/images/([A-Za-z0-9_-]+)\.png)",
                 [](const httplib::Request& request, httplib::Response& response) {
                     response.set_content(CoverPng(request.matches[1]), "image/png");
                 });
}

}  // namespace corvanasim
