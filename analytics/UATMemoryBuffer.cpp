#include "analytics/UATMemoryBuffer.h"

#include "analytics/UATException.h"

#include <cstring>

UATMemoryBuffer::UATMemoryBuffer(const platform::Data& data)
    : mBuffer(data.bytes(), data.bytes() + data.length()) {}

platform::Data UATMemoryBuffer::getBuffer() const {
    return platform::Data(mBuffer.data(), mBuffer.size());
}

int32_t UATMemoryBuffer::readAll(uint8_t* buffer, uint32_t offset, int32_t length) {
    if (length < 0 || mBuffer.size() - mOffset < static_cast<uint64_t>(length))
        throw UATTransportException("Not enough bytes remain in buffer");
    if (length > 0)
        std::memcpy(buffer + offset, mBuffer.data() + mOffset, static_cast<size_t>(length));
    mOffset += static_cast<uint64_t>(length);
    if (mOffset >= kCompactionThreshold) {
        mBuffer.erase(mBuffer.begin(), mBuffer.begin() + static_cast<std::ptrdiff_t>(mOffset));
        mOffset = 0;
    }
    return length;
}

void UATMemoryBuffer::write(const uint8_t* buffer, uint32_t offset, uint32_t length) {
    if (length > 0)
        mBuffer.insert(mBuffer.end(), buffer + offset, buffer + offset + length);
}
