#include "platform/foundation/Value.h"

#include <fmt/format.h>
#include <functional>

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
            for (auto& entry : (*d)->m_entries)
                take(entry.second);
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

ValueDictionary& ValueDictionary::operator=(const ValueDictionary& other) {
    if (this != &other) {
        m_entries = other.m_entries;
        updateIndex();
    }
    return *this;
}

void ValueDictionary::updateIndex() {
    if (m_entries.size() <= kIndexThreshold) {
        m_index.reset();
        return;
    }
    m_index = std::make_unique<std::unordered_map<std::string, size_t>>();
    m_index->reserve(m_entries.size());
    for (size_t i = 0; i < m_entries.size(); ++i)
        m_index->emplace(m_entries[i].first, i);
}

const Value* ValueDictionary::find(std::string_view key) const {
    if (!m_index) {
        for (const auto& entry : m_entries) {
            if (entry.first == key)
                return &entry.second;
        }
        return nullptr;
    }
    auto it = m_index->find(std::string(key));
    return it == m_index->end() ? nullptr : &m_entries[it->second].second;
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
    m_entries.emplace_back(std::move(key), std::move(value));
    if (m_index)
        m_index->emplace(m_entries.back().first, m_entries.size() - 1);
    else if (m_entries.size() > kIndexThreshold)
        updateIndex();
}

bool ValueDictionary::remove(std::string_view key) {
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->first == key) {
            m_entries.erase(it);
            updateIndex();
            return true;
        }
    }
    return false;
}

void ValueDictionary::clear() {
    m_entries.clear();
    m_index.reset();
}

std::vector<std::string> ValueDictionary::keys() const {
    std::vector<std::string> keys;
    keys.reserve(m_entries.size());
    for (const auto& entry : m_entries)
        keys.push_back(entry.first);
    return keys;
}

bool ValueDictionary::operator==(const ValueDictionary& other) const {
    if (size() != other.size())
        return false;
    for (const auto& [key, value] : m_entries) {
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
