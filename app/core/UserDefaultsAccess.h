#pragma once
// The small typed accessors that CommonData and AppSetting both offer over the user defaults. Every
// write is synchronised at once, so a crash right after a change never loses it.

#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <string_view>

namespace detail {

inline bool havingDataForKey(const platform::UserDefaults& defaults, std::string_view key) {
    return !defaults.objectForKey(key).isNil();
}

inline void setStringObject(platform::UserDefaults& defaults, const platform::Value& object,
                            std::string_view key) {
    defaults.setObject(object, key);
    defaults.synchronize();
}

inline void setIntegerValue(platform::UserDefaults& defaults, int64_t value, std::string_view key) {
    defaults.setInteger(value, key);
    defaults.synchronize();
}

inline void setBoolValue(platform::UserDefaults& defaults, bool value, std::string_view key) {
    defaults.setBool(value, key);
    defaults.synchronize();
}

} // namespace detail
