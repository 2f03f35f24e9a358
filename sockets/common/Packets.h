#pragma once
// The records a socket queues: a read request with the arithmetic that decides how many bytes its
// next step may take and where its terminator ends, a write request, and the marker that starts TLS
// once it heads both queues. Plain data for the socket's own queue: no descriptor, no queue, no lock.

#include "platform/foundation/Data.h"
#include "platform/foundation/Value.h"
#include "sockets/common/PreBuffer.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace sockets {

// The length a read to length grows its buffer to, from `have`, so that `needed` bytes fit: ahead of
// its bytes, doubling from a first step of 64 KiB, so a long read reallocates a few times rather than at
// every step; never past `end` (where its last byte lands), and never to more than twice what it holds
// beyond the first step, so a length a peer claims costs only what the peer actually sends.
uint64_t grownLengthForLengthRead(uint64_t have, uint64_t needed, uint64_t end);

// What a read or write queue holds: a request or the TLS marker (tell them apart by dynamic cast).
class Packet {
public:
    virtual ~Packet() = default;
};

// What a read and a write request share: the caller's tag, the time-out (extensions add to it) and
// the bytes done so far.
class TransferPacket : public Packet {
public:
    TransferPacket(double timeout, int64_t tag)
        : timeout(timeout)
        , tag(tag) {}

    uint64_t bytesDone{0};
    double timeout{-1};
    int64_t tag{0};
};

class ReadPacket final : public TransferPacket {
public:
    // Without a caller's buffer the packet owns an empty buffer (`ownBuffer` when given, else a new
    // one) that grows as bytes arrive and starts at 0; with one, the bytes land in the caller's buffer
    // from `startOffset`. The terminator is copied (empty means none).
    ReadPacket(std::shared_ptr<platform::MutableData> callerBuffer, uint64_t startOffset, uint64_t maxLength,
               double timeout, uint64_t readLength, std::optional<platform::Data> terminator, int64_t tag,
               std::shared_ptr<platform::MutableData> ownBuffer = nullptr);

    // Lengthens the buffer (zero bytes) so `length` more bytes fit after what is done.
    void ensureCapacityForAdditionalDataOfLength(uint64_t length);
    // How much to read straight from the socket, and whether the buffer is too small for that.
    uint64_t optimalReadLengthWithDefault(uint64_t defaultLength, bool* shouldPreBuffer) const;
    // How much of `bytesAvailable` known bytes a read-available or read-to-length request may take.
    uint64_t readLengthForNonTermWithHint(uint64_t bytesAvailable) const;
    // How much a terminator read may take from the socket, and whether to go through the pre-buffer.
    uint64_t readLengthForTermWithHint(uint64_t bytesAvailable, bool* shouldPreBuffer) const;
    // How many pre-buffered bytes belong to this terminator read (up to and including the terminator
    // when found). `found` is set only when the pre-buffer could hold the terminator at all.
    uint64_t readLengthForTermWithPreBuffer(const PreBuffer& preBuffer, bool* found) const;
    // After `length` bytes were read straight into the buffer: bytes read past the terminator, or -1.
    int64_t searchForTermAfterPreBuffering(int64_t length) const;

    bool hasTerm() const { return m_term.has_value(); }
    const std::optional<platform::Data>& term() const { return m_term; }
    uint64_t bufferSpace() const { return buffer->length() - startOffset - bytesDone; }

    std::shared_ptr<platform::MutableData> buffer;
    uint64_t startOffset{0};
    uint64_t maxLength{0};
    uint64_t readLength{0};
    bool bufferOwner{false};
    uint64_t originalBufferLength{0};

private:
    std::optional<platform::Data> m_term;
};

class WritePacket final : public TransferPacket {
public:
    WritePacket(platform::Data data, double timeout, int64_t tag)
        : TransferPacket(timeout, tag)
        , buffer(std::move(data)) {}

    platform::Data buffer;
};

// The TLS marker; the same object is queued in both queues.
class SpecialPacket final : public Packet {
public:
    explicit SpecialPacket(platform::Value settings)
        : tlsSettings(std::move(settings)) {}

    const platform::Value tlsSettings;
};

} // namespace sockets
