// TLS through the stream pair: a client pair against a server pair (both ours, certificates made at
// test time), over a socket pair and over a loopback connection.
#include "SocketStreamTestSupport.h"
#include "platform/net/SocketStream.h"
#include "platform/runloop/RunLoop.h"
#include "platform/security/SecurityStatus.h"
#include "platform/security/TlsSettingsKeys.h"
#include "tests/support/MainLoop.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace platform;
using namespace std::chrono_literals;
using liveapp::test::pumpMainLoopFor;
using liveapp::test::pumpMainLoopUntil;
using namespace streamtest;

namespace {

// One end of a conversation: reads everything it is told about, writes its outgoing bytes whenever
// there is room, and counts the readiness events that say the handshake is through.
struct Endpoint : Attached {
    std::string received;
    std::string outgoing;
    size_t written{0};

    explicit Endpoint(SocketStreamPair made)
        : Attached(
              std::move(made),
              [this](ReadStream&, StreamEventType event) {
                  if (event == kCFStreamEventHasBytesAvailable)
                      received += readAll();
              },
              [this](WriteStream&, StreamEventType event) {
                  if (event == kCFStreamEventCanAcceptBytes)
                      pushOutgoing();
              }) {}

    bool secure(const Value& settings) {
        return log.during([&] {
            return pair.readStream->setProperty(kCFStreamPropertySSLSettings, settings) &&
                   pair.writeStream->setProperty(kCFStreamPropertySSLSettings, settings);
        });
    }
    void send(std::string text) {
        outgoing += text;
        if (pair.writeStream->canAcceptBytes())
            pushOutgoing();
    }
    void pushOutgoing() {
        // One write per event, as the sockets do; the next event brings the next write.
        if (written == outgoing.size())
            return;
        int64_t taken = write(std::string_view(outgoing).substr(written));
        if (taken > 0)
            written += size_t(taken);
    }
    bool handshakeThrough() const { return log.count('w', kCFStreamEventCanAcceptBytes) > 0; }
};

// Secures and opens both ends; true once the handshake is through on both.
bool handshake(Endpoint& server, Endpoint& client) {
    return server.secure(serverSettings()) && client.secure(clientSettings()) && server.open() &&
           client.open() &&
           pumpMainLoopUntil([&] { return client.handshakeThrough() && server.handshakeThrough(); });
}

} // namespace

TEST(SocketStreamTls, NoReadinessIsToldWhileTheHandshakeRuns) {
    SocketPair sockets;
    Endpoint client(SocketStreamPair::createWithSocket(sockets.fds[0]));
    ASSERT_TRUE(client.secure(clientSettings()));
    ASSERT_TRUE(client.open());
    ASSERT_TRUE(pumpMainLoopUntil([&] { return client.log.count('w', kCFStreamEventOpenCompleted) == 1; }));
    // The peer never answers: the client hello goes out, and nothing says the stream is ready.
    std::string hello;
    ASSERT_TRUE(pumpMainLoopUntil([&] {
        hello += sockets.drain(1);
        return hello.size() >= 5;
    }));
    EXPECT_EQ(uint8_t(hello[0]), 0x16); // a TLS handshake record
    EXPECT_EQ(uint8_t(hello[1]), 0x03);
    ::send(sockets.fds[1], "plain", 5, MSG_NOSIGNAL);
    pumpMainLoopFor(50ms);
    EXPECT_EQ(client.log.count('w', kCFStreamEventCanAcceptBytes), 0);
    EXPECT_EQ(client.log.count('r', kCFStreamEventHasBytesAvailable), 0);
    EXPECT_FALSE(client.pair.writeStream->canAcceptBytes());
    EXPECT_FALSE(client.pair.readStream->hasBytesAvailable());
}

TEST(SocketStreamTls, AClientAndAServerPairTalkPlaintextOverTheSession) {
    SocketPair sockets;
    Endpoint server(SocketStreamPair::createWithSocket(sockets.fds[1]));
    Endpoint client(SocketStreamPair::createWithSocket(sockets.fds[0]));
    // The server is configured before opening, the client once open: both ways start the session.
    ASSERT_TRUE(server.secure(serverSettings()));
    ASSERT_TRUE(server.open());
    ASSERT_TRUE(client.open());
    ASSERT_TRUE(pumpMainLoopUntil([&] { return client.log.count('w', kCFStreamEventOpenCompleted) == 1; }));
    ASSERT_TRUE(client.secure(clientSettings()));
    ASSERT_TRUE(pumpMainLoopUntil([&] { return client.handshakeThrough() && server.handshakeThrough(); }));
    EXPECT_EQ(client.pair.readStream->copyProperty(kCFStreamPropertySSLSettings), clientSettings());

    // Large transfers both ways arrive whole.
    std::string up, down;
    for (int i = 0; i < 40000; ++i) {
        up += "up" + std::to_string(i) + ",";
        down += "down" + std::to_string(i) + ";";
    }
    client.send(up);
    server.send(down);
    ASSERT_TRUE(pumpMainLoopUntil(
        [&] { return server.received.size() >= up.size() && client.received.size() >= down.size(); }, 60s));
    EXPECT_TRUE(server.received == up);
    EXPECT_TRUE(client.received == down);
    EXPECT_EQ(client.log.misplaced(), 0);
    EXPECT_EQ(server.log.misplaced(), 0);
    EXPECT_EQ(client.log.count('r', kCFStreamEventErrorOccurred), 0);
}

