#pragma once
// The RTMP output: publishes one stream to an ingest server through the RTMP client library. The
// connect thread resolves the ingest host, connects over IPv4 or IPv6 (DualStackConnect.h) and runs
// the handshake; the send thread then connects the stream (publish), sends the stream metadata once,
// then sends the media messages pushed into its queue (RTMPPacketQueue.h: at most 32 wait, producers
// block beyond that) and keeps servicing the connection (acknowledgements, pings) so that a server
// that goes away is noticed at once. It also pings the server, and fails once a server that answers pings
// falls silent, or once the bytes waiting in its socket stop being taken for as long (LivenessWatch.h;
// the same limit bounds connecting and every blocking read and write).
//
// Before it writes a message, the send thread waits until no more than about half a second of what
// the link has lately carried waits in the socket (BacklogTarget.h), and counts as sending meanwhile:
// a link slower than the stream then shows within a second as skipped frames and a filling queue, not
// as seconds of video in the socket that a viewer would wait for. The socket's buffer stays sized for
// half a second of the bitrate ceiling: it bounds how long one write can block, and must hold the
// target of a link fast enough for the ceiling and a keyframe at it; sized down to a slow link's
// target it would block such a write, not shorten the wait.
//
// Promises: the state callback runs on those threads, in order: Connecting, Connected,
// SessionStarted, or Error once at the first failure (address, lookup, connect, handshake, publish
// refused or unanswered, send, server gone, silent or not taking data), each with its own reason,
// after which both
// threads end. It never reconnects. stop() aborts
// whatever is under way, a connect or handshake too, and waits for both threads: nothing is
// reported for what the stop itself interrupted, and no callback runs once stop() has returned. A
// stop or a failure closes the queue, so producers waiting on it return at once. The destructor
// stops. Must not be stopped or destroyed from its own callback.

#include "sdk/engine/IOutputSession.h"
#include "sdk/librtmp/LivenessWatch.h"
#include "sdk/librtmp/RTMPPacketQueue.h"
#include "sdk/librtmp/StreamMetadata.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace platform {
class Thread;
}

namespace livecore {

class RTMPSession final : public IOutputSession {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    enum class State { Connecting, Connected, SessionStarted, Error };
    using StateCallback = std::function<void(State state, const std::string& reason)>;

    static std::shared_ptr<RTMPSession> create(std::string url, rtmp::StreamParameters parameters,
                                               StateCallback callback, rtmp::Liveness liveness = {});
    ~RTMPSession();
    RTMPSession(const RTMPSession&) = delete;
    RTMPSession& operator=(const RTMPSession&) = delete;

    const std::string& url() const;
    void start(); // once; later calls and calls after stop() do nothing
    void stop();  // idempotent

    // An 'rtmp' record's message (audio 8 or video 9): queued for the send thread once the stream is
    // published; waits while the queue is full.
    void pushBuffer(const uint8_t* data, size_t size, IMetadata& metadata) override;
    bool isSending() const override;
    // Closes the queue at once (producers waiting on it return), without waiting for anything; stop()
    // does this too. Safe from any thread, the callback included.
    void closeQueue();
    const rtmp::RTMPPacketQueue& packetQueue() const;
    // Called on the send thread after each queued message has been written to the socket (for
    // measurements). Set before start().
    void observeWrites(std::function<void(const rtmp::QueuedPacket&)> observer);
    // Called on the send thread with the queue's level each time it takes a message. May be set at any
    // time, from any thread; null stops it.
    using QueueObserver = std::function<void(const rtmp::RTMPPacketQueue::Level&)>;
    void observeQueue(QueueObserver observer);

    struct Core;
    RTMPSession(PrivateTag, std::shared_ptr<Core> core);

private:
    std::shared_ptr<Core> m_core;
    std::mutex m_mutex;
    bool m_started{false};
    bool m_stopped{false};
    std::shared_ptr<platform::Thread> m_connectThread;
    std::shared_ptr<platform::Thread> m_sendThread;
};

} // namespace livecore
