// The feed client against real HTTPS servers on loopback.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>

#include "Platform/Http/HttpClient.h"
#include "VelmoraUtils/CorvanaClient.h"
#include "tests/support/HttpsTestServer.h"
#include "tests/support/LogCapture.h"

using namespace std::chrono_literals;
using testsupport::HttpsTestServer;
using testsupport::SilentTcpServer;
using utils::corvana_client::FetchHomeSectionsAsync;

namespace {

constexpr const char* kToken = "secret-access-token-1234";
constexpr const char* kFeed = R"({"content":{"items":[
    {"name":"Game on","content":{"items":[{"name":"Battle Mix","type":"playlist","uri":"corvana:playlist:1",
      "images":[{"url":"https://i/1.jpg"}],"owner":{"display_name":"Corvana"}}]}}]}})";

void PointAt(const std::string& origin, const std::string& caFile) {
    ::setenv("VELMORA_WEBAPI_URL", origin.c_str(), 1);
    ::setenv("VELMORA_CA_FILE", caFile.c_str(), 1);
}

class HomeFeedOverHttps : public testing::Test {
protected:
    void SetUp() override {
        server.Get("/v1/views/partner-home",
                   [this](const httplib::Request& request, httplib::Response& response) {
                       lastTarget = request.target;
                       lastAuthorization = request.get_header_value("Authorization");
                       respond(request, response);
                   });
    }
    void Serve(std::function<void(const httplib::Request&, httplib::Response&)> handler) {
        respond = std::move(handler);
        server.Start();
        PointAt(server.Origin(), server.CaFile());
    }

    HttpsTestServer server;
    std::function<void(const httplib::Request&, httplib::Response&)> respond;
    std::string lastTarget;
    std::string lastAuthorization;
    testsupport::LogCapture log;
};

}  // namespace

TEST_F(HomeFeedOverHttps, AFeedArrivesWithTheExactRequestAndNoTokenInTheLog) {
    Serve([](const auto&, httplib::Response& response) { response.set_content(kFeed, "application/json"); });
    auto sections = FetchHomeSectionsAsync(kToken).Get();
    ASSERT_EQ(sections.size(), 1u);
    EXPECT_EQ(sections[0].items[0].ownerDisplayName, "Corvana");
    EXPECT_EQ(lastTarget,
              "/v1/views/partner-home?signal=category%3Agaming&content_limit=6&limit=4"
              "&types=track,album,playlist,artist,show,episode,station&include_full_episode_object=true");
    EXPECT_EQ(lastAuthorization, std::string("Bearer ") + kToken);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(HomeFeedOverHttps, FailuresGiveAnEmptyListAndOneLine) {
    struct Case {
        std::string name;
        int status;
        std::string body;
        bool logged;
    };
    for (const auto& c : std::vector<Case>{{"unauthorised", 401, R"({"error":"expired"})", true},
                                           {"server error", 500, "", true},
                                           {"empty body", 200, "", false},
                                           {"malformed", 200, "{not json", true},
                                           {"not an object", 200, "[]", true}}) {
        log.Clear();
        respond = [&c](const auto&, httplib::Response& response) {
            response.status = c.status;
            response.set_content(c.body, "application/json");
        };
        if (c.name == "unauthorised") server.Start(), PointAt(server.Origin(), server.CaFile());
        EXPECT_TRUE(FetchHomeSectionsAsync(kToken).Get().empty()) << c.name;
        std::vector<std::string> expected;
        if (c.logged) expected.push_back("ERROR corvana_client: FetchHomeSectionsAsync failed");
        EXPECT_EQ(log.Lines(), expected) << c.name;
        for (const auto& line : log.Lines()) EXPECT_EQ(line.find(kToken), std::string::npos);
    }
}

TEST(HomeFeedWithoutAnAnswer, AServerThatClosesOrNeverAnswersEndsInAnEmptyList) {
    testsupport::LogCapture log;
    platform::HttpClient::SetDefaultTimeouts(500ms, 1500ms);
    HttpsTestServer trusted;  // only for its CA file: the silent servers never get as far as TLS
    for (auto behaviour :
         {SilentTcpServer::Behaviour::CloseAtOnce, SilentTcpServer::Behaviour::NeverAnswer}) {
        SilentTcpServer silent(behaviour);
        PointAt(silent.Origin(), trusted.CaFile());
        log.Clear();
        auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(FetchHomeSectionsAsync(kToken).Get().empty());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);  // bounded by the time-out, not hung
        EXPECT_EQ(log.Lines(),
                  std::vector<std::string>{"ERROR corvana_client: FetchHomeSectionsAsync failed"});
    }
}

TEST(HomeFeedWithoutAnAnswer, AnUntrustedCertificateIsRefused) {
    testsupport::LogCapture log;
    HttpsTestServer server;
    bool reached = false;
    server.Get("/v1/views/partner-home", [&](const auto&, httplib::Response& response) {
        reached = true;
        response.set_content(kFeed, "application/json");
    });
    server.Start();
    HttpsTestServer other;  // a CA that did not sign the server's certificate
    PointAt(server.Origin(), other.CaFile());
    EXPECT_TRUE(FetchHomeSectionsAsync(kToken).Get().empty());
    EXPECT_FALSE(reached);
}

TEST_F(HomeFeedOverHttps, TheFailureFormSaysWhyAndTellsAnEmptyFeedFromAFailure) {
    struct Case {
        std::string name;
        int status;
        std::string body;
        std::optional<std::string> failure;
    };
    for (const auto& c : std::vector<Case>{
             {"unauthorised", 401, R"({"error":"expired"})", "the web API answered with HTTP status 401"},
             {"empty body", 200, "", std::nullopt},
             {"malformed", 200, "{not json", "the web API's answer is not a home feed"},
             {"feed", 200, kFeed, std::nullopt}}) {
        log.Clear();
        respond = [&c](const auto&, httplib::Response& response) {
            response.status = c.status;
            response.set_content(c.body, "application/json");
        };
        if (c.name == "unauthorised") server.Start(), PointAt(server.Origin(), server.CaFile());
        auto result = utils::corvana_client::FetchHomeFeedAsync(std::string(kToken)).Get();
        EXPECT_EQ(result.failure, c.failure) << c.name;
        EXPECT_EQ(result.statusCode, c.status) << c.name;
        EXPECT_EQ(result.sections.size(), c.name == "feed" ? 1u : 0u) << c.name;
        EXPECT_EQ(log.Lines().size(), c.failure ? 1u : 0u) << c.name;
    }
}

TEST(HomeFeedWithoutAnAnswer, TheFailureFormSaysTheWebApiCouldNotBeReached) {
    testsupport::LogCapture log;
    HttpsTestServer trusted;
    SilentTcpServer silent(SilentTcpServer::Behaviour::CloseAtOnce);
    PointAt(silent.Origin(), trusted.CaFile());
    auto result = utils::corvana_client::FetchHomeFeedAsync(std::string(kToken)).Get();
    ASSERT_TRUE(result.failure.has_value());
    EXPECT_TRUE(result.failure->starts_with("the web API could not be reached")) << *result.failure;
    EXPECT_EQ(result.failure->find(kToken), std::string::npos);
    EXPECT_EQ(result.statusCode, 0);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"ERROR corvana_client: FetchHomeSectionsAsync failed"});
}
