// The HTTP client against real HTTPS servers on loopback.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <set>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Http/HttpClient.h"
#include "Platform/Threading/ManualResetEvent.h"
#include "Platform/Threading/ThreadPool.h"
#include "tests/support/HttpsTestServer.h"
#include "tests/support/TestHelpers.h"

using namespace std::chrono_literals;
using platform::HttpClient;
using platform::HttpRequestMessage;
using platform::HttpResponseMessage;
using platform::PlatformError;
using testsupport::HttpsTestServer;
using testsupport::SilentTcpServer;

namespace {

// curl's "maximum file size exceeded", in the network facility the client reports failures in.
constexpr int32_t kTooLarge = static_cast<int32_t>(0x80072EE0) + 63;

HttpRequestMessage Get(const std::string& url,
                       size_t maxResponseBytes = HttpRequestMessage::kDefaultMaxResponseBytes) {
    HttpRequestMessage request;
    request.url = url;
    request.maxResponseBytes = maxResponseBytes;
    return request;
}

HttpClient::Options TrustingOptions(const HttpsTestServer& server, std::chrono::milliseconds timeout) {
    HttpClient::Options options;
    options.connectTimeout = timeout;
    options.totalTimeout = timeout;
    options.extraCaFile = server.CaFile();
    options.extraCaOrigins = {server.Origin()};
    return options;
}

// Serves n bytes at /fixed/n with a Content-Length, at /chunked/n without one, and at /endless for ever.
void ServeBodies(HttpsTestServer& server) {
    server.Get(R"(/fixed/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(std::string(std::stoul(request.matches[1]), 'x'), "text/plain");
    });
    server.Get(R"(/chunked/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
        auto left = std::make_shared<size_t>(std::stoul(request.matches[1]));
        response.set_chunked_content_provider("text/plain", [left](size_t, httplib::DataSink& sink) {
            size_t piece = std::min<size_t>(*left, 4096);
            if (piece == 0) {
                sink.done();
                return true;
            }
            *left -= piece;
            return sink.write(std::string(piece, 'x').data(), piece);
        });
    });
    server.Get("/endless", [](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
            static const std::string piece(16384, 'x');
            return sink.write(piece.data(), piece.size());
        });
    });
}

}  // namespace

TEST(HttpClient, AResponseBodyOverTheRequestsLimitFailsWithoutWaitingForItsEnd) {
    HttpsTestServer server;
    ServeBodies(server);
    server.Start();
    HttpClient client(TrustingOptions(server, 60s));
    constexpr size_t kLimit = 64 * 1024;
    struct Case {
        std::string path;
        bool succeeds;
    };
    for (const auto& [path, succeeds] : std::vector<Case>{{"/fixed/65536", true},
                                                          {"/chunked/65536", true},
                                                          {"/fixed/65537", false},
                                                          {"/chunked/65537", false},
                                                          {"/endless", false}}) {
        SCOPED_TRACE(path);
        auto response = client.SendRequestAsync(Get(server.Origin() + path, kLimit));
        ASSERT_TRUE(response.WaitFor(30s));
        if (succeeds) {
            EXPECT_EQ(response.Get().content.size(), kLimit);
            continue;
        }
        try {
            response.Get();
            ADD_FAILURE() << "expected a failure";
        } catch (const PlatformError& error) {
            EXPECT_EQ(error.code(), kTooLarge) << error.what();
        }
    }
}

TEST(HttpClient, ServersThatNeverAnswerHoldBackNeitherThePoolNorOtherRequests) {
    HttpsTestServer server;
    ServeBodies(server);
    server.Start();
    auto silent = std::make_unique<SilentTcpServer>(SilentTcpServer::Behaviour::NeverAnswer);
    HttpClient client(TrustingOptions(server, 60s));
    std::vector<platform::Task<HttpResponseMessage>> hung;
    for (int i = 0; i < 12; ++i) hung.push_back(client.SendRequestAsync(Get(silent->Origin() + "/")));

    platform::ManualResetEvent ran;
    platform::ThreadPool::Default().Post([&ran] { ran.Set(); });
    EXPECT_TRUE(ran.Wait(10s));
    auto answered = client.SendRequestAsync(Get(server.Origin() + "/fixed/10"));
    ASSERT_TRUE(answered.WaitFor(30s));  // long before the others give up
    EXPECT_EQ(answered.Get().statusCode, 200);

    silent.reset();  // closes the connections it held
    for (auto& request : hung) EXPECT_THROW(request.Get(), PlatformError);
}

