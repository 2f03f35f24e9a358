#include "platform/foundation/Exception.h"

namespace platform {

Exception::Exception(std::string name, std::string reason, Value userInfo)
    : m_name(std::move(name))
    , m_reason(std::move(reason))
    , m_userInfo(std::move(userInfo))
    , m_what(m_name + ": " + m_reason) {}

} // namespace platform
