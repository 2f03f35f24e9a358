#include "platform/foundation/KeyedUnarchiver.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/KeyedArchiveFormat.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/URL.h"

#include <algorithm>
#include <cerrno>
#include <fmt/format.h>
#include <limits>

namespace platform {

using namespace detail::archive;

namespace {

ErrorPtr corruptError(std::string_view why) {
    return Error::create(
        NSCocoaErrorDomain, NSCoderReadCorruptError,
        Value::dictionary({{NSLocalizedDescriptionKey,
                            "The data couldn\u2019t be read because it isn\u2019t in the correct "
                            "format."},
                           {"NSDebugDescription", std::string(why)}}));
}

// Bounds-checked reads over the archive; each answers false instead of reading past the end.
class Reader {
public:
    explicit Reader(const Data& data)
        : m_p(data.bytes())
        , m_size(data.length()) {}

    size_t size() const { return m_size; }
    size_t remaining(size_t at) const { return at < m_size ? m_size - at : 0; }
    const uint8_t* at(size_t offset) const { return m_p + offset; }

    bool byte(size_t& at, uint8_t& out) const {
        if (at >= m_size)
            return false;
        out = m_p[at++];
        return true;
    }

    bool varint(size_t& at, uint64_t& out) const {
        out = 0;
        for (int shift = 0; shift <= 63; shift += 7) {
            uint8_t b;
            if (!byte(at, b))
                return false;
            // The tenth byte may carry only the top bit of a 64-bit value, and nothing after it.
            if (shift == 63 && b > 1)
                return false;
            out |= uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80))
                return true;
        }
        return false;
    }

    bool skip(size_t& at, uint64_t count) const {
        if (count > remaining(at))
            return false;
        at += static_cast<size_t>(count);
        return true;
    }

    bool text(size_t& at, std::string_view& out) const {
        uint64_t length;
        if (!varint(at, length) || length > remaining(at))
            return false;
        out = std::string_view(reinterpret_cast<const char*>(m_p + at), static_cast<size_t>(length));
        at += static_cast<size_t>(length);
        return true;
    }

private:
    const uint8_t* m_p;
    size_t m_size;
};

} // namespace

ObjectPtr KeyedUnarchiver::unarchiveObjectWithData(const Data& data, ErrorPtr* error) {
    KeyedUnarchiver unarchiver(data);
    if (!unarchiver.index()) {
        setError(error, unarchiver.m_error);
        return nullptr;
    }
    ObjectPtr root = unarchiver.resolve(0);
    if (!unarchiver.m_error && !root)
        unarchiver.corrupt("the root object could not be initialised from the archive");
    if (unarchiver.m_error) {
        setError(error, unarchiver.m_error);
        return nullptr;
    }
    return root;
}

Value KeyedUnarchiver::unarchiveValueWithData(const Data& data, ErrorPtr* error) {
    RootValue::registerClass();
    ObjectPtr root = unarchiveObjectWithData(data, error);
    if (auto box = std::dynamic_pointer_cast<RootValue>(root))
        return box->value;
    return root ? Value(root) : Value();
}

ObjectPtr KeyedUnarchiver::unarchiveObjectWithFile(const std::filesystem::path& path, ErrorPtr* error) {
    ErrorPtr underlying;
    auto bytes = AtomicFile::read(path, &underlying);
    if (!bytes) {
        bool missing = underlying && underlying->code() == ENOENT;
        ValueDictionary info{{NSFilePathErrorKey, path.string()}};
        if (underlying)
            info.set(NSUnderlyingErrorKey, Value(std::const_pointer_cast<Error>(underlying)));
        setError(error, Error::create(NSCocoaErrorDomain,
                                      missing ? NSFileReadNoSuchFileError : NSFileReadUnknownError,
                                      Value(std::move(info))));
        return nullptr;
    }
    return unarchiveObjectWithData(*bytes, error);
}

void KeyedUnarchiver::corrupt(std::string why) {
    if (!m_error)
        m_error = corruptError(why);
}

void KeyedUnarchiver::failWithError(ErrorPtr error) {
    if (!m_error)
        m_error = error ? std::move(error) : corruptError("decoding failed");
}

