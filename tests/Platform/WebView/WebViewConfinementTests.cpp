// The decisions that keep the packaged page inside its folder, each without a browser.
#include <gtest/gtest.h>

#include <filesystem>

#include <QSslCertificate>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/WebView/ContentRequestInterceptor.h"
#include "Platform/WebView/ContentSchemeHandler.h"
#include "Platform/WebView/ExtraCertificateAuthority.h"
#include "Platform/WebView/WebContentOrigin.h"
#include "Platform/WebView/WebViewPagePolicy.h"
#include "tests/support/TempDir.h"
#include "tools/common/LocalCertificateAuthority.h"

using platform::ContentRequestInterceptor;
using platform::ContentSchemeHandler;
using platform::ExtraCertificateAuthority;
using Job = QWebEngineUrlRequestJob;
using Info = QWebEngineUrlRequestInfo;
namespace fs = std::filesystem;

namespace {

QUrl Url(const char* text) {
    return QUrl(QString::fromUtf8(text));
}

}  // namespace

TEST(ContentSchemeHandler, ServesOnlyRegularFilesInsideItsFolderToItsOwnOrigin) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "ui/index.html", "<p>page</p>");
    testsupport::WriteFile(dir / "ui/sub/inner.txt", "inner");
    testsupport::WriteFile(dir / "ui/with space.txt", "spaced");
    testsupport::WriteFile(dir / "secret.txt", "secret");
    fs::create_symlink(dir / "secret.txt", dir / "ui/link-out.txt");
    fs::create_symlink("sub/inner.txt", dir / "ui/link-in.txt");
    fs::create_directory_symlink(dir.path(), dir / "ui/parent");
    ContentSchemeHandler handler(QString::fromStdString(dir / "ui"));
    const QUrl self = Url("velmora-app://widget.invalid");
    const QString root = QString::fromStdString(fs::canonical(dir / "ui").string());

    struct Case {
        const char* url;
        QUrl initiator;
        QByteArray method;
        Job::Error error;
        QString file;
    };
    const Case cases[] = {
        {"velmora-app://widget.invalid/index.html", QUrl(), "GET", Job::NoError, root + "/index.html"},
        {"velmora-app://widget.invalid/index.html", self, "GET", Job::NoError, root + "/index.html"},
        {"velmora-app://widget.invalid/index.html?v=2#top", self, "GET", Job::NoError, root + "/index.html"},
        {"velmora-app://widget.invalid/sub/inner.txt", self, "GET", Job::NoError, root + "/sub/inner.txt"},
        {"velmora-app://widget.invalid/with%20space.txt", self, "GET", Job::NoError,
         root + "/with space.txt"},
        {"velmora-app://widget.invalid/link-in.txt", self, "GET", Job::NoError, root + "/sub/inner.txt"},
        {"velmora-app://widget.invalid/link-out.txt", self, "GET", Job::RequestDenied, {}},
        {"velmora-app://widget.invalid/parent/secret.txt", self, "GET", Job::RequestDenied, {}},
        {"velmora-app://widget.invalid/..%2Fsecret.txt", self, "GET", Job::UrlInvalid, {}},
        {"velmora-app://widget.invalid/sub%2F..%2F..%2Fsecret.txt", self, "GET", Job::UrlInvalid, {}},
        {"velmora-app://widget.invalid/sub/", self, "GET", Job::UrlInvalid, {}},
        {"velmora-app://widget.invalid/sub", self, "GET", Job::UrlNotFound, {}},
        {"velmora-app://widget.invalid/", self, "GET", Job::UrlInvalid, {}},
        {"velmora-app://widget.invalid/missing.js", self, "GET", Job::UrlNotFound, {}},
        {"velmora-app://widget.invalid/index.html%00.js", self, "GET", Job::UrlInvalid, {}},
        {"velmora-app://widget.invalid/index.html",
         Url("https://evil.example"),
         "GET",
         Job::RequestDenied,
         {}},
        {"velmora-app://widget.invalid/index.html", Url("null"), "GET", Job::RequestDenied, {}},
        {"velmora-app://widget.invalid/index.html",
         Url("velmora-app://other.invalid"),
         "GET",
         Job::RequestDenied,
         {}},
        {"velmora-app://widget.invalid/index.html", self, "POST", Job::RequestDenied, {}},
        {"velmora-app://other.invalid/index.html", self, "GET", Job::RequestDenied, {}},
        {"velmora-app://widget.invalid:8080/index.html", self, "GET", Job::RequestDenied, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.url) + " from " + c.initiator.toString().toStdString() + " " +
                     c.method.toStdString());
        const auto resolution = handler.Resolve(Url(c.url), c.initiator, c.method);
        EXPECT_EQ(resolution.error, c.error);
        EXPECT_EQ(resolution.filePath, c.file);
    }

    ContentSchemeHandler missing(QString::fromStdString(dir / "no-such-folder"));
    EXPECT_EQ(missing.Resolve(Url("velmora-app://widget.invalid/index.html"), QUrl(), "GET").error,
              Job::UrlNotFound);
}

TEST(ContentSchemeHandler, SendsEachFileWithItsType) {
    const std::pair<const char*, const char*> cases[] = {
        {"index.html", "text/html"},
        {"app.js", "text/javascript"},
        {"view.mjs", "text/javascript"},
        {"look.css", "text/css"},
        {"data.json", "application/json"},
        {"icon.svg", "image/svg+xml"},
        {"cover.PNG", "image/png"},
        {"font.woff2", "font/woff2"},
        {"noextension", "application/octet-stream"},
    };
    for (const auto& [file, type] : cases) {
        EXPECT_EQ(ContentSchemeHandler::MimeTypeOf(QString::fromLatin1(file)), QByteArray(type)) << file;
    }
}

