#pragma once
// The one scheme every wire record follows, written once: a record lists its fields (id, name,
// required or not, and where the value lives) and gets reading, writing, validation, description and
// keyed archiving from that list. Each field keeps its value and whether it is set.
//
// Writing puts text, binary, map, list and struct fields only when set and present, integers whenever
// set, in ascending id order, then a stop byte. Reading stores every field whose id and wire type
// match (marking it set) and skips every other; it does not validate. A map or list entry that cannot
// be kept (a key that is not UTF-8) is read and dropped. Archives hold each set field under its name;
// an archived value of the wrong kind reads as absent.
//
//     class UATIdSnapshot final : public uadetail::UATRecordBase<UATIdSnapshot> {
//         UAT_FIELD(std::optional<std::string>, identity, Identity)
//         ...
//         static auto fields() { return std::make_tuple(uadetail::fieldDef(1, "identity", true,
//                                                       &UATIdSnapshot::m_identity), ...); }
//     };

#include "analytics/UATException.h"
#include "analytics/UATProtocol.h"
#include "analytics/UATProtocolUtil.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <fmt/format.h>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace uadetail {

template <class T> struct UATField {
    T value{};
    bool isSet{false};

    void set(T v) {
        value = std::move(v);
        isSet = true;
    }
    // Object fields let go of their value; scalar fields keep it and lose only the flag.
    void unset() {
        if constexpr (!std::is_arithmetic_v<T>)
            value = T{};
        isSet = false;
    }
};

template <class Record, class T> struct UATFieldDef {
    using Type = T;
    int16_t id;
    const char* name;
    bool required;
    UATField<T> Record::*member;
};

template <class Record, class T>
constexpr UATFieldDef<Record, T> fieldDef(int16_t id, const char* name, bool required,
                                          UATField<T> Record::*member) {
    return {id, name, required, member};
}

// How each kind of value goes on the wire, into a description and into an archive.
template <class T> struct UATCodec;

template <class Int> struct UATIntegerCodec {
    static constexpr int32_t wireType = sizeof(Int) == 4 ? UATType::I32 : UATType::I64;
    static bool present(Int) { return true; }
    static void write(UATProtocol& protocol, Int value) {
        if constexpr (sizeof(Int) == 4)
            protocol.writeI32(value);
        else
            protocol.writeI64(value);
    }
    static Int read(UATProtocol& protocol) {
        if constexpr (sizeof(Int) == 4)
            return protocol.readI32();
        else
            return protocol.readI64();
    }
    static std::string describe(Int value) { return std::to_string(value); }
    static void encode(platform::KeyedArchiver& coder, Int value, std::string_view key) {
        if constexpr (sizeof(Int) == 4)
            coder.encodeInt32(value, key);
        else
            coder.encodeInt64(value, key);
    }
    static std::optional<Int> fromValue(const platform::Value& value) {
        if (!value.number())
            return std::nullopt;
        return static_cast<Int>(value.number()->int64Value());
    }
};
template <> struct UATCodec<int32_t> : UATIntegerCodec<int32_t> {};
template <> struct UATCodec<int64_t> : UATIntegerCodec<int64_t> {};

// Objects (texts, bytes, records, maps, lists) share the archive side: a Value under the key.
template <class T, class Derived> struct UATObjectCodec {
    static bool present(const T& value) { return static_cast<bool>(value); }
    static void encode(platform::KeyedArchiver& coder, const T& value, std::string_view key) {
        coder.encodeObject(Derived::toValue(value), key);
    }
};

template <>
struct UATCodec<std::optional<std::string>>
    : UATObjectCodec<std::optional<std::string>, UATCodec<std::optional<std::string>>> {
    static constexpr int32_t wireType = UATType::String;
    static void write(UATProtocol& protocol, const std::optional<std::string>& value) {
        protocol.writeString(*value);
    }
    static std::optional<std::string> read(UATProtocol& protocol) { return protocol.readString(); }
    static std::string describe(const std::optional<std::string>& value) {
        return fmt::format("\"{}\"", value ? std::string_view(*value) : std::string_view("(null)"));
    }
    static platform::Value toValue(const std::optional<std::string>& value) {
        return value ? platform::Value(*value) : platform::Value();
    }
    static std::optional<std::optional<std::string>> fromValue(const platform::Value& value) {
        if (!value.string())
            return std::nullopt;
        return std::optional<std::string>(*value.string());
    }
};

template <>
struct UATCodec<std::optional<platform::Data>>
    : UATObjectCodec<std::optional<platform::Data>, UATCodec<std::optional<platform::Data>>> {
    static constexpr int32_t wireType = UATType::String;
    static void write(UATProtocol& protocol, const std::optional<platform::Data>& value) {
        protocol.writeBinary(*value);
    }
    static std::optional<platform::Data> read(UATProtocol& protocol) { return protocol.readBinary(); }
    static std::string describe(const std::optional<platform::Data>& value) {
        return fmt::format("\"{}\"", value ? platform::Value(*value).description() : std::string("(null)"));
    }
    static platform::Value toValue(const std::optional<platform::Data>& value) {
        return value ? platform::Value(*value) : platform::Value();
    }
    static std::optional<std::optional<platform::Data>> fromValue(const platform::Value& value) {
        if (!value.data())
            return std::nullopt;
        return std::optional<platform::Data>(*value.data());
    }
};

