// The engine over non-blocking socket descriptors, with the server on its own thread: the way the
// sockets drive it, where every call may meet a full or empty kernel buffer.
#include "TestPki.h"
#include "TlsTestTransport.h"
#include "platform/security/TlsContext.h"

#include <chrono>
#include <functional>
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

// Calls `step` until it answers anything but would-block, waiting (briefly) for input between calls; a
// write stuck on a full buffer is simply retried on the next turn.
OSStatus untilSettled(int fd, const std::function<OSStatus()>& step) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    OSStatus status = errSSLWouldBlock;
    while (status == errSSLWouldBlock && std::chrono::steady_clock::now() < deadline) {
        status = step();
        pollfd entry{fd, POLLIN, 0};
        if (status == errSSLWouldBlock)
            poll(&entry, 1, 10);
    }
    return status;
}

// Handshakes, then echoes everything it reads until the peer's TLS close; answers the final status.
OSStatus runEchoServer(int fd) {
    auto server = TlsContext::create(TlsRole::Server);
    attachDescriptor(*server, fd);
    server->setCertificate(pki().server.identity, {pki().intermediate.certificate});
    if (OSStatus status = untilSettled(fd, [&] { return server->handshake(); }); status != noErr)
        return status;
    std::string pending;
    OSStatus status = untilSettled(fd, [&] {
        auto [read, got] = receive(*server, 16384);
        pending += got;
        size_t taken = 0;
        OSStatus written = server->write(pending.data(), pending.size(), &taken);
        pending.erase(0, taken);
        if (written != noErr && written != errSSLWouldBlock)
            return written;
        return read == noErr ? errSSLWouldBlock : read;
    });
    if (status == errSSLClosedGraceful)
        untilSettled(fd, [&] { return server->close(); });
    return status;
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

    size_t sent = 0;
    std::string echoed;
    OSStatus status = untilSettled(sockets.fds[0], [&] {
        size_t taken = 0;
        // Past the message, empty writes push what is still buffered.
        size_t chunk = std::min<size_t>(32768, message.size() - sent);
        OSStatus written = client->write(message.data() + sent, chunk, &taken);
        sent += taken;
        if (written != noErr && written != errSSLWouldBlock)
            return written;
        auto [read, got] = receive(*client, 16384);
        echoed += got;
        if (read != noErr && read != errSSLWouldBlock)
            return read;
        return echoed.size() < message.size() ? errSSLWouldBlock : noErr;
    });
    EXPECT_EQ(status, noErr) << securityStatusName(status);
    EXPECT_TRUE(echoed == message) << "echoed " << echoed.size() << " of " << message.size() << " bytes";

    untilSettled(sockets.fds[0], [&] { return client->close(); });
    OSStatus last = untilSettled(sockets.fds[0], [&] {
        OSStatus read = receive(*client, 16384).first;
        return read == noErr ? errSSLWouldBlock : read;
    });
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
