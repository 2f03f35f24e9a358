// Listening: both families on one port, interface and path forms, the queue the delegate chooses for
// new sockets, and connections nobody can be handed.
#include "tests/sockets/queue/SocketTestSupport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace queuesockettest;

namespace {

class QueueSocketAccept : public SocketTest {
protected:
    void TearDown() override {
        for (const auto& accepted : delegate->acceptedSockets())
            settle(accepted, delegateQueue);
        SocketTest::TearDown();
    }

    QueueSocketPtr& server = socket;
};

std::string temporarySocketPath(const char* name) {
    return "/tmp/queuesocket-" + std::to_string(::getpid()) + "-" + name + ".sock";
}

bool connectUnix(const std::string& path, FileDescriptor& out) {
    FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return false;
    out = std::move(fd);
    return true;
}

} // namespace

TEST_F(QueueSocketAccept, PortZeroListensOnBothFamiliesOnOneSystemChosenPort) {
    ASSERT_TRUE(server->acceptOnPort(0));
    EXPECT_FALSE(server->isConnected());
    EXPECT_FALSE(server->isDisconnected());
    uint16_t port = server->localPort();
    ASSERT_NE(port, 0);

    auto peer4 = RawPeer::connectTo(AF_INET, port);
    ASSERT_TRUE(peer4);
    // Connections waiting together are all accepted.
    auto second4 = RawPeer::connectTo(AF_INET, port);
    auto third4 = RawPeer::connectTo(AF_INET, port);
    ASSERT_TRUE(second4 && third4);
    EXPECT_TRUE(delegate->waitFor(EventKind::Accept, 3));
    auto accepted4 = delegate->await(EventKind::Accept);
    EXPECT_EQ(accepted4.sock, server);
    EXPECT_TRUE(accepted4.newSocket->isConnected());
    EXPECT_EQ(accepted4.newSocket->connectedPort(), peer4->localPort());

    if (!hasIPv6Loopback())
        GTEST_SKIP() << "no ::1 on this machine";
    auto peer6 = RawPeer::connectTo(AF_INET6, port);
    ASSERT_TRUE(peer6);
    auto accepted6 = delegate->await(EventKind::Accept, 4);
    EXPECT_TRUE(accepted6.newSocket->isIPv6());
    EXPECT_EQ(accepted6.newSocket->connectedHost(), "::1");
}

TEST_F(QueueSocketAccept, AcceptedSocketCarriesDataAndTheListenersDelegate) {
    ASSERT_TRUE(server->acceptOnInterface(std::string("127.0.0.1"), 0));
    auto peer = RawPeer::connectTo(AF_INET, server->localPort());
    ASSERT_TRUE(peer);
    auto accepted = delegate->await(EventKind::Accept);
    auto socket = accepted.newSocket;
    EXPECT_EQ(socket->delegate(), delegate);
    EXPECT_EQ(socket->delegateQueue(), delegateQueue);
    EXPECT_TRUE(socket->isIPv4Enabled());

    socket->readDataToLength(5, -1, 1);
    ASSERT_TRUE(peer->sendAll("hello"));
    auto read = delegate->await(EventKind::Read);
    EXPECT_EQ(read.sock, socket);
    EXPECT_EQ(read.data.view(), "hello");
    socket->writeData(platform::Data(std::string_view("world")), -1, 2);
    EXPECT_EQ(peer->receiveExactly(5), "world");

    // The peer address handed to the queue question is the connection's.
    auto asked = delegate->eventsOf(EventKind::NewSocketQueue);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(QueueSocket::portFromAddress(asked[0].address), peer->localPort());
}

