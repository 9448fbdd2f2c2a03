#include <gtest/gtest.h>

#include <cstdlib>

#include "VelmoraUtils/CorvanaEndpoints.h"
#include "tests/support/LogCapture.h"

using utils::CorvanaEndpoints;

TEST(CorvanaEndpoints, TheOverridesInForceOrTheirAbsenceAreReportedOnceAsInfo) {
    struct Case {
        const char* accounts;
        const char* webApi;
        const char* caFile;
        const char* line;
    };
    for (const auto& [accounts, webApi, caFile, line] : std::vector<Case>{
             {nullptr, nullptr, nullptr,
              "INFO CorvanaEndpoints: no development overrides (VELMORA_ACCOUNTS_URL, VELMORA_WEBAPI_URL and "
              "VELMORA_CA_FILE unset) - accounts: https://accounts.corvana.com, web API: "
              "https://api.corvana.com"},
             {"https://127.0.0.1:8443", "https://127.0.0.1:8443", "/tmp/ca.pem",
              "INFO CorvanaEndpoints: development overrides in force - accounts: https://127.0.0.1:8443, web "
              "API: "
              "https://127.0.0.1:8443, extra CA: /tmp/ca.pem (trusted for the overridden origins only)"},
             {nullptr, "https://127.0.0.1:9443", nullptr,
              "INFO CorvanaEndpoints: development overrides in force - accounts: "
              "https://accounts.corvana.com, web "
              "API: https://127.0.0.1:9443, extra CA: none"}}) {
        SCOPED_TRACE(line);
        for (auto [variable, value] : {std::pair{"VELMORA_ACCOUNTS_URL", accounts},
                                       {"VELMORA_WEBAPI_URL", webApi},
                                       {"VELMORA_CA_FILE", caFile}}) {
            if (value) {
                ::setenv(variable, value, 1);
            } else {
                ::unsetenv(variable);
            }
        }
        testsupport::LogCapture log;
        for (int i = 0; i < 3; ++i) CorvanaEndpoints::ReportOverrides();
        EXPECT_EQ(log.Lines(), std::vector<std::string>{line});
    }
    for (const char* variable : {"VELMORA_ACCOUNTS_URL", "VELMORA_WEBAPI_URL", "VELMORA_CA_FILE"})
        ::unsetenv(variable);
}
