#include "platform/foundation/KeyedArchiver.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/KeyedArchiveFormat.h"
#include "platform/foundation/URL.h"

#include <fmt/format.h>
#include <mutex>
#include <typeinfo>

namespace platform {

using namespace detail::archive;

namespace {

ErrorPtr invalidValue(std::string_view why) {
    return Error::create(NSCocoaErrorDomain, NSCoderInvalidValueError,
                         Value::dictionary({{NSLocalizedDescriptionKey,
                                             "The data couldn\u2019t be written because it isn\u2019t in the "
                                             "correct format."},
                                            {"NSDebugDescription", std::string(why)}}));
}

void putText(std::string& out, std::string_view text) {
    putVarint(out, text.size());
    out += text;
}

} // namespace

Data KeyedArchiver::archivedDataWithRootObject(const ObjectPtr& root, ErrorPtr* error) {
    if (!root) {
        setError(error, invalidValue("the root object is nil"));
        return {};
    }
    KeyedArchiver archiver;
    archiver.reference(root);
    // Breadth-first: encodeObject only queues an object it has not seen, and the queue is worked
    // here, so a long chain of objects never deepens the stack.
    for (size_t i = 0; i < archiver.m_records.size() && !archiver.m_error; ++i) {
        archiver.m_current = i;
        ObjectPtr object = archiver.m_records[i].object;
        dynamic_cast<const Coding&>(*object).encodeWithCoder(archiver);
    }
    Data bytes = archiver.m_error ? Data() : archiver.finish();
    if (archiver.m_error) {
        setError(error, archiver.m_error);
        return {};
    }
    return bytes;
}

void RootValue::registerClass() {
    static std::once_flag once;
    std::call_once(once, [] { ClassRegistry::shared().registerClass<RootValue>(kClassName, "NSObject"); });
}

Data KeyedArchiver::archivedDataWithRootValue(const Value& root, ErrorPtr* error) {
    if (root.isObject())
        return archivedDataWithRootObject(root.object(), error);
    RootValue::registerClass();
    auto box = std::make_shared<RootValue>();
    box->value = root;
    return archivedDataWithRootObject(box, error);
}

bool KeyedArchiver::archiveRootObject(const ObjectPtr& root, const std::filesystem::path& path,
                                      ErrorPtr* error) {
    Data bytes = archivedDataWithRootObject(root, error);
    if (bytes.empty())
        return false;
    return AtomicFile::write(path, bytes, error);
}

void KeyedArchiver::fail(std::string why) {
    if (!m_error)
        m_error = invalidValue(why);
}

uint64_t KeyedArchiver::reference(const ObjectPtr& object) {
    if (auto known = m_indexOf.find(object.get()); known != m_indexOf.end())
        return known->second;

    const Object& instance = *object;
    auto info = ClassRegistry::shared().classOf(typeid(instance));
    if (!info || !info->factory || !dynamic_cast<const Coding*>(object.get())) {
        fail(
            fmt::format("objects of class {} cannot be archived: the class must be registered with a factory "
                        "and adopt Coding",
                        object->className()));
        return 0;
    }
    uint64_t classIndex;
    if (auto known = m_classIndexOf.find(info->name); known != m_classIndexOf.end()) {
        classIndex = known->second;
    } else {
        classIndex = m_classes.size();
        m_classes.push_back(info->name);
        m_classIndexOf.emplace(info->name, classIndex);
    }
    uint64_t index = m_records.size();
    m_records.push_back(Record{object, classIndex, {}});
    m_indexOf.emplace(object.get(), index);
    return index;
}

bool KeyedArchiver::appendValue(std::string& out, const Value& value, int depth) {
    if (depth > kMaxDepth) {
        fail("values are nested too deeply");
        return false;
    }
    switch (value.type()) {
    case Value::Type::Nil:
        out += char(tag::Nil);
        return true;
    case Value::Type::Null:
        out += char(tag::Null);
        return true;
    case Value::Type::Number: {
        const Number& n = *value.number();
        switch (n.kind()) {
        case Number::Kind::Bool:
            out += char(n.boolValue() ? tag::True : tag::False);
            break;
        case Number::Kind::Int:
            out += char(tag::Int64);
            putVarint(out, zigzag(n.int64Value()));
            break;
        case Number::Kind::UInt:
            out += char(tag::UInt64);
            putVarint(out, n.uint64Value());
            break;
        case Number::Kind::Float:
            out += char(tag::Float);
            putFixed(out, floatBits(n.floatValue()), 4);
            break;
        case Number::Kind::Double:
            out += char(tag::Double);
            putFixed(out, doubleBits(n.doubleValue()), 8);
            break;
        case Number::Kind::Decimal:
            out += char(tag::Decimal);
            putText(out, n.decimalText());
            break;
        }
        return true;
    }
    case Value::Type::String:
        out += char(tag::String);
        putText(out, *value.string());
        return true;
    case Value::Type::Data:
        out += char(tag::Bytes);
        putText(out, value.data()->view());
        return true;
    case Value::Type::Date:
        out += char(tag::Date);
        putFixed(out, doubleBits(value.date()->timeIntervalSince1970()), 8);
        return true;
    case Value::Type::URL:
        out += char(tag::URL);
        putText(out, value.url()->absoluteString());
        return true;
    case Value::Type::Array:
    case Value::Type::Set: {
        const auto& members = value.isArray() ? *value.array() : value.set()->members();
        out += char(value.isArray() ? tag::Array : tag::Set);
        putVarint(out, members.size());
        for (const auto& member : members) {
            if (!appendValue(out, member, depth + 1))
                return false;
        }
        return true;
    }
    case Value::Type::Dictionary:
        out += char(tag::Dictionary);
        putVarint(out, value.dictionary()->size());
        for (const auto& [key, member] : *value.dictionary()) {
            putText(out, key);
            if (!appendValue(out, member, depth + 1))
                return false;
        }
        return true;
    case Value::Type::Object: {
        uint64_t index = reference(value.object());
        if (m_error)
            return false;
        out += char(tag::ObjectRef);
        putVarint(out, index);
        return true;
    }
    }
    return false;
}

void KeyedArchiver::put(std::string_view key, std::string encoded) {
    auto& entries = m_records[m_current].entries;
    for (auto& entry : entries) {
        if (entry.first == key) {
            entry.second = std::move(encoded);
            return;
        }
    }
    entries.emplace_back(std::string(key), std::move(encoded));
}

void KeyedArchiver::encodeObject(const Value& value, std::string_view key) {
    if (value.isNil() || m_error)
        return;
    std::string encoded;
    if (appendValue(encoded, value, 0))
        put(key, std::move(encoded));
}

void KeyedArchiver::encodeBool(bool value, std::string_view key) {
    encodeObject(Value(value), key);
}
void KeyedArchiver::encodeInt32(int32_t value, std::string_view key) {
    encodeObject(Value(int64_t(value)), key);
}
void KeyedArchiver::encodeInt64(int64_t value, std::string_view key) {
    encodeObject(Value(value), key);
}
void KeyedArchiver::encodeDouble(double value, std::string_view key) {
    encodeObject(Value(value), key);
}
void KeyedArchiver::encodeFloat(float value, std::string_view key) {
    encodeObject(Value(value), key);
}

Data KeyedArchiver::finish() {
    std::string body;
    putVarint(body, m_classes.size());
    for (const auto& name : m_classes)
        putText(body, name);
    putVarint(body, m_records.size());
    for (const auto& record : m_records) {
        putVarint(body, record.classIndex);
        putVarint(body, record.entries.size());
        for (const auto& [key, encoded] : record.entries) {
            putText(body, key);
            body += encoded;
        }
    }
    if (body.size() > UINT32_MAX) {
        fail("the archive would exceed 4 GiB");
        return {};
    }
    std::string out;
    out.reserve(kHeaderSize + body.size());
    out += kMagic;
    putFixed(out, kVersion, 2);
    putFixed(out, 0, 2);
    putFixed(out, body.size(), 4);
    putFixed(out, crc32(reinterpret_cast<const uint8_t*>(body.data()), body.size()), 4);
    out += body;
    return Data(out);
}

} // namespace platform