// Bytes the peer sent before its connection was handed out are there when the new socket starts: they
// wait for its first read, whose set-up races nothing on the socket's own queue.
TEST_F(QueueSocketAccept, BytesSentBeforeTheAcceptWaitForTheFirstRead) {
    ASSERT_TRUE(server->acceptOnInterface(std::string("127.0.0.1"), 0));
    std::promise<void> release;
    delegateQueue->async([held = release.get_future().share()] { held.wait(); });
    auto peer = RawPeer::connectTo(AF_INET, server->localPort());
    ASSERT_TRUE(peer);
    ASSERT_TRUE(peer->sendAll("early"));
    release.set_value();

    auto accepted = delegate->await(EventKind::Accept);
    accepted.newSocket->readDataToLength(5, -1, 1);
    auto read = delegate->await(EventKind::Read);
    EXPECT_EQ(read.data.view(), "early");
    accepted.newSocket->writeData(platform::Data(std::string_view("late")), -1, 2);
    EXPECT_EQ(peer->receiveExactly(4), "late");
}

TEST_F(QueueSocketAccept, NewSocketsRunOnTheQueueTheDelegateChooses) {
    static const int key = 0;
    auto chosen = platform::DispatchQueue::create("test.chosen");
    chosen->setSpecific(&key, std::make_shared<int>(1));
    delegate->setNewSocketQueue(chosen);
    ASSERT_TRUE(server->acceptOnPort(0));
    auto peer = RawPeer::connectTo(AF_INET, server->localPort());
    ASSERT_TRUE(peer);
    auto accepted = delegate->await(EventKind::Accept);
    bool onChosen = false;
    accepted.newSocket->performBlock(
        [&] { onChosen = platform::DispatchQueue::getSpecificCurrent(&key) != nullptr; });
    EXPECT_TRUE(onChosen);
}

TEST_F(QueueSocketAccept, ConnectionWithNoDelegateQueueIsClosedNotLeaked) {
    ASSERT_TRUE(server->acceptOnPort(0));
    uint16_t port = server->localPort();
    server->synchronouslySetDelegateQueue(nullptr);
    auto peer = RawPeer::connectTo(AF_INET, port);
    ASSERT_TRUE(peer);
    EXPECT_TRUE(peer->waitForEndOfStream());
    server->setDelegateQueue(delegateQueue);
    drain();
    EXPECT_EQ(delegate->count(EventKind::Accept), 0u);
}

TEST_F(QueueSocketAccept, AcceptedSocketNobodyKeepsClosesAndReportsANullSocket) {
    auto forgetful = RecordingDelegate::create({sel::didDisconnect});
    auto listener = QueueSocket::create(forgetful, delegateQueue);
    ASSERT_TRUE(listener->acceptOnPort(0));
    auto peer = RawPeer::connectTo(AF_INET, listener->localPort());
    ASSERT_TRUE(peer);
    auto closed = forgetful->await(EventKind::Disconnect);
    EXPECT_EQ(closed.sock, nullptr);
    EXPECT_TRUE(peer->waitForEndOfStream());
    listener->disconnect();
}

