#include "Platform/Foundation/PlatformError.h"

#include <cstdio>

namespace platform {

PlatformError::PlatformError(int32_t code, std::string message) : code_(code), message_(std::move(message)) {
    what_ = FormatResultCode(code_);
    if (!message_.empty()) what_ += " " + message_;
}

std::string FormatResultCode(int32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(code));
    return text;
}

}  // namespace platform
