#pragma once

#include <string>

namespace simtls {

// A certificate authority made on the spot, and a server certificate it signed for 127.0.0.1 and
// localhost: what the simulator and the HTTPS test servers present, and what clients are told to trust
// (VELMORA_CA_FILE). Keys are P-256; nothing is written anywhere.
struct LocalCertificates {
    std::string caCertificatePem;
    std::string serverCertificatePem;
    std::string serverKeyPem;
};

LocalCertificates IssueLocalCertificates();

}  // namespace simtls
