#pragma once
// Loopback peers for socket tests, driven with plain blocking POSIX calls: one end of a TCP connection,
// a listening socket, and the loopback address records (127.0.0.1 or ::1). Waits use real-time
// deadlines (generous bounds for a failing test, never a measure of speed), so they also work under a
// ManualClock. Each object belongs to one thread at a time.

#include "platform/foundation/Data.h"
#include "platform/foundation/FileDescriptor.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <sys/socket.h>

namespace liveapp::test {

inline constexpr std::chrono::seconds kPeerWait{10};

// Whether this machine can use the IPv6 loopback address (tests that need ::1 skip otherwise).
bool hasIPv6Loopback();

// One end of a TCP connection driven with plain blocking POSIX calls.
class RawPeer {
public:
    explicit RawPeer(platform::FileDescriptor fd)
        : m_fd(std::move(fd)) {}

    // Connects to the loopback address of the family (AF_INET or AF_INET6) and port; null on failure.
    static std::unique_ptr<RawPeer> connectTo(int family, uint16_t port);

    int fd() const { return m_fd.get(); }
    bool sendAll(std::string_view bytes);
    // Exactly `length` bytes, or what arrived before the deadline, end of stream or an error.
    std::string receiveExactly(size_t length, std::chrono::steady_clock::duration deadline = kPeerWait);
    // What arrives within `deadline` (at least one byte if any arrive), "" at end of stream.
    std::string receiveSome(std::chrono::steady_clock::duration deadline = kPeerWait);
    // True once the other end has closed its sending side (after draining what it sent before).
    bool waitForEndOfStream(std::chrono::steady_clock::duration deadline = kPeerWait);
    void shutdownWrite();
    // Closes with an RST instead of a FIN.
    void reset();
    void close() { m_fd.reset(); }
    void setReceiveBufferSize(int bytes);
    void setSendBufferSize(int bytes);
    uint16_t localPort() const;

private:
    platform::FileDescriptor m_fd;
};

// A listening socket on a loopback address (port 0 picks a free one).
class RawListener {
public:
    // Null when the family's loopback address is unusable. `receiveBuffer` > 0 is set before listen,
    // so accepted connections start with it.
    static std::unique_ptr<RawListener> create(int family, int backlog = 16, uint16_t port = 0,
                                               int receiveBuffer = 0);
    explicit RawListener(platform::FileDescriptor fd, int family)
        : m_fd(std::move(fd))
        , m_family(family) {}

    int fd() const { return m_fd.get(); }
    int family() const { return m_family; }
    uint16_t port() const;
    // The next connection, or null at the deadline.
    std::unique_ptr<RawPeer> accept(std::chrono::steady_clock::duration deadline = kPeerWait);

private:
    platform::FileDescriptor m_fd;
    int m_family;
};

// The loopback socket address of a family and port as the socket takes it (16 or 28 bytes).
platform::Data loopbackAddress(int family, uint16_t port);

} // namespace liveapp::test
