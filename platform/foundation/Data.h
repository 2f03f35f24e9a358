#pragma once
// Bytes. Data is immutable and shared: copies and subdata() slices share one buffer, so passing
// bytes around is cheap. MutableData is an owned, growable buffer; data() snapshots it. DataBuffer
// fills bytes in place and hands them out as Data without a copy.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

class Data {
public:
    Data() = default;
    Data(const void* bytes, size_t length);
    explicit Data(std::vector<uint8_t> bytes);
    explicit Data(std::string_view text);

    const uint8_t* bytes() const { return m_storage ? m_storage.get() + m_offset : nullptr; }
    size_t length() const { return m_length; }
    bool empty() const { return m_length == 0; }

    // A slice sharing this buffer; offset and length are clamped to the bytes that exist.
    Data subdata(size_t offset, size_t length) const;

    std::span<const uint8_t> span() const { return {bytes(), m_length}; }
    std::string_view view() const { return {reinterpret_cast<const char*>(bytes()), m_length}; }
    std::string toString() const { return std::string(view()); }
    std::vector<uint8_t> toVector() const { return {bytes(), bytes() + m_length}; }

    bool operator==(const Data& other) const { return view() == other.view(); }
    size_t hash() const;

private:
    friend class DataBuffer;
    Data(std::shared_ptr<const uint8_t> storage, size_t length)
        : m_storage(std::move(storage))
        , m_length(length) {}

    // Points at the first byte of whatever owns them (one block holding the bytes and their count of
    // owners, or an adopted vector).
    std::shared_ptr<const uint8_t> m_storage;
    size_t m_offset{0};
    size_t m_length{0};
};

// Bytes appended in place, then handed out by take() as Data without a copy: the bytes and the count
// of their owners share one allocation, and room reserved up front (from a length announced ahead,
// say) is never zero-filled. Appending past the room moves the bytes to a larger block. Blocks come
// from the allocator, or from `blocks` when given (which then outlives every Data taken from them).
class DataBuffer {
public:
    DataBuffer() = default;
    explicit DataBuffer(std::pmr::memory_resource* blocks)
        : m_blocks(blocks) {}
    // Not copied: two buffers appending into one block would write over each other's bytes.
    DataBuffer(const DataBuffer&) = delete;
    DataBuffer& operator=(const DataBuffer&) = delete;
    DataBuffer(DataBuffer&& other) noexcept
        : m_blocks(other.m_blocks)
        , m_block(std::move(other.m_block))
        , m_capacity(std::exchange(other.m_capacity, 0))
        , m_length(std::exchange(other.m_length, 0)) {}
    DataBuffer& operator=(DataBuffer&& other) noexcept {
        m_blocks = other.m_blocks;
        m_block = std::move(other.m_block);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_length = std::exchange(other.m_length, 0);
        return *this;
    }

    void reserve(size_t capacity);
    void append(const void* bytes, size_t length);
    size_t length() const { return m_length; }
    size_t capacity() const { return m_capacity; }
    bool empty() const { return m_length == 0; }
    // The bytes appended so far; the buffer is empty after.
    Data take();

private:
    std::pmr::memory_resource* m_blocks{nullptr};
    std::shared_ptr<uint8_t[]> m_block;
    size_t m_capacity{0};
    size_t m_length{0};
};

class MutableData {
public:
    MutableData() = default;
    explicit MutableData(size_t length)
        : m_bytes(length, 0) {}
    explicit MutableData(const Data& data)
        : m_bytes(data.bytes(), data.bytes() + data.length()) {}

    uint8_t* mutableBytes() { return m_bytes.data(); }
    const uint8_t* bytes() const { return m_bytes.data(); }
    size_t length() const { return m_bytes.size(); }
    bool empty() const { return m_bytes.empty(); }

    void appendBytes(const void* bytes, size_t length);
    void appendData(const Data& data) { appendBytes(data.bytes(), data.length()); }
    void appendString(std::string_view text) { appendBytes(text.data(), text.size()); }
    void setLength(size_t length) { m_bytes.resize(length, 0); }
    // As setLength, but bytes added stay unset: for a buffer its next step fills (a read, say), which
    // would otherwise be written twice.
    void setLengthUninitialized(size_t length) { m_bytes.resize(length); }
    // Room for `capacity` bytes without growing (dataWithCapacity:); the length does not change.
    void reserve(size_t capacity) { m_bytes.reserve(capacity); }
    size_t capacity() const { return m_bytes.capacity(); }
    void increaseLengthBy(size_t extra) { m_bytes.resize(m_bytes.size() + extra, 0); }
    // Replaces `length` bytes at `offset` with `replacementLength` bytes (the buffer grows or shrinks).
    void replaceBytes(size_t offset, size_t length, const void* replacement, size_t replacementLength);
    void removeFirst(size_t length);

    Data data() const { return Data(m_bytes.data(), m_bytes.size()); }
    std::string_view view() const { return {reinterpret_cast<const char*>(m_bytes.data()), m_bytes.size()}; }

private:
    // Default-initialises what it adds, so only setLengthUninitialized leaves bytes unset: every other
    // growth names its fill.
    template <class T> struct LeavesUnset : std::allocator<T> {
        using value_type = T;
        template <class U> struct rebind { using other = LeavesUnset<U>; };
        LeavesUnset() = default;
        template <class U> LeavesUnset(const LeavesUnset<U>&) noexcept {}
        template <class U> void construct(U* at) noexcept { ::new (static_cast<void*>(at)) U; }
        template <class U, class... Args> void construct(U* at, Args&&... args) {
            ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
        }
    };
    std::vector<uint8_t, LeavesUnset<uint8_t>> m_bytes;
};

} // namespace platform