bool KeyedUnarchiver::index() {
    Reader bytes(m_data);
    if (bytes.size() < kHeaderSize) {
        corrupt("the archive is shorter than its header");
        return false;
    }
    if (std::string_view(reinterpret_cast<const char*>(bytes.at(0)), kMagic.size()) != kMagic) {
        corrupt("this is not a keyed archive");
        return false;
    }
    uint64_t version = getFixed(bytes.at(4), 2);
    uint64_t flags = getFixed(bytes.at(6), 2);
    uint64_t bodyLength = getFixed(bytes.at(8), 4);
    uint32_t checksum = static_cast<uint32_t>(getFixed(bytes.at(12), 4));
    if (version != kVersion || flags != 0) {
        corrupt(fmt::format("archive version {} with flags {} is not supported", version, flags));
        return false;
    }
    if (bodyLength != bytes.size() - kHeaderSize) {
        corrupt(fmt::format("the archive should hold {} bytes but holds {}", bodyLength + kHeaderSize,
                            bytes.size()));
        return false;
    }
    if (crc32(bytes.at(kHeaderSize), bytes.size() - kHeaderSize) != checksum) {
        corrupt("the archive fails its checksum");
        return false;
    }

    // Every count is held against the bytes that remain (each member takes at least one byte)
    // before anything is reserved, so a lying count cannot make us allocate beyond the input.
    size_t at = kHeaderSize;
    uint64_t classCount;
    if (!bytes.varint(at, classCount) || classCount > bytes.remaining(at)) {
        corrupt("the class table is damaged");
        return false;
    }
    m_classes.reserve(static_cast<size_t>(classCount));
    for (uint64_t i = 0; i < classCount; ++i) {
        std::string_view name;
        if (!bytes.text(at, name)) {
            corrupt("the class table is damaged");
            return false;
        }
        m_classes.push_back(name);
    }
    uint64_t objectCount;
    if (!bytes.varint(at, objectCount) || objectCount == 0 || objectCount > bytes.remaining(at) / 2) {
        corrupt("the object table is damaged");
        return false;
    }
    m_objects.resize(static_cast<size_t>(objectCount));
    for (auto& object : m_objects) {
        uint64_t keyCount;
        if (!bytes.varint(at, object.classIndex) || object.classIndex >= m_classes.size() ||
            !bytes.varint(at, keyCount) || keyCount > bytes.remaining(at) / 2) {
            corrupt("an object record is damaged");
            return false;
        }
        object.entries.reserve(static_cast<size_t>(keyCount));
        for (uint64_t k = 0; k < keyCount; ++k) {
            Entry entry;
            if (!bytes.text(at, entry.key)) {
                corrupt("a key is damaged");
                return false;
            }
            entry.valueOffset = at;
            if (!checkValue(at, 0)) {
                corrupt(fmt::format("the value for \"{}\" is damaged", entry.key));
                return false;
            }
            object.entries.push_back(entry);
        }
    }
    if (at != bytes.size()) {
        corrupt("bytes follow the last object");
        return false;
    }
    return true;
}

bool KeyedUnarchiver::checkValue(size_t& at, int depth) {
    Reader bytes(m_data);
    if (depth > kMaxDepth)
        return false;
    uint8_t tag;
    if (!bytes.byte(at, tag))
        return false;
    uint64_t n;
    std::string_view text;
    switch (tag) {
    case tag::Nil:
    case tag::Null:
    case tag::False:
    case tag::True:
        return true;
    case tag::Int64:
    case tag::UInt64:
        return bytes.varint(at, n);
    case tag::Float:
        return bytes.skip(at, 4);
    case tag::Double:
    case tag::Date:
        return bytes.skip(at, 8);
    case tag::Decimal:
    case tag::String:
    case tag::Bytes:
        return bytes.text(at, text);
    case tag::URL:
        return bytes.text(at, text) && URL::create(text) != nullptr;
    case tag::Array:
    case tag::Set:
        if (!bytes.varint(at, n) || n > bytes.remaining(at))
            return false;
        for (uint64_t i = 0; i < n; ++i) {
            if (!checkValue(at, depth + 1))
                return false;
        }
        return true;
    case tag::Dictionary:
        if (!bytes.varint(at, n) || n > bytes.remaining(at) / 2)
            return false;
        for (uint64_t i = 0; i < n; ++i) {
            if (!bytes.text(at, text) || !checkValue(at, depth + 1))
                return false;
        }
        return true;
    case tag::ObjectRef:
        return bytes.varint(at, n) && n < m_objects.size();
    default:
        return false;
    }
}

