#pragma once
// Test helpers for QueueSocket: a delegate that records every callback it implements (the set is
// chosen per test, through respondsTo) and lets the test wait for them, a raw POSIX peer on the
// loopback addresses, and fixtures that own a socket (or a connected pair) and settle it at the end.
//
// Waits use real-time deadlines (generous bounds for a failing test, never a measure of speed), so they
// also work under a ManualClock. The delegate is thread-safe: its callbacks come on the delegate queue.

#include "platform/foundation/Clock.h"
#include "sockets/queue/QueueSocket.h"
#include "tests/support/LoopbackPeer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace queuesockettest {

inline constexpr std::chrono::seconds kWait{10};

// Records events (structs with a `kind`) from any thread and lets the test wait for them.
template <class E> class Recorder {
public:
    using Kind = decltype(E::kind);

    std::vector<E> events() const {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::vector<E> eventsOf(Kind kind) const {
        std::vector<E> out;
        for (auto& e : events())
            if (e.kind == kind)
                out.push_back(std::move(e));
        return out;
    }
    size_t count(Kind kind) const { return eventsOf(kind).size(); }
    std::vector<Kind> kinds() const {
        std::vector<Kind> out;
        for (const auto& e : events())
            out.push_back(e.kind);
        return out;
    }
    // Waits until at least `n` events of the kind have arrived; the n-th one, or nullopt at the deadline.
    std::optional<E> waitFor(Kind kind, size_t n = 1,
                             std::chrono::steady_clock::duration deadline = kWait) const {
        std::optional<E> found;
        waitUntil(
            [&](const std::vector<E>& events) {
                size_t seen = 0;
                for (const auto& e : events)
                    if (e.kind == kind && ++seen == n)
                        return found = e, true;
                return false;
            },
            deadline);
        return found;
    }
    // The same, failing the test (and answering an empty event of the kind) at the deadline.
    E await(Kind kind, size_t n = 1, std::chrono::steady_clock::duration deadline = kWait) const {
        auto found = waitFor(kind, n, deadline);
        if (!found)
            ADD_FAILURE() << "event " << static_cast<int>(kind) << " #" << n << " never came";
        return found ? *found : E{kind};
    }
    bool waitUntil(const std::function<bool(const std::vector<E>&)>& predicate,
                   std::chrono::steady_clock::duration deadline = kWait) const {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_until(lock, std::chrono::steady_clock::now() + deadline,
                                    [&] { return predicate(m_events); });
    }
    // Forgets the events so far (and the sockets they hold).
    void clearEvents() {
        std::lock_guard lock(m_mutex);
        m_events.clear();
    }

    // Runs inside each callback, before the event is recorded. Set it before the socket can call back.
    std::function<void(const E&)> onEvent;

protected:
    void record(E event) {
        if (onEvent)
            onEvent(event);
        {
            std::lock_guard lock(m_mutex);
            m_events.push_back(std::move(event));
        }
        m_changed.notify_all();
    }

    mutable std::mutex m_mutex;

private:
    mutable std::condition_variable m_changed;
    std::vector<E> m_events;
};

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
    Disconnect
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

// "<domain> <code>: <text>" of an error, "none" without one: one comparison pins all three.
std::string describe(const platform::ErrorPtr& error);

class RecordingDelegate : public QueueSocketDelegate, public Recorder<Event> {
public:
    explicit RecordingDelegate(std::set<std::string> implemented = allSelectors())
        : m_implemented(std::move(implemented)) {}
    static std::shared_ptr<RecordingDelegate> create(std::set<std::string> implemented = allSelectors()) {
        return std::make_shared<RecordingDelegate>(std::move(implemented));
    }

    bool respondsTo(std::string_view selector) const override {
        return m_implemented.count(std::string(selector)) != 0;
    }

    // All bytes of the read completions so far, in arrival order.
    std::string readBytes() const;
    // The n-th read's bytes, "<no read>" at the deadline.
    std::string readText(size_t n = 1) const;
    // The n-th disconnect's error described, "<no disconnect>" at the deadline.
    std::string disconnectError(size_t n = 1) const;

    // Answers to the time-out questions, used in order; 0 (time out) once used up.
    void setReadTimeoutExtensions(std::vector<double> extensions);
    void setWriteTimeoutExtensions(std::vector<double> extensions);
    // The queue handed to accepted sockets (null: their own).
    void setNewSocketQueue(std::shared_ptr<platform::DispatchQueue> queue);
    // The trust verdict given at once; nullopt keeps the handler for the test (trustHandlers()).
    void setTrustAnswer(std::optional<bool> answer);
    std::vector<std::function<void(bool)>> trustHandlers() const;
    // Accepted sockets, kept alive by the delegate as the protocol asks.
    std::vector<QueueSocketPtr> acceptedSockets() const;

    std::shared_ptr<platform::DispatchQueue>
    newSocketQueueForConnectionFromAddress(const platform::Data& address,
                                           const QueueSocketPtr& sock) override;
    void socketDidAcceptNewSocket(const QueueSocketPtr& sock, const QueueSocketPtr& newSocket) override;
    void socketDidConnectToHost(const QueueSocketPtr& sock, const std::string& host, uint16_t port) override {
        record({.kind = EventKind::ConnectToHost, .sock = sock, .host = host, .port = port});
    }
    void socketDidConnectToUrl(const QueueSocketPtr& sock, const platform::URLPtr& url) override {
        record({.kind = EventKind::ConnectToUrl, .sock = sock, .url = url});
    }
    void socketDidReadData(const QueueSocketPtr& sock, const sockets::SharedBytes& data,
                           int64_t tag) override {
        record({.kind = EventKind::Read, .sock = sock, .data = data, .tag = tag});
    }
    void socketDidReadPartialDataOfLength(const QueueSocketPtr& sock, uint64_t length, int64_t tag) override {
        record({.kind = EventKind::ReadPartial, .sock = sock, .length = length, .tag = tag});
    }
    double socketShouldTimeoutReadWithTag(const QueueSocketPtr& sock, int64_t tag, double elapsed,
                                          uint64_t length) override {
        return timeoutQuestion(m_readExtensions, {EventKind::ReadTimeoutQuestion, sock}, tag, elapsed,
                               length);
    }
    void socketDidCloseReadStream(const QueueSocketPtr& sock) override {
        record({.kind = EventKind::CloseReadStream, .sock = sock});
    }
    void socketDidWritePartialDataOfLength(const QueueSocketPtr& sock, uint64_t length,
                                           int64_t tag) override {
        record({.kind = EventKind::WritePartial, .sock = sock, .length = length, .tag = tag});
    }
    void socketDidWriteDataWithTag(const QueueSocketPtr& sock, int64_t tag) override {
        record({.kind = EventKind::Write, .sock = sock, .tag = tag});
    }
    double socketShouldTimeoutWriteWithTag(const QueueSocketPtr& sock, int64_t tag, double elapsed,
                                           uint64_t length) override {
        return timeoutQuestion(m_writeExtensions, {EventKind::WriteTimeoutQuestion, sock}, tag, elapsed,
                               length);
    }
    void socketDidReceiveTrust(const QueueSocketPtr& sock, const platform::TlsTrustPtr& trust,
                               std::function<void(bool)> completionHandler) override;
    void socketDidSecure(const QueueSocketPtr& sock) override {
        record({.kind = EventKind::Secure, .sock = sock});
    }
    void socketDidDisconnect(const QueueSocketPtr& sock, const platform::ErrorPtr& err) override {
        record({.kind = EventKind::Disconnect, .sock = sock, .error = err});
    }

private:
    // Takes the next extension of the list (0 when none) and records the question.
    double timeoutQuestion(std::vector<double>& extensions, Event event, int64_t tag, double elapsed,
                           uint64_t length);

    const std::set<std::string> m_implemented;
    std::vector<double> m_readExtensions;
    std::vector<double> m_writeExtensions;
    std::shared_ptr<platform::DispatchQueue> m_newSocketQueue;
    std::optional<bool> m_trustAnswer{true};
    std::vector<std::function<void(bool)>> m_trustHandlers;
    std::vector<QueueSocketPtr> m_accepted;
};

// Holds its answers to the time-out questions until the test gives one (so the delegate queue waits).
class SlowToAnswerDelegate : public RecordingDelegate {
public:
    double socketShouldTimeoutReadWithTag(const QueueSocketPtr& sock, int64_t tag, double elapsed,
                                          uint64_t length) override {
        RecordingDelegate::socketShouldTimeoutReadWithTag(sock, tag, elapsed, length);
        return answer.get_future().get();
    }
    double socketShouldTimeoutWriteWithTag(const QueueSocketPtr& sock, int64_t tag, double elapsed,
                                           uint64_t length) override {
        RecordingDelegate::socketShouldTimeoutWriteWithTag(sock, tag, elapsed, length);
        return answer.get_future().get();
    }
    std::promise<double> answer;
};

using liveapp::test::hasIPv6Loopback;
using liveapp::test::loopbackAddress;
using liveapp::test::RawListener;
using liveapp::test::RawPeer;
using platform::FileDescriptor;

inline platform::Data bytes(std::string_view text) {
    return platform::Data(text);
}
// Bytes that differ from offset to offset, so a lost or repeated piece shows.
std::string pattern(size_t length);

// Waits until what the socket queue, the delegate queue, and what that posted back to the socket
// queue hold has run.
void drain(const QueueSocketPtr& socket, const std::shared_ptr<platform::DispatchQueue>& delegateQueue);
// Disconnects the socket and waits until the work it had queued (on its queue and on the delegate
// queue) has run.
void settle(const QueueSocketPtr& socket, const std::shared_ptr<platform::DispatchQueue>& delegateQueue);

// A QueueSocket connected to a fresh RawPeer over the family's loopback; the delegate saw the connect
// (it always implements that callback, besides `implemented`). Settles the socket when it goes, so no
// work of a test is still running when the test program exits.
struct ConnectedPair {
    ConnectedPair() = default;
    ConnectedPair(ConnectedPair&&) = default;
    ConnectedPair& operator=(ConnectedPair&&) = default;
    ~ConnectedPair() { settle(socket, delegateQueue); }
    void drain() const { queuesockettest::drain(socket, delegateQueue); }
    // Disconnects, connects again to the same listener without waiting on the delegate queue (which a
    // test may hold), and answers the new peer (null on failure).
    std::unique_ptr<RawPeer> reconnect();

    std::shared_ptr<RecordingDelegate> delegate;
    std::shared_ptr<platform::DispatchQueue> delegateQueue;
    QueueSocketPtr socket;
    std::unique_ptr<RawListener> listener;
    std::unique_ptr<RawPeer> peer;
};

// Null members on failure (the test should ASSERT on `peer` and `socket`).
ConnectedPair connectPair(int family = AF_INET, std::set<std::string> implemented = allSelectors(),
                          int peerReceiveBuffer = 0);

// A fresh, unconnected socket with a recording delegate; settled after the test.
class SocketTest : public testing::Test {
protected:
    void TearDown() override { settle(socket, delegateQueue); }
    void drain() const { queuesockettest::drain(socket, delegateQueue); }

    std::shared_ptr<RecordingDelegate> delegate = RecordingDelegate::create();
    std::shared_ptr<platform::DispatchQueue> delegateQueue = platform::DispatchQueue::create("test.delegate");
    QueueSocketPtr socket = QueueSocket::create(delegate, delegateQueue);
};

// A connected pair for each test.
class PairTest : public testing::Test {
protected:
    void SetUp() override {
        pair = connectPair(AF_INET, allSelectors(), m_peerReceiveBuffer);
        ASSERT_TRUE(pair.socket && pair.peer);
    }

    int m_peerReceiveBuffer = 0;
    ConnectedPair pair;
};

// A ManualClock installed for the test's length.
struct ClockInstalled {
    ClockInstalled() { platform::Clock::install(clock); }
    ~ClockInstalled() { platform::Clock::install(nullptr); }
    std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
};

} // namespace queuesockettest
