#include "platform/foundation/Value.h"

#include <algorithm>
#include <fmt/format.h>
#include <functional>
#include <memory>

namespace platform {

// ---- Value ----

Value::Value(URLPtr v) {
    if (v)
        m_v = std::move(v);
}

Value::Value(ValueArray v)
    : m_v(std::make_shared<ValueArray>(std::move(v))) {}
Value::Value(ValueDictionary v)
    : m_v(std::make_shared<ValueDictionary>(std::move(v))) {}
Value::Value(ValueSet v)
    : m_v(std::make_shared<ValueSet>(std::move(v))) {}

Value::Value(ObjectPtr v) {
    if (v)
        m_v = std::move(v);
}

Value::~Value() {
    if (!isArray() && !isDictionary() && !isSet())
        return;
    // Trees of ordinary depth come down by plain recursion, which needs no work list; only past a
    // depth no sane document reaches does the flat teardown take over.
    constexpr unsigned kRecursiveDepth = 64;
    thread_local unsigned depth = 0;
    if (depth >= kRecursiveDepth) {
        dismantle();
        return;
    }
    ++depth;
    m_v = std::monostate{};
    --depth;
}

void Value::dismantle() noexcept {
    // Moves the collections held only by this tree into a work list, so each is destroyed with
    // its nested collections already taken out: the stack stays flat however deep the tree is.
    std::vector<Value> pending;
    auto takeChildren = [&pending](Value& v) {
        auto take = [&pending](Value& child) {
            if (child.isArray() || child.isDictionary() || child.isSet())
                pending.push_back(std::move(child));
        };
        if (auto* a = std::get_if<std::shared_ptr<ValueArray>>(&v.m_v); a && a->use_count() == 1) {
            for (auto& child : **a)
                take(child);
        } else if (auto* d = std::get_if<std::shared_ptr<ValueDictionary>>(&v.m_v);
                   d && d->use_count() == 1) {
            for (size_t i = 0; i < (*d)->m_size; ++i)
                take((*d)->m_data[i].second);
        } else if (auto* s = std::get_if<std::shared_ptr<ValueSet>>(&v.m_v); s && s->use_count() == 1) {
            for (auto& child : (*s)->m_members)
                take(child);
        }
    };
    takeChildren(*this);
    while (!pending.empty()) {
        Value next = std::move(pending.back());
        pending.pop_back();
        takeChildren(next);
    }
}

Value Value::array(std::initializer_list<Value> members) {
    return Value(ValueArray(members));
}

Value Value::dictionary(std::initializer_list<std::pair<std::string, Value>> entries) {
    ValueDictionary d;
    for (auto& entry : entries)
        d.set(entry.first, entry.second);
    return Value(std::move(d));
}

const Value& Value::nil() {
    static const Value value;
    return value;
}

URLPtr Value::url() const {
    auto* p = std::get_if<URLPtr>(&m_v);
    return p ? *p : nullptr;
}

const ValueArray* Value::array() const {
    auto* p = std::get_if<std::shared_ptr<ValueArray>>(&m_v);
    return p ? p->get() : nullptr;
}

const ValueDictionary* Value::dictionary() const {
    auto* p = std::get_if<std::shared_ptr<ValueDictionary>>(&m_v);
    return p ? p->get() : nullptr;
}

const ValueSet* Value::set() const {
    auto* p = std::get_if<std::shared_ptr<ValueSet>>(&m_v);
    return p ? p->get() : nullptr;
}

ObjectPtr Value::object() const {
    auto* p = std::get_if<ObjectPtr>(&m_v);
    return p ? *p : nullptr;
}

namespace {
template <typename T> T* unshare(std::shared_ptr<T>& storage) {
    if (storage.use_count() > 1)
        storage = std::make_shared<T>(*storage);
    return storage.get();
}
} // namespace

ValueArray* Value::mutableArray() {
    auto* p = std::get_if<std::shared_ptr<ValueArray>>(&m_v);
    return p ? unshare(*p) : nullptr;
}

ValueDictionary* Value::mutableDictionary() {
    auto* p = std::get_if<std::shared_ptr<ValueDictionary>>(&m_v);
    return p ? unshare(*p) : nullptr;
}

ValueSet* Value::mutableSet() {
    auto* p = std::get_if<std::shared_ptr<ValueSet>>(&m_v);
    return p ? unshare(*p) : nullptr;
}

const Value& Value::operator[](std::string_view key) const {
    const ValueDictionary* d = dictionary();
    return d ? d->get(key) : nil();
}

const Value& Value::at(size_t index) const {
    const ValueArray* a = array();
    return a && index < a->size() ? (*a)[index] : nil();
}

size_t Value::count() const {
    if (auto* a = array())
        return a->size();
    if (auto* d = dictionary())
        return d->size();
    if (auto* s = set())
        return s->size();
    return 0;
}

std::string Value::stringOr(std::string_view fallback) const {
    if (auto* s = string())
        return *s;
    return std::string(fallback);
}

int64_t Value::int64Or(int64_t fallback) const {
    if (auto* n = number())
        return n->int64Value();
    return fallback;
}

double Value::doubleOr(double fallback) const {
    if (auto* n = number())
        return n->doubleValue();
    return fallback;
}

bool Value::boolOr(bool fallback) const {
    if (auto* n = number())
        return n->boolValue();
    return fallback;
}

bool Value::operator==(const Value& other) const {
    if (type() != other.type())
        return false;
    switch (type()) {
    case Type::Nil:
    case Type::Null:
        return true;
    case Type::Number:
        return *number() == *other.number();
    case Type::String:
        return *string() == *other.string();
    case Type::Data:
        return *data() == *other.data();
    case Type::Date:
        return *date() == *other.date();
    case Type::URL:
        return *url() == *other.url();
    case Type::Array:
        return array() == other.array() || *array() == *other.array();
    case Type::Dictionary:
        return dictionary() == other.dictionary() || *dictionary() == *other.dictionary();
    case Type::Set:
        return set() == other.set() || *set() == *other.set();
    case Type::Object:
        return object() == other.object();
    }
    return false;
}

size_t Value::hash() const {
    // Collections hash by their size only, as the platform does: cheap, and consistent with
    // member-wise equality whatever the order of a dictionary or set.
    size_t seed = static_cast<size_t>(type()) * 0x9e3779b97f4a7c15ULL;
    switch (type()) {
    case Type::Nil:
    case Type::Null:
        return seed;
    case Type::Number:
        return number()->hash();
    case Type::String:
        return std::hash<std::string>{}(*string());
    case Type::Data:
        return data()->hash();
    case Type::Date:
        return std::hash<double>{}(date()->timeIntervalSince1970() + 0.0);
    case Type::URL:
        return std::hash<std::string>{}(url()->absoluteString());
    case Type::Array:
    case Type::Dictionary:
    case Type::Set:
        return seed ^ count();
    case Type::Object:
        return std::hash<const void*>{}(object().get());
    }
    return seed;
}

namespace {
void describe(const Value& v, std::string& out, int indent) {
    std::string pad(static_cast<size_t>(indent) * 4, ' ');
    switch (v.type()) {
    case Value::Type::Nil:
        out += "(null)";
        break;
    case Value::Type::Null:
        out += "<null>";
        break;
    case Value::Type::Number:
        out += v.number()->stringValue();
        break;
    case Value::Type::String:
        out += *v.string();
        break;
    case Value::Type::Data: {
        out += "<";
        auto bytes = v.data()->span();
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (i && i % 4 == 0)
                out += ' ';
            out += fmt::format("{:02x}", bytes[i]);
        }
        out += ">";
        break;
    }
    case Value::Type::Date:
        out += fmt::format("{}", v.date()->timeIntervalSince1970());
        break;
    case Value::Type::URL:
        out += v.url()->absoluteString();
        break;
    case Value::Type::Array:
    case Value::Type::Set: {
        out += v.isArray() ? "(\n" : "{(\n";
        const auto& members = v.isArray() ? *v.array() : v.set()->members();
        for (size_t i = 0; i < members.size(); ++i) {
            out += pad + "    ";
            describe(members[i], out, indent + 1);
            out += i + 1 < members.size() ? ",\n" : "\n";
        }
        out += pad + (v.isArray() ? ")" : ")}");
        break;
    }
    case Value::Type::Dictionary:
        out += "{\n";
        for (const auto& [key, value] : *v.dictionary()) {
            out += pad + "    " + key + " = ";
            describe(value, out, indent + 1);
            out += ";\n";
        }
        out += pad + "}";
        break;
    case Value::Type::Object:
        out += v.object()->description();
        break;
    }
}
} // namespace

