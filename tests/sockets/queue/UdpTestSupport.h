#pragma once
// Test helpers for QueueUdpSocket: a delegate that records every callback it implements (chosen per
// test through respondsTo) and lets the test wait for them, and a plain POSIX datagram peer on a
// loopback address. Waits use real-time deadlines, generous bounds for a failing test, so they also
// work under a ManualClock. The delegate is thread-safe: its callbacks come on the delegate queue.

#include "sockets/queue/QueueUdpSocket.h"
#include "tests/sockets/queue/SocketTestSupport.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace udptest {

using queuesockettest::kWait;

namespace sel {
inline constexpr const char* didConnect = "udpSocket:didConnectToAddress:";
inline constexpr const char* didNotConnect = "udpSocket:didNotConnect:";
inline constexpr const char* didSend = "udpSocket:didSendDataWithTag:";
inline constexpr const char* didNotSend = "udpSocket:didNotSendDataWithTag:dueToError:";
inline constexpr const char* didReceive = "udpSocket:didReceiveData:fromAddress:withFilterContext:";
inline constexpr const char* didClose = "udpSocketDidClose:withError:";
} // namespace sel

std::set<std::string> allSelectors();

enum class UdpEventKind { Connect, NotConnect, Send, NotSend, Receive, Close };

struct UdpEvent {
    UdpEventKind kind{UdpEventKind::Close};
    QueueUdpSocketPtr sock{}; // null in a close sent while the socket was being destroyed
    platform::Data address{};
    platform::Data data{};
    platform::Value context{};
    int64_t tag{0};
    platform::ErrorPtr error{};
};

class UdpRecordingDelegate : public QueueUdpSocketDelegate, public queuesockettest::Recorder<UdpEvent> {
public:
    explicit UdpRecordingDelegate(std::set<std::string> implemented = allSelectors())
        : m_implemented(std::move(implemented)) {}
    static std::shared_ptr<UdpRecordingDelegate> create(std::set<std::string> implemented = allSelectors()) {
        return std::make_shared<UdpRecordingDelegate>(std::move(implemented));
    }

    bool respondsTo(std::string_view selector) const override {
        return m_implemented.count(std::string(selector)) != 0;
    }
    // The texts of the datagrams received so far.
    std::vector<std::string> receivedTexts() const;

    void udpSocketDidConnectToAddress(const QueueUdpSocketPtr& sock, const platform::Data& address) override {
        record({.kind = UdpEventKind::Connect, .sock = sock, .address = address});
    }
    void udpSocketDidNotConnect(const QueueUdpSocketPtr& sock, const platform::ErrorPtr& error) override {
        record({.kind = UdpEventKind::NotConnect, .sock = sock, .error = error});
    }
    void udpSocketDidSendDataWithTag(const QueueUdpSocketPtr& sock, int64_t tag) override {
        record({.kind = UdpEventKind::Send, .sock = sock, .tag = tag});
    }
    void udpSocketDidNotSendDataWithTag(const QueueUdpSocketPtr& sock, int64_t tag,
                                        const platform::ErrorPtr& error) override {
        record({.kind = UdpEventKind::NotSend, .sock = sock, .tag = tag, .error = error});
    }
    void udpSocketDidReceiveData(const QueueUdpSocketPtr& sock, const platform::Data& data,
                                 const platform::Data& address, const platform::Value& context) override {
        record({.kind = UdpEventKind::Receive,
                .sock = sock,
                .address = address,
                .data = data,
                .context = context});
    }
    void udpSocketDidClose(const QueueUdpSocketPtr& sock, const platform::ErrorPtr& error) override {
        record({.kind = UdpEventKind::Close, .sock = sock, .error = error});
    }

private:
    const std::set<std::string> m_implemented;
};

// A plain datagram socket bound to the family's loopback address on a free port.
class RawUdpPeer {
public:
    // Null when the family's loopback address is unusable.
    static std::unique_ptr<RawUdpPeer> create(int family = AF_INET);
    RawUdpPeer(platform::FileDescriptor fd, int family)
        : m_fd(std::move(fd))
        , m_family(family) {}

    int fd() const { return m_fd.get(); }
    uint16_t port() const;
    platform::Data address() const { return queuesockettest::loopbackAddress(m_family, port()); }
    bool sendTo(const platform::Data& to, std::string_view bytes);
    // The next datagram (with its sender), or nullopt at the deadline.
    std::optional<std::string> receive(std::chrono::steady_clock::duration deadline = kWait,
                                       platform::Data* from = nullptr);

private:
    platform::FileDescriptor m_fd;
    int m_family;
};

// A socket with a recording delegate and its own delegate queue. Closes the socket and lets its queued
// work run when it goes, so nothing of a test still runs when the program exits.
struct UdpFixture {
    UdpFixture(std::set<std::string> implemented = allSelectors());
    ~UdpFixture();
    void drain() const {
        socket->performBlock([] {});
        delegateQueue->sync([] {});
    }

    std::shared_ptr<UdpRecordingDelegate> delegate;
    std::shared_ptr<platform::DispatchQueue> delegateQueue;
    QueueUdpSocketPtr socket;
};

using queuesockettest::bytes;

// A datagram socket pair whose receiving end is full, so sends through the other end meet EAGAIN.
struct FullPair {
    FullPair();
    ~FullPair();
    // Puts the full end in place of the socket's IPv4 descriptor, so its next send meets a full buffer.
    void substituteFor(const QueueUdpSocketPtr& socket) const;
    // Empties the receiving end; answers what it held besides the filling.
    std::vector<std::string> drainReceiver() const;

    int fds[2]{-1, -1};
};

} // namespace udptest
