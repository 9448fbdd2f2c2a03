#pragma once

#include <memory>

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QString>

namespace platform {

// A certificate authority the web view trusts besides the system's: the one VELMORA_CA_FILE names, which
// issues the simulator's and the test servers' certificates. Only a chain that leads to it, for the host
// asked for and valid now, is vouched for.
class ExtraCertificateAuthority {
public:
    // The CA of VELMORA_CA_FILE; null when the variable is unset, or the file unreadable (said on standard
    // error).
    static std::shared_ptr<const ExtraCertificateAuthority> FromEnvironment();

    // Every certificate in the PEM text is trusted. Throws PlatformError (E_INVALIDARG) when there is none.
    explicit ExtraCertificateAuthority(const QByteArray& pem);
    ~ExtraCertificateAuthority();
    ExtraCertificateAuthority(const ExtraCertificateAuthority&) = delete;
    ExtraCertificateAuthority& operator=(const ExtraCertificateAuthority&) = delete;

    // chain: the server's certificates, its own first.
    bool Vouches(const QList<QSslCertificate>& chain, const QString& host) const;

private:
    struct Store;
    std::unique_ptr<Store> store_;
};

}  // namespace platform
