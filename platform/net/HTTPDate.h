#pragma once
// Dates in HTTP header fields (Expires, Date, Last-Modified, a cookie's Expires). Reading is lenient,
// by the cookie-date rules that browsers follow, so RFC 1123, RFC 850 and asctime forms and the
// usual variants all parse; a text without a valid day, month, year and time gives nullopt.
// Writing gives RFC 1123 ("Sun, 06 Nov 1994 08:49:37 GMT"). Stateless; any thread.

#include "platform/foundation/Date.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform::detail {

std::optional<Date> parseHTTPDate(std::string_view text);
std::string formatHTTPDate(Date date);

} // namespace platform::detail
