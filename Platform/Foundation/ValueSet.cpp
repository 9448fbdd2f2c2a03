#include "Platform/Foundation/ValueSet.h"

#include "Platform/Foundation/PlatformError.h"

namespace platform {

std::string_view ToString(ValueKind kind) {
    switch (kind) {
        case ValueKind::String:
            return "text";
        case ValueKind::Boolean:
            return "boolean";
        case ValueKind::Int32:
            return "int32";
        case ValueKind::Double:
            return "double";
        case ValueKind::StringArray:
            return "text array";
        case ValueKind::ValueSet:
            return "value set";
    }
    return "unknown";
}

Value::Value(ValueSet set) : data_(std::make_shared<const ValueSet>(std::move(set))) {}

void Value::ThrowWrongKind(ValueKind wanted) const {
    throw PlatformError(E_NOINTERFACE, "value of kind " + std::string(ToString(Kind())) + " read as " +
                                           std::string(ToString(wanted)));
}

const std::string& Value::AsString() const {
    if (auto* text = std::get_if<std::string>(&data_)) return *text;
    ThrowWrongKind(ValueKind::String);
}

bool Value::AsBoolean() const {
    if (auto* flag = std::get_if<bool>(&data_)) return *flag;
    ThrowWrongKind(ValueKind::Boolean);
}

int32_t Value::AsInt32() const {
    if (auto* number = std::get_if<int32_t>(&data_)) return *number;
    ThrowWrongKind(ValueKind::Int32);
}

double Value::AsDouble() const {
    if (auto* number = std::get_if<double>(&data_)) return *number;
    ThrowWrongKind(ValueKind::Double);
}

const std::vector<std::string>& Value::AsStringArray() const {
    if (auto* texts = std::get_if<std::vector<std::string>>(&data_)) return *texts;
    ThrowWrongKind(ValueKind::StringArray);
}

const ValueSet& Value::AsValueSet() const {
    if (auto* set = std::get_if<std::shared_ptr<const ValueSet>>(&data_)) return **set;
    ThrowWrongKind(ValueKind::ValueSet);
}

bool Value::operator==(const Value& other) const {
    if (data_.index() != other.data_.index()) return false;
    if (Kind() == ValueKind::ValueSet) return AsValueSet() == other.AsValueSet();
    return data_ == other.data_;
}

bool ValueSet::Insert(std::string key, Value value) {
    auto [it, inserted] = entries_.insert_or_assign(std::move(key), std::move(value));
    return !inserted;
}

const Value& ValueSet::Lookup(std::string_view key) const {
    auto it = entries_.find(key);
    if (it == entries_.end()) throw PlatformError(E_BOUNDS, "key not found: " + std::string(key));
    return it->second;
}

}  // namespace platform
