#pragma once
// The output's queue of RTMP messages waiting for the send thread. It holds at most `capacity`
// messages (32 by default): a producer pushing into a full queue waits until the send thread takes
// one, or until the queue is closed, and no message is ever dropped while the queue is open. The send
// thread polls readyDescriptor(), which is readable while messages may be waiting, takes them in order
// with takeForSending() and says when each has left with finishedSending().
//
// Promises: thread-safe; close() wakes every waiting producer at once, and pushes after it answer
// false. isSending() is true from the moment a message is taken until it has been sent, so "empty and
// not sending" means every message pushed so far has reached the network. level() tells since when
// (on the platform clock) the queue has been over half full, or under a quarter full, without a break:
// a producer blocked on a full queue cannot look, but the record keeps counting.

#include "platform/foundation/Clock.h"
#include "platform/foundation/FileDescriptor.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace livecore::rtmp {

struct QueuedPacket {
    uint8_t messageType{0}; // 8 audio, 9 video, 18 data
    int32_t timestamp{0};   // milliseconds
    std::vector<uint8_t> body;
};

class RTMPPacketQueue {
public:
    static constexpr size_t defaultCapacity = 32;

    struct Level {
        std::optional<platform::MonoTime> overHalfSince;
        std::optional<platform::MonoTime> underQuarterSince;
    };

    explicit RTMPPacketQueue(size_t capacity = defaultCapacity);

    // Waits while the queue is full; false when the queue is (or becomes) closed.
    bool push(QueuedPacket packet);
    std::optional<QueuedPacket> takeForSending();
    void finishedSending();
    void close();

    int readyDescriptor() const { return m_ready.get(); }
    // Clears the descriptor's readiness; call before taking what is queued.
    void clearReady();

    size_t size() const;
    Level level() const;
    size_t capacity() const { return m_capacity; }
    bool isSending() const;
    // How many producers wait on a full queue right now.
    size_t waitingProducers() const;

private:
    const size_t m_capacity;
    platform::FileDescriptor m_ready;
    mutable std::mutex m_mutex;
    std::condition_variable m_notFull;
    std::deque<QueuedPacket> m_packets;
    bool m_closed{false};
    bool m_sending{false};
    size_t m_waiting{0};
    Level m_level;

    void noteLevel(); // after each change of size, under the mutex
};

} // namespace livecore::rtmp
