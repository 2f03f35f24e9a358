#pragma once
// The requests a RunLoopSocket queues: a read (whatever is available, an exact length, or up to a
// terminator) with the arithmetic that sizes each pass, a write, and the marker that starts TLS once it
// heads both queues (the same object goes into both). Passes that may read ahead take at most 256 bytes;
// a terminator read that may not read ahead never takes a byte past a possible terminator. A caller's
// buffer is filled up to its length before it grows. Plain data for the socket's run-loop thread.

#include "platform/foundation/Data.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"
#include "platform/runloop/Timer.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

namespace sockets {

// What reads and writes share: the caller's tag, the time-out (grown by each extension) and the count
// of bytes moved so far.
class RunLoopRequest : public platform::Object {
public:
    RunLoopRequest(double timeout, int64_t tag)
        : timeout(timeout)
        , tag(tag) {}

    uint64_t bytesDone{0};
    double timeout{-1};
    int64_t tag{0};
};

// One direction of a socket's requests: those waiting, the one served, and its time-out timer.
struct RunLoopRequestQueue {
    std::deque<std::shared_ptr<platform::Object>> pending;
    std::shared_ptr<platform::Object> current;
    std::shared_ptr<platform::Timer> timer;

    bool isIdle() const { return pending.empty() && !current; }
    // Stops the timer and drops the current request.
    void endCurrent();
};

} // namespace sockets

class RunLoopReadPacket final : public sockets::RunLoopRequest {
public:
    // initWithData:startOffset:maxLength:timeout:readLength:terminator:tag: — without a caller's buffer the
    // request owns a new empty one from offset 0; the terminator is copied.
    RunLoopReadPacket(std::shared_ptr<platform::MutableData> data, uint64_t startOffset, uint64_t maxLength,
                      double timeout, uint64_t readLength, std::optional<platform::Data> terminator,
                      int64_t tag);

    bool isLengthRead() const { return readLength > 0; }
    bool isTermRead() const { return readLength == 0 && term.has_value(); }

    // Pass sizes: a length or available read (a length read takes the room its buffer has, which grows
    // with the bytes that come); a terminator read reading ahead; one that may not.
    uint64_t readLengthForNonTerm() const;
    uint64_t prebufferReadLengthForTerm() const;
    uint64_t readLengthForTerm() const;
    // A terminator read served from `preBuffer`: up to the terminator when it is there (found), else all.
    uint64_t readLengthForTermWithPreBuffer(const platform::MutableData& preBuffer, bool* found) const;
    // After a pass of `numBytes` read ahead (already counted in bytesDone): the bytes past the
    // terminator, or -1 when it is not there yet.
    int64_t searchForTermAfterPreBuffering(uint64_t numBytes) const;

    // Where the next pass writes, after making room for `length` more bytes.
    uint8_t* spaceFor(uint64_t length);
    const uint8_t* readBytes() const { return buffer->bytes() + startOffset; }

    std::shared_ptr<platform::MutableData> buffer;
    uint64_t startOffset{0};
    uint64_t maxLength{0};
    uint64_t readLength{0};
    std::optional<platform::Data> term;
    bool bufferOwner{false};
    uint64_t originalBufferLength{0};

private:
    uint64_t readAheadChunk() const;
    uint64_t withinCallerBuffer(uint64_t chunk) const;
    uint64_t withinMaxLength(uint64_t chunk) const;
};

class RunLoopWritePacket final : public sockets::RunLoopRequest {
public:
    // initWithData:timeout:tag: — the bytes are shared, not copied: Data cannot change under the queue.
    RunLoopWritePacket(platform::Data data, double timeout, int64_t tag)
        : RunLoopRequest(timeout, tag)
        , buffer(std::move(data)) {}

    const platform::Data buffer;
};

class RunLoopSpecialPacket final : public platform::Object {
public:
    // initWithTLSSettings:
    explicit RunLoopSpecialPacket(platform::Value settings)
        : tlsSettings(std::move(settings)) {}

    const platform::Value tlsSettings;
};
