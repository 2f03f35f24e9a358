#include "sockets/common/PreBuffer.h"

#include <cstdlib>
#include <new>

namespace sockets {

PreBuffer::PreBuffer(uint64_t capacity)
    : m_preBufferSize(capacity) {
    // malloc(0) may answer null; one byte keeps every pointer valid for an empty buffer.
    m_preBuffer = static_cast<uint8_t*>(std::malloc(capacity > 0 ? capacity : 1));
    if (!m_preBuffer)
        throw std::bad_alloc();
    m_readPointer = m_preBuffer;
    m_writePointer = m_preBuffer;
}

PreBuffer::~PreBuffer() {
    std::free(m_preBuffer);
}

void PreBuffer::ensureCapacityForWrite(uint64_t length) {
    uint64_t space = availableSpace();
    if (length <= space)
        return;
    uint64_t additional = length - space;
    uint64_t newSize = m_preBufferSize + additional;
    auto readOffset = m_readPointer - m_preBuffer;
    auto writeOffset = m_writePointer - m_preBuffer;
    auto* grown = static_cast<uint8_t*>(std::realloc(m_preBuffer, newSize));
    if (!grown)
        throw std::bad_alloc();
    m_preBuffer = grown;
    m_preBufferSize = newSize;
    m_readPointer = m_preBuffer + readOffset;
    m_writePointer = m_preBuffer + writeOffset;
}

void PreBuffer::getReadBuffer(uint8_t** buffer, uint64_t* available) const {
    if (buffer)
        *buffer = m_readPointer;
    if (available)
        *available = availableBytes();
}

void PreBuffer::didRead(uint64_t length) {
    m_readPointer += length;
    if (m_readPointer >= m_writePointer) {
        // Everything has been read: start over so the whole block is free again.
        m_readPointer = m_preBuffer;
        m_writePointer = m_preBuffer;
    }
}

void PreBuffer::getWriteBuffer(uint8_t** buffer, uint64_t* space) const {
    if (buffer)
        *buffer = m_writePointer;
    if (space)
        *space = availableSpace();
}

void PreBuffer::didWrite(uint64_t length) {
    m_writePointer += length;
}

void PreBuffer::reset() {
    m_readPointer = m_preBuffer;
    m_writePointer = m_preBuffer;
}

} // namespace sockets
