#include "Platform/Http/HttpClient.h"

#include <curl/curl.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "Platform/Foundation/PlatformError.h"

namespace platform {

namespace {

// The result code a failed transfer carries: the facility of network errors, with curl's code.
constexpr int32_t kNetworkFailureBase = static_cast<int32_t>(0x80072EE0);

std::atomic<int64_t> defaultConnectMs{10000};
std::atomic<int64_t> defaultTotalMs{30000};

void InitialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The system's certificates (some 200 KB), read once per process rather than for every request.
const std::string& SystemCaBundle() {
    static const std::string bundle = [] {
        for (const char* system :
             {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt"}) {
            std::string text = ReadWholeFile(system);
            if (!text.empty()) return text;
        }
        return std::string();
    }();
    return bundle;
}

// The system bundle and the extra CA in one blob: CURLOPT_CAINFO alone would replace the system
// certificates, and real hosts must still verify. The extra CA is read each time, as it may be replaced.
std::string MergedCaBundle(const std::string& extraCaFile) {
    const std::string& bundle = SystemCaBundle();
    std::string extra = ReadWholeFile(extraCaFile);
    if (extra.empty()) throw PlatformError(E_INVALIDARG, "cannot read the CA file " + extraCaFile);
    return bundle + "\n" + extra;
}

size_t AppendBody(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

size_t AppendHeader(char* data, size_t size, size_t count, void* target) {
    std::string line(data, size * count);
    auto colon = line.find(':');
    if (colon != std::string::npos) {
        auto trim = [](std::string text) {
            size_t start = text.find_first_not_of(" \t\r\n");
            size_t end = text.find_last_not_of(" \t\r\n");
            return start == std::string::npos ? std::string() : text.substr(start, end - start + 1);
        };
        static_cast<HttpHeaders*>(target)->emplace_back(trim(line.substr(0, colon)),
                                                        trim(line.substr(colon + 1)));
    } else if (line.rfind("HTTP/", 0) == 0) {
        static_cast<HttpHeaders*>(target)->clear();  // a new response (after a 100 Continue) starts afresh
    }
    return size * count;
}

struct CurlHandle {
    CURL* handle = curl_easy_init();
    curl_slist* headers = nullptr;
    ~CurlHandle() {
        curl_slist_free_all(headers);
        if (handle) curl_easy_cleanup(handle);
    }
};

}  // namespace

HttpClient::HttpClient() : HttpClient(DefaultOptions()) {}

HttpClient::HttpClient(Options options) : options_(std::move(options)) {}

HttpClient::Options HttpClient::DefaultOptions() {
    Options options;
    options.connectTimeout = std::chrono::milliseconds(defaultConnectMs.load());
    options.totalTimeout = std::chrono::milliseconds(defaultTotalMs.load());
    if (const char* ca = std::getenv("VELMORA_CA_FILE"); ca && *ca) options.extraCaFile = ca;
    return options;
}

void HttpClient::SetDefaultTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds total) {
    defaultConnectMs = connect.count();
    defaultTotalMs = total.count();
}

Task<HttpResponseMessage> HttpClient::SendRequestAsync(HttpRequestMessage request) const {
    return Send(options_, std::move(request));
}

Task<HttpResponseMessage> HttpClient::Send(Options options, HttpRequestMessage request) {
    co_await ResumeBackground();
    co_return Perform(options, request);
}

HttpResponseMessage HttpClient::Perform(const Options& options_, const HttpRequestMessage& request) {
    InitialiseCurlOnce();
    if (request.url.rfind("https://", 0) != 0)
        throw PlatformError(E_INVALIDARG, "only https URLs are allowed");

    CurlHandle curl;
    if (!curl.handle) throw PlatformError(E_FAIL, "curl_easy_init failed");
    CURL* h = curl.handle;
    HttpResponseMessage response;

    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.connectTimeout.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(options_.totalTimeout.count()));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &response.content);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, AppendHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &response.headers);

    std::string caBundle;
    if (options_.extraCaFile) {
        caBundle = MergedCaBundle(*options_.extraCaFile);
        curl_blob blob{caBundle.data(), caBundle.size(), CURL_BLOB_NOCOPY};
        curl_easy_setopt(h, CURLOPT_CAINFO_BLOB, &blob);
    }

    for (const auto& [name, value] : request.headers) {
        curl.headers = curl_slist_append(curl.headers, (name + ": " + value).c_str());
    }
    // curl would otherwise add "Expect: 100-continue" and an Accept header of its own.
    curl.headers = curl_slist_append(curl.headers, "Expect:");
    curl.headers = curl_slist_append(curl.headers, "Accept:");
    if (request.method == HttpMethod::Post) {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        const std::string& body = request.content ? *request.content : std::string();
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, body.c_str());
        if (request.content) {
            curl.headers = curl_slist_append(curl.headers, ("Content-Type: " + request.contentType).c_str());
        } else {
            curl.headers = curl_slist_append(curl.headers, "Content-Type:");
        }
    } else {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, curl.headers);

    CURLcode result = curl_easy_perform(h);
    if (result != CURLE_OK) {
        throw PlatformError(kNetworkFailureBase + static_cast<int32_t>(result),
                            std::string("HTTP request failed: ") + curl_easy_strerror(result));
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    response.statusCode = static_cast<int32_t>(status);
    return response;
}

}  // namespace platform
