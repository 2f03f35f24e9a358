#include "platform/security/TlsSettingsKeys.h"
#include "tests/sockets/runloop/RunLoopTestSupport.h"
#include "tests/support/TlsTestPki.h"

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <netdb.h>
#include <thread>

using namespace runloopsockettest;
using liveapp::test::FakeResolver;
using liveapp::test::pumpMainLoopOnce;
using liveapp::test::ScopedResolver;
using liveapp::test::serverTlsSettings;
using liveapp::test::testPki;

namespace {

class RunLoopSocketTcp : public testing::Test {
protected:
    void TearDown() override { recorder->accepted.clear(); } // they hold the recorder

    std::shared_ptr<Recorder> recorder{std::make_shared<Recorder>()};
    RunLoopSocketPtr socket{RunLoopSocket::create(recorder)};
};

// A client connected to the listening socket, whose accepted socket is the server end; both on this thread.
class RunLoopSocketTls : public RunLoopSocketTcp {
protected:
    void SetUp() override {
        ASSERT_TRUE(socket->acceptOnInterface("127.0.0.1", 0));
        ASSERT_TRUE(client->connectToHost("127.0.0.1", socket->localPort()));
        ASSERT_TRUE(recorder->waitFor(Ev::Connect) && clientSide->waitFor(Ev::Connect));
        server = recorder->accepted.at(0);
    }

    static platform::Value clientSettings(bool validates) {
        auto settings = platform::Value::dictionary({{platform::kCFStreamSSLPeerName, "localhost"}});
        if (!validates)
            settings.mutableDictionary()->set(platform::kCFStreamSSLValidatesCertificateChain, false);
        return settings;
    }

    std::shared_ptr<Recorder> clientSide{std::make_shared<Recorder>()};
    RunLoopSocketPtr client{RunLoopSocket::create(clientSide)};
    RunLoopSocketPtr server;
};

} // namespace

TEST_F(RunLoopSocketTcp, BothFamiliesShareOnePortAndEachConnectionBecomesASocketOfItsOwn) {
    if (!hasIPv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback";
    ASSERT_TRUE(socket->acceptOnPort(0));
    uint16_t port = socket->localPort4();
    EXPECT_NE(port, 0);
    EXPECT_EQ(socket->localPort6(), port);
    EXPECT_EQ(socket->description(),
              fmt::format(
                  "<RunLoopSocket {} local 0.0.0.0/:: {} remote (null)/(null) 0 has queued 0 reads 0 writes, "
                  "no current read, no current write, read stream 0x0 not open, write stream 0x0 not open, "
                  "not connected>",
                  fmt::ptr(socket.get()), port));
    socket->disconnect();

    ASSERT_TRUE(socket->acceptOnInterface("localhost", 0));
    EXPECT_EQ(socket->localHost4(), "127.0.0.1");
    EXPECT_EQ(socket->localHost6(), "::1");
    auto peer4 = RawPeer::connectTo(AF_INET, socket->localPort());
    ASSERT_TRUE(recorder->waitFor(Ev::Connect));
    auto peer6 = RawPeer::connectTo(AF_INET6, socket->localPort());
    ASSERT_TRUE(recorder->waitFor(Ev::Connect, 2));
    EXPECT_EQ(recorder->all(&Event::host, Ev::Connect),
              (std::vector<std::optional<std::string>>{"127.0.0.1", "::1"}));
    EXPECT_EQ(recorder->all(&Event::port, Ev::Connect),
              (std::vector<uint16_t>{peer4->localPort(), peer6->localPort()}));
    auto& accepted6 = recorder->accepted.at(1);
    EXPECT_TRUE(accepted6->isIPv6() && !accepted6->isIPv4() && accepted6->isConnected());
    EXPECT_EQ(accepted6->connectedHost4(), std::nullopt);
    EXPECT_TRUE(socket->isDisconnected() == false && !socket->isConnected());
}

TEST_F(RunLoopSocketTcp, AnInterfaceNameListensOnWhatItResolvesTo) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->add("v6only.test", {"::1"});
    resolver->fail("broken.test", EAI_FAIL);
    ScopedResolver installed(resolver);
    if (hasIPv6Loopback()) {
        ASSERT_TRUE(socket->acceptOnInterface("v6only.test", 0));
        EXPECT_FALSE(socket->isIPv4());
        EXPECT_EQ(socket->localHost(), "::1");
        socket->disconnect();
    }
    platform::ErrorPtr err;
    EXPECT_FALSE(socket->acceptOnInterface("broken.test", 0, &err));
    EXPECT_EQ(describe(err), "kCFStreamErrorDomainNetDB " + std::to_string(EAI_FAIL) +
                                 ": Non-recoverable failure in name resolution");
    EXPECT_TRUE(socket->isDisconnected());
}

