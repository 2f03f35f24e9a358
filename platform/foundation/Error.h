#pragma once
// An error: a domain, an integer code and a user-info dictionary, immutable once made and shared as
// ErrorPtr. The localized texts come from the user info's well-known keys; a missing description
// falls back to the platform's generic "The operation couldn’t be completed." text.

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {

inline constexpr const char* NSLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* NSLocalizedFailureReasonErrorKey = "NSLocalizedFailureReason";
inline constexpr const char* NSLocalizedRecoverySuggestionErrorKey = "NSLocalizedRecoverySuggestion";
inline constexpr const char* NSUnderlyingErrorKey = "NSUnderlyingError";
inline constexpr const char* NSFilePathErrorKey = "NSFilePath";

inline constexpr const char* NSCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* NSPOSIXErrorDomain = "NSPOSIXErrorDomain";

class Error;
using ErrorPtr = std::shared_ptr<const Error>;

class Error final : public Object {
public:
    Error(std::string domain, int64_t code, Value userInfo = {});

    static ErrorPtr create(std::string domain, int64_t code, Value userInfo = {});
    // An error whose user info carries just a localized description.
    static ErrorPtr withDescription(std::string domain, int64_t code, std::string description);
    // An error in NSPOSIXErrorDomain for an errno value, described by strerror.
    static ErrorPtr posix(int errnoValue, std::string_view context = {});

    const std::string& domain() const { return m_domain; }
    int64_t code() const { return m_code; }
    const Value& userInfo() const { return m_userInfo; }

    std::string localizedDescription() const;
    std::optional<std::string> localizedFailureReason() const;
    std::optional<std::string> localizedRecoverySuggestion() const;

    std::string description() const override;

private:
    std::string m_domain;
    int64_t m_code{0};
    Value m_userInfo;
};

// Stores `error` through an out-parameter that may be null.
inline void setError(ErrorPtr* out, ErrorPtr error) {
    if (out)
        *out = std::move(error);
}

} // namespace platform
