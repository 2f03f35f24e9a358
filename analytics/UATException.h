#pragma once
// The binary protocol's exceptions: UATException (any name), UATProtocolException (malformed or
// hostile bytes, bad message headers, failed allocations) and UATTransportException (reading past the
// end of a buffer). Each carries a reason and, under the user-info key "error", the underlying error
// when there is one. The runtime throws them and catches nothing; the callers decide what survives.

#include "platform/foundation/Error.h"
#include "platform/foundation/Exception.h"

#include <string>

class UATException : public platform::Exception {
public:
    UATException(std::string name, std::string reason, platform::ErrorPtr error = nullptr);

    static UATException exceptionWithName(std::string name);
    static UATException exceptionWithName(std::string name, std::string reason);
    static UATException exceptionWithName(std::string name, std::string reason, platform::ErrorPtr error);

    // "name: reason", then "\n  userInfo = ..." when there is user info.
    std::string description() const;
};

class UATProtocolException : public UATException {
public:
    explicit UATProtocolException(std::string reason, platform::ErrorPtr error = nullptr);
};

class UATTransportException : public UATException {
public:
    explicit UATTransportException(std::string reason, platform::ErrorPtr error = nullptr);

    static UATTransportException exceptionWithReason(std::string reason, platform::ErrorPtr error = nullptr);
};
