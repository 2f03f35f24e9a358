#pragma once
// Typed access to the associated objects in which the screen extensions keep their state.

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <optional>
#include <string>

namespace detail {

template <typename T> std::shared_ptr<T> associated(const platform::Object& object, const void* key) {
    return object.associatedObject(key).objectAs<T>();
}

inline void setAssociated(platform::Object& object, const void* key, platform::ObjectPtr value) {
    object.setAssociatedObject(key, platform::Value(std::move(value)));
}

inline bool associatedFlag(const platform::Object& object, const void* key) {
    return object.associatedObject(key).boolOr(false);
}

inline void setAssociatedFlag(platform::Object& object, const void* key, bool on) {
    object.setAssociatedObject(key, platform::Value(on));
}

inline std::optional<std::string> associatedText(const platform::Object& object, const void* key) {
    platform::Value value = object.associatedObject(key); // the text points into it: it must outlive the read
    if (auto text = value.string())
        return *text;
    return std::nullopt;
}

inline void setAssociatedText(platform::Object& object, const void* key, std::optional<std::string> text) {
    object.setAssociatedObject(key, text ? platform::Value(std::move(*text)) : platform::Value());
}

} // namespace detail
