#include "sockets/runloop/RunLoopPackets.h"

#include "sockets/common/Packets.h"
#include "sockets/common/TermSearch.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint64_t kReadAheadChunk = 256;

uint64_t saturatingSub(uint64_t a, uint64_t b) {
    return a > b ? a - b : 0;
}

} // namespace

void sockets::RunLoopRequestQueue::endCurrent() {
    if (timer)
        timer->invalidate();
    timer.reset();
    current.reset();
}

RunLoopReadPacket::RunLoopReadPacket(std::shared_ptr<platform::MutableData> data, uint64_t startOffset,
                                     uint64_t maxLength, double timeout, uint64_t readLength,
                                     std::optional<platform::Data> terminator, int64_t tag)
    : RunLoopRequest(timeout, tag)
    , startOffset(data ? startOffset : 0)
    , maxLength(maxLength)
    , readLength(readLength)
    , term(std::move(terminator))
    , bufferOwner(!data)
    , originalBufferLength(data ? data->length() : 0) {
    buffer = data ? std::move(data) : std::make_shared<platform::MutableData>();
}

uint64_t RunLoopReadPacket::withinMaxLength(uint64_t chunk) const {
    return maxLength > 0 ? std::min(chunk, saturatingSub(maxLength, bytesDone)) : chunk;
}

// A caller's buffer is filled to its end before it grows; once grown, it takes whatever a pass brings.
uint64_t RunLoopReadPacket::withinCallerBuffer(uint64_t chunk) const {
    if (bufferOwner || buffer->length() != originalBufferLength)
        return chunk;
    uint64_t space = saturatingSub(buffer->length(), startOffset + bytesDone);
    return space > 0 ? std::min(chunk, space) : chunk;
}

uint64_t RunLoopReadPacket::readAheadChunk() const {
    return withinCallerBuffer(withinMaxLength(kReadAheadChunk));
}

uint64_t RunLoopReadPacket::readLengthForNonTerm() const {
    if (!isLengthRead())
        return readAheadChunk();
    // The length may be a peer's claim: the pass takes the room the buffer has, and the buffer grows only
    // as the bytes come, never by the whole length up front.
    const uint64_t next = startOffset + bytesDone;
    uint64_t room = saturatingSub(buffer->length(), next);
    if (room == 0)
        room = sockets::grownLengthForLengthRead(buffer->length(), next + 1, startOffset + readLength) - next;
    return std::min(saturatingSub(readLength, bytesDone), room);
}

uint64_t RunLoopReadPacket::prebufferReadLengthForTerm() const {
    return readAheadChunk();
}

uint64_t RunLoopReadPacket::readLengthForTerm() const {
    const uint64_t termLength = term ? term->length() : 0;
    if (termLength <= 1 || bytesDone == 0)
        return termLength;
    // The longest start of the terminator that ends the bytes read so far needs only the rest of it.
    uint64_t i = bytesDone >= termLength ? bytesDone - termLength + 1 : 0;
    uint64_t chunk = termLength;
    for (uint64_t j = bytesDone - i; i < bytesDone; ++i, --j) {
        if (std::memcmp(readBytes() + i, term->bytes(), j) == 0) {
            chunk = termLength - j;
            break;
        }
    }
    return withinCallerBuffer(withinMaxLength(chunk));
}

uint64_t RunLoopReadPacket::readLengthForTermWithPreBuffer(const platform::MutableData& preBuffer,
                                                           bool* found) const {
    const uint64_t termLength = term ? term->length() : 0;
    const uint64_t preBufferLength = preBuffer.length();
    if (found)
        *found = false;
    if (termLength == 0 || bytesDone + preBufferLength < termLength)
        return preBufferLength;
    uint64_t window =
        maxLength > 0 ? std::min(preBufferLength, saturatingSub(maxLength, bytesDone)) : preBufferLength;
    auto end = sockets::findTermAcross({readBytes(), bytesDone}, {preBuffer.bytes(), window}, term->span());
    if (found)
        *found = end.has_value();
    return end.value_or(preBufferLength);
}

int64_t RunLoopReadPacket::searchForTermAfterPreBuffering(uint64_t numBytes) const {
    if (!term || numBytes > bytesDone)
        return -1;
    return sockets::bytesAfterTerm({readBytes(), bytesDone}, bytesDone - numBytes, term->span());
}

uint8_t* RunLoopReadPacket::spaceFor(uint64_t length) {
    uint64_t needed = startOffset + bytesDone + length;
    if (buffer->length() < needed)
        buffer->setLength(size_t(needed));
    return buffer->mutableBytes() + startOffset + bytesDone;
}