std::string Value::description() const {
    std::string out;
    describe(*this, out, 0);
    return out;
}

// ---- ValueDictionary ----

ValueDictionary::ValueDictionary(std::initializer_list<Entry> entries) {
    for (auto& entry : entries)
        set(entry.first, entry.second);
}

ValueDictionary::ValueDictionary(const ValueDictionary& other) {
    if (other.m_size == 0)
        return;
    std::allocator<Entry> allocator;
    Entry* storage = allocator.allocate(other.m_size);
    try {
        std::uninitialized_copy_n(other.m_data, other.m_size, storage);
    } catch (...) {
        allocator.deallocate(storage, other.m_size);
        throw;
    }
    m_data = storage;
    m_size = m_capacity = other.m_size;
    updateIndex();
}

ValueDictionary::ValueDictionary(ValueDictionary&& other) noexcept {
    takeEntries(other);
}

ValueDictionary& ValueDictionary::operator=(const ValueDictionary& other) {
    if (this != &other) {
        ValueDictionary copy(other);
        *this = std::move(copy);
    }
    return *this;
}

ValueDictionary& ValueDictionary::operator=(ValueDictionary&& other) noexcept {
    if (this != &other) {
        // `other` may live inside one of this dictionary's values: take its entries before letting go.
        ValueDictionary taken;
        taken.takeEntries(other);
        releaseStorage();
        takeEntries(taken);
    }
    return *this;
}

