#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Foundation/Task.h"

namespace platform {

enum class HttpMethod { Get, Post };

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequestMessage {
    static constexpr size_t kDefaultMaxResponseBytes = 4 * 1024 * 1024;

    HttpMethod method = HttpMethod::Get;
    std::string url;
    HttpHeaders headers;
    // A UTF-8 body; sent with its content type only when present.
    std::optional<std::string> content;
    std::string contentType;
    // A larger response body fails the request, so that a body that never ends cannot fill the memory.
    size_t maxResponseBytes = kDefaultMaxResponseBytes;
};

struct HttpResponseMessage {
    int32_t statusCode = 0;
    HttpHeaders headers;
    std::string content;
    bool IsSuccessStatusCode() const { return statusCode >= 200 && statusCode <= 299; }
};

// HTTPS requests on libcurl, all run by one thread of their own; the task completes on a pool thread.
// TLS is always verified: against the system's certificates, plus an extra CA for the origins it is
// configured for. An error status is a response; no response at all (refused, reset, time-out, bad
// certificate, a body over the request's limit) fails the task with a PlatformError.
class HttpClient {
public:
    struct Options {
        std::chrono::milliseconds connectTimeout{std::chrono::seconds(10)};
        // Bounds the whole exchange, so a server that never answers cannot hold a caller for ever.
        std::chrono::milliseconds totalTimeout{std::chrono::seconds(30)};
        std::optional<std::string> extraCaFile;
        // The origins ("https://host:port") whose certificates the extra CA may vouch for; every other host
        // is checked against the system's certificates alone.
        std::vector<std::string> extraCaOrigins;
    };

    HttpClient();  // with DefaultOptions()
    explicit HttpClient(Options options);

    // The request carries a copy of the client's options, so the client may go before the request ends.
    Task<HttpResponseMessage> SendRequestAsync(HttpRequestMessage request) const;

    // The options a default-constructed client takes: the platform's time-outs, and VELMORA_CA_FILE as
    // the extra CA for the origins VELMORA_ACCOUNTS_URL and VELMORA_WEBAPI_URL name (the development
    // overrides), never for any other host. Tests shorten the time-outs here.
    static Options DefaultOptions();
    static void SetDefaultTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds total);

private:
    Options options_;
};

}  // namespace platform
