#include "Velmora/Native/CoverNetworkAccessManagerFactory.h"

#include <QSslCertificate>
#include <cstdio>

#include "Velmora/Native/CoverNetworkAccessManager.h"
#include "VelmoraUtils/CorvanaEndpoints.h"

namespace velmora {

CoverNetworkAccessManagerFactory& CoverNetworkAccessManagerFactory::Instance() {
    static CoverNetworkAccessManagerFactory factory(utils::CorvanaEndpoints::ExtraCaFile());
    return factory;
}

const QSslConfiguration& CoverNetworkAccessManagerFactory::Tls() {
    std::call_once(built_, [this] {
        tls_ = QSslConfiguration::defaultConfiguration();
        if (!extraCaFile_) return;
        QList<QSslCertificate> extra = QSslCertificate::fromPath(QString::fromStdString(*extraCaFile_));
        if (extra.isEmpty()) {
            std::fprintf(stderr, "CoverNetworkAccessManagerFactory: no CA certificate in %s\n",
                         extraCaFile_->c_str());
            return;
        }
        QList<QSslCertificate> trusted = QSslConfiguration::systemCaCertificates();
        trusted.append(extra);
        tls_.setCaCertificates(trusted);
    });
    return tls_;
}

QNetworkAccessManager* CoverNetworkAccessManagerFactory::create(QObject* parent) {
    return new CoverNetworkAccessManager(Tls(), parent);
}

}  // namespace velmora
