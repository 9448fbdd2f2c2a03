// The token reply: the token endpoint's body, as a code exchange and as a refresh read it. What
// must hold: only a PlatformError (E_INVALIDARG) comes out; the tokens taken are visible ASCII of a
// bounded length (they go into an Authorization header and the vault); a reply written back as JSON
// parses to the same reply.
#include <nlohmann/json.hpp>

#include "Platform/Foundation/PlatformError.h"
#include "VelmoraUtils/TokenReply.h"
#include "fuzz/FuzzSupport.h"

using utils::TokenReply;

namespace {

void Check(std::string_view body, bool requireRefresh) {
    TokenReply reply;
    try {
        reply = TokenReply::Parse(body, requireRefresh);
    } catch (const platform::PlatformError& error) {
        FUZZ_CHECK(error.code() == platform::E_INVALIDARG, error.what());
        return;
    } catch (const std::exception& error) {
        fuzz::Fail("only a PlatformError escapes TokenReply::Parse", error.what());
    }
    FUZZ_CHECK(TokenReply::IsAcceptableToken(reply.accessToken), "an access token that is no token");
    FUZZ_CHECK(!requireRefresh || reply.refreshToken, "a code exchange without a refresh token");
    if (reply.refreshToken)
        FUZZ_CHECK(TokenReply::IsAcceptableToken(*reply.refreshToken), "a bad refresh token");
    for (char c : reply.accessToken) FUZZ_CHECK(c != '\r' && c != '\n', "a line break in a token");

    nlohmann::json written = {
        {"access_token", reply.accessToken}, {"expires_in", reply.expiresIn}, {"token_type", "Bearer"}};
    if (reply.refreshToken) written["refresh_token"] = *reply.refreshToken;
    TokenReply again = TokenReply::Parse(written.dump(), requireRefresh);
    FUZZ_CHECK(again.accessToken == reply.accessToken && again.refreshToken == reply.refreshToken &&
                   again.expiresIn == reply.expiresIn,
               "the reply written back parses differently: " + written.dump());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view body(reinterpret_cast<const char*>(data), size);
    Check(body, true);
    Check(body, false);
    return 0;
}
