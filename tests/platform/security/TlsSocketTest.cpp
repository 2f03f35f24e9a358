// The engine over non-blocking socket descriptors, with the server on its own thread: the way the
// sockets drive it, where every call may meet a full or empty kernel buffer.
#include "TestPki.h"
#include "TlsTestTransport.h"
#include "platform/security/TlsContext.h"

#include <chrono>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace platform;
using namespace securitytest;

namespace {

struct SocketPair {
    int fds[2]{-1, -1};
    SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0); }
    ~SocketPair() {
        for (int fd : fds)
            if (fd >= 0)
                ::close(fd);
    }
    void closeSide(int i) {
        ::close(fds[i]);
        fds[i] = -1;
    }
};

// Waits (briefly) for the descriptor to become readable; the callers loop, so a write that is stuck
// on a full buffer is simply retried on the next turn.
void waitReadable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    poll(&entry, 1, 10);
}

bool beforeDeadline(std::chrono::steady_clock::time_point deadline) {
    return std::chrono::steady_clock::now() < deadline;
}

// Handshakes, then echoes everything it reads until the peer's TLS close; answers the final status.
OSStatus runEchoServer(int fd) {
    auto server = TlsContext::create(TlsRole::Server);
    attachDescriptor(*server, fd);
    server->setCertificate(pki().server.identity, {pki().intermediate.certificate});
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    OSStatus status = errSSLWouldBlock;
    while (status == errSSLWouldBlock && beforeDeadline(deadline)) {
        status = server->handshake();
        if (status == errSSLWouldBlock)
            waitReadable(fd);
    }
    if (status != noErr)
        return status;
    std::string pending;
    char buffer[16384];
    while (beforeDeadline(deadline)) {
        size_t got = 0;
        OSStatus read = server->read(buffer, sizeof buffer, &got);
        pending.append(buffer, got);
        if (!pending.empty()) {
            size_t taken = 0;
            OSStatus written = server->write(pending.data(), pending.size(), &taken);
            pending.erase(0, taken);
            if (written != noErr && written != errSSLWouldBlock)
                return written;
        } else {
            size_t taken = 0;
            server->write(nullptr, 0, &taken);
        }
        if (read == errSSLClosedGraceful) {
            while (server->close() == errSSLWouldBlock && beforeDeadline(deadline))
                waitReadable(fd);
            return read;
        }
        if (read != noErr && read != errSSLWouldBlock)
            return read;
        if (read == errSSLWouldBlock)
            waitReadable(fd);
    }
    return errSSLInternal;
}

} // namespace

TEST(TlsOverSockets, EchoesAMegabyteThroughNonBlockingDescriptorsAcrossThreads) {
    SocketPair sockets;
    OSStatus serverResult = errSSLInternal;
    std::thread serverThread([&] { serverResult = runEchoServer(sockets.fds[1]); });

    auto client = TlsContext::create(TlsRole::Client);
    attachDescriptor(*client, sockets.fds[0]);
    client->setPeerName("localhost");
    client->setTrustedRoots({pki().root.certificate});

    std::string message(1 << 20, '\0');
    for (size_t i = 0; i < message.size(); ++i)
        message[i] = static_cast<char>((i * 2654435761u) >> 24);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    size_t sent = 0;
    bool flushed = false;
    std::string echoed;
    char buffer[16384];
    OSStatus status = noErr;
    while (echoed.size() < message.size() && beforeDeadline(deadline)) {
        size_t taken = 0;
        if (sent < message.size()) {
            size_t chunk = std::min<size_t>(32768, message.size() - sent);
            status = client->write(message.data() + sent, chunk, &taken);
            sent += taken;
        } else if (!flushed) {
            status = client->write(nullptr, 0, &taken);
            flushed = status == noErr;
        }
        if (status != noErr && status != errSSLWouldBlock)
            break;
        size_t got = 0;
        status = client->read(buffer, sizeof buffer, &got);
        echoed.append(buffer, got);
        if (status != noErr && status != errSSLWouldBlock)
            break;
        if (status == errSSLWouldBlock && got == 0)
            waitReadable(sockets.fds[0]);
    }
    EXPECT_EQ(status == noErr || status == errSSLWouldBlock, true) << securityStatusName(status);
    EXPECT_TRUE(echoed == message) << "echoed " << echoed.size() << " of " << message.size() << " bytes";

    while (client->close() == errSSLWouldBlock && beforeDeadline(deadline))
        waitReadable(sockets.fds[0]);
    size_t got = 0;
    OSStatus last = errSSLWouldBlock;
    while (last == errSSLWouldBlock && beforeDeadline(deadline)) {
        last = client->read(buffer, sizeof buffer, &got);
        waitReadable(sockets.fds[0]);
    }
    serverThread.join();
    EXPECT_EQ(serverResult, errSSLClosedGraceful) << securityStatusName(serverResult);
    EXPECT_EQ(last, errSSLClosedGraceful) << securityStatusName(last);
}

TEST(TlsOverSockets, APeerThatVanishesMidHandshakeIsAnAbort) {
    SocketPair sockets;
    auto client = TlsContext::create(TlsRole::Client);
    attachDescriptor(*client, sockets.fds[0]);
    EXPECT_EQ(client->handshake(), errSSLWouldBlock); // the client hello is out
    sockets.closeSide(1);
    EXPECT_EQ(client->handshake(), errSSLClosedAbort);
}
