#include "sockets/common/SharedBytes.h"

#include <algorithm>

namespace sockets {

SharedBytes::SharedBytes(platform::Data data)
    : m_data(std::move(data))
    , m_length(m_data.length()) {}

SharedBytes::SharedBytes(std::shared_ptr<platform::MutableData> buffer, size_t offset, size_t length)
    : m_buffer(std::move(buffer)) {
    size_t total = m_buffer ? m_buffer->length() : 0;
    m_offset = std::min(offset, total);
    m_length = std::min(length, total - m_offset);
}

const uint8_t* SharedBytes::bytes() const {
    if (m_buffer)
        return m_buffer->bytes() + m_offset;
    return m_data.bytes();
}

platform::Data SharedBytes::data() const {
    if (m_buffer)
        return platform::Data(bytes(), m_length);
    return m_data;
}

} // namespace sockets
