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

std::vector<Event> EventLog::events() const {
    std::lock_guard lock(m_mutex);
    return m_events;
}

std::vector<Ev> EventLog::kinds() const {
    std::vector<Ev> kinds;
    for (auto& event : events())
        kinds.push_back(event.kind);
    return kinds;
}

size_t EventLog::count(Ev kind) const {
    auto all = kinds();
    return size_t(std::count(all.begin(), all.end(), kind));
}

std::optional<Event> EventLog::last(Ev kind) const {
    auto all = events();
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if (it->kind == kind)
            return *it;
    }
    return std::nullopt;
}

bool EventLog::waitFor(Ev kind, size_t n) const {
    return pumpMainLoopUntil([&] { return count(kind) >= n; });
}

std::set<std::string> allTcpSelectors() {
    return {"onSocket:didAcceptNewSocket:",
            "onSocket:wantsRunLoopForNewSocket:",
            "onSocketWillConnect:",
            "onSocket:didConnectToHost:port:",
            "onSocket:didReadData:withTag:",
            "onSocket:didReadPartialDataOfLength:tag:",
            "onSocket:didWriteDataWithTag:",
            "onSocket:didWritePartialDataOfLength:tag:",
            "onSocket:shouldTimeoutReadWithTag:elapsed:bytesDone:",
            "onSocket:shouldTimeoutWriteWithTag:elapsed:bytesDone:",
            "onSocketDidSecure:",
            "onSocket:willDisconnectWithError:",
            "onSocketDidDisconnect:"};
}

// MARK: - Recorder

void Recorder::onSocketDidAcceptNewSocket(const RunLoopSocketPtr& sock, const RunLoopSocketPtr& newSocket) {
    accepted.push_back(newSocket);
    add({.kind = Ev::Accept, .sock = sock.get()});
}

std::shared_ptr<platform::RunLoop> Recorder::onSocketWantsRunLoopForNewSocket(const RunLoopSocketPtr&,
                                                                              const RunLoopSocketPtr&) {
    return runLoopForNewSocket;
}

bool Recorder::onSocketWillConnect(const RunLoopSocketPtr&) {
    return willConnect;
}

void Recorder::onSocketDidConnectToHost(const RunLoopSocketPtr& sock, const std::optional<std::string>& host,
                                        uint16_t port) {
    add({.kind = Ev::Connect, .sock = sock.get(), .host = host, .port = port});
}

void Recorder::onSocketDidReadData(const RunLoopSocketPtr& sock, const sockets::SharedBytes& data,
                                   int64_t tag) {
    add({.kind = Ev::Read, .sock = sock.get(), .data = data.toString(), .tag = tag});
}

void Recorder::onSocketDidReadPartialDataOfLength(const RunLoopSocketPtr& sock, uint64_t length,
                                                  int64_t tag) {
    add({.kind = Ev::ReadPartial, .sock = sock.get(), .length = length, .tag = tag});
}

void Recorder::onSocketDidWriteDataWithTag(const RunLoopSocketPtr& sock, int64_t tag) {
    add({.kind = Ev::Write, .sock = sock.get(), .tag = tag});
}

void Recorder::onSocketDidWritePartialDataOfLength(const RunLoopSocketPtr& sock, uint64_t length,
                                                   int64_t tag) {
    add({.kind = Ev::WritePartial, .sock = sock.get(), .length = length, .tag = tag});
}

double Recorder::nextExtension() {
    if (extensions.empty())
        return 0;
    double next = extensions.front();
    extensions.erase(extensions.begin());
    return next;
}

double Recorder::onSocketShouldTimeoutReadWithTag(const RunLoopSocketPtr& sock, int64_t tag, double elapsed,
                                                  uint64_t length) {
    add({.kind = Ev::ReadTimeout, .sock = sock.get(), .length = length, .tag = tag, .elapsed = elapsed});
    return nextExtension();
}

double Recorder::onSocketShouldTimeoutWriteWithTag(const RunLoopSocketPtr& sock, int64_t tag, double elapsed,
                                                   uint64_t length) {
    add({.kind = Ev::WriteTimeout, .sock = sock.get(), .length = length, .tag = tag, .elapsed = elapsed});
    return nextExtension();
}

void Recorder::onSocketDidSecure(const RunLoopSocketPtr& sock) {
    add({.kind = Ev::Secure, .sock = sock.get()});
}

void Recorder::onSocketWillDisconnectWithError(const RunLoopSocketPtr& sock, const platform::ErrorPtr& err) {
    add({.kind = Ev::WillDisconnect, .sock = sock.get(), .error = err, .unread = sock->unreadData()});
}

void Recorder::onSocketDidDisconnect(const RunLoopSocketPtr& sock) {
    add({.kind = Ev::Disconnect, .sock = sock.get()});
}

// MARK: - UdpRecorder

void UdpRecorder::onUdpSocketDidSendDataWithTag(const RunLoopUdpSocketPtr& sock, int64_t tag) {
    add({.kind = Ev::Sent, .sock = sock.get(), .tag = tag});
}

void UdpRecorder::onUdpSocketDidNotSendDataWithTag(const RunLoopUdpSocketPtr& sock, int64_t tag,
                                                   const platform::ErrorPtr& error) {
    add({.kind = Ev::NotSent, .sock = sock.get(), .tag = tag, .error = error});
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

void UdpRecorder::onUdpSocketDidNotReceiveDataWithTag(const RunLoopUdpSocketPtr& sock, int64_t tag,
                                                      const platform::ErrorPtr& error) {
    add({.kind = Ev::NotReceived, .sock = sock.get(), .tag = tag, .error = error});
}

void UdpRecorder::onUdpSocketDidClose(const RunLoopUdpSocketPtr& sock) {
    add({.kind = Ev::Closed, .sock = sock.get()});
}

// MARK: - Peers

int Connected::fd() const {
    auto cfSocket = socket ? socket->getCFSocket() : nullptr;
    return cfSocket ? cfSocket->nativeHandle() : -1;
}

Connected connectToPeer(int family, std::set<std::string> implemented) {
    Connected connected;
    connected.listener = RawListener::create(family);
    if (!connected.listener)
        return connected;
    implemented.insert("onSocket:didConnectToHost:port:");
    connected.recorder = std::make_shared<Recorder>(std::move(implemented));
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
    ::bind(m_fd, reinterpret_cast<const sockaddr*>(address.bytes()), socklen_t(address.length()));
}

UdpPeer::~UdpPeer() {
    ::close(m_fd);
}

uint16_t UdpPeer::port() const {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&storage), &length);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}

bool UdpPeer::sendTo(uint16_t port, std::string_view bytes) const {
    auto address = loopbackAddress(m_family, port);
    return ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(address.bytes()),
                    socklen_t(address.length())) == ssize_t(bytes.size());
}

std::string UdpPeer::receive() const {
    pollfd entry{m_fd, POLLIN, 0};
    if (::poll(&entry, 1, 10000) != 1)
        return {};
    char buffer[65536];
    ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
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
