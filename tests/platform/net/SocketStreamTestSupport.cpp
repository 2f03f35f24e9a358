#include "SocketStreamTestSupport.h"

#include "platform/runloop/RunLoop.h"
#include "platform/security/TlsSettingsKeys.h"
#include "tests/support/MainLoop.h"
#include "tests/support/TlsTestPki.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace streamtest {

using namespace platform;

SocketPair::SocketPair() {
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
}

SocketPair::~SocketPair() {
    closeEnd(0);
    closeEnd(1);
}

void SocketPair::closeEnd(int end) {
    if (fds[end] >= 0)
        ::close(fds[end]);
    fds[end] = -1;
}

std::string SocketPair::drain(int end) {
    std::string result;
    char buffer[4096];
    ssize_t got;
    while ((got = ::recv(fds[end], buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
        result.append(buffer, size_t(got));
    return result;
}

namespace {

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

uint16_t boundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

} // namespace

Listener::Listener() {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    auto address = loopback(0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd, 8), 0);
    port = boundPort(fd);
}

Listener::~Listener() {
    if (fd >= 0)
        ::close(fd);
}

int Listener::acceptOne() {
    return ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
}

uint16_t refusedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    auto address = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    uint16_t port = boundPort(fd);
    ::close(fd);
    return port;
}

// ---- Events ----
ReadStream::ClientCallback EventLog::readClient(std::function<void(ReadStream&, StreamEventType)> also) {
    return [this, also](ReadStream& stream, StreamEventType event) {
        record('r', event);
        if (also)
            also(stream, event);
    };
}

WriteStream::ClientCallback EventLog::writeClient(std::function<void(WriteStream&, StreamEventType)> also) {
    return [this, also](WriteStream& stream, StreamEventType event) {
        record('w', event);
        if (also)
            also(stream, event);
    };
}

void EventLog::record(char side, StreamEventType event) {
    if (m_inside || (mainThreadOnly && !RunLoop::main()->isCurrent()))
        ++m_misplaced;
    std::lock_guard lock(m_mutex);
    m_entries.push_back({side, event});
}

int EventLog::count(char side, StreamEventType event) const {
    std::lock_guard lock(m_mutex);
    int total = 0;
    for (auto& entry : m_entries)
        total += entry.side == side && entry.event == event;
    return total;
}

std::vector<EventLog::Entry> EventLog::entries() const {
    std::lock_guard lock(m_mutex);
    return m_entries;
}

Attached::Attached(SocketStreamPair made, std::function<void(ReadStream&, StreamEventType)> alsoRead,
                   std::function<void(WriteStream&, StreamEventType)> alsoWrite)
    : pair(std::move(made)) {
    pair.readStream->setClient(kAllRead, log.readClient(std::move(alsoRead)));
    pair.writeStream->setClient(kAllWrite, log.writeClient(std::move(alsoWrite)));
    pair.readStream->scheduleWithRunLoop(RunLoop::main(), RunLoop::defaultMode);
    pair.writeStream->scheduleWithRunLoop(RunLoop::main(), RunLoop::defaultMode);
}

Attached::~Attached() {
    pair.readStream->close();
    pair.writeStream->close();
}

bool Attached::open() {
    return log.during([&] { return pair.readStream->open() && pair.writeStream->open(); });
}

bool Attached::waitFor(char side, StreamEventType event, int count) {
    return liveapp::test::pumpMainLoopUntil([&] { return log.count(side, event) >= count; });
}

std::string Attached::readAll() {
    std::string text;
    uint8_t buffer[4096];
    while (pair.readStream->hasBytesAvailable()) {
        int64_t got = log.during([&] { return pair.readStream->read(buffer, sizeof buffer); });
        if (got <= 0)
            break;
        text.append(reinterpret_cast<char*>(buffer), size_t(got));
    }
    return text;
}

int64_t Attached::write(std::string_view text) {
    return log.during([&] {
        return pair.writeStream->write(reinterpret_cast<const uint8_t*>(text.data()), int64_t(text.size()));
    });
}

// ---- TLS ----
TlsIdentityPtr localhostIdentity() {
    return liveapp::test::testPki().selfSigned.identity;
}

Value serverSettings() {
    return Value::dictionary({{kCFStreamSSLIsServer, true},
                              {kCFStreamSSLCertificates, Value::array({Value(localhostIdentity())})}});
}

Value clientSettings(bool allowsAnyRoot) {
    if (!allowsAnyRoot)
        return Value::dictionary({{kCFStreamSSLPeerName, "localhost"}});
    return Value::dictionary({{kCFStreamSSLPeerName, "localhost"}, {kCFStreamSSLAllowsAnyRoot, true}});
}

} // namespace streamtest
