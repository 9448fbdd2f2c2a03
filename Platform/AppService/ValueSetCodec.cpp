#include "Platform/AppService/ValueSetCodec.h"

#include <sdbus-c++/sdbus-c++.h>

#include "Platform/Foundation/PlatformError.h"

namespace platform::detail {

namespace {

constexpr int kMaxNesting = 32;

class Reader {
public:
    Reader(sdbus::Message& message, ValueSetCodec::Limits limits) : message_(message), limits_(limits) {}

    ValueSet ReadSet(int depth) {
        // sd-bus refuses to enter a container of another type with an error of its own: look first, so
        // that a message of another shape (a reply of "s", say) is the wrong kind like any other.
        std::string type, contents;
        message_.peekType(type, contents);
        if (type != "a" || contents != "{sv}") throw PlatformError(E_NOINTERFACE, "a message is not a{sv}");
        if (!message_.enterContainer("{sv}")) throw PlatformError(E_NOINTERFACE, "a message is not a{sv}");
        ValueSet set;
        while (message_.enterDictEntry("sv")) {
            std::string key;
            message_ >> key;
            Count(8 + key.size() + 5, 0);  // entry alignment, length, text and terminator
            set.Insert(std::move(key), ReadVariant(depth));
            message_.exitDictEntry();
        }
        message_.clearFlags();
        message_.exitContainer();
        return set;
    }

private:
    Value ReadVariant(int depth) {
        std::string type, contents;
        message_.peekType(type, contents);
        Count(contents.size() + 2, 1);
        message_.enterVariant(contents);
        Value value = ReadContents(contents, depth);
        message_.exitVariant();
        return value;
    }

    Value ReadContents(const std::string& type, int depth) {
        if (type == "s") {
            std::string text;
            message_ >> text;
            Count(text.size() + 5, 0);
            return Value(std::move(text));
        }
        if (type == "b") {
            bool flag = false;
            message_ >> flag;
            Count(4, 0);
            return Value(flag);
        }
        if (type == "i") {
            int32_t number = 0;
            message_ >> number;
            Count(4, 0);
            return Value(number);
        }
        if (type == "d") {
            double number = 0;
            message_ >> number;
            Count(8, 0);
            return Value(number);
        }
        if (type == "as") {
            std::vector<std::string> texts;
            message_.enterContainer("s");
            Count(4, 0);
            for (std::string text; message_ >> text;) {
                Count(text.size() + 5, 1);
                texts.push_back(std::move(text));
            }
            message_.clearFlags();
            message_.exitContainer();
            return Value(std::move(texts));
        }
        if (type == "a{sv}") {
            if (depth >= kMaxNesting) throw PlatformError(E_NOINTERFACE, "value sets nested too deeply");
            return Value(ReadSet(depth + 1));
        }
        throw PlatformError(E_NOINTERFACE, "unsupported D-Bus type '" + type + "' in a message");
    }

    void Count(size_t bytes, size_t values) {
        bytes_ += bytes;
        values_ += values;
        if (bytes_ > limits_.maxBytes || values_ > limits_.maxValues) {
            throw PlatformError(E_INVALIDARG, "the message is larger than " +
                                                  std::to_string(limits_.maxBytes) +
                                                  " bytes or holds more than " +
                                                  std::to_string(limits_.maxValues) + " values");
        }
    }

    sdbus::Message& message_;
    ValueSetCodec::Limits limits_;
    size_t bytes_ = 0;
    size_t values_ = 0;
};

void WriteValue(sdbus::Message& message, const Value& value) {
    switch (value.Kind()) {
        case ValueKind::String:
            message.openVariant("s") << value.AsString();
            break;
        case ValueKind::Boolean:
            message.openVariant("b") << value.AsBoolean();
            break;
        case ValueKind::Int32:
            message.openVariant("i") << value.AsInt32();
            break;
        case ValueKind::Double:
            message.openVariant("d") << value.AsDouble();
            break;
        case ValueKind::StringArray:
            message.openVariant("as") << value.AsStringArray();
            break;
        case ValueKind::ValueSet:
            message.openVariant("a{sv}");
            ValueSetCodec::Write(message, value.AsValueSet());
            break;
    }
    message.closeVariant();
}

}  // namespace

ValueSet ValueSetCodec::Read(sdbus::Message& message, Limits limits) {
    try {
        return Reader(message, limits).ReadSet(0);
    } catch (const sdbus::Error& error) {
        // Whatever else sd-bus refuses to read is a message of the wrong kind too.
        throw PlatformError(E_NOINTERFACE, "a message that cannot be read as a{sv}: " + error.getMessage());
    }
}

ValueSet ValueSetCodec::Read(sdbus::Message& message) {
    return Read(message, Limits{});
}

void ValueSetCodec::Write(sdbus::Message& message, const ValueSet& set) {
    message.openContainer("{sv}");
    for (const auto& [key, value] : set) {
        message.openDictEntry("sv");
        message << key;
        WriteValue(message, value);
        message.closeDictEntry();
    }
    message.closeContainer();
}

}  // namespace platform::detail
