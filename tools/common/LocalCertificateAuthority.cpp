#include "tools/common/LocalCertificateAuthority.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace simtls {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

void Check(int ok, const char* what) {
    if (ok <= 0) throw std::runtime_error(std::string("certificate generation failed: ") + what);
}

Key NewKey() {
    Key key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    if (!key) throw std::runtime_error("certificate generation failed: key");
    return key;
}

void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    Check(extension != nullptr, "extension");
    Check(X509_add_ext(certificate, extension, -1), "add extension");
    X509_EXTENSION_free(extension);
}

Certificate NewCertificate(EVP_PKEY* key, const char* commonName) {
    Certificate certificate(X509_new(), X509_free);
    Check(X509_set_version(certificate.get(), 2), "version");
    unsigned char serial[16];
    Check(RAND_bytes(serial, sizeof serial), "serial");
    serial[0] &= 0x7f;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -60 * 60);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 60L * 60 * 24 * 30);
    Check(X509_set_pubkey(certificate.get(), key), "public key");
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("corvana-sim"),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName),
                               -1, -1, 0);
    return certificate;
}

std::string CertificatePem(X509* certificate) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, certificate);
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<size_t>(length));
    BIO_free(bio);
    return pem;
}

std::string KeyPem(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<size_t>(length));
    BIO_free(bio);
    return pem;
}

}  // namespace

LocalCertificates IssueLocalCertificates() {
    Key caKey = NewKey();
    Certificate ca = NewCertificate(caKey.get(), "corvana-sim local CA");
    Check(X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get())), "issuer");
    AddExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
    Check(X509_sign(ca.get(), caKey.get(), EVP_sha256()), "sign CA");

    Key serverKey = NewKey();
    Certificate server = NewCertificate(serverKey.get(), "127.0.0.1");
    Check(X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get())), "issuer");
    AddExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature,keyEncipherment");
    AddExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth");
    AddExtension(server.get(), ca.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    AddExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
    Check(X509_sign(server.get(), caKey.get(), EVP_sha256()), "sign server");

    return {CertificatePem(ca.get()), CertificatePem(server.get()), KeyPem(serverKey.get())};
}

}  // namespace simtls
