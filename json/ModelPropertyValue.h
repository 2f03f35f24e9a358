#pragma once
// How a model's C++ members travel as platform::Value through the declared properties' getters and
// setters (the runtime's reading and setting by key). A setter is handed whatever import decided to
// assign: a nil or null clears the member, a text is read by its numeric value for a number member
// (as the platform's key-value setters do), a number gives its text to a text member. Anything that
// does not fit leaves the member cleared rather than failing: import checks kinds before it assigns.
// Members that can read nil also tell so (readsNil) without making the Value.

#include "platform/foundation/Date.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"

#include <concepts>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

namespace detail {

template <typename M> struct ModelPropertyValue;

template <> struct ModelPropertyValue<platform::Value> {
    static platform::Value toValue(const platform::Value& member) { return member; }
    static bool readsNil(const platform::Value& member) { return member.isNil(); }
    static void assign(platform::Value& member, const platform::Value& value) { member = value; }
};

template <> struct ModelPropertyValue<std::string> {
    static platform::Value toValue(const std::string& member) { return member; }
    static void assign(std::string& member, const platform::Value& value) {
        if (auto* text = value.string())
            member = *text;
        else if (auto* number = value.number())
            member = number->stringValue();
        else
            member.clear();
    }
};

template <> struct ModelPropertyValue<std::optional<std::string>> {
    static platform::Value toValue(const std::optional<std::string>& member) {
        return member ? platform::Value(*member) : platform::Value();
    }
    static bool readsNil(const std::optional<std::string>& member) { return !member; }
    static void assign(std::optional<std::string>& member, const platform::Value& value) {
        if (auto* text = value.string())
            member = *text;
        else if (auto* number = value.number())
            member = number->stringValue();
        else
            member.reset();
    }
};

template <typename M>
requires std::is_arithmetic_v<M>
struct ModelPropertyValue<M> {
    static platform::Value toValue(M member) { return platform::Value(member); }
    static void assign(M& member, const platform::Value& value) {
        if constexpr (std::is_same_v<M, bool>) {
            if (auto* number = value.number())
                member = number->boolValue();
            else if (auto* text = value.string())
                member = platform::text::boolValue(*text);
            else
                member = false;
        } else if constexpr (std::is_floating_point_v<M>) {
            if (auto* number = value.number())
                member = static_cast<M>(number->doubleValue());
            else if (auto* text = value.string())
                member = static_cast<M>(platform::text::doubleValue(*text));
            else
                member = 0;
        } else if constexpr (std::is_signed_v<M>) {
            if (auto* number = value.number())
                member = static_cast<M>(number->int64Value());
            else if (auto* text = value.string())
                member = static_cast<M>(platform::text::longLongValue(*text));
            else
                member = 0;
        } else {
            if (auto* number = value.number())
                member = static_cast<M>(number->uint64Value());
            else if (auto* text = value.string())
                member = static_cast<M>(platform::text::longLongValue(*text));
            else
                member = 0;
        }
    }
};

template <typename U>
requires std::derived_from<U, platform::Object>
struct ModelPropertyValue<std::shared_ptr<U>> {
    static platform::Value toValue(const std::shared_ptr<U>& member) {
        return member ? platform::Value(std::const_pointer_cast<std::remove_const_t<U>>(member))
                      : platform::Value();
    }
    static bool readsNil(const std::shared_ptr<U>& member) { return !member; }
    static void assign(std::shared_ptr<U>& member, const platform::Value& value) {
        auto object = value.object();
        // Import hands over objects of the member's exact class, which need no search of the hierarchy.
        if (const auto* held = object.get(); held && typeid(*held) == typeid(U))
            member = std::static_pointer_cast<U>(std::move(object));
        else
            member = std::dynamic_pointer_cast<U>(std::move(object));
    }
};

template <typename U>
requires std::derived_from<U, platform::Object>
struct ModelPropertyValue<std::vector<std::shared_ptr<U>>> {
    static platform::Value toValue(const std::vector<std::shared_ptr<U>>& member) {
        platform::ValueArray array;
        array.reserve(member.size());
        for (const auto& element : member)
            array.emplace_back(element ? platform::Value(element) : platform::Value::null());
        return platform::Value(std::move(array));
    }
    static void assign(std::vector<std::shared_ptr<U>>& member, const platform::Value& value) {
        member.clear();
        if (auto* array = value.array()) {
            for (const auto& element : *array) {
                if (auto object = element.objectAs<U>())
                    member.push_back(std::move(object));
            }
        }
    }
};

template <> struct ModelPropertyValue<std::optional<platform::Date>> {
    static platform::Value toValue(const std::optional<platform::Date>& member) {
        return member ? platform::Value(*member) : platform::Value();
    }
    static bool readsNil(const std::optional<platform::Date>& member) { return !member; }
    static void assign(std::optional<platform::Date>& member, const platform::Value& value) {
        member = value.date() ? std::optional(*value.date()) : std::nullopt;
    }
};

template <> struct ModelPropertyValue<platform::URLPtr> {
    static platform::Value toValue(const platform::URLPtr& member) {
        return member ? platform::Value(member) : platform::Value();
    }
    static bool readsNil(const platform::URLPtr& member) { return !member; }
    static void assign(platform::URLPtr& member, const platform::Value& value) { member = value.url(); }
};

} // namespace detail