TEST_F(RunLoopSocketTcp, MisuseRaisesTheNamedExceptionAndTheListenerGoesOn) {
    ASSERT_TRUE(socket->acceptOnInterface("localhost", 0));
    auto loose = RunLoopSocket::create();
    auto address = loopbackAddress(AF_INET, socket->localPort());
    EXPECT_EQ(raisedBy([&] { loose->connectToAddress(address); }),
              "RunLoopSocketException: Attempting to connect without a delegate. Set a delegate first.");
    EXPECT_EQ(raisedBy([&] { loose->acceptOnPort(0); }),
              "RunLoopSocketException: Attempting to accept without a delegate. Set a delegate first.");
    EXPECT_EQ(raisedBy([&] { socket->connectToHost("localhost", 1); }),
              "RunLoopSocketException: Attempting to connect while connected or accepting connections. "
              "Disconnect first.");
    EXPECT_EQ(raisedBy([&] { socket->acceptOnPort(0); }),
              "RunLoopSocketException: Attempting to accept while connected or accepting connections. "
              "Disconnect first.");
    std::string offThread;
    std::thread([&] {
        offThread = raisedBy([&] { loose->checkForThreadSafety(); }) + " / " +
                    raisedBy([&] { socket->checkForThreadSafety(); });
    }).join();
    EXPECT_EQ(offThread, "nothing / RunLoopSocketException: Attempting to access RunLoopSocket instance from "
                         "incorrect thread."); // only a socket bound to a run loop has a thread
    EXPECT_EQ(raisedBy([&] { socket->checkForThreadSafety(); }), "nothing");
    recorder->willConnect = false; // still listening; an accepted socket that fails to start is closed
    auto peer = RawPeer::connectTo(AF_INET, socket->localPort());
    ASSERT_TRUE(peer && recorder->waitFor(Ev::Disconnect));
    EXPECT_EQ(recorder->all(&Event::kind), (std::vector<Ev>{Ev::Accept, Ev::Disconnect}));
    EXPECT_EQ(recorder->last(Ev::Disconnect)->sock, recorder->accepted.at(0).get());
    EXPECT_TRUE(peer->waitForEndOfStream());
    EXPECT_FALSE(socket->isDisconnected());
}

TEST_F(RunLoopSocketTcp, AStartThatFailsTellsNothingAndARefusedOneEndsInTheGeneralError) {
    auto listener = RawListener::create(AF_INET);
    recorder->willConnect = false;
    auto target = loopbackAddress(AF_INET, listener->port());
    sockaddr_in6 wrongFamily{};
    wrongFamily.sin6_family = AF_UNIX;
    auto refused = [&](const std::function<bool(platform::ErrorPtr*)>& start) {
        platform::ErrorPtr err;
        EXPECT_FALSE(start(&err));
        EXPECT_TRUE(socket->isDisconnected());
        return describe(err);
    };
    const std::string canceled = "RunLoopSocketErrorDomain 1: Connection canceled";
    const std::string notIp = "RunLoopSocketErrorDomain -1: Remote address is not IPv4 or IPv6";
    EXPECT_EQ(refused([&](auto err) { return socket->connectToAddress(target, err); }), canceled);
    EXPECT_EQ(refused([&](auto err) { return socket->connectToHost("127.0.0.1", listener->port(), err); }),
              canceled);
    EXPECT_EQ(refused([&](auto err) { return socket->connectToAddress(target.subdata(0, 15), err); }), notIp);
    auto short6 = loopbackAddress(AF_INET6, 1).subdata(0, 20);
    EXPECT_EQ(refused([&](auto err) { return socket->connectToAddress(short6, err); }), notIp);
    auto unixFamily = platform::Data(&wrongFamily, sizeof wrongFamily);
    EXPECT_EQ(refused([&](auto err) { return socket->connectToAddress(target, unixFamily, -1.0, err); }),
              "RunLoopSocketErrorDomain -1: Interface address is not IPv4 or IPv6");
    pumpMainLoopOnce();
    EXPECT_TRUE(recorder->events().empty());
    recorder->willConnect = true; // a refused connection ends in the general error; the socket can try again
    ASSERT_TRUE(socket->connectToAddress(loopbackAddress(AF_INET, RawListener::create(AF_INET)->port())));
    ASSERT_TRUE(recorder->waitFor(Ev::Disconnect));
    EXPECT_EQ(recorder->all(&Event::kind), (std::vector<Ev>{Ev::WillDisconnect, Ev::Disconnect}));
    EXPECT_EQ(describe(recorder->last(Ev::WillDisconnect)->error),
              "RunLoopSocketErrorDomain -1: General CFSocket error");
    ASSERT_TRUE(socket->connectToAddress(target));
    EXPECT_TRUE(recorder->waitFor(Ev::Connect));
}