static void ServePort(HttpsTestServer& server) {
    server.Get("/port", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(std::to_string(request.remote_port), "text/plain");
    });
    server.Start();
}

TEST(HttpClient, TheLastOfABurstToANewOriginTakesTheConnectionTheOthersUsed) {
    // The last of a burst waits for the one connection, made for the first: were it left to wait out the
    // transfer loop's poll, the server could close that connection, idle meanwhile, and the request would
    // need one of its own. Each round a new origin, as the wait follows the first connection's making.
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        HttpsTestServer server;
        ServePort(server);
        HttpClient client(TrustingOptions(server, 10s));
        std::vector<platform::Task<HttpResponseMessage>> burst;
        for (int i = 0; i < 8; ++i) burst.push_back(client.SendRequestAsync(Get(server.Origin() + "/port")));
        std::set<std::string> ports;
        for (auto& request : burst) ports.insert(request.Get().content);
        EXPECT_EQ(ports.size(), 1u);
    }
}

TEST(HttpClient, RequestsToOneOriginShareOneConnectionThatNoUntrustingRequestReuses) {
    HttpsTestServer server;
    ServePort(server);
    HttpClient client(TrustingOptions(server, 10s));
    std::set<std::string> ports;
    // A burst at once (a feed's covers), then one after the other.
    std::vector<platform::Task<HttpResponseMessage>> burst;
    for (int i = 0; i < 8; ++i) burst.push_back(client.SendRequestAsync(Get(server.Origin() + "/port")));
    for (auto& request : burst) ports.insert(request.Get().content);
    for (int i = 0; i < 3; ++i)
        ports.insert(client.SendRequestAsync(Get(server.Origin() + "/port")).Get().content);
    EXPECT_EQ(ports.size(), 1u);

    // The connection kept for that origin was verified with the extra CA: a request that may not trust it
    // must verify a connection of its own, and fail.
    HttpClient::Options untrusting;
    untrusting.connectTimeout = untrusting.totalTimeout = 10s;
    EXPECT_THROW(HttpClient(untrusting).SendRequestAsync(Get(server.Origin() + "/port")).Get(),
                 PlatformError);
}

TEST(HttpClient, TheProcessEndsCleanlyWhileTransfersAreStillBeingStarted) {
    HttpsTestServer server;
    ServeBodies(server);
    server.Start();
    // The moment of exit falls differently each run; a sanitizer build reports a fault in any of them.
    for (int run = 0; run < 3; ++run) {
        auto ended = testsupport::RunToEnd({testsupport::BuildOutput("tests/Platform/http_exit_client"),
                                            server.Origin() + "/fixed/1", server.CaFile(), "1000"});
        EXPECT_EQ(ended.status, 0) << "run " << run;
    }
}

TEST(HttpClient, TheExtraCaIsTrustedOnlyForTheOriginsTheOverridesName) {
    HttpsTestServer server;
    ServeBodies(server);
    server.Start();
    ::setenv("VELMORA_CA_FILE", server.CaFile().c_str(), 1);
    struct Case {
        const char* accounts;
        const char* webApi;
        bool trusted;
    };
    const std::string origin = server.Origin();
    for (auto [accounts, webApi, trusted] : std::vector<Case>{{origin.c_str(), nullptr, true},
                                                              {nullptr, origin.c_str(), true},
                                                              {nullptr, "https://127.0.0.1:1", false},
                                                              {"https://localhost:443", nullptr, false},
                                                              {nullptr, nullptr, false}}) {
        SCOPED_TRACE(std::string(accounts ? accounts : "-") + " " + (webApi ? webApi : "-"));
        for (auto [variable, value] :
             {std::pair{"VELMORA_ACCOUNTS_URL", accounts}, {"VELMORA_WEBAPI_URL", webApi}}) {
            if (value) {
                ::setenv(variable, value, 1);
            } else {
                ::unsetenv(variable);
            }
        }
        auto response = HttpClient().SendRequestAsync(Get(origin + "/fixed/1"));
        if (trusted) {
            EXPECT_EQ(response.Get().statusCode, 200);
        } else {
            EXPECT_THROW(response.Get(), PlatformError);
        }
    }
    for (const char* variable : {"VELMORA_CA_FILE", "VELMORA_ACCOUNTS_URL", "VELMORA_WEBAPI_URL"})
        ::unsetenv(variable);
}
