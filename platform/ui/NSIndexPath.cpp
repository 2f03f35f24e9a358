#include "platform/ui/NSIndexPath.h"

#include <fmt/format.h>

namespace platform {

NSIndexPathPtr NSIndexPath::indexPathForRow(int64_t row, int64_t section) {
    return std::make_shared<const NSIndexPath>(section, row);
}

NSIndexPathPtr NSIndexPath::indexPathForItem(int64_t item, int64_t section) {
    return std::make_shared<const NSIndexPath>(section, item);
}

NSIndexPath::NSIndexPath(int64_t section, int64_t index)
    : m_section(section)
    , m_index(index) {}

int64_t NSIndexPath::compare(const NSIndexPath& other) const {
    if (m_section != other.m_section)
        return m_section < other.m_section ? -1 : 1;
    if (m_index != other.m_index)
        return m_index < other.m_index ? -1 : 1;
    return 0;
}

std::string NSIndexPath::description() const {
    return fmt::format("<NSIndexPath {{length = 2, path = {} - {}}}>", m_section, m_index);
}

} // namespace platform
