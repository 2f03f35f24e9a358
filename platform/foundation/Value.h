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
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
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
        : m_v(std::move(other.m_v)) {
        other.m_v.emplace<std::monostate>(); // leaves `other` nil
    }
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
        : m_v(std::in_place_type<std::string>, std::move(v)) {}
    Value(std::string_view v)
        : m_v(std::in_place_type<std::string>, v) {}
    Value(const char* v)
        : m_v(std::in_place_type<std::string>, v) {}
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
    friend class ValueDictionaryBuilder;
    void dismantle() noexcept;

    std::variant<std::monostate, Null, Number, std::string, platform::Data, platform::Date, URLPtr,
                 std::shared_ptr<ValueArray>, std::shared_ptr<ValueDictionary>, std::shared_ptr<ValueSet>,
                 ObjectPtr>
        m_v;
};

// Keys keep the order in which they were first inserted; setting an existing key keeps its place.
// Lookups take a string_view and never build a string, whatever the dictionary's size.
class ValueDictionary {
public:
    using Entry = std::pair<std::string, Value>;

    ValueDictionary() = default;
    ValueDictionary(std::initializer_list<Entry> entries);
    ValueDictionary(const ValueDictionary& other);
    ValueDictionary(ValueDictionary&& other) noexcept;
    ValueDictionary& operator=(const ValueDictionary& other);
    ValueDictionary& operator=(ValueDictionary&& other) noexcept;
    ~ValueDictionary();

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    const Value& get(std::string_view key) const; // nil when absent
    void set(std::string key, Value value);       // a nil value removes the key
    void reserve(size_t count);
    bool remove(std::string_view key);
    void clear();

    std::vector<std::string> keys() const;
    const Entry* begin() const { return m_data; }
    const Entry* end() const { return m_data + m_size; }
    std::span<const Entry> entries() const { return {m_data, m_size}; }

    bool operator==(const ValueDictionary& other) const; // same keys and equal values, order aside

private:
    friend class Value;
    friend class ValueDictionaryBuilder;
    // Small dictionaries are searched in order; larger ones keep an index, kept up to date by every
    // change, so lookups never write and copies can be read on several threads at once. The index
    // views the entries' own keys, so it is rebuilt whenever the entries move.
    static constexpr size_t kIndexThreshold = 16;
    using Index = std::unordered_map<std::string_view, size_t>;

    // Entries may live in storage this dictionary does not own: the tail of the allocation that holds
    // the dictionary itself (a Value's dictionary sized once by a reader). Such storage is used while
    // it suffices and abandoned, never freed, once the dictionary outgrows it.
    void useStorage(Entry* storage, size_t capacity);
    void relocate(size_t capacity);
    template <typename Key> void append(Key&& key, Value&& value); // the key a string or a view
    void releaseStorage() noexcept;
    void takeEntries(ValueDictionary& other) noexcept;
    bool updateIndex(); // false when two entries share a key
    bool hasRepeatedKey();
    void settleRepeatedKeys();

    Entry* m_data{nullptr};
    size_t m_size{0};
    size_t m_capacity{0};
    bool m_ownsStorage{true};
    std::unique_ptr<Index> m_index;
};

// Builds a Value holding a dictionary in one allocation, sized for the number of entries a reader
// already knows (a parsed object), and fills it without a search per key. finish() then settles a
// key that came more than once as set() would have (its first place, its last value) and drops
// entries left nil; until then the dictionary is not visible to anyone. Entries past the expected
// count are still taken, in storage of their own.
class ValueDictionaryBuilder {
public:
    explicit ValueDictionaryBuilder(size_t expectedCount);
    void append(std::string_view key, Value value);
    // The new entry's value, nil until assigned. An entry within the expected count is built here,
    // without a call: a reader appends every member of every object it reads.
    Value& append(std::string_view key) {
        ValueDictionary& dictionary = *m_dictionary;
        if (dictionary.m_size == dictionary.m_capacity)
            return appendPastExpected(key);
        auto* entry = ::new (static_cast<void*>(dictionary.m_data + dictionary.m_size))
            ValueDictionary::Entry(std::piecewise_construct, std::forward_as_tuple(key),
                                   std::forward_as_tuple());
        ++dictionary.m_size;
        return entry->second;
    }
    Value finish();

private:
    Value& appendPastExpected(std::string_view key);

    std::shared_ptr<ValueDictionary> m_dictionary;
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
