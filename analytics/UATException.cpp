#include "analytics/UATException.h"

namespace {

platform::Value userInfoWith(const platform::ErrorPtr& error) {
    if (!error)
        return {};
    return platform::Value::dictionary(
        {{"error", platform::Value(std::const_pointer_cast<platform::Error>(error))}});
}

} // namespace

UATException::UATException(std::string name, std::string reason, platform::ErrorPtr error)
    : platform::Exception(std::move(name), std::move(reason), userInfoWith(error)) {}

UATException UATException::exceptionWithName(std::string name) {
    return UATException(std::move(name), "unknown");
}

UATException UATException::exceptionWithName(std::string name, std::string reason) {
    return UATException(std::move(name), std::move(reason));
}

UATException UATException::exceptionWithName(std::string name, std::string reason, platform::ErrorPtr error) {
    return UATException(std::move(name), std::move(reason), std::move(error));
}

std::string UATException::description() const {
    std::string text = name() + ": " + reason();
    if (!userInfo().isNil())
        text += "\n  userInfo = " + userInfo().description();
    return text;
}

UATProtocolException::UATProtocolException(std::string reason, platform::ErrorPtr error)
    : UATException("UATProtocolException", std::move(reason), std::move(error)) {}

UATTransportException::UATTransportException(std::string reason, platform::ErrorPtr error)
    : UATException("UATTransportException", std::move(reason), std::move(error)) {}

UATTransportException UATTransportException::exceptionWithReason(std::string reason,
                                                                 platform::ErrorPtr error) {
    return UATTransportException(std::move(reason), std::move(error));
}
