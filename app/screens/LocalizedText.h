#pragma once
// Texts on the screens' buttons and labels: the main bundle's translation of the Chinese key with an
// empty default, so the key itself shows where no translation exists.

#include "platform/foundation/Bundle.h"

#include <string>
#include <string_view>

namespace detail {

inline std::string localizedText(std::string_view key) {
    return platform::Bundle::mainBundle()->localizedStringForKey(key, "", "");
}

} // namespace detail
