#pragma once
// Test helpers for the run-loop sockets: delegates that record every callback and answer the questions
// as the test says, a RunLoopSocket connected to a raw loopback peer, and a raw UDP peer. The sockets run
// on the test's own (main) thread, which the tests pump; a socket moved to another thread records from
// there, so the recorders lock. Recorders keep no socket but the accepted ones, which the fixture lets go
// (the sockets hold their delegates strongly).

#include "platform/foundation/Exception.h"
#include "sockets/runloop/RunLoopSocket.h"
#include "sockets/runloop/RunLoopUdpSocket.h"
#include "tests/support/FakeResolver.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/MainLoop.h"

#include <algorithm>
#include <arpa/inet.h>
#include <fmt/format.h>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
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
    void add(Event event) {
        std::unique_lock lock(m_mutex);
        m_events.push_back(event);
        lock.unlock();
        if (onEvent)
            onEvent(event);
    }
    // One field of every event (of the kind).
    template <typename T> std::vector<T> all(T Event::*field, std::optional<Ev> only = std::nullopt) const {
        std::vector<T> values;
        for (auto& event : events(only))
            values.push_back(event.*field);
        return values;
    }
    std::vector<Event> events(std::optional<Ev> only = std::nullopt) const {
        std::lock_guard lock(m_mutex);
        std::vector<Event> events;
        std::copy_if(m_events.begin(), m_events.end(), std::back_inserter(events),
                     [&](auto& event) { return !only || event.kind == *only; });
        return events;
    }
    size_t count(Ev kind) const { return events(kind).size(); }
    std::optional<Event> last(Ev kind) const {
        auto all = events(kind);
        return all.empty() ? std::nullopt : std::optional(all.back());
    }
    // Pumps the main loop until `n` events of the kind have come.
    bool waitFor(Ev kind, size_t n = 1) const {
        return pumpMainLoopUntil([&] { return count(kind) >= n; });
    }

    std::function<void(const Event&)> onEvent; // runs inside the callback, after recording

private:
    mutable std::mutex m_mutex;
    std::vector<Event> m_events;
};

// The first answer the test queued, or `otherwise` once they are used up.
template <typename T> T nextAnswer(std::vector<T>& answers, T otherwise) {
    if (answers.empty())
        return otherwise;
    T answer = answers.front();
    answers.erase(answers.begin());
    return answer;
}

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
        add({.kind = Ev::ReadTimeout, .sock = sock.get(), .length = length, .tag = tag, .elapsed = elapsed});
        return nextAnswer(extensions, 0.0);
    }
    double onSocketShouldTimeoutWriteWithTag(const RunLoopSocketPtr& sock, int64_t tag, double elapsed,
                                             uint64_t length) override {
        add({.kind = Ev::WriteTimeout, .sock = sock.get(), .length = length, .tag = tag, .elapsed = elapsed});
        return nextAnswer(extensions, 0.0);
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
                                   const std::optional<std::string>& host, uint16_t port) override {
        add({.kind = Ev::Received,
             .sock = sock.get(),
             .host = host,
             .port = port,
             .data = data.toString(),
             .tag = tag});
        return nextAnswer(answers, true);
    }
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
    int fd() const { return socket && socket->getCFSocket() ? socket->getCFSocket()->nativeHandle() : -1; }
};
inline Connected connectToPeer(int family = AF_INET) {
    Connected connected{std::make_shared<Recorder>(), nullptr, RawListener::create(family), nullptr};
    if (!connected.listener)
        return connected;
    connected.socket = RunLoopSocket::create(connected.recorder);
    if (!connected.socket->connectToAddress(loopbackAddress(family, connected.listener->port())))
        return connected;
    connected.peer = connected.listener->accept();
    if (!connected.recorder->waitFor(Ev::Connect))
        connected.peer.reset();
    return connected;
}

// A bound datagram socket on the family's loopback.
class UdpPeer {
public:
    explicit UdpPeer(int family = AF_INET)
        : m_family(family) {
        auto address = loopbackAddress(family, 0);
        ::bind(m_fd.get(), reinterpret_cast<const sockaddr*>(address.bytes()), socklen_t(address.length()));
    }
    uint16_t port() const {
        sockaddr_storage storage{};
        socklen_t length = sizeof storage;
        ::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&storage), &length);
        return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    }
    bool sendTo(uint16_t port, std::string_view bytes) const {
        auto address = loopbackAddress(m_family, port);
        return ::sendto(m_fd.get(), bytes.data(), bytes.size(), 0,
                        reinterpret_cast<const sockaddr*>(address.bytes()),
                        socklen_t(address.length())) == ssize_t(bytes.size());
    }
    std::string receive() const { // waits for one datagram ("" at the deadline)
        pollfd entry{m_fd.get(), POLLIN, 0};
        if (::poll(&entry, 1, 10000) != 1)
            return {};
        char buffer[65536];
        ssize_t got = ::recv(m_fd.get(), buffer, sizeof buffer, 0);
        return got > 0 ? std::string(buffer, size_t(got)) : std::string();
    }

private:
    int m_family;
    platform::FileDescriptor m_fd{::socket(m_family, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
};

// "domain code: description", or "none", for compact assertions on errors.
inline std::string describe(const platform::ErrorPtr& error) {
    return error ? fmt::format("{} {}: {}", error->domain(), error->code(), error->localizedDescription())
                 : "none";
}
// "name: reason" of the named exception the call raises, or "nothing".
inline std::string raisedBy(const std::function<void()>& call) {
    try {
        call();
    } catch (const platform::Exception& exception) {
        return exception.name() + ": " + exception.reason();
    }
    return "nothing";
}

// Installs a ManualClock for the test and puts the system clock back afterwards.
struct ManualClockScope {
    ManualClockScope() { platform::Clock::install(clock); }
    ~ManualClockScope() { platform::Clock::install(nullptr); }
    void advance(double seconds) {
        clock->advance(
            std::chrono::duration_cast<platform::Duration>(std::chrono::duration<double>(seconds)));
    }

    std::shared_ptr<platform::ManualClock> clock{std::make_shared<platform::ManualClock>()};
};

// A fake resolver whose lookups wait on a gate, installed for the test; the gate opens and the lookups
// finish before it goes, even when an assertion fails.
struct HeldResolver {
    HeldResolver() { resolver->holdLookups(gate); }
    ~HeldResolver() {
        gate->open();
        resolver->waitUntilIdle();
    }

    std::shared_ptr<liveapp::test::FakeResolver> resolver{std::make_shared<liveapp::test::FakeResolver>()};
    std::shared_ptr<liveapp::test::HttpGate> gate{std::make_shared<liveapp::test::HttpGate>()};
    liveapp::test::ScopedResolver installed{resolver};
};

} // namespace runloopsockettest
