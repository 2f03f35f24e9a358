#include "platform/foundation/Data.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace platform {

// Built in place rather than through a moved-from vector: g++ 12 takes the emptied temporary's
// destruction for a free of the bytes it gave away (-Wfree-nonheap-object) once this is inlined.
Data::Data(const void* bytes, size_t length)
    : m_length(length) {
    if (length) {
        auto first = static_cast<const uint8_t*>(bytes);
        m_storage = std::make_shared<const std::vector<uint8_t>>(first, first + length);
    }
}

Data::Data(std::vector<uint8_t> bytes)
    : m_length(bytes.size()) {
    if (!bytes.empty())
        m_storage = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
}

Data::Data(std::string_view text)
    : Data(text.data(), text.size()) {}

Data Data::subdata(size_t offset, size_t length) const {
    Data slice;
    offset = std::min(offset, m_length);
    slice.m_length = std::min(length, m_length - offset);
    if (slice.m_length) {
        slice.m_storage = m_storage;
        slice.m_offset = m_offset + offset;
    }
    return slice;
}

size_t Data::hash() const {
    return std::hash<std::string_view>{}(view());
}

namespace {
// Whether `bytes` lies within the buffer: such bytes move or vanish while the buffer is edited, so
// they are copied out first.
template <class Buffer> bool overlaps(const Buffer& buffer, const uint8_t* bytes, size_t length) {
    auto begin = reinterpret_cast<uintptr_t>(buffer.data());
    auto at = reinterpret_cast<uintptr_t>(bytes);
    return length && at < begin + buffer.capacity() && at + length > begin;
}
} // namespace

void MutableData::appendBytes(const void* bytes, size_t length) {
    if (length == 0)
        return;
    auto* first = static_cast<const uint8_t*>(bytes);
    if (overlaps(m_bytes, first, length)) {
        std::vector<uint8_t> copy(first, first + length);
        m_bytes.insert(m_bytes.end(), copy.begin(), copy.end());
        return;
    }
    m_bytes.insert(m_bytes.end(), first, first + length);
}

void MutableData::replaceBytes(size_t offset, size_t length, const void* replacement,
                               size_t replacementLength) {
    offset = std::min(offset, m_bytes.size());
    length = std::min(length, m_bytes.size() - offset);
    auto* first = static_cast<const uint8_t*>(replacement);
    std::vector<uint8_t> copy;
    if (overlaps(m_bytes, first, replacementLength)) {
        copy.assign(first, first + replacementLength);
        first = copy.data();
    }
    auto at = m_bytes.erase(m_bytes.begin() + offset, m_bytes.begin() + offset + length);
    if (replacementLength)
        m_bytes.insert(at, first, first + replacementLength);
}

void MutableData::removeFirst(size_t length) {
    m_bytes.erase(m_bytes.begin(), m_bytes.begin() + std::min(length, m_bytes.size()));
}

} // namespace platform
