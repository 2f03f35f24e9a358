#pragma once
// Test helpers for QueueSocket: a delegate that records every callback it implements (the set is
// chosen per test, through respondsTo) and lets the test wait for them, and a raw POSIX peer on the
// loopback addresses (listen, accept, connect, send, receive exactly, half-close, reset, small buffers).
//
// Waits use real-time deadlines (generous bounds for a failing test, never a measure of speed), so they
// also work under a ManualClock. The delegate is thread-safe: its callbacks come on the delegate queue.

#include "sockets/queue/QueueSocket.h"
#include "tests/support/LoopbackPeer.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace queuesockettest {

inline constexpr std::chrono::seconds kWait{10};

// The selector texts of the delegate protocol.
namespace sel {
inline constexpr const char* newSocketQueue = "newSocketQueueForConnectionFromAddress:onSocket:";
inline constexpr const char* didAccept = "socket:didAcceptNewSocket:";
inline constexpr const char* didConnectToHost = "socket:didConnectToHost:port:";
inline constexpr const char* didConnectToUrl = "socket:didConnectToUrl:";
inline constexpr const char* didRead = "socket:didReadData:withTag:";
inline constexpr const char* didReadPartial = "socket:didReadPartialDataOfLength:tag:";
inline constexpr const char* shouldTimeoutRead = "socket:shouldTimeoutReadWithTag:elapsed:bytesDone:";
inline constexpr const char* didCloseReadStream = "socketDidCloseReadStream:";
inline constexpr const char* didWritePartial = "socket:didWritePartialDataOfLength:tag:";
inline constexpr const char* didWrite = "socket:didWriteDataWithTag:";
inline constexpr const char* shouldTimeoutWrite = "socket:shouldTimeoutWriteWithTag:elapsed:bytesDone:";
inline constexpr const char* didReceiveTrust = "socket:didReceiveTrust:completionHandler:";
inline constexpr const char* didSecure = "socketDidSecure:";
inline constexpr const char* didDisconnect = "socketDidDisconnect:withError:";
} // namespace sel

std::set<std::string> allSelectors();
// What the application's chat client implements.
std::set<std::string> chatClientSelectors();

enum class EventKind {
    NewSocketQueue,
    Accept,
    ConnectToHost,
    ConnectToUrl,
    Read,
    ReadPartial,
    ReadTimeoutQuestion,
    CloseReadStream,
    WritePartial,
    Write,
    WriteTimeoutQuestion,
    Trust,
    Secure,
    Disconnect,
};

struct Event {
    EventKind kind{EventKind::Disconnect};
    QueueSocketPtr sock{}; // null in a disconnect sent while the socket was being destroyed
    std::string host{};
    uint16_t port{0};
    platform::URLPtr url{};
    sockets::SharedBytes data{};
    uint64_t length{0}; // partial lengths, bytes done of a time-out question
    int64_t tag{0};
    double elapsed{0};
    platform::ErrorPtr error{};
    QueueSocketPtr newSocket{};
    platform::Data address{}; // peer address of a new connection
    platform::TlsTrustPtr trust{};
};

class RecordingDelegate : public QueueSocketDelegate {
public:
    explicit RecordingDelegate(std::set<std::string> implemented = allSelectors());
    static std::shared_ptr<RecordingDelegate> create(std::set<std::string> implemented = allSelectors());

    bool respondsTo(std::string_view selector) const override;

    std::vector<Event> events() const;
    size_t count(EventKind kind) const;
    std::vector<Event> eventsOf(EventKind kind) const;
    // Waits until at least `n` events of the kind have arrived; the n-th one, or nullopt at the deadline.
    std::optional<Event> waitFor(EventKind kind, size_t n = 1,
                                 std::chrono::steady_clock::duration deadline = kWait) const;
    // Waits until the predicate over the recorded events holds.
    bool waitUntil(const std::function<bool(const std::vector<Event>&)>& predicate,
                   std::chrono::steady_clock::duration deadline = kWait) const;
    // Forgets the events so far (and the sockets they hold).
    void clearEvents();
    // All bytes of the read completions so far, in arrival order.
    std::string readBytes() const;

    // Runs inside each callback (on the delegate queue), before the event is recorded. Set it before
    // the socket can call back.
    std::function<void(const Event&)> onEvent;

