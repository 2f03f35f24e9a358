#include "tests/sockets/runloop/RunLoopTestSupport.h"

#include "platform/foundation/Exception.h"

#include <arpa/inet.h>
#include <fmt/format.h>
#include <poll.h>
#include <unistd.h>

namespace runloopsockettest {

void EventLog::add(Event event) {
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(event);
    }
    if (onEvent)
        onEvent(event);
}

std::vector<Event> EventLog::events(std::optional<Ev> only) const {
    std::lock_guard lock(m_mutex);
    std::vector<Event> events;
    for (auto& event : m_events)
        if (!only || event.kind == *only)
            events.push_back(event);
    return events;
}

std::vector<Ev> EventLog::kinds() const {
    std::vector<Ev> kinds;
    for (auto& event : events())
        kinds.push_back(event.kind);
    return kinds;
}

std::vector<std::string> EventLog::data(Ev kind) const {
    std::vector<std::string> data;
    for (auto& event : events(kind))
        data.push_back(event.data);
    return data;
}

std::optional<Event> EventLog::last(Ev kind) const {
    auto all = events(kind);
    return all.empty() ? std::nullopt : std::optional(all.back());
}

bool EventLog::waitFor(Ev kind, size_t n) const {
    return pumpMainLoopUntil([&] { return count(kind) >= n; });
}

double Recorder::timeout(Ev kind, const RunLoopSocketPtr& sock, int64_t tag, double elapsed,
                         uint64_t length) {
    add({.kind = kind, .sock = sock.get(), .length = length, .tag = tag, .elapsed = elapsed});
    if (extensions.empty())
        return 0;
    double next = extensions.front();
    extensions.erase(extensions.begin());
    return next;
}

bool UdpRecorder::onUdpSocketDidReceiveData(const RunLoopUdpSocketPtr& sock, const platform::Data& data,
                                            int64_t tag, const std::optional<std::string>& host,
                                            uint16_t port) {
    add({.kind = Ev::Received,
         .sock = sock.get(),
         .host = host,
         .port = port,
         .data = data.toString(),
         .tag = tag});
    if (answers.empty())
        return true;
    bool answer = answers.front();
    answers.erase(answers.begin());
    return answer;
}

// ---- Peers ----
int Connected::fd() const {
    auto cfSocket = socket ? socket->getCFSocket() : nullptr;
    return cfSocket ? cfSocket->nativeHandle() : -1;
}

Connected connectToPeer(int family) {
    Connected connected;
    connected.listener = RawListener::create(family);
    if (!connected.listener)
        return connected;
    connected.recorder = std::make_shared<Recorder>();
    connected.socket = RunLoopSocket::create(connected.recorder);
    if (!connected.socket->connectToAddress(loopbackAddress(family, connected.listener->port())))
        return connected;
    connected.peer = connected.listener->accept();
    if (!connected.recorder->waitFor(Ev::Connect))
        connected.peer.reset();
    return connected;
}

UdpPeer::UdpPeer(int family)
    : m_family(family)
    , m_fd(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    auto address = loopbackAddress(family, 0);
    ::bind(m_fd.get(), reinterpret_cast<const sockaddr*>(address.bytes()), socklen_t(address.length()));
}

uint16_t UdpPeer::port() const {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    ::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&storage), &length);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}

bool UdpPeer::sendTo(uint16_t port, std::string_view bytes) const {
    auto address = loopbackAddress(m_family, port);
    return ::sendto(m_fd.get(), bytes.data(), bytes.size(), 0,
                    reinterpret_cast<const sockaddr*>(address.bytes()),
                    socklen_t(address.length())) == ssize_t(bytes.size());
}

std::string UdpPeer::receive() const {
    pollfd entry{m_fd.get(), POLLIN, 0};
    if (::poll(&entry, 1, 10000) != 1)
        return {};
    char buffer[65536];
    ssize_t got = ::recv(m_fd.get(), buffer, sizeof buffer, 0);
    return got > 0 ? std::string(buffer, size_t(got)) : std::string();
}

std::string describe(const platform::ErrorPtr& error) {
    if (!error)
        return "none";
    return fmt::format("{} {}: {}", error->domain(), error->code(), error->localizedDescription());
}

std::string raisedBy(const std::function<void()>& call) {
    try {
        call();
    } catch (const platform::Exception& exception) {
        return exception.name() + ": " + exception.reason();
    }
    return "nothing";
}

ManualClockScope::ManualClockScope()
    : m_clock(std::make_shared<platform::ManualClock>()) {
    platform::Clock::install(m_clock);
}

ManualClockScope::~ManualClockScope() {
    platform::Clock::install(nullptr);
}

void ManualClockScope::advance(double seconds) {
    m_clock->advance(std::chrono::duration_cast<platform::Duration>(std::chrono::duration<double>(seconds)));
}

} // namespace runloopsockettest
