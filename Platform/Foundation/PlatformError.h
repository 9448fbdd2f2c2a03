#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace platform {

// Result codes keep the values callers and logs already know them by.
inline constexpr int32_t E_FAIL = static_cast<int32_t>(0x80004005);
inline constexpr int32_t E_UNEXPECTED = static_cast<int32_t>(0x8000FFFF);
inline constexpr int32_t E_POINTER = static_cast<int32_t>(0x80004003);
inline constexpr int32_t E_BOUNDS = static_cast<int32_t>(0x8000000B);
inline constexpr int32_t E_NOINTERFACE = static_cast<int32_t>(0x80004002);
inline constexpr int32_t E_INVALIDARG = static_cast<int32_t>(0x80070057);
inline constexpr int32_t E_NOTFOUND = static_cast<int32_t>(0x80070490);
inline constexpr int32_t E_ACCESSDENIED = static_cast<int32_t>(0x80070005);
inline constexpr int32_t RPC_E_DISCONNECTED = static_cast<int32_t>(0x80010108);
inline constexpr int32_t RPC_S_SERVER_UNAVAILABLE = static_cast<int32_t>(0x800706BA);

// A failure of a platform operation: a 32-bit result code and a message.
class PlatformError : public std::exception {
public:
    explicit PlatformError(int32_t code, std::string message = {});

    int32_t code() const noexcept { return code_; }
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    int32_t code_;
    std::string message_;
    std::string what_;
};

// "0x8000FFFF" for a result code; used wherever a code is shown to a person.
std::string FormatResultCode(int32_t code);

}  // namespace platform