    // Answers to the time-out questions, used in order; 0 (time out) once used up.
    void setReadTimeoutExtensions(std::vector<double> extensions);
    void setWriteTimeoutExtensions(std::vector<double> extensions);
    // The queue handed to accepted sockets (null: their own).
    void setNewSocketQueue(std::shared_ptr<platform::DispatchQueue> queue);
    // The trust verdict given at once; nullopt keeps the handler for the test (trustHandlers()).
    void setTrustAnswer(std::optional<bool> answer);
    std::vector<std::function<void(bool)>> trustHandlers() const;

    std::shared_ptr<platform::DispatchQueue>
    newSocketQueueForConnectionFromAddress(const platform::Data& address,
                                           const QueueSocketPtr& sock) override;
    void socketDidAcceptNewSocket(const QueueSocketPtr& sock, const QueueSocketPtr& newSocket) override;
    void socketDidConnectToHost(const QueueSocketPtr& sock, const std::string& host, uint16_t port) override;
    void socketDidConnectToUrl(const QueueSocketPtr& sock, const platform::URLPtr& url) override;
    void socketDidReadData(const QueueSocketPtr& sock, const sockets::SharedBytes& data,
                           int64_t tag) override;
    void socketDidReadPartialDataOfLength(const QueueSocketPtr& sock, uint64_t partialLength,
                                          int64_t tag) override;
    double socketShouldTimeoutReadWithTag(const QueueSocketPtr& sock, int64_t tag, double elapsed,
                                          uint64_t length) override;
    void socketDidCloseReadStream(const QueueSocketPtr& sock) override;
    void socketDidWritePartialDataOfLength(const QueueSocketPtr& sock, uint64_t partialLength,
                                           int64_t tag) override;
    void socketDidWriteDataWithTag(const QueueSocketPtr& sock, int64_t tag) override;
    double socketShouldTimeoutWriteWithTag(const QueueSocketPtr& sock, int64_t tag, double elapsed,
                                           uint64_t length) override;
    void socketDidReceiveTrust(const QueueSocketPtr& sock, const platform::TlsTrustPtr& trust,
                               std::function<void(bool)> completionHandler) override;
    void socketDidSecure(const QueueSocketPtr& sock) override;
    void socketDidDisconnect(const QueueSocketPtr& sock, const platform::ErrorPtr& err) override;

    // Accepted sockets, kept alive by the delegate as the protocol asks.
    std::vector<QueueSocketPtr> acceptedSockets() const;

private:
    // Takes the next extension of the list (0 when none) and records the question.
    double timeoutQuestion(std::vector<double>& extensions, Event event);
    void record(Event event);

    const std::set<std::string> m_implemented;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Event> m_events;
    std::vector<double> m_readExtensions;
    std::vector<double> m_writeExtensions;
    std::shared_ptr<platform::DispatchQueue> m_newSocketQueue;
    std::optional<bool> m_trustAnswer{true};
    std::vector<std::function<void(bool)>> m_trustHandlers;
    std::vector<QueueSocketPtr> m_accepted;
};

using liveapp::test::hasIPv6Loopback;
using liveapp::test::loopbackAddress;
using liveapp::test::RawListener;
using liveapp::test::RawPeer;
using platform::FileDescriptor;

// A QueueSocket connected to a fresh RawPeer over the family's loopback; the delegate saw the connect
// (it always implements that callback, besides `implemented`).
// Disconnects and lets the socket's queued work finish when it goes, so no work of a test is still
// running when the test program exits.
struct ConnectedPair {
    ConnectedPair() = default;
    ConnectedPair(ConnectedPair&&) = default;
    ConnectedPair& operator=(ConnectedPair&&) = default;
    ~ConnectedPair();

    std::shared_ptr<RecordingDelegate> delegate;
    std::shared_ptr<platform::DispatchQueue> delegateQueue;
    QueueSocketPtr socket;
    std::unique_ptr<RawListener> listener;
    std::unique_ptr<RawPeer> peer;
};
// Disconnects the socket and waits until the work it had queued (on its queue and on the delegate
// queue) has run.
void settle(const QueueSocketPtr& socket, const std::shared_ptr<platform::DispatchQueue>& delegateQueue);

// Null members on failure (the test should ASSERT on `peer` and `socket`).
ConnectedPair connectPair(int family = AF_INET, std::set<std::string> implemented = allSelectors(),
                          int peerReceiveBuffer = 0);

} // namespace queuesockettest
