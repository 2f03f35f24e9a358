#include "sockets/common/Packets.h"

#include "sockets/common/TermSearch.h"

#include <algorithm>

namespace sockets {

namespace {

constexpr uint64_t kFirstOwnedStep = 64 * 1024;

uint64_t saturatingSub(uint64_t a, uint64_t b) {
    return a > b ? a - b : 0;
}

} // namespace

uint64_t grownLengthForLengthRead(uint64_t have, uint64_t needed, uint64_t end) {
    return std::min(std::max({needed, have * 2, kFirstOwnedStep}), std::max(needed, end));
}

ReadPacket::ReadPacket(std::shared_ptr<platform::MutableData> callerBuffer, uint64_t startOffset,
                       uint64_t maxLength, double timeout, uint64_t readLength,
                       std::optional<platform::Data> terminator, int64_t tag,
                       std::shared_ptr<platform::MutableData> ownBuffer)
    : TransferPacket(timeout, tag)
    , maxLength(maxLength)
    , readLength(readLength)
    , m_term(std::move(terminator)) {
    if (callerBuffer) {
        buffer = std::move(callerBuffer);
        this->startOffset = startOffset;
        bufferOwner = false;
        originalBufferLength = buffer->length();
    } else {
        // Grown as bytes arrive: the length of a read to length may come from the peer, and
        // reserving all of it up front lets four bytes of a stranger's claim allocate gigabytes.
        buffer = ownBuffer ? std::move(ownBuffer) : std::make_shared<platform::MutableData>();
        buffer->setLength(0);
        this->startOffset = 0;
        bufferOwner = true;
        originalBufferLength = 0;
    }
}

void ReadPacket::ensureCapacityForAdditionalDataOfLength(uint64_t length) {
    uint64_t needed = startOffset + bytesDone + length;
    uint64_t have = buffer->length();
    if (have >= needed)
        return;
    if (!bufferOwner) {
        buffer->setLength(static_cast<size_t>(needed));
        return;
    }
    // The socket's own buffer is cut to the bytes read before anyone sees it, so what it grows by is
    // left for the read to fill rather than cleared first.
    if (readLength > 0)
        needed = grownLengthForLengthRead(have, needed, readLength);
    buffer->setLengthUninitialized(static_cast<size_t>(needed));
}

uint64_t ReadPacket::optimalReadLengthWithDefault(uint64_t defaultLength, bool* shouldPreBuffer) const {
    uint64_t result;
    if (readLength > 0) {
        result = std::min(saturatingSub(readLength, bytesDone), defaultLength);
        if (shouldPreBuffer)
            *shouldPreBuffer = false;
        return result;
    }
    result = defaultLength;
    if (maxLength > 0)
        result = std::min(saturatingSub(maxLength, bytesDone), defaultLength);
    if (shouldPreBuffer)
        *shouldPreBuffer = saturatingSub(buffer->length(), startOffset + bytesDone) < result;
    return result;
}

uint64_t ReadPacket::readLengthForNonTermWithHint(uint64_t bytesAvailable) const {
    if (readLength > 0)
        return std::min(saturatingSub(readLength, bytesDone), bytesAvailable);
    if (maxLength > 0)
        return std::min(saturatingSub(maxLength, bytesDone), bytesAvailable);
    return bytesAvailable;
}

uint64_t ReadPacket::readLengthForTermWithHint(uint64_t bytesAvailable, bool* shouldPreBuffer) const {
    uint64_t result = bytesAvailable;
    if (maxLength > 0)
        result = std::min(saturatingSub(maxLength, bytesDone), bytesAvailable);
    if (shouldPreBuffer)
        *shouldPreBuffer = saturatingSub(buffer->length(), startOffset + bytesDone) < result;
    return result;
}

uint64_t ReadPacket::readLengthForTermWithPreBuffer(const PreBuffer& preBuffer, bool* found) const {
    const uint64_t termLength = m_term ? m_term->length() : 0;
    const uint64_t preBufferLength = preBuffer.availableBytes();
    if (termLength == 0 || bytesDone + preBufferLength < termLength)
        return preBufferLength;

    uint64_t maxPreBufferLength = preBufferLength;
    if (maxLength > 0)
        maxPreBufferLength = std::min(preBufferLength, saturatingSub(maxLength, bytesDone));

    // The terminator may start in the last bytes the packet already holds and end in the pre-buffer.
    uint64_t bufLen = std::min(bytesDone, termLength - 1);
    std::span<const uint8_t> tail(buffer->bytes() + startOffset + bytesDone - bufLen, bufLen);
    std::span<const uint8_t> head(preBuffer.readBuffer(), maxPreBufferLength);
    auto end = findTermAcross(tail, head, m_term->span());
    if (found)
        *found = end.has_value();
    return end.value_or(maxPreBufferLength);
}

int64_t ReadPacket::searchForTermAfterPreBuffering(int64_t length) const {
    if (!m_term || m_term->empty() || length < 0)
        return -1;
    const uint64_t end = bytesDone + static_cast<uint64_t>(length);
    return bytesAfterTerm({buffer->bytes() + startOffset, end}, bytesDone, m_term->span());
}

} // namespace sockets