ValueDictionary::~ValueDictionary() {
    releaseStorage();
}

void ValueDictionary::releaseStorage() noexcept {
    std::destroy_n(m_data, m_size);
    if (m_ownsStorage && m_data)
        std::allocator<Entry>().deallocate(m_data, m_capacity);
    m_data = nullptr;
    m_size = m_capacity = 0;
    m_ownsStorage = true;
    m_index.reset();
}

void ValueDictionary::takeEntries(ValueDictionary& other) noexcept {
    if (other.m_ownsStorage) {
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_ownsStorage = true;
        m_index = std::move(other.m_index);
        return;
    }
    // Borrowed storage stays with its allocation; the entries move out of it.
    m_data = other.m_size ? std::allocator<Entry>().allocate(other.m_size) : nullptr;
    m_size = m_capacity = other.m_size;
    m_ownsStorage = true;
    std::uninitialized_move_n(other.m_data, other.m_size, m_data);
    std::destroy_n(other.m_data, other.m_size);
    other.m_size = 0;
    other.m_index.reset();
    updateIndex();
}

void ValueDictionary::useStorage(Entry* storage, size_t capacity) {
    m_data = storage;
    m_capacity = capacity;
    m_ownsStorage = false;
}

void ValueDictionary::relocate(size_t capacity) {
    Entry* storage = std::allocator<Entry>().allocate(capacity);
    std::uninitialized_move_n(m_data, m_size, storage);
    std::destroy_n(m_data, m_size);
    if (m_ownsStorage && m_data)
        std::allocator<Entry>().deallocate(m_data, m_capacity);
    m_data = storage;
    m_capacity = capacity;
    m_ownsStorage = true;
    if (m_index)
        updateIndex();
}

