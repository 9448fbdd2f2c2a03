#pragma once
// What the fuzz targets share: a reader of the fuzzer's bytes as typed choices, value sets made from them,
// the desktop records written back as the value sets the desktop app would send, and the check that ends
// a run with a finding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Foundation/ValueSet.h"
#include "VelmoraUtils/DesktopApiTypes.h"

namespace fuzz {

// The fuzzer's bytes, taken from the front as choices. Once they run out every choice is 0 or empty, so
// that each input is a whole program.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    size_t Left() const { return Empty() ? 0 : size_ - at_; }
    uint8_t Byte() { return Empty() ? 0 : data_[at_++]; }
    bool Bool() { return Byte() & 1; }
    uint32_t U32();
    int32_t I32() { return static_cast<int32_t>(U32()); }
    int64_t I64();
    double Double();  // any bit pattern: NaN, infinities and subnormals included
    size_t Below(size_t bound) { return bound == 0 ? 0 : Byte() % bound; }
    // Up to `maxBytes` raw bytes (any bytes, invalid UTF-8 included).
    std::string Bytes(size_t maxBytes);
    // A text: one of `words` or raw bytes.
    std::string Text(const std::vector<std::string_view>& words, size_t maxBytes = 64);
    std::string_view Rest();

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Sends what the code under test writes to standard error (log lines, settings reports) to /dev/null:
// libFuzzer's own lines, sanitizer reports and Fail's text still reach the real standard error.
void QuietStandardError();

// Ends the run with a finding: libFuzzer keeps the input as a crash reproducer.
[[noreturn]] void Fail(const char* check, const std::string& detail);
#define FUZZ_CHECK(condition, detail)                         \
    do {                                                      \
        if (!(condition)) ::fuzz::Fail(#condition, (detail)); \
    } while (0)

// Every key of the desktop protocol, so that made-up sets reach past the first lookup.
const std::vector<std::string_view>& ProtocolKeys();
// Texts the protocol gives meaning to ("true", "context", "0", ...).
const std::vector<std::string_view>& ProtocolWords();

// A value set of protocol keys (and some others) with values of every kind, nested up to `depth`.
platform::ValueSet MakeValueSet(Input& input, int depth = 4);
platform::Value MakeValue(Input& input, int depth);

// Equality that holds a NaN equal to a NaN (a record read twice must come out the same).
bool Same(const platform::Value& a, const platform::Value& b);
bool Same(const platform::ValueSet& a, const platform::ValueSet& b);
std::string Describe(const platform::Value& value);
std::string Describe(const platform::ValueSet& set);

// The records as the desktop app sends them: parsing the result gives the record back.
platform::ValueSet Encode(const desktop_api_types::PlaybackTrack& track);
platform::ValueSet Encode(const desktop_api_types::PlaybackRestrictions& restrictions);
platform::ValueSet Encode(const desktop_api_types::PlaybackStateResponse& state);
platform::ValueSet Encode(const desktop_api_types::ConnectActiveDeviceResponse& device);
platform::ValueSet Encode(const desktop_api_types::ConnectDevice& device);
platform::ValueSet Encode(const desktop_api_types::ConnectClusterResponse& cluster);
platform::ValueSet Encode(const desktop_api_types::ConnectionStateResponse& state);
platform::ValueSet Encode(const desktop_api_types::LoginStateResponse& state);
platform::ValueSet Encode(const desktop_api_types::AuthCodeResponse& code);
platform::ValueSet Encode(const desktop_api_types::ErrorResponse& error);
platform::ValueSet EncodeContext(const std::string& uri);

// A playback state, a device list and an active device made of the bytes, each a record a parser could
// have returned.
desktop_api_types::PlaybackStateResponse MakePlaybackState(Input& input);
desktop_api_types::ConnectClusterResponse MakeCluster(Input& input);

// A scratch folder of this process (in /dev/shm where there is one, so that file runs stay off the disk),
// made once and removed at exit, so that the regression runs of every build leave nothing behind.
const std::string& ScratchFolder(std::string_view name);

// Whether `text` is valid UTF-8 (what every text sent on to the page or the bus must be).
bool IsValidUtf8(std::string_view text);

}  // namespace fuzz
