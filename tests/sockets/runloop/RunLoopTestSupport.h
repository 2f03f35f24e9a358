#pragma once
// Test helpers for the run-loop sockets: delegates that record the callbacks they implement (chosen per
// test, through respondsTo) and answer the questions as the test says, a RunLoopSocket connected to a
// raw loopback peer, and a raw UDP peer. The sockets run on the test's own (main) thread, which the
// tests pump; a socket moved to another thread records from there, so the recorders lock.
// Recorders keep no socket but the accepted ones, which the fixture lets go (the sockets hold their
// delegates strongly).

#include "sockets/runloop/RunLoopSocket.h"
#include "sockets/runloop/RunLoopUdpSocket.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/MainLoop.h"

#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace runloopsockettest {

using liveapp::test::hasIPv6Loopback;
using liveapp::test::loopbackAddress;
using liveapp::test::pumpMainLoopUntil;
using liveapp::test::RawListener;
using liveapp::test::RawPeer;

enum class Ev {
    Accept,
    Connect,
    Read,
    ReadPartial,
    Write,
    WritePartial,
    ReadTimeout,
    WriteTimeout,
    Secure,
    WillDisconnect,
    Disconnect,
    // UDP
    Sent,
    NotSent,
    Received,
    NotReceived,
    Closed,
};

struct Event {
    Ev kind{Ev::Disconnect};
    const void* sock{nullptr}; // identity only: a recorder must not keep its socket alive
    std::optional<std::string> host{};
    uint16_t port{0};
    std::string data{};
    uint64_t length{0};
    int64_t tag{0};
    double elapsed{0};
    platform::ErrorPtr error{};
    std::optional<platform::Data> unread{}; // what unreadData() gave inside willDisconnect
    std::thread::id thread{std::this_thread::get_id()};
};

// Records in order; thread-safe.
class EventLog {
public:
    void add(Event event);
    std::vector<Event> events() const;
    std::vector<Ev> kinds() const;
    size_t count(Ev kind) const;
    std::optional<Event> last(Ev kind) const;
    // Pumps the main loop until `n` events of the kind have come.
    bool waitFor(Ev kind, size_t n = 1) const;

    std::function<void(const Event&)> onEvent; // runs inside the callback, after recording

private:
    mutable std::mutex m_mutex;
    std::vector<Event> m_events;
};

std::set<std::string> allTcpSelectors();

class Recorder : public RunLoopSocketDelegate, public EventLog {
public:
    explicit Recorder(std::set<std::string> implemented = allTcpSelectors())
        : m_implemented(std::move(implemented)) {}
    bool respondsTo(std::string_view selector) const override {
        return m_implemented.count(std::string(selector));
    }

    bool willConnect{true};
    std::vector<double> extensions; // answers to the time-out questions, in order; then 0
    std::shared_ptr<platform::RunLoop> runLoopForNewSocket;
    std::vector<RunLoopSocketPtr> accepted;

    void onSocketDidAcceptNewSocket(const RunLoopSocketPtr& sock, const RunLoopSocketPtr& newSocket) override;
    std::shared_ptr<platform::RunLoop> onSocketWantsRunLoopForNewSocket(const RunLoopSocketPtr&,
                                                                        const RunLoopSocketPtr&) override;
    bool onSocketWillConnect(const RunLoopSocketPtr& sock) override;
    void onSocketDidConnectToHost(const RunLoopSocketPtr& sock, const std::optional<std::string>& host,
                                  uint16_t port) override;
    void onSocketDidReadData(const RunLoopSocketPtr& sock, const sockets::SharedBytes& data,
                             int64_t tag) override;
    void onSocketDidReadPartialDataOfLength(const RunLoopSocketPtr& sock, uint64_t length,
                                            int64_t tag) override;
    void onSocketDidWriteDataWithTag(const RunLoopSocketPtr& sock, int64_t tag) override;
    void onSocketDidWritePartialDataOfLength(const RunLoopSocketPtr& sock, uint64_t length,
                                             int64_t tag) override;
    double onSocketShouldTimeoutReadWithTag(const RunLoopSocketPtr& sock, int64_t tag, double elapsed,
                                            uint64_t length) override;
    double onSocketShouldTimeoutWriteWithTag(const RunLoopSocketPtr& sock, int64_t tag, double elapsed,
                                             uint64_t length) override;
    void onSocketDidSecure(const RunLoopSocketPtr& sock) override;
    void onSocketWillDisconnectWithError(const RunLoopSocketPtr& sock,
                                         const platform::ErrorPtr& err) override;
    void onSocketDidDisconnect(const RunLoopSocketPtr& sock) override;

private:
    double nextExtension();
    const std::set<std::string> m_implemented;
};

class UdpRecorder : public RunLoopUdpSocketDelegate, public EventLog {
public:
    bool respondsTo(std::string_view) const override { return true; }

    std::vector<bool> answers; // to the receive callback, in order; then YES

    void onUdpSocketDidSendDataWithTag(const RunLoopUdpSocketPtr& sock, int64_t tag) override;
    void onUdpSocketDidNotSendDataWithTag(const RunLoopUdpSocketPtr& sock, int64_t tag,
                                          const platform::ErrorPtr& error) override;
    bool onUdpSocketDidReceiveData(const RunLoopUdpSocketPtr& sock, const platform::Data& data, int64_t tag,
                                   const std::optional<std::string>& host, uint16_t port) override;
    void onUdpSocketDidNotReceiveDataWithTag(const RunLoopUdpSocketPtr& sock, int64_t tag,
                                             const platform::ErrorPtr& error) override;
    void onUdpSocketDidClose(const RunLoopUdpSocketPtr& sock) override;
};

// A RunLoopSocket connected (by address) to a raw peer on the family's loopback; null members on failure.
struct Connected {
    std::shared_ptr<Recorder> recorder;
    RunLoopSocketPtr socket;
    std::unique_ptr<RawListener> listener;
    std::unique_ptr<RawPeer> peer;
    int fd() const; // the connection's descriptor
};
Connected connectToPeer(int family = AF_INET, std::set<std::string> implemented = allTcpSelectors());

// A bound datagram socket on the family's loopback.
class UdpPeer {
public:
    explicit UdpPeer(int family = AF_INET);
    ~UdpPeer();
    uint16_t port() const;
    bool sendTo(uint16_t port, std::string_view bytes) const;
    std::string receive() const; // waits for one datagram ("" at the deadline)

private:
    int m_family;
    int m_fd{-1};
};

// "domain code: description", or "none", for compact assertions on errors.
std::string describe(const platform::ErrorPtr& error);
// "name: reason" of the named exception the call raises, or "nothing".
std::string raisedBy(const std::function<void()>& call);

// Installs a ManualClock for the test and puts the system clock back afterwards.
class ManualClockScope {
public:
    ManualClockScope();
    ~ManualClockScope();
    void advance(double seconds);

private:
    std::shared_ptr<platform::ManualClock> m_clock;
};

} // namespace runloopsockettest
