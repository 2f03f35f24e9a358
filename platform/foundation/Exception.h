#pragma once
// A named exception with a reason, as the platform raises them ("NSInvalidArgumentException", ...).
// The system's own named exceptions derive from it. what() is "name: reason".

#include "platform/foundation/Value.h"

#include <exception>
#include <string>

namespace platform {

inline constexpr const char* NSInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* NSInternalInconsistencyException = "NSInternalInconsistencyException";
inline constexpr const char* NSRangeException = "NSRangeException";
inline constexpr const char* NSGenericException = "NSGenericException";

class Exception : public std::exception {
public:
    Exception(std::string name, std::string reason, Value userInfo = {});

    const std::string& name() const { return m_name; }
    const std::string& reason() const { return m_reason; }
    const Value& userInfo() const { return m_userInfo; }
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    std::string m_name;
    std::string m_reason;
    Value m_userInfo;
    std::string m_what;
};

} // namespace platform
