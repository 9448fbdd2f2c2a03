#include "Platform/WebView/ExtraCertificateAuthority.h"

#include <QDebug>
#include <QFile>
#include <QHostAddress>

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include "Platform/Foundation/PlatformError.h"

namespace platform {

namespace {

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct StackFree {
    void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
struct ContextFree {
    void operator()(X509_STORE_CTX* context) const { X509_STORE_CTX_free(context); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

X509Ptr FromDer(const QByteArray& der) {
    auto* data = reinterpret_cast<const unsigned char*>(der.constData());
    return X509Ptr(d2i_X509(nullptr, &data, der.size()));
}

}  // namespace

struct ExtraCertificateAuthority::Store {
    ~Store() { X509_STORE_free(store); }
    X509_STORE* store = X509_STORE_new();
};

std::shared_ptr<const ExtraCertificateAuthority> ExtraCertificateAuthority::FromEnvironment() {
    const QString path = qEnvironmentVariable("VELMORA_CA_FILE");
    if (path.isEmpty()) return nullptr;
    QFile file(path);
    try {
        if (!file.open(QIODevice::ReadOnly)) throw PlatformError(E_INVALIDARG, "cannot be read");
        return std::make_shared<const ExtraCertificateAuthority>(file.readAll());
    } catch (const PlatformError& error) {
        qWarning().noquote() << "WebView: VELMORA_CA_FILE" << path
                             << "is not used:" << error.message().c_str();
        return nullptr;
    }
}

ExtraCertificateAuthority::ExtraCertificateAuthority(const QByteArray& pem)
    : store_(std::make_unique<Store>()) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())));
    int count = 0;
    while (X509Ptr certificate{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)}) {
        if (X509_STORE_add_cert(store_->store, certificate.get()) == 1) ++count;
    }
    if (count == 0) throw PlatformError(E_INVALIDARG, "no certificate in the PEM text");
}

ExtraCertificateAuthority::~ExtraCertificateAuthority() = default;

bool ExtraCertificateAuthority::Vouches(const QList<QSslCertificate>& chain, const QString& host) const {
    if (chain.isEmpty() || host.isEmpty()) return false;
    X509Ptr leaf = FromDer(chain.front().toDer());
    if (!leaf) return false;
    std::unique_ptr<STACK_OF(X509), StackFree> intermediates(sk_X509_new_null());
    for (qsizetype i = 1; i < chain.size(); ++i) {
        if (X509Ptr certificate = FromDer(chain[i].toDer()))
            sk_X509_push(intermediates.get(), certificate.release());
    }
    std::unique_ptr<X509_STORE_CTX, ContextFree> context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store_->store, leaf.get(), intermediates.get()) != 1)
        return false;
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER);
    X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
    const QByteArray name = host.toUtf8();
    const bool named = QHostAddress(host).isNull()
                           ? X509_VERIFY_PARAM_set1_host(parameters, name.constData(), 0) == 1
                           : X509_VERIFY_PARAM_set1_ip_asc(parameters, name.constData()) == 1;
    return named && X509_verify_cert(context.get()) == 1;
}

}  // namespace platform
