#include "Platform/Http/HttpClient.h"

#include <curl/curl.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Http/HttpTransferLoop.h"
#include "Platform/Threading/ThreadPool.h"

namespace platform {

namespace {

// The result code a failed transfer carries: the facility of network errors, with curl's code.
constexpr int32_t kNetworkFailureBase = static_cast<int32_t>(0x80072EE0);

std::atomic<int64_t> defaultConnectMs{10000};
std::atomic<int64_t> defaultTotalMs{30000};

// The system's certificates as a directory of hashed names: the TLS library reads only the issuer a
// handshake needs, rather than parsing the whole bundle (some 140 certificates) for every connection.
// Where no such directory exists, the bundle file, which curl parses once and keeps.
struct SystemTrust {
    const char* directory = nullptr;
    const char* bundle = nullptr;
};

const SystemTrust& SystemTrustStore() {
    static const SystemTrust trust = [] {
        SystemTrust found;
        for (const char* directory : {"/etc/ssl/certs", "/etc/pki/tls/certs"}) {
            std::error_code error;
            for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
                if (entry.path().extension() == ".0") {
                    found.directory = directory;
                    return found;
                }
            }
        }
        for (const char* bundle :
             {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt"}) {
            if (::access(bundle, R_OK) == 0) {
                found.bundle = bundle;
                break;
            }
        }
        return found;
    }();
    return trust;
}

constexpr size_t kMaxHeaderBytes = 64 * 1024;

// Scheme, host and port of a URL, normalised ("https://example.com:443"), or "" when it does not parse.
std::string OriginOf(const std::string& url) {
    CURLU* parsed = curl_url();
    std::string origin;
    if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        char *scheme = nullptr, *host = nullptr, *port = nullptr;
        if (curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
            curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
            curl_url_get(parsed, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
            std::string hostText(host);
            for (auto& c : hostText) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            origin = std::string(scheme) + "://" + hostText + ":" + port;
        }
        curl_free(scheme);
        curl_free(host);
        curl_free(port);
    }
    curl_url_cleanup(parsed);
    return origin;
}

bool MayUseExtraCa(const HttpClient::Options& options, const std::string& url) {
    if (!options.extraCaFile) return false;
    std::string origin = OriginOf(url);
    if (origin.empty()) return false;
    for (const auto& allowed : options.extraCaOrigins) {
        if (OriginOf(allowed) == origin) return true;
    }
    return false;
}

PlatformError NetworkFailure(CURLcode code, const std::string& text) {
    return PlatformError(kNetworkFailureBase + static_cast<int32_t>(code), "HTTP request failed: " + text);
}

// One request on its way through the transfer loop. The curl callbacks run on the loop thread and return
// through C frames, so nothing may be thrown out of them: a failure there stops the transfer instead.
class CurlTransfer final : public detail::HttpTransferLoop::Transfer {
public:
    CurlTransfer(HttpClient::Options options, HttpRequestMessage request,
                 TaskCompletionSource<HttpResponseMessage> source)
        : options_(std::move(options)), request_(std::move(request)), source_(std::move(source)) {}

    ~CurlTransfer() override {
        curl_slist_free_all(headers_);
        if (handle_) curl_easy_cleanup(handle_);
    }

    CURL* Begin() override {
        if (request_.url.rfind("https://", 0) != 0)
            throw PlatformError(E_INVALIDARG, "only https URLs are allowed");
        handle_ = curl_easy_init();
        if (!handle_) throw PlatformError(E_FAIL, "curl_easy_init failed");
        CURL* h = handle_;

        curl_easy_setopt(h, CURLOPT_URL, request_.url.c_str());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https");
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.connectTimeout.count()));
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(options_.totalTimeout.count()));
        // Refused at once when the server announces a larger body; the write callback catches the rest.
        curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request_.maxResponseBytes));
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CurlTransfer::OnBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CurlTransfer::OnHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, this);

        // The system's certificates, plus the extra CA file for the origins it may vouch for. Both go to
        // curl by name, as the names decide which kept connections a request may reuse: one verified with
        // the extra CA is never handed to a request that may not trust it.
        const SystemTrust& system = SystemTrustStore();
        curl_easy_setopt(h, CURLOPT_CAPATH, system.directory);
        if (MayUseExtraCa(options_, request_.url)) {
            if (::access(options_.extraCaFile->c_str(), R_OK) != 0)
                throw PlatformError(E_INVALIDARG, "cannot read the CA file " + *options_.extraCaFile);
            curl_easy_setopt(h, CURLOPT_CAINFO, options_.extraCaFile->c_str());
        } else {
            curl_easy_setopt(h, CURLOPT_CAINFO, system.bundle);
        }

        for (const auto& [name, value] : request_.headers) AddHeader(name + ": " + value);
        // curl would otherwise add "Expect: 100-continue" and an Accept header of its own.
        AddHeader("Expect:");
        AddHeader("Accept:");
        if (request_.method == HttpMethod::Post) {
            curl_easy_setopt(h, CURLOPT_POST, 1L);
            const std::string& body = request_.content ? *request_.content : std::string();
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
            curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, body.c_str());
            AddHeader(request_.content ? "Content-Type: " + request_.contentType
                                       : std::string("Content-Type:"));
        } else {
            curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        }
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers_);
        return h;
    }

    void End(int code) noexcept override {
        auto result = static_cast<CURLcode>(code);
        if (tooLarge_ || result == CURLE_FILESIZE_EXCEEDED) {
            return Fail(std::make_exception_ptr(NetworkFailure(
                CURLE_FILESIZE_EXCEEDED,
                "the response is larger than " + std::to_string(request_.maxResponseBytes) + " bytes")));
        }
        if (callbackError_) return Fail(callbackError_);
        if (result != CURLE_OK)
            return Fail(std::make_exception_ptr(NetworkFailure(result, curl_easy_strerror(result))));
        long status = 0;
        curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &status);
        response_.statusCode = static_cast<int32_t>(status);
        ThreadPool::Default().Post([source = source_, response = std::move(response_)]() mutable {
            source.TrySetResult(std::move(response));
        });
    }

    void Fail(std::exception_ptr error) noexcept override {
        ThreadPool::Default().Post([source = source_, error] { source.TrySetException(error); });
    }

