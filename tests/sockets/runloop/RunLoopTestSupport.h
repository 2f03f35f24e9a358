#pragma once
// Test helpers for the run-loop sockets: delegates that record every callback and answer the questions
// as the test says, a RunLoopSocket connected to a raw loopback peer, and a raw UDP peer. The sockets run
// on the test's own (main) thread, which the tests pump; a socket moved to another thread records from
// there, so the recorders lock. Recorders keep no socket but the accepted ones, which the fixture lets go
// (the sockets hold their delegates strongly).

#include "sockets/runloop/RunLoopSocket.h"
#include "sockets/runloop/RunLoopUdpSocket.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/MainLoop.h"

#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace runloopsockettest {

using liveapp::test::hasIPv6Loopback;
using liveapp::test::loopbackAddress;
using liveapp::test::pumpMainLoopUntil;
using liveapp::test::RawListener;
using liveapp::test::RawPeer;

// The callbacks, TCP then UDP.
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
    Sent,
    NotSent,
    Received,
    NotReceived,
    Closed
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
    std::vector<Event> events(std::optional<Ev> only = std::nullopt) const;
    std::vector<Ev> kinds() const;
    std::vector<std::string> data(Ev kind) const; // the bytes of each event of the kind
    size_t count(Ev kind) const { return events(kind).size(); }
    std::optional<Event> last(Ev kind) const;
    // Pumps the main loop until `n` events of the kind have come.
    bool waitFor(Ev kind, size_t n = 1) const;

    std::function<void(const Event&)> onEvent; // runs inside the callback, after recording

private:
    mutable std::mutex m_mutex;
    std::vector<Event> m_events;
};

class Recorder : public RunLoopSocketDelegate, public EventLog {
public:
    bool respondsTo(std::string_view) const override { return true; }

    bool willConnect{true};
    std::vector<double> extensions; // answers to the time-out questions, in order; then 0
    std::shared_ptr<platform::RunLoop> runLoopForNewSocket;
    std::vector<RunLoopSocketPtr> accepted;

    void onSocketDidAcceptNewSocket(const RunLoopSocketPtr& sock,
                                    const RunLoopSocketPtr& newSocket) override {
        accepted.push_back(newSocket);
        add({.kind = Ev::Accept, .sock = sock.get()});
    }
    std::shared_ptr<platform::RunLoop> onSocketWantsRunLoopForNewSocket(const RunLoopSocketPtr&,
                                                                        const RunLoopSocketPtr&) override {
        return runLoopForNewSocket;
    }
    bool onSocketWillConnect(const RunLoopSocketPtr&) override { return willConnect; }
    void onSocketDidConnectToHost(const RunLoopSocketPtr& sock, const std::optional<std::string>& host,
                                  uint16_t port) override {
        add({.kind = Ev::Connect, .sock = sock.get(), .host = host, .port = port});
    }
    void onSocketDidReadData(const RunLoopSocketPtr& sock, const sockets::SharedBytes& data,
                             int64_t tag) override {
        add({.kind = Ev::Read, .sock = sock.get(), .data = data.toString(), .tag = tag});
    }
    void onSocketDidReadPartialDataOfLength(const RunLoopSocketPtr& sock, uint64_t length,
                                            int64_t tag) override {
        add({.kind = Ev::ReadPartial, .sock = sock.get(), .length = length, .tag = tag});
    }
    void onSocketDidWriteDataWithTag(const RunLoopSocketPtr& sock, int64_t tag) override {
        add({.kind = Ev::Write, .sock = sock.get(), .tag = tag});
    }
    void onSocketDidWritePartialDataOfLength(const RunLoopSocketPtr& sock, uint64_t length,
                                             int64_t tag) override {
        add({.kind = Ev::WritePartial, .sock = sock.get(), .length = length, .tag = tag});
    }
    double onSocketShouldTimeoutReadWithTag(const RunLoopSocketPtr& sock, int64_t tag, double elapsed,
                                            uint64_t length) override {
        return timeout(Ev::ReadTimeout, sock, tag, elapsed, length);
    }
    double onSocketShouldTimeoutWriteWithTag(const RunLoopSocketPtr& sock, int64_t tag, double elapsed,
                                             uint64_t length) override {
        return timeout(Ev::WriteTimeout, sock, tag, elapsed, length);
    }
    void onSocketDidSecure(const RunLoopSocketPtr& sock) override {
        add({.kind = Ev::Secure, .sock = sock.get()});
    }
    void onSocketWillDisconnectWithError(const RunLoopSocketPtr& sock,
                                         const platform::ErrorPtr& err) override {
        add({.kind = Ev::WillDisconnect, .sock = sock.get(), .error = err, .unread = sock->unreadData()});
    }
    void onSocketDidDisconnect(const RunLoopSocketPtr& sock) override {
        add({.kind = Ev::Disconnect, .sock = sock.get()});
    }

private:
    double timeout(Ev kind, const RunLoopSocketPtr& sock, int64_t tag, double elapsed, uint64_t length);
};

class UdpRecorder : public RunLoopUdpSocketDelegate, public EventLog {
public:
    bool respondsTo(std::string_view) const override { return true; }

    std::vector<bool> answers; // to the receive callback, in order; then YES

    void onUdpSocketDidSendDataWithTag(const RunLoopUdpSocketPtr& sock, int64_t tag) override {
        add({.kind = Ev::Sent, .sock = sock.get(), .tag = tag});
    }
    void onUdpSocketDidNotSendDataWithTag(const RunLoopUdpSocketPtr& sock, int64_t tag,
                                          const platform::ErrorPtr& error) override {
        add({.kind = Ev::NotSent, .sock = sock.get(), .tag = tag, .error = error});
    }
    bool onUdpSocketDidReceiveData(const RunLoopUdpSocketPtr& sock, const platform::Data& data, int64_t tag,
                                   const std::optional<std::string>& host, uint16_t port) override;
    void onUdpSocketDidNotReceiveDataWithTag(const RunLoopUdpSocketPtr& sock, int64_t tag,
                                             const platform::ErrorPtr& error) override {
        add({.kind = Ev::NotReceived, .sock = sock.get(), .tag = tag, .error = error});
    }
    void onUdpSocketDidClose(const RunLoopUdpSocketPtr& sock) override {
        add({.kind = Ev::Closed, .sock = sock.get()});
    }
};

// A RunLoopSocket connected (by address) to a raw peer on the family's loopback; null members on failure.
struct Connected {
    std::shared_ptr<Recorder> recorder;
    RunLoopSocketPtr socket;
    std::unique_ptr<RawListener> listener;
    std::unique_ptr<RawPeer> peer;
    int fd() const; // the connection's descriptor
};
Connected connectToPeer(int family = AF_INET);

// A bound datagram socket on the family's loopback.
class UdpPeer {
public:
    explicit UdpPeer(int family = AF_INET);
    uint16_t port() const;
    bool sendTo(uint16_t port, std::string_view bytes) const;
    std::string receive() const; // waits for one datagram ("" at the deadline)

private:
    int m_family;
    platform::FileDescriptor m_fd;
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
