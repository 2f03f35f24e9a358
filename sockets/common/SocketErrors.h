#pragma once
// The error objects the sockets hand to callers and delegates. A socket's own errors carry their text as
// the localized description, looked up in the main bundle's string table of the socket family (the
// default text stands when the table or key is missing). Errors of the system, of the resolver and of
// the TLS engine keep their own domains and codes.

#include "platform/foundation/Error.h"
#include "platform/security/SecurityStatus.h"

#include <string>
#include <string_view>

namespace sockets {

inline constexpr const char* kCFStreamErrorDomainNetDB = "kCFStreamErrorDomainNetDB";
inline constexpr const char* kCFStreamErrorDomainSSL = "kCFStreamErrorDomainSSL";

// domain, code, the text as the localized description.
platform::ErrorPtr makeError(std::string domain, int64_t code, std::string description);
// The translation of `key` in `table`, or `defaultText`.
std::string localizedText(std::string_view key, std::string_view defaultText, std::string_view table);

// A resolver status (EAI_*), described by the resolver's text.
platform::ErrorPtr gaiError(int code);
// An errno value, described by the system's text; `reason` becomes the failure reason when not empty.
platform::ErrorPtr errnoError(int errnoValue, std::string_view reason = {});
// A TLS engine status.
platform::ErrorPtr sslError(platform::OSStatus status);

} // namespace sockets
