#include "Platform/Storage/LocalSettings.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>

#include "Platform/Storage/ReplaceFile.h"

namespace platform {

namespace {

using nlohmann::json;

// Every value carries its kind, so that an int32 comes back as an int32 and not as a double.
json Encode(const Value& value);

json EncodeSet(const ValueSet& set) {
    json object = json::object();
    for (const auto& [key, value] : set) object[key] = Encode(value);
    return object;
}

json Encode(const Value& value) {
    switch (value.Kind()) {
        case ValueKind::String:
            return {{"type", "string"}, {"value", value.AsString()}};
        case ValueKind::Boolean:
            return {{"type", "boolean"}, {"value", value.AsBoolean()}};
        case ValueKind::Int32:
            return {{"type", "int32"}, {"value", value.AsInt32()}};
        case ValueKind::Double: {
            // JSON has no NaN or infinities (they would be written as null and make the file unreadable):
            // they are written as these texts.
            const double number = value.AsDouble();
            if (std::isnan(number)) return {{"type", "double"}, {"value", "NaN"}};
            if (std::isinf(number))
                return {{"type", "double"}, {"value", number > 0 ? "Infinity" : "-Infinity"}};
            return {{"type", "double"}, {"value", number}};
        }
        case ValueKind::StringArray:
            return {{"type", "strings"}, {"value", value.AsStringArray()}};
        case ValueKind::ValueSet:
            return {{"type", "set"}, {"value", EncodeSet(value.AsValueSet())}};
    }
    return nullptr;
}

ValueSet DecodeSet(const json& object);

[[noreturn]] void WrongValue(const std::string& type) {
    throw std::runtime_error("a value of type " + type + " that is not one");
}

// Each kind only from the JSON that writes it: nlohmann's conversions would read true as the int32 1,
// cut 1.5 to 1, and take 1e20 into an int32 (undefined behaviour).
Value Decode(const json& entry) {
    if (!entry.is_object()) throw std::runtime_error("an entry that is not an object");
    const std::string& type = entry.at("type").get_ref<const std::string&>();
    const json& value = entry.at("value");
    if (type == "string") {
        if (!value.is_string()) WrongValue(type);
        return Value(value.get<std::string>());
    }
    if (type == "boolean") {
        if (!value.is_boolean()) WrongValue(type);
        return Value(value.get<bool>());
    }
    if (type == "int32") {
        if (!value.is_number_integer()) WrongValue(type);
        if (value.is_number_unsigned()) {
            const uint64_t number = value.get<uint64_t>();
            if (number > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) WrongValue(type);
            return Value(static_cast<int32_t>(number));
        }
        const int64_t number = value.get<int64_t>();
        if (number < std::numeric_limits<int32_t>::min() || number > std::numeric_limits<int32_t>::max())
            WrongValue(type);
        return Value(static_cast<int32_t>(number));
    }
    if (type == "double") {
        if (value.is_number()) return Value(value.get<double>());
        if (value == "NaN") return Value(std::numeric_limits<double>::quiet_NaN());
        if (value == "Infinity") return Value(std::numeric_limits<double>::infinity());
        if (value == "-Infinity") return Value(-std::numeric_limits<double>::infinity());
        WrongValue(type);
    }
    if (type == "strings") {
        if (!value.is_array()) WrongValue(type);
        std::vector<std::string> texts;
        for (const auto& text : value) {
            if (!text.is_string()) WrongValue(type);
            texts.push_back(text.get<std::string>());
        }
        return Value(std::move(texts));
    }
    if (type == "set") return Value(DecodeSet(value));
    throw std::runtime_error("unknown value type " + type);
}

ValueSet DecodeSet(const json& object) {
    if (!object.is_object()) throw std::runtime_error("not an object");
    ValueSet set;
    for (const auto& [key, entry] : object.items()) set.Insert(key, Decode(entry));
    return set;
}

// Serialises writers of one file across processes; threads of this process are serialised by the mutex.
class FileLock {
public:
    explicit FileLock(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);
    }

private:
    int fd_;
};

}  // namespace

LocalSettings::LocalSettings(std::string filePath) : path_(std::move(filePath)) {}

ValueSet LocalSettings::Load(bool* corrupt) const {
    if (corrupt) *corrupt = false;
    int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        // No file yet is the normal first run, not a failure.
        if (errno != ENOENT) {
            std::fprintf(stderr, "LocalSettings: cannot read %s: %s; using no settings\n", path_.c_str(),
                         std::strerror(errno));
            if (corrupt) *corrupt = true;
        }
        return {};
    }
    std::string text;
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    try {
        return DecodeSet(json::parse(text));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "LocalSettings: ignoring unreadable settings file %s: %s\n", path_.c_str(),
                     e.what());
        if (corrupt) *corrupt = true;
        return {};
    }
}

bool LocalSettings::Store(const ValueSet& values, bool replacingCorrupt) {
    const std::string text = EncodeSet(values).dump(2, ' ', false, json::error_handler_t::replace);
    const std::string failure = ReplaceFile(path_, text, 0600, replacingCorrupt ? path_ + ".corrupt" : "");
    if (!failure.empty()) {
        std::fprintf(stderr, "LocalSettings: %s; the settings stay as they were\n", failure.c_str());
        return false;
    }
    return true;
}

template <typename Change>
bool LocalSettings::Modify(Change change) {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
    FileLock fileLock(path_ + ".lock");
    bool corrupt = false;
    ValueSet values = Load(&corrupt);
    if (!change(values)) return true;
    return Store(values, corrupt);
}

std::optional<Value> LocalSettings::Lookup(std::string_view key) const {
    std::lock_guard lock(mutex_);
    ValueSet values = Load(nullptr);
    if (!values.HasKey(key)) return std::nullopt;
    return values.Lookup(key);
}

bool LocalSettings::Insert(std::string_view key, const Value& value) {
    return Modify([&](ValueSet& values) {
        values.Insert(std::string(key), value);
        return true;
    });
}

bool LocalSettings::Remove(std::string_view key) {
    return Modify([&](ValueSet& values) { return values.Remove(key); });
}

ValueSet LocalSettings::Values() const {
    std::lock_guard lock(mutex_);
    return Load(nullptr);
}

}  // namespace platform
