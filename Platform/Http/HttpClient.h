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
    HttpMethod method = HttpMethod::Get;
    std::string url;
    HttpHeaders headers;
    // A UTF-8 body; sent with its content type only when present.
    std::optional<std::string> content;
    std::string contentType;
};

struct HttpResponseMessage {
    int32_t statusCode = 0;
    HttpHeaders headers;
    std::string content;
    bool IsSuccessStatusCode() const { return statusCode >= 200 && statusCode <= 299; }
};

// HTTPS requests on libcurl, run on pool threads. TLS is always verified: against the system's
// certificates, plus an extra CA when one is configured. An error status is a response; no response at
// all (refused, reset, time-out, bad certificate) fails the task with a PlatformError.
class HttpClient {
public:
    struct Options {
        std::chrono::milliseconds connectTimeout{std::chrono::seconds(10)};
        // Bounds the whole exchange, so a server that never answers cannot hold a caller for ever.
        std::chrono::milliseconds totalTimeout{std::chrono::seconds(30)};
        std::optional<std::string> extraCaFile;
    };

    HttpClient();  // with DefaultOptions()
    explicit HttpClient(Options options);

    // The request carries a copy of the client's options, so the client may go before the request ends.
    Task<HttpResponseMessage> SendRequestAsync(HttpRequestMessage request) const;

    // The options a default-constructed client takes: the platform's time-outs, and VELMORA_CA_FILE as
    // the extra CA. Tests shorten the time-outs here.
    static Options DefaultOptions();
    static void SetDefaultTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds total);

private:
    static Task<HttpResponseMessage> Send(Options options, HttpRequestMessage request);
    static HttpResponseMessage Perform(const Options& options, const HttpRequestMessage& request);

    Options options_;
};

}  // namespace platform