TEST_F(RunLoopSocketTcp, APeerThatClosesLeavesTheInterruptedReadToUnreadDataInsideWillDisconnect) {
    auto connected = connectToPeer();
    ASSERT_TRUE(connected.peer);
    EXPECT_EQ(connected.socket->unreadData(), std::nullopt);
    connected.socket->readDataToLength(10, -1, 1);
    ASSERT_TRUE(connected.peer->sendAll("tail"));
    connected.peer->close();
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Disconnect));
    EXPECT_EQ(connected.recorder->all(&Event::kind),
              (std::vector<Ev>{Ev::Connect, Ev::ReadPartial, Ev::WillDisconnect, Ev::Disconnect}));
    auto willDisconnect = *connected.recorder->last(Ev::WillDisconnect);
    EXPECT_EQ(willDisconnect.error, nullptr);
    EXPECT_EQ(willDisconnect.unread, platform::Data("tail"));
    EXPECT_EQ(connected.socket->unreadData(), std::nullopt);
}

TEST_F(RunLoopSocketTcp, ReleasingTheSocketClosesItOnceEvenFromItsOwnCallback) {
    for (bool fromCallback : {false, true}) {
        auto connected = connectToPeer();
        ASSERT_TRUE(connected.peer);
        if (fromCallback) {
            connected.recorder->onEvent = [&](const Event& event) {
                if (event.kind == Ev::Read)
                    connected.socket.reset(); // the last reference
            };
            connected.socket->readDataToLength(2, -1, 0);
            ASSERT_TRUE(connected.peer->sendAll("hi"));
            ASSERT_TRUE(pumpMainLoopUntil([&] { return !connected.socket; }));
        } else {
            connected.socket.reset();
        }
        EXPECT_TRUE(connected.peer->waitForEndOfStream());
        auto disconnect = connected.recorder->last(Ev::Disconnect);
        ASSERT_TRUE(disconnect);
        EXPECT_EQ(disconnect->sock, nullptr); // told during the release
    }
}

// A connection the delegate makes while it hears of the close must survive the close under way.
TEST_F(RunLoopSocketTcp, AConnectionMadeInsideTheCloseCallbacksSurvives) {
    for (Ev reconnectOn : {Ev::WillDisconnect, Ev::Disconnect}) {
        auto connected = connectToPeer();
        ASSERT_TRUE(connected.peer);
        auto second = RawListener::create(AF_INET);
        connected.recorder->onEvent = [&](const Event& event) {
            if (event.kind != reconnectOn || connected.recorder->count(reconnectOn) > 1)
                return;
            connected.socket->disconnect();
            connected.socket->connectToAddress(loopbackAddress(AF_INET, second->port()));
        };
        connected.socket->readDataWithTimeout(-1, 0);
        connected.peer->reset();
        ASSERT_TRUE(connected.recorder->waitFor(Ev::Connect, 2));
        auto peer = second->accept();
        ASSERT_TRUE(peer);
        connected.socket->writeData(platform::Data("still here"), -1, 1);
        ASSERT_TRUE(connected.recorder->waitFor(Ev::Write));
        EXPECT_EQ(peer->receiveExactly(10), "still here");
        EXPECT_EQ(connected.recorder->count(Ev::Disconnect), 1u);
    }
}

TEST_F(RunLoopSocketTcp, ConnectingByNameWaitsForTheStreamsAndTimesOutOnlyWithATimeOut) {
    HeldResolver held;
    ManualClockScope clock;
    auto listener = RawListener::create(AF_INET);
    held.resolver->add("chat.test", {"127.0.0.1"});
    auto timing = RunLoopSocket::create(recorder);
    ASSERT_TRUE(socket->connectToHost("chat.test", listener->port(), -1.0));
    ASSERT_TRUE(timing->connectToHost("chat.test", listener->port(), 5.0));
    ASSERT_TRUE(held.gate->waitForArrivals(2));
    clock.advance(1000);
    ASSERT_TRUE(recorder->waitFor(Ev::Disconnect));
    EXPECT_EQ(recorder->last(Ev::Disconnect)->sock, timing.get());
    EXPECT_EQ(describe(recorder->last(Ev::WillDisconnect)->error),
              "RunLoopSocketErrorDomain 2: Attempt to connect to host timed out");
    held.gate->open();
    ASSERT_TRUE(recorder->waitFor(Ev::Connect));
    EXPECT_EQ(recorder->last(Ev::Connect)->sock, socket.get());
    EXPECT_EQ(recorder->last(Ev::Connect)->host, "127.0.0.1");
    EXPECT_EQ(recorder->last(Ev::Connect)->port, listener->port());
}