// The structure was checked by index(); this builds, and stops at the first error so that a
// half-read container never reads on from the wrong place.
Value KeyedUnarchiver::materialize(size_t& at) {
    if (m_error)
        return {};
    Reader bytes(m_data);
    uint8_t tag = 0;
    uint64_t n = 0;
    std::string_view text;
    if (!bytes.byte(at, tag))
        return {};
    if (tag == tag::Array || tag == tag::Set || tag == tag::Dictionary) {
        // Values nest inside objects that nest inside values: the stack grows with both.
        if (m_nesting >= kMaxNesting) {
            corrupt("values and objects are nested too deeply");
            return {};
        }
        ++m_nesting;
        Value container = materializeContainer(tag, at);
        --m_nesting;
        return container;
    }
    size_t start = at;
    switch (tag) {
    case tag::Null:
        return Value::null();
    case tag::False:
        return Value(false);
    case tag::True:
        return Value(true);
    case tag::Int64:
        bytes.varint(at, n);
        return Value(unzigzag(n));
    case tag::UInt64:
        bytes.varint(at, n);
        return Value(Number::unsignedInteger(n));
    case tag::Float:
        if (!bytes.skip(at, 4))
            return {};
        return Value(bitsFloat(static_cast<uint32_t>(getFixed(bytes.at(start), 4))));
    case tag::Double:
        if (!bytes.skip(at, 8))
            return {};
        return Value(bitsDouble(getFixed(bytes.at(start), 8)));
    case tag::Date:
        if (!bytes.skip(at, 8))
            return {};
        return Value(platform::Date(bitsDouble(getFixed(bytes.at(start), 8))));
    case tag::Decimal:
        bytes.text(at, text);
        return Value(Number::decimal(std::string(text)));
    case tag::String:
        bytes.text(at, text);
        return Value(text);
    case tag::Bytes:
        bytes.text(at, text);
        return Value(m_data.subdata(
            static_cast<size_t>(reinterpret_cast<const uint8_t*>(text.data()) - bytes.at(0)), text.size()));
    case tag::URL:
        bytes.text(at, text);
        return Value(URL::create(text));
    case tag::ObjectRef:
        bytes.varint(at, n);
        return Value(resolve(n));
    default:
        return {};
    }
}

Value KeyedUnarchiver::materializeContainer(uint8_t tag, size_t& at) {
    Reader bytes(m_data);
    uint64_t n = 0;
    std::string_view text;
    bytes.varint(at, n);
    switch (tag) {
    case tag::Array:
    case tag::Set: {
        if (tag == tag::Set) {
            ValueSet members;
            for (uint64_t i = 0; i < n; ++i)
                members.insert(materialize(at));
            return Value(std::move(members));
        }
        ValueArray members;
        members.reserve(static_cast<size_t>(n));
        for (uint64_t i = 0; i < n; ++i)
            members.push_back(materialize(at));
        return Value(std::move(members));
    }
    case tag::Dictionary: {
        ValueDictionary entries;
        for (uint64_t i = 0; i < n; ++i) {
            bytes.text(at, text);
            entries.set(std::string(text), materialize(at));
        }
        return Value(std::move(entries));
    }
    default:
        return {};
    }
}

ObjectPtr KeyedUnarchiver::resolve(uint64_t index) {
    if (m_error || index >= m_objects.size())
        return nullptr;
    ObjectRecord& record = m_objects[static_cast<size_t>(index)];
    // Already made: a shared object, or one further up this very chain (a cycle), which is
    // handed out as it stands rather than decoded again.
    if (record.object || record.failed)
        return record.object;
    if (m_stack.size() >= static_cast<size_t>(kMaxDepth) || m_nesting >= kMaxNesting) {
        corrupt("objects are nested too deeply");
        return nullptr;
    }
    std::string_view name = m_classes[static_cast<size_t>(record.classIndex)];
    auto info = ClassRegistry::shared().classNamed(name);
    ObjectPtr object = info && info->factory ? info->factory() : nullptr;
    auto* coding = dynamic_cast<Coding*>(object.get());
    if (!coding) {
        corrupt(fmt::format("cannot decode an object of class {}", name));
        return nullptr;
    }
    record.object = object;
    m_stack.push_back(static_cast<size_t>(index));
    ++m_nesting;
    bool ok = coding->initWithCoder(*this);
    --m_nesting;
    m_stack.pop_back();
    if (!ok || m_error) {
        record.object.reset();
        record.failed = true;
        return nullptr;
    }
    return object;
}

const size_t* KeyedUnarchiver::find(std::string_view key) const {
    if (m_stack.empty())
        return nullptr;
    const auto& entries = m_objects[m_stack.back()].entries;
    // A key written twice (only a hand-made archive does that) reads as its last value.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->key == key)
            return &it->valueOffset;
    }
    return nullptr;
}

bool KeyedUnarchiver::containsValueForKey(std::string_view key) const {
    return find(key) != nullptr;
}

Value KeyedUnarchiver::decodeObjectForKey(std::string_view key) {
    const size_t* offset = find(key);
    if (!offset || m_error)
        return {};
    size_t at = *offset;
    return materialize(at);
}

Value KeyedUnarchiver::number(std::string_view key) {
    Value v = decodeObjectForKey(key);
    return v.isNumber() ? v : Value();
}

bool KeyedUnarchiver::decodeBoolForKey(std::string_view key) {
    return number(key).boolOr(false);
}

int32_t KeyedUnarchiver::decodeInt32ForKey(std::string_view key) {
    int64_t v = number(key).int64Or(0);
    return static_cast<int32_t>(
        std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

int64_t KeyedUnarchiver::decodeInt64ForKey(std::string_view key) {
    return number(key).int64Or(0);
}
double KeyedUnarchiver::decodeDoubleForKey(std::string_view key) {
    return number(key).doubleOr(0);
}
float KeyedUnarchiver::decodeFloatForKey(std::string_view key) {
    return static_cast<float>(decodeDoubleForKey(key));
}

} // namespace platform
