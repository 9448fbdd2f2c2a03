#pragma once

#include <exception>
#include <source_location>
#include <string_view>

namespace framework {

// Reports a failure caught at the boundary of a view-model operation, so that it never reaches the event
// loop: one "ERROR" line in the session log ("<operation> failed: <message>") and one line on standard
// error in the debugger-output form "file(line) tid(thread) CODE message". Platform errors keep their
// result code; anything else is reported as E_FAIL.
void ReportFailure(std::string_view operation, std::exception_ptr error,
                   std::source_location where = std::source_location::current()) noexcept;

}  // namespace framework
