#include "platform/foundation/Data.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

namespace platform {

namespace {
// One allocation for the bytes and their count of owners, left unfilled for the caller to write.
std::shared_ptr<uint8_t[]> makeBlock(size_t capacity, std::pmr::memory_resource* blocks = nullptr) {
    if (blocks)
        return std::allocate_shared_for_overwrite<uint8_t[]>(std::pmr::polymorphic_allocator<uint8_t>(blocks),
                                                             capacity);
    return std::make_shared_for_overwrite<uint8_t[]>(capacity);
}
} // namespace

Data::Data(const void* bytes, size_t length)
    : m_length(length) {
    if (length) {
        auto block = makeBlock(length);
        std::memcpy(block.get(), bytes, length);
        uint8_t* first = block.get();
        m_storage = std::shared_ptr<const uint8_t>(std::move(block), first);
    }
}

// Adopted rather than copied: the vector's bytes stay where they are. Held through a shared vector
// rather than a moved-from local: g++ 12 takes the emptied temporary's destruction for a free of the
// bytes it gave away (-Wfree-nonheap-object) once this is inlined.
Data::Data(std::vector<uint8_t> bytes)
    : m_length(bytes.size()) {
    if (!bytes.empty()) {
        auto holder = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
        const uint8_t* first = holder->data();
        m_storage = std::shared_ptr<const uint8_t>(std::move(holder), first);
    }
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

void DataBuffer::reserve(size_t capacity) {
    if (capacity <= m_capacity)
        return;
    auto block = makeBlock(capacity, m_blocks);
    if (m_length)
        std::memcpy(block.get(), m_block.get(), m_length);
    m_block = std::move(block);
    m_capacity = capacity;
}

void DataBuffer::append(const void* bytes, size_t length) {
    if (length == 0)
        return;
    if (length > m_capacity - m_length)
        reserve(std::max(m_length + length, m_capacity * 2)); // doubling keeps appends linear overall
    std::memcpy(m_block.get() + m_length, bytes, length);
    m_length += length;
}

Data DataBuffer::take() {
    if (m_length == 0)
        return Data();
    size_t length = std::exchange(m_length, 0);
    m_capacity = 0;
    uint8_t* first = m_block.get();
    return Data(std::shared_ptr<const uint8_t>(std::move(m_block), first), length);
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