TEST(ContentRequestInterceptor, LetsThroughOnlyTheOwnOriginAndImagesOverHttps) {
    const QUrl self = Url("velmora-app://widget.invalid");
    struct Case {
        const char* url;
        QUrl initiator;
        Info::ResourceType type;
        bool allowed;
    };
    const Case cases[] = {
        {"velmora-app://widget.invalid/index.html", QUrl(), Info::ResourceTypeMainFrame, true},
        {"velmora-app://widget.invalid/app.js", self, Info::ResourceTypeScript, true},
        {"velmora-app://widget.invalid/data.json", self, Info::ResourceTypeXhr, true},
        {"https://i.example/cover.jpg", self, Info::ResourceTypeImage, true},
        {"https://i.example/cover.jpg", self, Info::ResourceTypeXhr, false},
        {"https://i.example/app.js", self, Info::ResourceTypeScript, false},
        {"https://i.example/", self, Info::ResourceTypeSubFrame, false},
        {"https://i.example/", QUrl(), Info::ResourceTypeMainFrame, false},
        {"http://i.example/cover.jpg", self, Info::ResourceTypeImage, false},
        {"file:///etc/passwd", self, Info::ResourceTypeImage, false},
        {"file:///etc/passwd", self, Info::ResourceTypeXhr, false},
        {"wss://i.example/socket", self, Info::ResourceTypeWebSocket, false},
        {"velmora-app://widget.invalid/index.html", Url("https://evil.example"), Info::ResourceTypeXhr,
         false},
        {"https://i.example/cover.jpg", Url("https://evil.example"), Info::ResourceTypeImage, false},
        {"velmora-app://other.invalid/index.html", self, Info::ResourceTypeXhr, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ContentRequestInterceptor::Allows(Url(c.url), c.initiator, c.type), c.allowed)
            << c.url << " from " << c.initiator.toString().toStdString() << " kind " << c.type;
    }
}

TEST(WebViewPagePolicy, NavigatesOnlyWithinTheContentOrigin) {
    const std::pair<const char*, bool> cases[] = {
        {"velmora-app://widget.invalid/index.html", true},
        {"velmora-app://widget.invalid/other.html#x", true},
        {"https://widget.invalid/index.html", false},
        {"https://example.com/", false},
        {"about:blank", false},
        {"data:text/html,<p>x</p>", false},
        {"javascript:alert(1)", false},
        {"file:///tmp/x.html", false},
        {"velmora-app://user@widget.invalid/index.html", false},
    };
    for (const auto& [url, allowed] : cases) {
        EXPECT_EQ(platform::WebViewPagePolicy::AllowsNavigation(Url(url)), allowed) << url;
    }
    EXPECT_EQ(platform::WebContentOrigin::UrlOf("index.html"),
              Url("velmora-app://widget.invalid/index.html"));
}

TEST(ExtraCertificateAuthority, VouchesOnlyForItsOwnChainAndHost) {
    const auto ours = simtls::IssueLocalCertificates();
    const auto theirs = simtls::IssueLocalCertificates();
    ExtraCertificateAuthority authority(QByteArray::fromStdString(ours.caCertificatePem));
    auto chain = [](const std::string& pem) {
        return QSslCertificate::fromData(QByteArray::fromStdString(pem));
    };
    const auto server = chain(ours.serverCertificatePem);
    const auto withRoot = chain(ours.serverCertificatePem + ours.caCertificatePem);
    const auto foreign = chain(theirs.serverCertificatePem);
    ASSERT_EQ(server.size(), 1);

    struct Case {
        const char* name;
        QList<QSslCertificate> chain;
        const char* host;
        bool vouched;
    };
    const Case cases[] = {
        {"its server on 127.0.0.1", server, "127.0.0.1", true},
        {"its server on localhost", server, "localhost", true},
        {"with the root sent along", withRoot, "127.0.0.1", true},
        {"another host name", server, "example.com", false},
        {"another address", server, "127.0.0.2", false},
        {"another authority's server", foreign, "127.0.0.1", false},
        {"the authority itself as a server", chain(ours.caCertificatePem), "127.0.0.1", false},
        {"no chain", {}, "127.0.0.1", false},
        {"no host", server, "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(authority.Vouches(c.chain, QString::fromLatin1(c.host)), c.vouched) << c.name;
    }

    EXPECT_THROW(ExtraCertificateAuthority(QByteArray("not a certificate")), platform::PlatformError);
}

TEST(ExtraCertificateAuthority, ComesFromVelmoraCaFileWhenItIsUsable) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "ca.pem", simtls::IssueLocalCertificates().caCertificatePem);
    testsupport::WriteFile(dir / "junk.pem", "junk");
    const std::pair<std::optional<std::string>, bool> cases[] = {{std::nullopt, false},
                                                                 {dir / "ca.pem", true},
                                                                 {dir / "junk.pem", false},
                                                                 {dir / "missing.pem", false}};
    for (const auto& [file, present] : cases) {
        if (file) {
            qputenv("VELMORA_CA_FILE", file->c_str());
        } else {
            qunsetenv("VELMORA_CA_FILE");
        }
        EXPECT_EQ(ExtraCertificateAuthority::FromEnvironment() != nullptr, present)
            << file.value_or("(unset)");
    }
    qunsetenv("VELMORA_CA_FILE");
}
