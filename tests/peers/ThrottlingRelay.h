#pragma once
// A slow uplink for tests: a TCP relay on 127.0.0.1 (a free port) that connects each client it accepts
// to a target port on 127.0.0.1 and copies bytes both ways. What the client sends is paced by a token
// bucket (the rate in kbit/s, 1 kbit = 1000 bits, with a burst of 1/20 s of the rate, shared by all
// connections as one uplink); what the target sends passes at once. The relay reads from the client
// no faster than the rate, so a throttled client's send buffer fills and its unsent bytes grow as over
// a slow link. What the relay holds of the client's bytes unforwarded is small (`hold`, 16 KiB unless
// given): it reads at most that much at a time, and its socket's receive buffer is set to it. The
// kernel acknowledges to the client up to about one and a half times that before the relay reads it
// (measured on loopback: 6 KiB holds at most about 8.5 KiB, 16 KiB about 26 KiB), and those bytes
// already look delivered to the client while they still wait here, as in a router's queue.
//
// Promises: bytes arrive whole and in order both ways. When either side of a connection ends, what the
// relay already holds for the other side is delivered and both sides are closed; a side that fails (a
// reset) closes both at once. The client's end reaches the relay behind its bytes, so a stalled uplink
// holds it back too. The rate may change at any time from any thread and holds from the relay's next step on;
// the counters are safe from any thread. The pacing runs on the steady clock, never on platform::Clock, so a
// test's ManualClock does not stall it. The destructor closes every connection and joins the relay's thread.
// Not promised: fairness between connections, or a smooth rate below 1/20 s. The client's kernel still
// grows its send buffer to a few hundred KiB, so a write that size returns at once; a test that wants
// back-pressure sooner gives the client a small SO_SNDBUF.
//
//     ThrottlingRelay relay(nginx.port());
//     relay.setRate(400);          // the publisher now sees a 400 kbit/s uplink
//     ... publish to "rtmp://127.0.0.1:" + std::to_string(relay.port()) + "/live/42" ...
//     relay.setRate(0);            // the uplink stalls: nothing more reaches the ingest
//     relay.setRate(std::nullopt); // unthrottled again

#include "platform/foundation/FileDescriptor.h"
#include "tests/peers/LoopbackPeer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace liveapp::test {

namespace detail {

// Bytes a relay passed one way. A send and its count happen under one lock, so a reader who saw the
// bytes arrive also sees them counted.
class ByteTally {
public:
    std::unique_lock<std::mutex> lock() { return std::unique_lock(m_mutex); }
    void add(uint64_t count) { m_bytes += count; } // under lock()
    uint64_t bytes() const {
        std::lock_guard guard(m_mutex);
        return m_bytes;
    }

private:
    mutable std::mutex m_mutex;
    uint64_t m_bytes{0};
};

} // namespace detail

class ThrottlingRelay {
public:
    static constexpr size_t defaultHold = 16 * 1024;

    // `kbitPerSecond` as for setRate(), `hold` as above. Throws std::runtime_error when it cannot listen.
    explicit ThrottlingRelay(uint16_t targetPort, std::optional<int> kbitPerSecond = std::nullopt,
                             size_t hold = defaultHold);
    ~ThrottlingRelay();
    ThrottlingRelay(const ThrottlingRelay&) = delete;
    ThrottlingRelay& operator=(const ThrottlingRelay&) = delete;

    uint16_t port() const { return m_port; }

    // kbit/s from the client to the target: nullopt passes everything at once, 0 passes nothing (the
    // uplink stalls until another rate is set).
    void setRate(std::optional<int> kbitPerSecond);

    // Bytes delivered to the target and to clients, over all connections so far: never less than what
    // the receiving peer has already read.
    uint64_t bytesToServer() const { return m_toServer.bytes(); }
    uint64_t bytesToClient() const { return m_toClient.bytes(); }
    // Connections accepted since the start, and those still open.
    size_t connectionCount() const { return m_accepted.load(); }
    size_t openConnectionCount() const { return m_open.load(); }

private:
    class Loop;
    std::optional<int> rate(bool& stopping) const;
    void wake() const;

    uint16_t m_targetPort;
    size_t m_hold;
    uint16_t m_port{0};
    std::unique_ptr<RawListener> m_listener;
    platform::FileDescriptor m_wake; // an eventfd that interrupts the relay's poll

    mutable std::mutex m_mutex;
    std::optional<int> m_rate; // guarded by m_mutex
    bool m_stopping{false};    // guarded by m_mutex

    detail::ByteTally m_toServer;
    detail::ByteTally m_toClient;
    std::atomic<size_t> m_accepted{0};
    std::atomic<size_t> m_open{0};

    std::thread m_thread; // last: it uses everything above
};

} // namespace liveapp::test
