#include "sockets/common/SocketErrors.h"

#include "platform/foundation/Bundle.h"
#include "platform/net/Resolver.h"

#include <cstring>

namespace sockets {

platform::ErrorPtr makeError(std::string domain, int64_t code, std::string description) {
    return platform::Error::withDescription(std::move(domain), code, std::move(description));
}

std::string localizedText(std::string_view key, std::string_view defaultText, std::string_view table) {
    auto bundle = platform::Bundle::mainBundle();
    if (!bundle)
        return std::string(defaultText);
    return bundle->localizedStringForKey(key, defaultText, table);
}

platform::ErrorPtr gaiError(int code) {
    return makeError(kCFStreamErrorDomainNetDB, code, platform::Resolver::errorText(code));
}

platform::ErrorPtr errnoError(int errnoValue, std::string_view reason) {
    platform::ValueDictionary info{
        {platform::NSLocalizedDescriptionKey, std::string(std::strerror(errnoValue))}};
    if (!reason.empty())
        info.set(platform::NSLocalizedFailureReasonErrorKey, std::string(reason));
    return platform::Error::create(platform::NSPOSIXErrorDomain, errnoValue,
                                   platform::Value(std::move(info)));
}

platform::ErrorPtr sslError(platform::OSStatus status) {
    platform::ValueDictionary info{
        {platform::NSLocalizedRecoverySuggestionErrorKey,
         "Error code definition can be found in the platform's security status list (" +
             platform::securityStatusName(status) + ")"}};
    return platform::Error::create(kCFStreamErrorDomainSSL, status, platform::Value(std::move(info)));
}

} // namespace sockets