template <class R>
struct UATCodec<std::shared_ptr<R>> : UATObjectCodec<std::shared_ptr<R>, UATCodec<std::shared_ptr<R>>> {
    static constexpr int32_t wireType = UATType::Struct;
    static void write(UATProtocol& protocol, const std::shared_ptr<R>& value) { value->write(protocol); }
    static std::shared_ptr<R> read(UATProtocol& protocol) {
        auto record = std::make_shared<R>();
        record->read(protocol);
        return record;
    }
    static std::string describe(const std::shared_ptr<R>& value) {
        return value ? value->description() : std::string("(null)");
    }
    static platform::Value toValue(const std::shared_ptr<R>& value) { return platform::Value(value); }
    static std::optional<std::shared_ptr<R>> fromValue(const platform::Value& value) {
        auto record = value.objectAs<R>();
        return record ? std::optional(record) : std::nullopt;
    }
};

template <class R> using UATRecordMap = std::map<std::string, std::shared_ptr<R>>;

template <class R>
struct UATCodec<std::optional<UATRecordMap<R>>>
    : UATObjectCodec<std::optional<UATRecordMap<R>>, UATCodec<std::optional<UATRecordMap<R>>>> {
    static constexpr int32_t wireType = UATType::Map;
    static void write(UATProtocol& protocol, const std::optional<UATRecordMap<R>>& value) {
        int32_t count = 0;
        for (const auto& entry : *value)
            count += entry.second ? 1 : 0;
        protocol.writeMapBeginWithKeyType(UATType::String, UATType::Struct, count);
        for (const auto& [key, record] : *value) {
            if (!record)
                continue;
            protocol.writeString(key);
            record->write(protocol);
        }
        protocol.writeMapEnd();
    }
    static std::optional<UATRecordMap<R>> read(UATProtocol& protocol) {
        int32_t size = 0;
        protocol.readMapBeginReturningKeyType(nullptr, nullptr, &size);
        UATRecordMap<R> map;
        for (int32_t i = 0; i < size; ++i) {
            auto key = protocol.readString();
            auto record = UATCodec<std::shared_ptr<R>>::read(protocol);
            if (key)
                map[*key] = std::move(record);
        }
        protocol.readMapEnd();
        return map;
    }
    static std::string describe(const std::optional<UATRecordMap<R>>& value) {
        return value ? toValue(value).description() : std::string("(null)");
    }
    static platform::Value toValue(const std::optional<UATRecordMap<R>>& value) {
        if (!value)
            return {};
        platform::ValueDictionary dictionary;
        for (const auto& [key, record] : *value)
            dictionary.set(key, platform::Value(record));
        return platform::Value(std::move(dictionary));
    }
    static std::optional<std::optional<UATRecordMap<R>>> fromValue(const platform::Value& value) {
        if (!value.dictionary())
            return std::nullopt;
        UATRecordMap<R> map;
        for (const auto& [key, member] : *value.dictionary()) {
            if (auto record = member.template objectAs<R>())
                map[key] = std::move(record);
        }
        return std::optional(std::move(map));
    }
};

template <class R> using UATRecordList = std::vector<std::shared_ptr<R>>;

template <class R>
struct UATCodec<std::optional<UATRecordList<R>>>
    : UATObjectCodec<std::optional<UATRecordList<R>>, UATCodec<std::optional<UATRecordList<R>>>> {
    static constexpr int32_t wireType = UATType::List;
    static void write(UATProtocol& protocol, const std::optional<UATRecordList<R>>& value) {
        int32_t count = 0;
        for (const auto& record : *value)
            count += record ? 1 : 0;
        protocol.writeListBeginWithElementType(UATType::Struct, count);
        for (const auto& record : *value) {
            if (record)
                record->write(protocol);
        }
        protocol.writeListEnd();
    }
    static std::optional<UATRecordList<R>> read(UATProtocol& protocol) {
        int32_t size = 0;
        protocol.readListBeginReturningElementType(nullptr, &size);
        UATRecordList<R> list;
        for (int32_t i = 0; i < size; ++i)
            list.push_back(UATCodec<std::shared_ptr<R>>::read(protocol));
        protocol.readListEnd();
        return list;
    }
    static std::string describe(const std::optional<UATRecordList<R>>& value) {
        return value ? toValue(value).description() : std::string("(null)");
    }
    static platform::Value toValue(const std::optional<UATRecordList<R>>& value) {
        if (!value)
            return {};
        platform::ValueArray array;
        for (const auto& record : *value)
            array.push_back(platform::Value(record));
        return platform::Value(std::move(array));
    }
    static std::optional<std::optional<UATRecordList<R>>> fromValue(const platform::Value& value) {
        if (!value.array())
            return std::nullopt;
        UATRecordList<R> list;
        for (const auto& member : *value.array()) {
            if (auto record = member.template objectAs<R>())
                list.push_back(std::move(record));
        }
        return std::optional(std::move(list));
    }
};