void ValueDictionary::reserve(size_t count) {
    if (count > m_capacity)
        relocate(count);
}

template <typename Key> void ValueDictionary::append(Key&& key, Value&& value) {
    if (m_size == m_capacity)
        relocate(std::max<size_t>(4, m_capacity * 2));
    ::new (static_cast<void*>(m_data + m_size))
        Entry(std::piecewise_construct, std::forward_as_tuple(std::forward<Key>(key)),
              std::forward_as_tuple(std::move(value)));
    ++m_size;
}

bool ValueDictionary::updateIndex() {
    if (m_size <= kIndexThreshold) {
        m_index.reset();
        return true;
    }
    m_index = std::make_unique<Index>();
    m_index->reserve(m_size);
    bool unique = true;
    for (size_t i = 0; i < m_size; ++i)
        unique = m_index->emplace(m_data[i].first, i).second && unique;
    return unique;
}

bool ValueDictionary::hasRepeatedKey() {
    if (m_size > kIndexThreshold)
        return !updateIndex();
    // A word of length and three bytes tells almost all keys apart, so texts are compared only when
    // two words agree.
    uint64_t prints[kIndexThreshold];
    for (size_t i = 0; i < m_size; ++i) {
        const std::string& key = m_data[i].first;
        uint64_t print = key.size();
        if (!key.empty()) {
            print |= uint64_t(uint8_t(key.front())) << 40 | uint64_t(uint8_t(key[key.size() / 2])) << 48 |
                     uint64_t(uint8_t(key.back())) << 56;
        }
        bool alike = false; // gathered without a branch per pair: a match is the rare case
        for (size_t j = 0; j < i; ++j)
            alike |= prints[j] == print;
        for (size_t j = 0; alike && j < i; ++j) {
            if (prints[j] == print && m_data[j].first == key)
                return true;
        }
        prints[i] = print;
    }
    return false;
}

void ValueDictionary::settleRepeatedKeys() {
    ValueDictionary appended;
    appended.takeEntries(*this);
    releaseStorage();
    for (size_t i = 0; i < appended.m_size; ++i)
        set(std::move(appended.m_data[i].first), std::move(appended.m_data[i].second));
}

const Value* ValueDictionary::find(std::string_view key) const {
    if (!m_index) {
        for (size_t i = 0; i < m_size; ++i) {
            if (m_data[i].first == key)
                return &m_data[i].second;
        }
        return nullptr;
    }
    auto it = m_index->find(key);
    return it == m_index->end() ? nullptr : &m_data[it->second].second;
}

Value* ValueDictionary::find(std::string_view key) {
    return const_cast<Value*>(static_cast<const ValueDictionary*>(this)->find(key));
}

const Value& ValueDictionary::get(std::string_view key) const {
    const Value* v = find(key);
    return v ? *v : Value::nil();
}

void ValueDictionary::set(std::string key, Value value) {
    if (value.isNil()) {
        remove(key);
        return;
    }
    if (Value* existing = find(key)) {
        *existing = std::move(value);
        return;
    }
    append(std::move(key), std::move(value));
    if (m_index)
        m_index->emplace(m_data[m_size - 1].first, m_size - 1);
    else if (m_size > kIndexThreshold)
        updateIndex();
}

bool ValueDictionary::remove(std::string_view key) {
    for (size_t i = 0; i < m_size; ++i) {
        if (m_data[i].first == key) {
            std::move(m_data + i + 1, m_data + m_size, m_data + i);
            std::destroy_at(m_data + m_size - 1);
            --m_size;
            updateIndex();
            return true;
        }
    }
    return false;
}

void ValueDictionary::clear() {
    std::destroy_n(m_data, m_size);
    m_size = 0;
    m_index.reset();
}

// ---- ValueDictionaryBuilder ----

