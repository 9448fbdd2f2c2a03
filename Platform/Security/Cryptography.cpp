#include "Platform/Security/Cryptography.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include "Platform/Foundation/PlatformError.h"

namespace platform {

std::vector<uint8_t> Cryptography::Sha256(std::string_view data) {
    std::vector<uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1) {
        throw PlatformError(E_FAIL, "SHA-256 failed");
    }
    digest.resize(length);
    return digest;
}

std::string Cryptography::Base64UrlEncode(const std::vector<uint8_t>& bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string text;
    text.reserve((bytes.size() * 4 + 2) / 3);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        text += kAlphabet[(group >> 18) & 63];
        text += kAlphabet[(group >> 12) & 63];
        text += kAlphabet[(group >> 6) & 63];
        text += kAlphabet[group & 63];
    }
    if (size_t rest = bytes.size() - i; rest > 0) {
        uint32_t group = bytes[i] << 16;
        if (rest == 2) group |= bytes[i + 1] << 8;
        text += kAlphabet[(group >> 18) & 63];
        text += kAlphabet[(group >> 12) & 63];
        if (rest == 2) text += kAlphabet[(group >> 6) & 63];
    }
    return text;
}

std::vector<uint8_t> Cryptography::SecureRandomBytes(size_t count) {
    std::vector<uint8_t> bytes(count);
    if (count > 0 && RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) {
        throw PlatformError(E_FAIL, "the system random generator failed");
    }
    return bytes;
}

}  // namespace platform
