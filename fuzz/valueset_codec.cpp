// Platform/AppService's codec (the desktop channel's value sets on D-Bus): messages written with every D-Bus
// type a peer could send, read as value sets with and without limits, as a push, a request and a reply are
// read. What must hold: a message of the six kinds within the limits reads as the value set written;
// another type is refused with E_NOINTERFACE and a passed limit with E_INVALIDARG, never anything else;
// what was read writes and reads back to the same value set; the envelope and every record parse on top
// of it with only PlatformErrors.
#include <sdbus-c++/sdbus-c++.h>

#include "Platform/AppService/ValueSetCodec.h"
#include "Platform/Foundation/PlatformError.h"
#include "VelmoraUtils/IDesktopAPIConnection.h"
#include "fuzz/FuzzSupport.h"

namespace sdbus {
// Exported by libsdbus-c++ (the message the library's own Variant is built on), not declared in its headers.
PlainMessage createPlainMessage();
}  // namespace sdbus

using platform::PlatformError;
using platform::Value;
using platform::ValueSet;
using platform::detail::ValueSetCodec;

namespace {

struct Written {
    bool foreign = false;  // a type no ValueSet carries, or sets nested too deeply, somewhere
    size_t values = 0;
};

void WriteSet(fuzz::Input& input, sdbus::Message& message, ValueSet& expected, Written& written, int depth);

void WriteVariant(fuzz::Input& input, sdbus::Message& message, std::string key, ValueSet& expected,
                  Written& written, int depth) {
    ++written.values;
    const uint8_t kind = input.Byte() % (depth < 40 ? 14 : 13);
    switch (kind) {
        case 0: {
            std::string text = input.Text(fuzz::ProtocolWords());
            // The bus carries only valid UTF-8 without NULs; sd-bus refuses to write anything else.
            if (!fuzz::IsValidUtf8(text) || text.find('\0') != std::string::npos) text = "x";
            message.openVariant("s") << text;
            expected.Insert(std::move(key), Value(text));
            break;
        }
        case 1: {
            bool flag = input.Bool();
            message.openVariant("b") << flag;
            expected.Insert(std::move(key), Value(flag));
            break;
        }
        case 2: {
            int32_t number = input.I32();
            message.openVariant("i") << number;
            expected.Insert(std::move(key), Value(number));
            break;
        }
        case 3: {
            double number = input.Double();
            message.openVariant("d") << number;
            expected.Insert(std::move(key), Value(number));
            break;
        }
        case 4: {
            std::vector<std::string> texts;
            for (size_t n = input.Below(6); n > 0; --n) {
                std::string text = input.Text(fuzz::ProtocolWords(), 16);
                if (!fuzz::IsValidUtf8(text) || text.find('\0') != std::string::npos) text = "y";
                texts.push_back(text);
                ++written.values;
            }
            message.openVariant("as") << texts;
            expected.Insert(std::move(key), Value(texts));
            break;
        }
        case 5:
            written.foreign = true;
            message.openVariant("x") << input.I64();
            break;
        case 6:
            written.foreign = true;
            message.openVariant("u") << input.U32();
            break;
        case 7:
            written.foreign = true;
            message.openVariant("y") << input.Byte();
            break;
        case 8:
            written.foreign = true;
            message.openVariant("ay") << std::vector<uint8_t>{input.Byte(), input.Byte()};
            break;
        case 9:
            written.foreign = true;
            message.openVariant("o") << sdbus::ObjectPath("/corvana/partnerApi");
            break;
        case 10:
            written.foreign = true;
            message.openVariant("a{ss}") << std::map<std::string, std::string>{{"a", "b"}};
            break;
        case 11:
            written.foreign = true;
            message.openVariant("(is)") << sdbus::Struct<int32_t, std::string>(input.I32(), "z");
            break;
        case 12:
            written.foreign = true;
            message.openVariant("ai") << std::vector<int32_t>{input.I32()};
            break;
        default: {
            // Nested deeper than the codec's 32 levels: refused like a foreign type.
            if (depth >= 32) written.foreign = true;
            message.openVariant("a{sv}");
            ValueSet nested;
            WriteSet(input, message, nested, written, depth + 1);
            expected.Insert(std::move(key), Value(std::move(nested)));
            break;
        }
    }
    message.closeVariant();
}

void WriteSet(fuzz::Input& input, sdbus::Message& message, ValueSet& expected, Written& written, int depth) {
    message.openContainer("{sv}");
    for (size_t n = input.Below(20); n > 0 && !input.Empty(); --n) {
        std::string key = input.Text(fuzz::ProtocolKeys(), 24);
        if (!fuzz::IsValidUtf8(key) || key.find('\0') != std::string::npos) key = "k";
        // A repeated key is carried twice on the wire; the set keeps the last one, as the codec does.
        message.openDictEntry("sv");
        message << key;
        WriteVariant(input, message, key, expected, written, depth);
        message.closeDictEntry();
    }
    message.closeContainer();
}

bool ExpectedFailure(const PlatformError& error) {
    return error.code() == platform::E_NOINTERFACE || error.code() == platform::E_INVALIDARG;
}

// Reads the message as a value set; nullopt when it was refused (with a check of how).
std::optional<ValueSet> Read(sdbus::Message& message, const ValueSetCodec::Limits* limits, bool foreign,
                             const std::string& what) {
    message.rewind(true);
    try {
        return limits ? ValueSetCodec::Read(message, *limits) : ValueSetCodec::Read(message);
    } catch (const PlatformError& error) {
        FUZZ_CHECK(ExpectedFailure(error),
                   what + ": code " + std::to_string(error.code()) + ": " + error.what());
        FUZZ_CHECK(foreign || limits, what + ": a message of the six kinds was refused: " + error.what());
    } catch (const std::exception& error) {
        fuzz::Fail("only a PlatformError escapes ValueSetCodec::Read", what + ": " + error.what());
    }
    return std::nullopt;
}

size_t CountValues(const ValueSet& set) {
    size_t n = 0;
    for (const auto& [key, value] : set) {
        ++n;
        if (value.Kind() == platform::ValueKind::ValueSet) n += CountValues(value.AsValueSet());
        if (value.Kind() == platform::ValueKind::StringArray) n += value.AsStringArray().size();
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    auto message = sdbus::createPlainMessage();
    ValueSet expected;
    Written written;
    const uint8_t shape = input.Byte();
    if (shape < 8) {
        // Not a dictionary at all, where one is expected.
        written.foreign = true;
        message << std::string("not a dictionary");
    } else {
        WriteSet(input, message, expected, written, 0);
    }
    message.seal();

    const ValueSetCodec::Limits limits{static_cast<size_t>(input.Below(8)) * 512 + 64,
                                       static_cast<size_t>(input.Below(8)) * 8 + 1};
    auto unlimited = Read(message, nullptr, written.foreign, "unlimited");
    auto limited = Read(message, &limits, written.foreign, "limited");
    if (!written.foreign) {
        FUZZ_CHECK(unlimited.has_value(), "a message of the six kinds reads");
        FUZZ_CHECK(fuzz::Same(*unlimited, expected),
                   fuzz::Describe(*unlimited) + " read, " + fuzz::Describe(expected) + " written");
    } else {
        FUZZ_CHECK(!unlimited.has_value(),
                   "a message with another type was read: " + fuzz::Describe(*unlimited));
    }
    if (limited) {
        FUZZ_CHECK(CountValues(*limited) <= limits.maxValues, std::to_string(CountValues(*limited)) +
                                                                  " values read under a limit of " +
                                                                  std::to_string(limits.maxValues));
        FUZZ_CHECK(unlimited && fuzz::Same(*limited, *unlimited), "the limit changed what was read");
    }
    if (!unlimited) return 0;

    // What was read writes and reads back the same.
    auto again = sdbus::createPlainMessage();
    ValueSetCodec::Write(again, *unlimited);
    again.seal();
    auto reread = Read(again, nullptr, false, "written back");
    FUZZ_CHECK(reread && fuzz::Same(*reread, *unlimited), "the value set written back reads differently");

    // The envelope on top, as a reply and as a push are read.
    try {
        auto response = utils::ReadResponse(*unlimited);
        (void)response;
    } catch (const PlatformError& error) {
        FUZZ_CHECK(error.code() == platform::E_NOINTERFACE, "ReadResponse: " + std::string(error.what()));
    }
    try {
        auto notification = utils::ReadNotification(*unlimited);
        (void)notification;
    } catch (const PlatformError& error) {
        FUZZ_CHECK(error.code() == platform::E_NOINTERFACE || error.code() == platform::E_BOUNDS,
                   "ReadNotification: " + std::string(error.what()));
    }
    return 0;
}
