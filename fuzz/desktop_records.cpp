// The desktop link's parsing of every notification and reply: the envelope (response, notification, error
// text) and each record's parser, over value sets made of the fuzzer's bytes. What must hold: only a
// PlatformError of a missing key (E_BOUNDS) or a wrong kind (E_NOINTERFACE) comes out; a record that
// parses, written back as the desktop app would send it, parses to the same record; a device list holds
// no more devices than the value set carried.
#include <functional>

#include "Platform/Foundation/PlatformError.h"
#include "VelmoraUtils/IDesktopAPIConnection.h"
#include "fuzz/FuzzSupport.h"

using namespace desktop_api_types;
using platform::PlatformError;
using platform::Value;
using platform::ValueSet;

namespace {

size_t CountValues(const ValueSet& set) {
    size_t n = 0;
    for (const auto& [key, value] : set) {
        ++n;
        if (value.Kind() == platform::ValueKind::ValueSet) n += CountValues(value.AsValueSet());
    }
    return n;
}

void ExpectParseFailure(const PlatformError& error, const std::string& what, const Value& value) {
    FUZZ_CHECK(error.code() == platform::E_BOUNDS || error.code() == platform::E_NOINTERFACE,
               what + " failed with code " + std::to_string(error.code()) + " on " + fuzz::Describe(value));
}

// Parses `value`; when that succeeds, the record written back must parse to the same record.
template <typename Record>
void RoundTrip(const char* what, Record (*parse)(const Value&), const Value& value,
               const std::function<void(const Record&)>& extra = {}) {
    Record record;
    try {
        record = parse(value);
    } catch (const PlatformError& error) {
        ExpectParseFailure(error, what, value);
        return;
    } catch (const std::exception& error) {
        fuzz::Fail("only a PlatformError escapes a parser",
                   std::string(what) + ": " + error.what() + " on " + fuzz::Describe(value));
    }
    if (extra) extra(record);
    const ValueSet written = fuzz::Encode(record);
    Record again;
    try {
        again = parse(Value(written));
    } catch (const std::exception& error) {
        fuzz::Fail("a record written back parses",
                   std::string(what) + ": " + error.what() + " on " + fuzz::Describe(written));
    }
    const ValueSet rewritten = fuzz::Encode(again);
    FUZZ_CHECK(fuzz::Same(written, rewritten), std::string(what) + ": " + fuzz::Describe(written) +
                                                   " came back as " + fuzz::Describe(rewritten));
}

std::string ContextOf(const Value& value) {
    return ParsePlaybackContext(value);
}

void EveryParser(const Value& value, size_t valuesIn) {
    RoundTrip<PlaybackStateResponse>(
        "PlaybackStateResponse", ParsePlaybackStateResponse, value, [](const PlaybackStateResponse& s) {
            FUZZ_CHECK(!(s.repeat_context && s.repeat_track), "both repeat flags set");
        });
    RoundTrip<PlaybackTrack>("PlaybackTrack", ParsePlaybackTrack, value);
    RoundTrip<PlaybackRestrictions>("PlaybackRestrictions", ParsePlaybackRestrictions, value);
    RoundTrip<ConnectActiveDeviceResponse>("ConnectActiveDeviceResponse", ParseConnectActiveDeviceResponse,
                                           value);
    RoundTrip<ConnectDevice>("ConnectDevice", ParseConnectDevice, value);
    RoundTrip<ConnectClusterResponse>("ConnectClusterResponse", ParseConnectClusterResponse, value,
                                      [valuesIn](const ConnectClusterResponse& c) {
                                          FUZZ_CHECK(c.devices.size() <= valuesIn,
                                                     std::to_string(c.devices.size()) + " devices from " +
                                                         std::to_string(valuesIn) + " values");
                                      });
    RoundTrip<ConnectionStateResponse>("ConnectionStateResponse", ParseConnectionStateResponse, value);
    RoundTrip<LoginStateResponse>("LoginStateResponse", ParseLoginStateResponse, value);
    RoundTrip<AuthCodeResponse>("AuthCodeResponse", ParseAuthCodeResponse, value);
    RoundTrip<ErrorResponse>("ErrorResponse", ParseErrorResponse, value);
    try {
        std::string uri = ContextOf(value);
        std::string again = ContextOf(Value(fuzz::EncodeContext(uri)));
        FUZZ_CHECK(uri == again, "the context's uri changed");
    } catch (const PlatformError& error) {
        ExpectParseFailure(error, "ParsePlaybackContext", value);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    const ValueSet message = fuzz::MakeValueSet(input);
    const size_t valuesIn = CountValues(message);

    // The envelope of a reply and of a pushed notification.
    try {
        auto response = utils::ReadResponse(message);
        FUZZ_CHECK(response.is_error == message.HasKey("error"), fuzz::Describe(message));
        EveryParser(Value(response.data), valuesIn);
        if (response.is_error) {
            try {
                std::string text = desktop_api_types::ErrorText("me", response.data);
                FUZZ_CHECK(text.starts_with("DesktopAPIController Error: "), text);
            } catch (const PlatformError& error) {
                ExpectParseFailure(error, "ErrorText", Value(response.data));
            }
        }
    } catch (const PlatformError& error) {
        ExpectParseFailure(error, "ReadResponse", Value(message));
    } catch (const std::exception& error) {
        fuzz::Fail("only a PlatformError escapes ReadResponse", error.what());
    }
    try {
        auto notification = utils::ReadNotification(message);
        EveryParser(Value(notification.params), valuesIn);
    } catch (const PlatformError& error) {
        ExpectParseFailure(error, "ReadNotification", Value(message));
    } catch (const std::exception& error) {
        fuzz::Fail("only a PlatformError escapes ReadNotification", error.what());
    }
    // The set itself as a record, and every nested set in it.
    EveryParser(Value(message), valuesIn);
    for (const auto& [key, value] : message) EveryParser(value, valuesIn);
    return 0;
}