namespace {
// Allocates what it is asked for plus `extra` bytes behind it, in one block, and says where those
// start; the shared pointer's own block then carries a dictionary's entries.
template <typename T> struct TrailingAllocator {
    using value_type = T;

    TrailingAllocator(size_t extra, void** trailing)
        : extra(extra)
        , trailing(trailing) {}
    template <typename U>
    TrailingAllocator(const TrailingAllocator<U>& other)
        : extra(other.extra)
        , trailing(other.trailing) {}

    static size_t head(size_t n) {
        constexpr size_t align = alignof(std::max_align_t);
        return (n * sizeof(T) + align - 1) / align * align;
    }
    T* allocate(size_t n) {
        char* block = std::allocator<char>().allocate(head(n) + extra);
        if (trailing)
            *std::exchange(trailing, nullptr) = block + head(n);
        return reinterpret_cast<T*>(block);
    }
    void deallocate(T* p, size_t n) {
        std::allocator<char>().deallocate(reinterpret_cast<char*>(p), head(n) + extra);
    }
    template <typename U> bool operator==(const TrailingAllocator<U>& other) const {
        return extra == other.extra;
    }

    size_t extra;
    void** trailing; // consumed by the one allocation
};
} // namespace

ValueDictionaryBuilder::ValueDictionaryBuilder(size_t expectedCount) {
    using Entry = ValueDictionary::Entry;
    static_assert(alignof(Entry) <= alignof(std::max_align_t));
    void* trailing = nullptr;
    m_dictionary = std::allocate_shared<ValueDictionary>(
        TrailingAllocator<ValueDictionary>(expectedCount * sizeof(Entry), &trailing));
    if (expectedCount)
        m_dictionary->useStorage(static_cast<Entry*>(trailing), expectedCount);
}

void ValueDictionaryBuilder::append(std::string_view key, Value value) {
    m_dictionary->append(key, std::move(value));
}

Value& ValueDictionaryBuilder::appendPastExpected(std::string_view key) {
    m_dictionary->append(key, Value());
    return m_dictionary->m_data[m_dictionary->m_size - 1].second;
}

Value ValueDictionaryBuilder::finish() {
    ValueDictionary& dictionary = *m_dictionary;
    bool hasNil = false;
    for (const auto& entry : dictionary)
        hasNil = hasNil || entry.second.isNil();
    if (hasNil || dictionary.hasRepeatedKey())
        dictionary.settleRepeatedKeys();
    Value result;
    result.m_v = std::move(m_dictionary);
    return result;
}

std::vector<std::string> ValueDictionary::keys() const {
    std::vector<std::string> keys;
    keys.reserve(m_size);
    for (const auto& entry : *this)
        keys.push_back(entry.first);
    return keys;
}

bool ValueDictionary::operator==(const ValueDictionary& other) const {
    if (size() != other.size())
        return false;
    for (const auto& [key, value] : *this) {
        const Value* theirs = other.find(key);
        if (!theirs || !(*theirs == value))
            return false;
    }
    return true;
}

// ---- ValueSet ----

ValueSet::ValueSet(std::initializer_list<Value> members) {
    for (const auto& member : members)
        insert(member);
}

bool ValueSet::contains(const Value& member) const {
    auto [first, last] = m_byHash.equal_range(member.hash());
    for (auto it = first; it != last; ++it) {
        if (m_members[it->second] == member)
            return true;
    }
    return false;
}

bool ValueSet::insert(Value member) {
    if (member.isNil() || contains(member))
        return false;
    m_byHash.emplace(member.hash(), m_members.size());
    m_members.push_back(std::move(member));
    return true;
}

bool ValueSet::remove(const Value& member) {
    for (auto it = m_members.begin(); it != m_members.end(); ++it) {
        if (*it == member) {
            m_members.erase(it);
            m_byHash.clear();
            for (size_t i = 0; i < m_members.size(); ++i)
                m_byHash.emplace(m_members[i].hash(), i);
            return true;
        }
    }
    return false;
}

bool ValueSet::operator==(const ValueSet& other) const {
    if (size() != other.size())
        return false;
    for (const auto& member : m_members) {
        if (!other.contains(member))
            return false;
    }
    return true;
}

} // namespace platform