TEST(SocketStreamTls, AnUntrustedCertificateFailsBothStreamsWithATlsError) {
    SocketPair sockets;
    Endpoint server(SocketStreamPair::createWithSocket(sockets.fds[1]));
    Endpoint client(SocketStreamPair::createWithSocket(sockets.fds[0]));
    ASSERT_TRUE(server.secure(serverSettings()));
    ASSERT_TRUE(client.secure(clientSettings(false))); // the self-signed root is nobody's anchor
    ASSERT_TRUE(server.open() && client.open());
    ASSERT_TRUE(pumpMainLoopUntil([&] {
        return client.log.count('r', kCFStreamEventErrorOccurred) == 1 &&
               client.log.count('w', kCFStreamEventErrorOccurred) == 1;
    }));
    EXPECT_FALSE(client.handshakeThrough());
    EXPECT_EQ(client.log.count('r', kCFStreamEventHasBytesAvailable), 0);
    StreamError error = client.pair.readStream->error();
    EXPECT_EQ(error.domain, kCFStreamErrorDomainSSL);
    EXPECT_EQ(error.error, errSSLXCertChainInvalid) << securityStatusName(error.error);
    EXPECT_EQ(client.pair.writeStream->error(), error);
    EXPECT_EQ(client.pair.readStream->copyError()->domain(), "kCFStreamErrorDomainSSL");
    EXPECT_EQ(client.pair.writeStream->status(), kCFStreamStatusError);
    // The server hears of it too, as a failure or the end of the connection.
    ASSERT_TRUE(pumpMainLoopUntil([&] {
        return server.log.count('r', kCFStreamEventErrorOccurred) +
                   server.log.count('r', kCFStreamEventEndEncountered) >
               0;
    }));
    EXPECT_FALSE(server.handshakeThrough());
}

TEST(SocketStreamTls, SettingsTheEngineRefusesAreRefused) {
    SocketPair sockets;
    auto pair = SocketStreamPair::createWithSocket(sockets.fds[0]);
    EXPECT_FALSE(pair.readStream->setProperty(kCFStreamPropertySSLSettings, Value("tls please")));
    EXPECT_FALSE(pair.readStream->setProperty(kCFStreamPropertySSLSettings,
                                              Value::dictionary({{kCFStreamSSLCertificates, "nonsense"}})));
    EXPECT_FALSE(pair.readStream->setProperty(
        kCFStreamPropertySSLSettings,
        Value::dictionary({{kCFStreamSSLLevel, kCFStreamSocketSecurityLevelSSLv2}})));
    EXPECT_TRUE(pair.readStream->copyProperty(kCFStreamPropertySSLSettings).isNil());

    // Before the session starts the settings may change or go; once it runs only the same ones agree.
    EXPECT_TRUE(pair.readStream->setProperty(kCFStreamPropertySSLSettings, clientSettings(false)));
    EXPECT_TRUE(pair.readStream->setProperty(kCFStreamPropertySSLSettings, Value()));
    EXPECT_TRUE(pair.readStream->copyProperty(kCFStreamPropertySSLSettings).isNil());
    EXPECT_TRUE(pair.readStream->setProperty(kCFStreamPropertySSLSettings, clientSettings()));
    ASSERT_TRUE(pair.readStream->open());
    EXPECT_TRUE(pair.writeStream->setProperty(kCFStreamPropertySSLSettings, clientSettings()));
    EXPECT_FALSE(pair.writeStream->setProperty(kCFStreamPropertySSLSettings, clientSettings(false)));
    EXPECT_FALSE(pair.writeStream->setProperty(kCFStreamPropertySSLSettings, Value()));
}

TEST(SocketStreamTls, APairToAHostNegotiatesOnceConnected) {
    Listener listener;
    Endpoint client(SocketStreamPair::createWithSocketToHost("127.0.0.1", listener.port));
    // No peer name: the host connected to is the name checked, and the certificate names 127.0.0.1.
    ASSERT_TRUE(client.secure(Value::dictionary({{kCFStreamSSLAllowsAnyRoot, true}})));
    ASSERT_TRUE(client.open());
    int accepted = -1;
    ASSERT_TRUE(pumpMainLoopUntil([&] { return (accepted = listener.acceptOne()) >= 0; }));
    Endpoint server(SocketStreamPair::createWithSocket(accepted));
    server.pair.readStream->setProperty(kCFStreamPropertyShouldCloseNativeSocket, Value(true));
    ASSERT_TRUE(server.secure(serverSettings()));
    ASSERT_TRUE(server.open());
    ASSERT_TRUE(pumpMainLoopUntil([&] { return client.handshakeThrough() && server.handshakeThrough(); }));
    server.send("welcome");
    ASSERT_TRUE(pumpMainLoopUntil([&] { return client.received == "welcome"; }));
    EXPECT_EQ(client.log.misplaced(), 0);
}

TEST(SocketStreamTls, TheServerClosingEndsTheClientsReadStreamAfterItsLastBytes) {
    SocketPair sockets;
    auto server = std::make_unique<Endpoint>(SocketStreamPair::createWithSocket(sockets.fds[1]));
    Endpoint client(SocketStreamPair::createWithSocket(sockets.fds[0]));
    ASSERT_TRUE(handshake(*server, client));
    server->send("goodbye");
    ASSERT_TRUE(pumpMainLoopUntil([&] { return server->written == 7; }));
    server.reset(); // closes both streams: the TLS close goes out
    sockets.closeEnd(1);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return client.log.count('r', kCFStreamEventEndEncountered) == 1; }));
    EXPECT_EQ(client.received, "goodbye");
    EXPECT_EQ(client.pair.readStream->status(), kCFStreamStatusAtEnd);
    EXPECT_EQ(client.log.count('r', kCFStreamEventErrorOccurred), 0);
}
