#include "platform/foundation/Error.h"

#include <cstring>
#include <fmt/format.h>

namespace platform {

Error::Error(std::string domain, int64_t code, Value userInfo)
    : m_domain(std::move(domain))
    , m_code(code)
    , m_userInfo(userInfo.isDictionary() ? std::move(userInfo) : Value(ValueDictionary{})) {}

ErrorPtr Error::create(std::string domain, int64_t code, Value userInfo) {
    return std::make_shared<const Error>(std::move(domain), code, std::move(userInfo));
}

ErrorPtr Error::withDescription(std::string domain, int64_t code, std::string description) {
    return create(std::move(domain), code,
                  Value::dictionary({{NSLocalizedDescriptionKey, std::move(description)}}));
}

ErrorPtr Error::posix(int errnoValue, std::string_view context) {
    std::string text = std::strerror(errnoValue);
    ValueDictionary info{{NSLocalizedDescriptionKey, text}};
    if (!context.empty())
        info.set(NSLocalizedFailureReasonErrorKey, fmt::format("{}: {}", context, text));
    return create(NSPOSIXErrorDomain, errnoValue, Value(std::move(info)));
}

std::string Error::localizedDescription() const {
    if (auto* text = m_userInfo[NSLocalizedDescriptionKey].string())
        return *text;
    return fmt::format("The operation couldn\u2019t be completed. ({} error {}.)", m_domain, m_code);
}

std::optional<std::string> Error::localizedFailureReason() const {
    if (auto* text = m_userInfo[NSLocalizedFailureReasonErrorKey].string())
        return *text;
    return std::nullopt;
}

std::optional<std::string> Error::localizedRecoverySuggestion() const {
    if (auto* text = m_userInfo[NSLocalizedRecoverySuggestionErrorKey].string())
        return *text;
    return std::nullopt;
}

std::string Error::description() const {
    return fmt::format("Error Domain={} Code={} \"{}\"", m_domain, m_code, localizedDescription());
}

} // namespace platform
