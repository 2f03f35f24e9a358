#pragma once
// The dynamic object graph that collections, JSON, property lists and defaults hand around: nil,
// null, number, string (UTF-8), data, date, URL, array, insertion-ordered dictionary with string keys,
// set, and object (a shared platform Object).
//
// Values have value semantics with shared, copy-on-write storage: copying is cheap and a copy never
// sees later changes of the original. A default-constructed Value is nil. Accessors answer null /
// nil when the value is of another type; they never throw. Not synchronised: share copies, not one
// mutable Value, across threads.

#include "platform/foundation/Data.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"

#include <concepts>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace platform {

class Value;
class ValueDictionary;
class ValueSet;
using ValueArray = std::vector<Value>;

struct Null {
    bool operator==(const Null&) const = default;
};

class Value {
public:
    enum class Type { Nil, Null, Number, String, Data, Date, URL, Array, Dictionary, Set, Object };

    Value() = default;
    Value(const Value&) = default;
    Value(Value&& other) noexcept
        : m_v(std::exchange(other.m_v, {})) {} // leaves `other` nil
    Value& operator=(const Value&) = default;
    Value& operator=(Value&& other) noexcept {
        if (this != &other)
            m_v = std::exchange(other.m_v, {});
        return *this;
    }
    // Deep trees (nested arrays a hostile peer or a program built) are torn down without recursion.
    ~Value();
    Value(Null)
        : m_v(Null{}) {}
    Value(bool v)
        : m_v(Number::boolean(v)) {}
    template <std::signed_integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>) Value(T v)
        : m_v(Number::integer(v)) {}
    template <std::unsigned_integral T>
    requires(!std::same_as<T, bool>) Value(T v)
        : m_v(Number::unsignedInteger(v)) {}
    Value(float v)
        : m_v(Number::floating(v)) {}
    Value(double v)
        : m_v(Number::real(v)) {}
    Value(Number v)
        : m_v(std::move(v)) {}
    Value(std::string v)
        : m_v(std::move(v)) {}
    Value(std::string_view v)
        : m_v(std::string(v)) {}
    Value(const char* v)
        : m_v(std::string(v)) {}
    Value(platform::Data v)
        : m_v(std::move(v)) {}
    Value(platform::Date v)
        : m_v(v) {}
    Value(URLPtr v);
    Value(ValueArray v);
    Value(ValueDictionary v);
    Value(ValueSet v);
    Value(ObjectPtr v);
    template <typename T>
    requires std::derived_from<T, platform::Object> Value(std::shared_ptr<T> v)
        : Value(std::static_pointer_cast<platform::Object>(std::move(v))) {}

    static Value null() { return Value(Null{}); }
    static Value array(std::initializer_list<Value> members);
    static Value dictionary(std::initializer_list<std::pair<std::string, Value>> entries);

    Type type() const { return static_cast<Type>(m_v.index()); }
    bool isNil() const { return type() == Type::Nil; }
    bool isNull() const { return type() == Type::Null; }
    bool isNumber() const { return type() == Type::Number; }
    bool isString() const { return type() == Type::String; }
    bool isData() const { return type() == Type::Data; }
    bool isDate() const { return type() == Type::Date; }
    bool isURL() const { return type() == Type::URL; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }
    bool isSet() const { return type() == Type::Set; }
    bool isObject() const { return type() == Type::Object; }
    explicit operator bool() const { return !isNil(); }

    const Number* number() const { return std::get_if<Number>(&m_v); }
    const std::string* string() const { return std::get_if<std::string>(&m_v); }
    const platform::Data* data() const { return std::get_if<platform::Data>(&m_v); }
    const platform::Date* date() const { return std::get_if<platform::Date>(&m_v); }
    URLPtr url() const;
    const ValueArray* array() const;
    const ValueDictionary* dictionary() const;
    const ValueSet* set() const;
    ObjectPtr object() const;
    template <typename T> std::shared_ptr<T> objectAs() const {
        return std::dynamic_pointer_cast<T>(object());
    }

    // Copy-on-write access for building; null when the value is of another type.
    ValueArray* mutableArray();
    ValueDictionary* mutableDictionary();
    ValueSet* mutableSet();

    // Lookups that answer nil for a missing key or index, or when this is not a dictionary / array.
    const Value& operator[](std::string_view key) const;
    const Value& operator[](const char* key) const { return (*this)[std::string_view(key)]; }
    const Value& at(size_t index) const;
    template <std::integral T> const Value& operator[](T index) const {
        if constexpr (std::is_signed_v<T>) {
            if (index < 0)
                return nil();
        }
        return at(static_cast<size_t>(index));
    }
    size_t count() const; // members of an array, dictionary or set; 0 otherwise

    // Convenience readers with a fallback for any other type.
    std::string stringOr(std::string_view fallback = {}) const;
    int64_t int64Or(int64_t fallback = 0) const;
    double doubleOr(double fallback = 0) const;
    bool boolOr(bool fallback = false) const;

    // Equality as the platform's isEqual: numbers across kinds, collections member-wise, objects by identity.
    bool operator==(const Value& other) const;
    size_t hash() const;

    // A debugging text, in the style of the platform's description.
    std::string description() const;

    static const Value& nil();

