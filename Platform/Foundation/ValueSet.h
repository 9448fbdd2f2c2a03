#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

class ValueSet;

enum class ValueKind { String, Boolean, Int32, Double, StringArray, ValueSet };

std::string_view ToString(ValueKind kind);

// One boxed value of a ValueSet. The kinds stay distinct: an int32 is never read as a double, and reading
// a value as another kind throws E_NOINTERFACE. Values are immutable once boxed, so a nested set can be
// shared between copies and read from any thread.
class Value {
public:
    Value(std::string text) : data_(std::move(text)) {}
    Value(const char* text) : data_(std::string(text)) {}
    Value(std::string_view text) : data_(std::string(text)) {}
    Value(bool flag) : data_(flag) {}
    Value(int32_t number) : data_(number) {}
    Value(double number) : data_(number) {}
    Value(std::vector<std::string> texts) : data_(std::move(texts)) {}
    Value(ValueSet set);

    ValueKind Kind() const { return static_cast<ValueKind>(data_.index()); }

    const std::string& AsString() const;
    bool AsBoolean() const;
    int32_t AsInt32() const;
    double AsDouble() const;
    const std::vector<std::string>& AsStringArray() const;
    const ValueSet& AsValueSet() const;

    bool operator==(const Value& other) const;

private:
    [[noreturn]] void ThrowWrongKind(ValueKind wanted) const;

    // The index order matches ValueKind.
    std::variant<std::string, bool, int32_t, double, std::vector<std::string>,
                 std::shared_ptr<const ValueSet>>
        data_;
};

// A text-keyed map of typed values: the payload of every message on the desktop channel.
class ValueSet {
public:
    using Map = std::map<std::string, Value, std::less<>>;

    ValueSet() = default;
    ValueSet(std::initializer_list<Map::value_type> entries) : entries_(entries) {}

    // Inserts or replaces; returns true when a value was replaced.
    bool Insert(std::string key, Value value);
    bool HasKey(std::string_view key) const { return entries_.find(key) != entries_.end(); }
    // Throws E_BOUNDS when the key is missing.
    const Value& Lookup(std::string_view key) const;
    bool Remove(std::string_view key) { return entries_.erase(std::string(key)) > 0; }
    void Clear() { entries_.clear(); }

    size_t Size() const { return entries_.size(); }
    bool Empty() const { return entries_.empty(); }
    Map::const_iterator begin() const { return entries_.begin(); }
    Map::const_iterator end() const { return entries_.end(); }

    bool operator==(const ValueSet& other) const { return entries_ == other.entries_; }

private:
    Map entries_;
};

}  // namespace platform