TEST_F(QueueSocketAccept, ListeningTwiceOrWhileConnectedIsRefused) {
    ASSERT_TRUE(server->acceptOnPort(0));
    platform::ErrorPtr error;
    EXPECT_FALSE(server->acceptOnPort(0, &error));
    EXPECT_EQ(describe(error), "QueueSocketErrorDomain 1: Attempting to accept while connected or accepting "
                               "connections. Disconnect first.");
    EXPECT_FALSE(server->connectToHost("localhost", 1, &error));
    EXPECT_EQ(error->localizedDescription(),
              "Attempting to connect while connected or accepting connections. Disconnect first.");

    // With both families disabled the family error comes first.
    server->setIPv4Enabled(false);
    server->setIPv6Enabled(false);
    EXPECT_FALSE(server->acceptOnPort(0, &error));
    EXPECT_EQ(error->localizedDescription(),
              "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
}

TEST_F(QueueSocketAccept, DisconnectStopsListening) {
    ASSERT_TRUE(server->acceptOnPort(0));
    uint16_t port = server->localPort();
    server->disconnect();
    drain();
    EXPECT_TRUE(server->isDisconnected());
    EXPECT_FALSE(RawPeer::connectTo(AF_INET, port));
    EXPECT_EQ(delegate->count(EventKind::Disconnect), 1u);
    // Listening again on the same socket works.
    EXPECT_TRUE(server->acceptOnPort(0));
}

TEST_F(QueueSocketAccept, IPv6LiteralInterfaceListensOnThatAddressOnly) {
    if (!hasIPv6Loopback())
        GTEST_SKIP() << "no ::1 on this machine";
    ASSERT_TRUE(server->acceptOnInterface(std::string("::1"), 0));
    uint16_t port = server->localPort();
    ASSERT_NE(port, 0);
    EXPECT_TRUE(server->isIPv6());
    EXPECT_FALSE(server->isIPv4());
    auto peer = RawPeer::connectTo(AF_INET6, port);
    ASSERT_TRUE(peer);
    EXPECT_TRUE(delegate->waitFor(EventKind::Accept));
    EXPECT_FALSE(RawPeer::connectTo(AF_INET, port));
}

TEST_F(QueueSocketAccept, InterfaceChecksComeInOrder) {
    platform::ErrorPtr error;
    EXPECT_FALSE(server->acceptOnInterface(std::string("no-such-interface0"), 0, &error));
    EXPECT_EQ(describe(error), "QueueSocketErrorDomain 2: Unknown interface. Specify valid interface by name "
                               "(e.g. \"en1\") or IP address.");

    server->setIPv6Enabled(false);
    EXPECT_FALSE(server->acceptOnInterface(std::string("::1"), 0, &error));
    EXPECT_EQ(error->localizedDescription(),
              "IPv6 has been disabled and specified interface doesn't support IPv4.");
    server->setIPv6Enabled(true);
    server->setIPv4Enabled(false);
    EXPECT_FALSE(server->acceptOnInterface(std::string("127.0.0.1"), 0, &error));
    EXPECT_EQ(error->localizedDescription(),
              "IPv4 has been disabled and specified interface doesn't support IPv6.");
    EXPECT_TRUE(server->isDisconnected());
}

TEST_F(QueueSocketAccept, PortTakenByAnotherListenerFailsWithThePosixError) {
    auto busy = RawListener::create(AF_INET);
    ASSERT_TRUE(busy);
    platform::ErrorPtr error;
    EXPECT_FALSE(server->acceptOnInterface(std::string("127.0.0.1"), busy->port(), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(describe(error),
              "NSPOSIXErrorDomain " + std::to_string(EADDRINUSE) + ": " + std::strerror(EADDRINUSE));
    EXPECT_EQ(error->localizedFailureReason(), "Error in bind() function");
    EXPECT_TRUE(server->isDisconnected());
}

TEST_F(QueueSocketAccept, UnixPathReplacesAStaleFileAndAcceptsConnections) {
    std::string path = temporarySocketPath("stale");
    std::ofstream(path) << "left over";
    ASSERT_TRUE(server->acceptOnUrl(platform::URL::fileURLWithPath(path)));
    FileDescriptor client;
    ASSERT_TRUE(connectUnix(path, client));
    auto accepted = delegate->await(EventKind::Accept);
    auto socket = accepted.newSocket;
    socket->readDataToLength(3, -1, 0);
    ASSERT_EQ(::write(client.get(), "abc", 3), 3);
    EXPECT_EQ(delegate->readText(), "abc");
    EXPECT_EQ(socket->connectedHost(), std::nullopt);
    server->disconnect();
    ::unlink(path.c_str());
}

TEST_F(QueueSocketAccept, UnixPathTooLongForTheAddressIsRefusedNotCut) {
    std::string longPath = "/tmp/" + std::string(sizeof(sockaddr_un::sun_path), 'p');
    platform::ErrorPtr error;
    EXPECT_FALSE(server->acceptOnUrl(platform::URL::fileURLWithPath(longPath), &error));
    EXPECT_EQ(describe(error), "QueueSocketErrorDomain 2: Invalid unix domain url. Specify a valid file url "
                               "that does not exist (e.g. \"file:///tmp/socket\")");
    // Nothing was created under the truncated name.
    std::string truncated = longPath.substr(0, sizeof(sockaddr_un::sun_path) - 1);
    EXPECT_NE(::access(truncated.c_str(), F_OK), 0);
    EXPECT_TRUE(server->isDisconnected());
}