private:
    void dismantle() noexcept;

    std::variant<std::monostate, Null, Number, std::string, platform::Data, platform::Date, URLPtr,
                 std::shared_ptr<ValueArray>, std::shared_ptr<ValueDictionary>, std::shared_ptr<ValueSet>,
                 ObjectPtr>
        m_v;
};

// Keys keep the order in which they were first inserted; setting an existing key keeps its place.
class ValueDictionary {
public:
    using Entry = std::pair<std::string, Value>;

    ValueDictionary() = default;
    ValueDictionary(std::initializer_list<Entry> entries);
    ValueDictionary(const ValueDictionary& other)
        : m_entries(other.m_entries) {
        updateIndex();
    }
    ValueDictionary(ValueDictionary&&) noexcept = default;
    ValueDictionary& operator=(const ValueDictionary& other);
    ValueDictionary& operator=(ValueDictionary&&) noexcept = default;

    size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    const Value& get(std::string_view key) const; // nil when absent
    void set(std::string key, Value value);       // a nil value removes the key
    void reserve(size_t count) { m_entries.reserve(count); }
    bool remove(std::string_view key);
    void clear();

    std::vector<std::string> keys() const;
    auto begin() const { return m_entries.begin(); }
    auto end() const { return m_entries.end(); }
    const std::vector<Entry>& entries() const { return m_entries; }

    bool operator==(const ValueDictionary& other) const; // same keys and equal values, order aside

private:
    friend class Value;
    // Small dictionaries are searched in order; larger ones keep an index, kept up to date by every
    // change, so lookups never write and copies can be read on several threads at once.
    static constexpr size_t kIndexThreshold = 16;
    void updateIndex();
    std::vector<Entry> m_entries;
    std::unique_ptr<std::unordered_map<std::string, size_t>> m_index;
};

// Unique members by Value equality, kept in insertion order.
class ValueSet {
public:
    ValueSet() = default;
    ValueSet(std::initializer_list<Value> members);

    size_t size() const { return m_members.size(); }
    bool empty() const { return m_members.empty(); }
    bool contains(const Value& member) const;
    bool insert(Value member); // false when an equal member is already there
    bool remove(const Value& member);
    auto begin() const { return m_members.begin(); }
    auto end() const { return m_members.end(); }
    const std::vector<Value>& members() const { return m_members; }

    bool operator==(const ValueSet& other) const;

private:
    friend class Value;
    std::vector<Value> m_members;
    std::unordered_multimap<size_t, size_t> m_byHash;
};

} // namespace platform

template <> struct std::hash<platform::Value> {
    size_t operator()(const platform::Value& v) const { return v.hash(); }
};
