#pragma once
// The bytes a socket hands to a reader: a slice that shares ownership of the buffer it lives in, so it
// stays valid however long the reader keeps it, even after the socket or the caller let go of the
// buffer. A slice of a caller's mutable buffer is not a copy: the caller must not change that buffer
// while a reader still uses the slice. Cheap to copy; immutable through this interface.

#include "platform/foundation/Data.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace sockets {

class SharedBytes {
public:
    SharedBytes() = default;
    // Immutable bytes (no copy).
    SharedBytes(platform::Data data); // NOLINT: implicit, so Data can stand wherever bytes are expected
    // `length` bytes of `buffer` from `offset`, clamped to the buffer's length at the time of the call.
    SharedBytes(std::shared_ptr<platform::MutableData> buffer, size_t offset, size_t length);

    const uint8_t* bytes() const;
    size_t length() const { return m_length; }
    bool empty() const { return m_length == 0; }
    std::span<const uint8_t> span() const { return {bytes(), m_length}; }
    std::string_view view() const { return {reinterpret_cast<const char*>(bytes()), m_length}; }
    std::string toString() const { return std::string(view()); }

    // As immutable Data: free for immutable bytes, a copy for a slice of a mutable buffer.
    platform::Data data() const;

    bool operator==(const SharedBytes& other) const { return view() == other.view(); }
    bool operator==(const platform::Data& other) const { return view() == other.view(); }

private:
    platform::Data m_data;
    std::shared_ptr<platform::MutableData> m_buffer;
    size_t m_offset{0};
    size_t m_length{0};
};

} // namespace sockets
