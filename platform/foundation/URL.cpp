#include "platform/foundation/URL.h"

namespace platform {

struct URL::Parts { };

URL::URL(std::string absolute) : m_absolute(std::move(absolute)) { }
URL::~URL() = default;

} // namespace platform
