#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Hashing, encoding and randomness the sign-in needs, on OpenSSL.
struct Cryptography {
    // SHA-256 of the bytes of `data`.
    static std::vector<uint8_t> Sha256(std::string_view data);
    // RFC 4648 section 5, without padding.
    static std::string Base64UrlEncode(const std::vector<uint8_t>& bytes);
    // Bytes from the system's cryptographically secure generator; throws PlatformError if it fails.
    static std::vector<uint8_t> SecureRandomBytes(size_t count);
};

}  // namespace platform
