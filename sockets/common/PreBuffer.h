#pragma once
// The read-ahead buffer of a socket: bytes taken from the descriptor (or decrypted) before a read
// request can use them. One contiguous heap block with a read and a write position; it grows by what a
// write needs beyond its free tail and never shrinks or compacts: the space before the read position
// is reused only once every byte has been read, when both positions jump back to the start.
// Plain data for one thread at a time (the socket's own queue).

#include <cstddef>
#include <cstdint>

namespace sockets {

class PreBuffer {
public:
    explicit PreBuffer(uint64_t capacity);
    ~PreBuffer();
    PreBuffer(const PreBuffer&) = delete;
    PreBuffer& operator=(const PreBuffer&) = delete;

    // Makes room for `length` more bytes after the write position, keeping unread bytes where they are.
    void ensureCapacityForWrite(uint64_t length);

    uint64_t availableBytes() const { return static_cast<uint64_t>(m_writePointer - m_readPointer); }
    uint8_t* readBuffer() const { return m_readPointer; }
    void getReadBuffer(uint8_t** buffer, uint64_t* availableBytes) const;
    // Consumes bytes; reading the last unread byte moves both positions back to the start.
    void didRead(uint64_t length);

    uint64_t availableSpace() const {
        return static_cast<uint64_t>(m_preBuffer + m_preBufferSize - m_writePointer);
    }
    uint8_t* writeBuffer() const { return m_writePointer; }
    void getWriteBuffer(uint8_t** buffer, uint64_t* availableSpace) const;
    void didWrite(uint64_t length);

    // Drops every unread byte; the block keeps its size.
    void reset();

    uint64_t capacity() const { return m_preBufferSize; }
    // Where the read position stands from the start of the block.
    uint64_t readOffset() const { return static_cast<uint64_t>(m_readPointer - m_preBuffer); }

private:
    uint8_t* m_preBuffer{nullptr};
    uint64_t m_preBufferSize{0};
    uint8_t* m_readPointer{nullptr};
    uint8_t* m_writePointer{nullptr};
};

} // namespace sockets
