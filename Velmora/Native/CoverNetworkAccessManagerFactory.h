#pragma once

#include <QQmlNetworkAccessManagerFactory>
#include <QSslConfiguration>
#include <mutex>
#include <optional>
#include <string>

namespace velmora {

// Makes the network access managers of the page's QML engine and of its cover loader: each a
// CoverNetworkAccessManager trusting the system's CAs and the extra CA file. Thread-safe, as the engine
// asks for one on each thread that loads.
class CoverNetworkAccessManagerFactory : public QQmlNetworkAccessManagerFactory {
public:
    // extraCaFile: a PEM file of CA certificates to trust besides the system's; a file without one adds
    // nothing (one line on standard error).
    explicit CoverNetworkAccessManagerFactory(std::optional<std::string> extraCaFile)
        : extraCaFile_(std::move(extraCaFile)) {}

    // One per process, trusting VELMORA_CA_FILE; it outlives every engine it is given to.
    static CoverNetworkAccessManagerFactory& Instance();

    QNetworkAccessManager* create(QObject* parent) override;

    // The TLS settings every request gets. Built on first use, off the UI thread as a rule: reading the
    // system's CA certificates takes a while.
    const QSslConfiguration& Tls();

private:
    const std::optional<std::string> extraCaFile_;
    std::once_flag built_;
    QSslConfiguration tls_;
};

}  // namespace velmora