private:
    void AddHeader(const std::string& line) {
        curl_slist* extended = curl_slist_append(headers_, line.c_str());
        if (!extended) throw PlatformError(E_FAIL, "curl_slist_append failed");
        headers_ = extended;
    }

    // Any return value other than the size given stops the transfer.
    static size_t OnBody(char* data, size_t size, size_t count, void* target) noexcept {
        auto* self = static_cast<CurlTransfer*>(target);
        size_t length = size * count;
        try {
            if (length > self->request_.maxResponseBytes - self->response_.content.size()) {
                self->tooLarge_ = true;
                return 0;
            }
            self->response_.content.append(data, length);
            return length;
        } catch (...) {
            self->callbackError_ = std::current_exception();
            return 0;
        }
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* target) noexcept {
        auto* self = static_cast<CurlTransfer*>(target);
        size_t length = size * count;
        try {
            self->headerBytes_ += length;
            if (self->headerBytes_ > kMaxHeaderBytes) {
                throw PlatformError(E_INVALIDARG, "the response headers are larger than " +
                                                      std::to_string(kMaxHeaderBytes) + " bytes");
            }
            std::string line(data, length);
            auto colon = line.find(':');
            if (colon != std::string::npos) {
                auto trim = [](std::string text) {
                    size_t start = text.find_first_not_of(" \t\r\n");
                    size_t end = text.find_last_not_of(" \t\r\n");
                    return start == std::string::npos ? std::string() : text.substr(start, end - start + 1);
                };
                self->response_.headers.emplace_back(trim(line.substr(0, colon)),
                                                     trim(line.substr(colon + 1)));
            } else if (line.rfind("HTTP/", 0) == 0) {
                self->response_.headers.clear();  // a new response (after a 100 Continue) starts afresh
            }
            return length;
        } catch (...) {
            self->callbackError_ = std::current_exception();
            return 0;
        }
    }

    HttpClient::Options options_;
    HttpRequestMessage request_;
    TaskCompletionSource<HttpResponseMessage> source_;
    HttpResponseMessage response_;
    CURL* handle_ = nullptr;
    curl_slist* headers_ = nullptr;
    size_t headerBytes_ = 0;
    bool tooLarge_ = false;
    std::exception_ptr callbackError_;
};

std::vector<std::string> OverriddenOrigins() {
    std::vector<std::string> origins;
    for (const char* variable : {"VELMORA_ACCOUNTS_URL", "VELMORA_WEBAPI_URL"}) {
        const char* value = std::getenv(variable);
        if (value && std::string_view(value).starts_with("https://")) origins.emplace_back(value);
    }
    return origins;
}

}  // namespace

HttpClient::HttpClient() : HttpClient(DefaultOptions()) {}

HttpClient::HttpClient(Options options) : options_(std::move(options)) {}

HttpClient::Options HttpClient::DefaultOptions() {
    Options options;
    options.connectTimeout = std::chrono::milliseconds(defaultConnectMs.load());
    options.totalTimeout = std::chrono::milliseconds(defaultTotalMs.load());
    if (const char* ca = std::getenv("VELMORA_CA_FILE"); ca && *ca) {
        options.extraCaFile = ca;
        options.extraCaOrigins = OverriddenOrigins();
    }
    return options;
}

void HttpClient::SetDefaultTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds total) {
    defaultConnectMs = connect.count();
    defaultTotalMs = total.count();
}

Task<HttpResponseMessage> HttpClient::SendRequestAsync(HttpRequestMessage request) const {
    TaskCompletionSource<HttpResponseMessage> source;
    auto task = source.GetTask();
    detail::HttpTransferLoop::Instance().Start(
        std::make_shared<CurlTransfer>(options_, std::move(request), std::move(source)));
    return task;
}

}  // namespace platform