template <class Record>
class UATRecordBase : public platform::Object, public platform::Coding, public UATBase {
public:
    void read(UATProtocol& protocol) override {
        protocol.readStructBeginReturningName(nullptr);
        for (;;) {
            int32_t type = UATType::Stop, id = 0;
            protocol.readFieldBeginReturningName(nullptr, &type, &id);
            if (type == UATType::Stop)
                break;
            bool known = false;
            forEachField([&](const auto& def) {
                using Codec = UATCodec<typename std::decay_t<decltype(def)>::Type>;
                if (!known && def.id == id && Codec::wireType == type) {
                    (self().*def.member).set(Codec::read(protocol));
                    known = true;
                }
            });
            if (!known)
                UATProtocolUtil::skipType(type, protocol);
            protocol.readFieldEnd();
        }
        protocol.readStructEnd();
    }

    void write(UATProtocol& protocol) const override {
        protocol.writeStructBeginWithName(Record::kStructName);
        forEachField([&](const auto& def) {
            using Codec = UATCodec<typename std::decay_t<decltype(def)>::Type>;
            const auto& field = constSelf().*def.member;
            if (!field.isSet || !Codec::present(field.value))
                return;
            protocol.writeFieldBeginWithName(def.name, Codec::wireType, def.id);
            Codec::write(protocol, field.value);
            protocol.writeFieldEnd();
        });
        protocol.writeFieldStop();
        protocol.writeStructEnd();
    }

    // Throws UATProtocolException for the first required field that is not set.
    void validate() const {
        forEachField([&](const auto& def) {
            if (def.required && !(constSelf().*def.member).isSet)
                throw UATProtocolException(fmt::format("Required field '{}' is not set.", def.name));
        });
    }

    // "IdSnapshot(identity:\"...\",ts:1,version:2)": every field, set or not.
    std::string description() const override {
        std::string text = std::string(Record::kStructName) + "(";
        bool first = true;
        forEachField([&](const auto& def) {
            using Codec = UATCodec<typename std::decay_t<decltype(def)>::Type>;
            text += (first ? "" : ",") + std::string(def.name) + ":" +
                    Codec::describe((constSelf().*def.member).value);
            first = false;
        });
        return text + ")";
    }

    void encodeWithCoder(platform::KeyedArchiver& coder) const override {
        forEachField([&](const auto& def) {
            using Codec = UATCodec<typename std::decay_t<decltype(def)>::Type>;
            const auto& field = constSelf().*def.member;
            if (field.isSet)
                Codec::encode(coder, field.value, def.name);
        });
    }

    bool initWithCoder(platform::KeyedUnarchiver& coder) override {
        forEachField([&](const auto& def) {
            using Codec = UATCodec<typename std::decay_t<decltype(def)>::Type>;
            if (!coder.containsValueForKey(def.name))
                return;
            if (auto value = Codec::fromValue(coder.decodeObjectForKey(def.name)))
                (self().*def.member).set(std::move(*value));
        });
        return true;
    }

protected:
    // Stores every field, in id order, and marks each set (optional ones too).
    template <class... Values> void setAllFields(Values&&... values) {
        auto defs = Record::fields();
        static_assert(sizeof...(Values) == std::tuple_size_v<decltype(defs)>);
        setFields(defs, std::index_sequence_for<Values...>{}, std::forward<Values>(values)...);
    }

private:
    template <class Defs, size_t... I, class... Values>
    void setFields(const Defs& defs, std::index_sequence<I...>, Values&&... values) {
        ((self().*std::get<I>(defs).member).set(std::forward<Values>(values)), ...);
    }
    template <class F> static void forEachField(F&& visit) {
        std::apply([&](const auto&... def) { (visit(def), ...); }, Record::fields());
    }
    Record& self() { return static_cast<Record&>(*this); }
    const Record& constSelf() const { return static_cast<const Record&>(*this); }
};

} // namespace uadetail

// Declares a field's value and the four accessors the records offer for it: `name()`, `setName(v)`
// (stores and marks set), `nameIsSet()`, `unsetName()`.
#define UAT_FIELD(Type, name, Name)                                                                          \
public:                                                                                                      \
    const Type& name() const {                                                                               \
        return m_##name.value;                                                                               \
    }                                                                                                        \
    void set##Name(Type value) {                                                                             \
        m_##name.set(std::move(value));                                                                      \
    }                                                                                                        \
    bool name##IsSet() const {                                                                               \
        return m_##name.isSet;                                                                               \
    }                                                                                                        \
    void unset##Name() {                                                                                     \
        m_##name.unset();                                                                                    \
    }                                                                                                        \
                                                                                                             \
private:                                                                                                     \
    uadetail::UATField<Type> m_##name;
