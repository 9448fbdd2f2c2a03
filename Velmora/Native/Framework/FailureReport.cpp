#include "Velmora/Native/Framework/FailureReport.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "Platform/Foundation/PlatformError.h"
#include "VelmoraUtils/Logger.h"

namespace framework {

void ReportFailure(std::string_view operation, std::exception_ptr error,
                   std::source_location where) noexcept {
    int32_t code = platform::E_FAIL;
    std::string message = "unknown failure";
    try {
        std::rethrow_exception(error);
    } catch (const platform::PlatformError& e) {
        code = e.code();
        message = e.message().empty() ? platform::FormatResultCode(code) : e.message();
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
    }
    try {
        utils::Logger::Instance().LogError(std::string(operation) + " failed: " + message);
    } catch (...) {
    }
    std::fprintf(stderr, "%s(%u) tid(%lx) %08X %s\n", where.file_name(), static_cast<unsigned>(where.line()),
                 static_cast<unsigned long>(::syscall(SYS_gettid)), static_cast<unsigned>(code),
                 message.c_str());
}

}  // namespace framework