// Requests queued before startTLS go out in the clear; those after it wait for onSocketDidSecure.
TEST_F(RunLoopSocketTls, TheMarkerSplitsTheQueuesIntoPlainAndSecureRequests) {
    client->writeData(platform::Data("plain|"), -1, 1);
    client->startTLS(clientSettings(false));
    client->writeData(platform::Data("secret"), -1, 2);
    server->readDataToData(platform::Data("|"), -1, 1);
    server->startTLS(serverTlsSettings(testPki().server));
    server->readDataToLength(6, -1, 2);
    ASSERT_TRUE(recorder->waitFor(Ev::Read, 2));
    EXPECT_EQ(recorder->all(&Event::kind),
              (std::vector<Ev>{Ev::Accept, Ev::Connect, Ev::Read, Ev::Secure, Ev::Read}));
    EXPECT_EQ(recorder->last(Ev::Read)->data, "secret");
    EXPECT_EQ(clientSide->all(&Event::kind),
              (std::vector<Ev>{Ev::Connect, Ev::Write, Ev::Secure, Ev::Write}));
}

TEST_F(RunLoopSocketTls, AnUntrustedServerEndsTheConnectionWithTheTlsError) {
    client->startTLS(clientSettings(true));
    server->startTLS(serverTlsSettings(testPki().selfSigned));
    ASSERT_TRUE(clientSide->waitFor(Ev::Disconnect));
    EXPECT_EQ(clientSide->count(Ev::Secure), 0u);
    EXPECT_THAT(describe(clientSide->last(Ev::WillDisconnect)->error),
                testing::StartsWith("kCFStreamErrorDomainSSL "));
}

// A peer that answers and closes the session at once, keeping the connection itself open: its TLS
// close, right behind the reply, ends the connection once the reply is read, with no time-out needed.
TEST_F(RunLoopSocketTcp, ATlsCloseRightBehindTheReplyEndsTheConnection) {
    auto listener = RawListener::create(AF_INET);
    ASSERT_TRUE(listener);
    std::unique_ptr<RawPeer> peer; // open until the test ends
    std::atomic<bool> replied{false};
    std::thread server([&] {
        peer = listener->accept();
        if (!peer)
            return;
        auto pair = platform::SocketStreamPair::createWithSocket(peer->fd());
        auto settings = serverTlsSettings(testPki().server);
        const std::string_view reply = "reply";
        if (pair.readStream->setProperty(platform::kCFStreamPropertySSLSettings, settings) &&
            pair.writeStream->setProperty(platform::kCFStreamPropertySSLSettings, settings) &&
            pair.readStream->open() && pair.writeStream->open())
            pair.writeStream->write(reinterpret_cast<const uint8_t*>(reply.data()), int64_t(reply.size()));
        pair.readStream->close();
        pair.writeStream->close(); // sends the TLS close
        replied = true;
    });
    bool connecting = socket->connectToHost("127.0.0.1", listener->port());
    socket->startTLS(platform::Value::dictionary({{platform::kCFStreamSSLPeerName, "localhost"},
                                                  {platform::kCFStreamSSLValidatesCertificateChain, false}}));
    bool answered =
        connecting && pumpMainLoopUntil([&] { return replied && recorder->count(Ev::Secure) == 1; });
    if (!answered)
        socket->disconnect(); // lets the peer's handshake fail rather than wait for ever
    server.join();
    ASSERT_TRUE(answered);

    // Both records wait in the socket before the read begins, so one read step meets them both.
    socket->readDataWithTimeout(-1, 1);
    ASSERT_TRUE(recorder->waitFor(Ev::Disconnect));
    EXPECT_EQ(recorder->all(&Event::data, Ev::Read), std::vector<std::string>{"reply"});
    auto will = recorder->last(Ev::WillDisconnect);
    EXPECT_FALSE(will && will->error) << describe(will->error);
}
