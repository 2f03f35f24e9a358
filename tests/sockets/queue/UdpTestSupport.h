#pragma once
// Test helpers for QueueUdpSocket: a delegate that records every callback it implements (chosen per
// test through respondsTo) and lets the test wait for them, and a plain POSIX datagram peer on a
// loopback address. Waits use real-time deadlines, generous bounds for a failing test, so they also
// work under a ManualClock. The delegate is thread-safe: its callbacks come on the delegate queue.

#include "sockets/queue/QueueUdpSocket.h"
#include "tests/sockets/queue/SocketTestSupport.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace udptest {

inline constexpr std::chrono::seconds kWait{10};

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

class UdpRecordingDelegate : public QueueUdpSocketDelegate {
public:
    explicit UdpRecordingDelegate(std::set<std::string> implemented = allSelectors())
        : m_implemented(std::move(implemented)) {}
    static std::shared_ptr<UdpRecordingDelegate> create(std::set<std::string> implemented = allSelectors()) {
        return std::make_shared<UdpRecordingDelegate>(std::move(implemented));
    }

    bool respondsTo(std::string_view selector) const override;

    std::vector<UdpEvent> events() const;
    std::vector<UdpEvent> eventsOf(UdpEventKind kind) const;
    size_t count(UdpEventKind kind) const;
    // The n-th event of the kind, or nullopt at the deadline.
    std::optional<UdpEvent> waitFor(UdpEventKind kind, size_t n = 1,
                                    std::chrono::steady_clock::duration deadline = kWait) const;

    void udpSocketDidConnectToAddress(const QueueUdpSocketPtr& sock, const platform::Data& address) override;
    void udpSocketDidNotConnect(const QueueUdpSocketPtr& sock, const platform::ErrorPtr& error) override;
    void udpSocketDidSendDataWithTag(const QueueUdpSocketPtr& sock, int64_t tag) override;
    void udpSocketDidNotSendDataWithTag(const QueueUdpSocketPtr& sock, int64_t tag,
                                        const platform::ErrorPtr& error) override;
    void udpSocketDidReceiveData(const QueueUdpSocketPtr& sock, const platform::Data& data,
                                 const platform::Data& address,
                                 const platform::Value& filterContext) override;
    void udpSocketDidClose(const QueueUdpSocketPtr& sock, const platform::ErrorPtr& error) override;

private:
    void record(UdpEvent event);

    const std::set<std::string> m_implemented;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<UdpEvent> m_events;
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
    // Waits until what the socket queue and the delegate queue hold has run.
    void drain() const;

    std::shared_ptr<UdpRecordingDelegate> delegate;
    std::shared_ptr<platform::DispatchQueue> delegateQueue;
    QueueUdpSocketPtr socket;
};

platform::Data bytes(std::string_view text);

} // namespace udptest
