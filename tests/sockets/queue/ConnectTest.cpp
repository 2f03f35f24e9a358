// Connecting: the checks before the start, the lookup through the resolver seam (never a real DNS
// query), the family choice, the non-blocking connect, the time-out and the completion.
#include "tests/peers/HttpGate.h"
#include "tests/sockets/queue/SocketTestSupport.h"
#include "tests/support/FakeResolver.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <netdb.h>

using namespace queuesockettest;
using liveapp::test::FakeResolver;
using liveapp::test::HttpGate;
using liveapp::test::ScopedResolver;

namespace {

class QueueSocketConnect : public SocketTest {
protected:
    std::shared_ptr<FakeResolver> resolver{std::make_shared<FakeResolver>()};
    ScopedResolver installed{resolver};
};

// Listeners on 127.0.0.1 and ::1 sharing one port (the IPv6 one only when the machine has ::1).
struct DualListener {
    std::unique_ptr<RawListener> v4;
    std::unique_ptr<RawListener> v6;
    uint16_t port{0};
};

DualListener dualListener() {
    DualListener dual;
    for (int attempt = 0; attempt < 20 && !dual.v6; ++attempt) {
        dual.v4 = RawListener::create(AF_INET);
        if (!dual.v4)
            return dual;
        dual.port = dual.v4->port();
        dual.v6 = RawListener::create(AF_INET6, 16, dual.port);
    }
    return dual;
}

} // namespace

TEST_F(QueueSocketConnect, LocalhostConnectsOverIPv4WithoutAskingTheResolver) {
    auto listener = RawListener::create(AF_INET);
    ASSERT_TRUE(listener);
    ASSERT_TRUE(socket->connectToHost("localhost", listener->port()));
    auto peer = listener->accept();
    ASSERT_TRUE(peer);
    auto connected = delegate->await(EventKind::ConnectToHost);
    EXPECT_EQ(connected.host, "127.0.0.1");
    EXPECT_EQ(connected.port, listener->port());
    EXPECT_EQ(connected.sock, socket);
    EXPECT_TRUE(socket->isConnected());
    EXPECT_TRUE(socket->isIPv4());
    EXPECT_TRUE(resolver->lookups().empty());
}

// The family follows the preference among the addresses that resolve and whose family is enabled.
TEST_F(QueueSocketConnect, FamilyChoiceFollowsThePreferenceAmongEnabledResolvedFamilies) {
    if (!hasIPv6Loopback())
        GTEST_SKIP() << "no ::1 on this machine";
    auto dual = dualListener();
    ASSERT_TRUE(dual.v6);
    resolver->add("six.example.test", {"::1"});
    resolver->add("dual.example.test", {"127.0.0.1", "::1"});
    const struct {
        const char* host;
        bool ipv4, ipv6, preferIPv4;
        const char* chosen;
    } cases[] = {
        {"localhost", true, true, false, "::1"},
        {"six.example.test", true, true, true, "::1"},
        {"dual.example.test", false, true, true, "::1"},
        {"dual.example.test", true, false, false, "127.0.0.1"},
    };
    size_t connects = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        socket->setIPv4Enabled(c.ipv4);
        socket->setIPv6Enabled(c.ipv6);
        socket->setIPv4PreferredOverIPv6(c.preferIPv4);
        ASSERT_TRUE(socket->connectToHost(c.host, dual.port));
        auto connected = delegate->await(EventKind::ConnectToHost, ++connects);
        EXPECT_EQ(connected.host, c.chosen);
        EXPECT_EQ(socket->isIPv6(), std::string(c.chosen) == "::1");
        socket->disconnect();
    }
    EXPECT_EQ(resolver->lookupCount("six.example.test"), 1u);
}

TEST_F(QueueSocketConnect, LookupsWithoutAUsableAddressCloseWithTheirError) {
    resolver->add("v6only.example.test", {"::1"});
    resolver->fail("down.example.test", EAI_AGAIN);
    const auto netdb = [](int code) {
        return "kCFStreamErrorDomainNetDB " + std::to_string(code) + ": " + gai_strerror(code);
    };
    const struct {
        const char* host;
        bool ipv4, ipv6;
        std::string error;
    } cases[] = {
        {"127.0.0.1", false, true,
         "QueueSocketErrorDomain 8: IPv4 has been disabled and DNS lookup found no IPv6 address."},
        {"v6only.example.test", true, false,
         "QueueSocketErrorDomain 8: IPv6 has been disabled and DNS lookup found no IPv4 address."},
        {"down.example.test", true, true, netdb(EAI_AGAIN)},
        {"unknown.example.test", true, true, netdb(EAI_NONAME)},
    };
    size_t closes = 0;
    for (const auto& c : cases) {
        socket->setIPv4Enabled(c.ipv4);
        socket->setIPv6Enabled(c.ipv6);
        ASSERT_TRUE(socket->connectToHost(c.host, 9));
        EXPECT_EQ(delegate->disconnectError(++closes), c.error);
    }
    EXPECT_EQ(delegate->count(EventKind::ConnectToHost), 0u);
    EXPECT_TRUE(socket->isDisconnected());
}

TEST(QueueSocketLookup, LookupAnswersLoopbackItselfAndResolverErrorsOtherwise) {
    auto resolver = std::make_shared<FakeResolver>();
    ScopedResolver installed(resolver);
    platform::ErrorPtr error;
    auto loopback = QueueSocket::lookupHost("loopback", 5000, &error);
    ASSERT_EQ(loopback.size(), 2u);
    EXPECT_EQ(QueueSocket::hostFromAddress(loopback[0]), "127.0.0.1");
    EXPECT_EQ(QueueSocket::hostFromAddress(loopback[1]), "::1");
    EXPECT_EQ(QueueSocket::portFromAddress(loopback[1]), 5000);
    EXPECT_FALSE(error);
    EXPECT_TRUE(resolver->lookups().empty());

    resolver->add("two.example.test", {"::1", "127.0.0.2"});
    auto two = QueueSocket::lookupHost("two.example.test", 80, &error);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_TRUE(QueueSocket::isIPv6Address(two[0])); // the resolver's order is kept

    EXPECT_TRUE(QueueSocket::lookupHost("nothing.example.test", 80, &error).empty());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), EAI_NONAME);
}

TEST_F(QueueSocketConnect, SecondConnectWhileResolvingIsRefusedAndDisconnectDropsTheLateAnswer) {
    auto gate = std::make_shared<HttpGate>();
    resolver->holdLookups(gate);
    auto listener = RawListener::create(AF_INET);
    ASSERT_TRUE(listener);
    resolver->add("slow.example.test", {"127.0.0.1"});

    ASSERT_TRUE(socket->connectToHost("slow.example.test", listener->port()));
    ASSERT_TRUE(gate->waitForArrivals(1));
    platform::ErrorPtr error;
    EXPECT_FALSE(socket->connectToHost("slow.example.test", listener->port(), &error));
    EXPECT_EQ(error->localizedDescription(),
              "Attempting to connect while connected or accepting connections. Disconnect first.");

    socket->disconnect();
    gate->open();
    EXPECT_EQ(delegate->disconnectError(), "none");
    // The lookup answers after the close: no connect, no second disconnect.
    EXPECT_TRUE(resolver->waitUntilIdle());
    drain();
    // A loopback connect lands in the backlog at once: nothing there means none was made.
    EXPECT_FALSE(listener->accept(std::chrono::milliseconds(0)));
    EXPECT_EQ(delegate->count(EventKind::Disconnect), 1u);
    EXPECT_EQ(delegate->count(EventKind::ConnectToHost), 0u);
}

TEST_F(QueueSocketConnect, TimeOutWhileTheListenBacklogIsFullClosesWithCodeThree) {
    ClockInstalled installed;
    auto listener = RawListener::create(AF_INET, 0);
    ASSERT_TRUE(listener);
    // The one connection the backlog holds; later handshakes stay unanswered.
    auto filler = RawPeer::connectTo(AF_INET, listener->port());
    ASSERT_TRUE(filler);

    ASSERT_TRUE(socket->connectToHost("127.0.0.1", listener->port(), 30.0));
    socket->performBlock([] {});
    installed.clock->advance(std::chrono::seconds(31));
    EXPECT_EQ(delegate->disconnectError(), "QueueSocketErrorDomain 3: Attempt to connect to host timed out");
    EXPECT_EQ(delegate->count(EventKind::ConnectToHost), 0u);

    // The abandoned attempt leaves nothing behind: the same socket connects again at once.
    auto other = RawListener::create(AF_INET);
    ASSERT_TRUE(socket->connectToAddress(loopbackAddress(AF_INET, other->port())));
    EXPECT_TRUE(delegate->waitFor(EventKind::ConnectToHost));
    drain();
    EXPECT_EQ(delegate->count(EventKind::Disconnect), 1u);
}

TEST_F(QueueSocketConnect, HugeTimeoutsMeanNeverInsteadOfOverflowing) {
    auto listener = RawListener::create(AF_INET);
    ASSERT_TRUE(listener);
    size_t attempt = 0;
    for (double timeout : {1e300, std::numeric_limits<double>::infinity(), 9.3e9}) {
        ++attempt;
        ASSERT_TRUE(socket->connectToHost("127.0.0.1", listener->port(), timeout));
        auto peer = listener->accept();
        ASSERT_TRUE(peer);
        ASSERT_TRUE(delegate->waitFor(EventKind::ConnectToHost, attempt));
        socket->readDataWithTimeout(timeout, 1);
        socket->writeData(platform::Data(std::string_view("x")), timeout, 2);
        EXPECT_EQ(peer->receiveExactly(1), "x");
        socket->disconnect();
    }
    drain();
    for (const auto& e : delegate->eventsOf(EventKind::Disconnect))
        EXPECT_FALSE(e.error);
}

TEST_F(QueueSocketConnect, RefusedConnectIsReportedAsAPosixError) {
    auto listener = RawListener::create(AF_INET);
    ASSERT_TRUE(listener);
    uint16_t port = listener->port();
    listener.reset(); // nothing listens there now

    ASSERT_TRUE(socket->connectToAddress(loopbackAddress(AF_INET, port)));
    EXPECT_EQ(delegate->disconnectError(),
              "NSPOSIXErrorDomain " + std::to_string(ECONNREFUSED) + ": " + std::strerror(ECONNREFUSED));
    EXPECT_EQ(delegate->eventsOf(EventKind::Disconnect)[0].error->localizedFailureReason(),
              "Error in connect() function");
}

// Refused at the call, with nothing reported afterwards.
TEST_F(QueueSocketConnect, BadParametersAreRefusedAtTheCall) {
    const auto v4 = loopbackAddress(AF_INET, 80);
    const auto v6 = loopbackAddress(AF_INET6, 80);
    const char* notAnAddress = "A valid IPv4 or IPv6 address was not given";
    const struct {
        bool ipv4, ipv6;
        std::function<bool(platform::ErrorPtr*)> connect;
        const char* text;
    } cases[] = {
        {true, true, [&](auto e) { return socket->connectToHost("", 80, e); },
         "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string."},
        {true, true,
         [&](auto e) { return socket->connectToAddress(platform::Data(std::string_view("short")), e); },
         notAnAddress},
        {true, true, [&](auto e) { return socket->connectToAddress(v6.subdata(0, 20), e); }, notAnAddress},
        {false, true, [&](auto e) { return socket->connectToAddress(v4, e); },
         "IPv4 has been disabled and an IPv4 address was passed."},
        {true, false, [&](auto e) { return socket->connectToAddress(v6, e); },
         "IPv6 has been disabled and an IPv6 address was passed."},
        {true, false, [&](auto e) { return socket->connectToHost("::1", 80, std::string("::1"), -1, e); },
         "IPv6 has been disabled and specified interface doesn't support IPv4."},
        // An address this machine does not carry is an unknown interface, not "any address, port 1".
        {true, true,
         [&](auto e) { return socket->connectToHost("::1", 80, std::string("2001:db8::1"), -1, e); },
         "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address."},
    };
    for (const auto& c : cases) {
        socket->setIPv4Enabled(c.ipv4);
        socket->setIPv6Enabled(c.ipv6);
        platform::ErrorPtr error;
        EXPECT_FALSE(c.connect(&error)) << c.text;
        EXPECT_EQ(describe(error), std::string("QueueSocketErrorDomain 2: ") + c.text);
    }
    drain();
    EXPECT_TRUE(delegate->events().empty());
}

TEST_F(QueueSocketConnect, FailedBindReturnsAPosixErrorAndReportsNothing) {
    auto busy = RawListener::create(AF_INET);
    auto target = RawListener::create(AF_INET);
    ASSERT_TRUE(busy && target);
    platform::ErrorPtr error;
    std::string interface = "127.0.0.1:" + std::to_string(busy->port());
    EXPECT_FALSE(socket->connectToAddress(loopbackAddress(AF_INET, target->port()), interface, -1, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(describe(error),
              "NSPOSIXErrorDomain " + std::to_string(EADDRINUSE) + ": " + std::strerror(EADDRINUSE));
    EXPECT_EQ(error->localizedFailureReason(), "Error in bind() function");
    EXPECT_TRUE(socket->isDisconnected());
    drain();
    EXPECT_TRUE(delegate->events().empty());
}

// An IPv6 literal interface is an address, not a name and port.
TEST_F(QueueSocketConnect, InterfaceAddressBindsTheLocalEnd) {
    size_t connects = 0;
    for (const std::string address : {"127.0.0.1", "::1"}) {
        int family = address == "::1" ? AF_INET6 : AF_INET;
        if (family == AF_INET6 && !hasIPv6Loopback())
            continue;
        auto listener = RawListener::create(family);
        ASSERT_TRUE(listener);
        ASSERT_TRUE(socket->connectToHost(address, listener->port(), address, -1));
        auto peer = listener->accept();
        ASSERT_TRUE(peer);
        ASSERT_TRUE(delegate->waitFor(EventKind::ConnectToHost, ++connects));
        EXPECT_EQ(socket->localHost(), address);
        socket->disconnect();
    }
}

TEST_F(QueueSocketConnect, ReadsQueuedBehindTheConnectAreServedEvenWithoutAConnectCallback) {
    auto silent = RecordingDelegate::create({sel::didRead, sel::didDisconnect});
    auto quiet = QueueSocket::create(silent, delegateQueue);
    auto listener = RawListener::create(AF_INET);
    ASSERT_TRUE(listener);
    quiet->readDataWithTimeout(-1, 1); // before the connect: dropped
    ASSERT_TRUE(quiet->connectToHost("127.0.0.1", listener->port()));
    quiet->readDataToLength(3, -1, 5); // queued behind the connect
    auto peer = listener->accept();
    ASSERT_TRUE(peer);
    ASSERT_TRUE(peer->sendAll("abc"));
    auto read = silent->await(EventKind::Read);
    EXPECT_EQ(read.tag, 5);
    EXPECT_EQ(read.data.view(), "abc");
    EXPECT_TRUE(quiet->isConnected());
    settle(quiet, delegateQueue);
}

TEST_F(QueueSocketConnect, UnixDomainPathConnectsAndReportsTheUrl) {
    auto listenerDelegate = RecordingDelegate::create();
    auto server = QueueSocket::create(listenerDelegate, platform::DispatchQueue::create("test.server"));
    std::string path = "/tmp/queuesocket-" + std::to_string(::getpid()) + ".sock";
    auto url = platform::URL::fileURLWithPath(path);
    ASSERT_TRUE(server->acceptOnUrl(url));

    ASSERT_TRUE(socket->connectToUrl(url, 5.0));
    auto connected = delegate->await(EventKind::ConnectToUrl);
    EXPECT_EQ(connected.url->path(), path);
    EXPECT_EQ(delegate->count(EventKind::ConnectToHost), 0u);
    ASSERT_TRUE(listenerDelegate->waitFor(EventKind::Accept));
    auto accepted = listenerDelegate->acceptedSockets().front();
    accepted->writeData(platform::Data(std::string_view("over unix")), -1, 0);
    socket->readDataToLength(9, -1, 0);
    EXPECT_EQ(delegate->readText(), "over unix");
    settle(accepted, nullptr);
    settle(server, nullptr);
}

TEST_F(QueueSocketConnect, UnixDomainPathsThatCannotBeUsedAreRefused) {
    platform::ErrorPtr error;
    EXPECT_FALSE(
        socket->connectToUrl(platform::URL::fileURLWithPath("/" + std::string(200, 'a')), -1, &error));
    EXPECT_EQ(describe(error), "QueueSocketErrorDomain 2: Unknown interface. Specify valid interface by name "
                               "(e.g. \"en1\") or IP address.");
    EXPECT_FALSE(socket->connectToUrl(nullptr, -1, &error));
    EXPECT_EQ(error->localizedDescription(), "Invalid unix domain socket url.");

    // A path nobody listens on: the attempt starts, and its failure reaches the delegate.
    EXPECT_TRUE(
        socket->connectToUrl(platform::URL::fileURLWithPath("/tmp/queuesocket-nobody.sock"), -1, &error));
    auto failed = delegate->await(EventKind::Disconnect);
    EXPECT_EQ(failed.error->localizedFailureReason(), "Error in connect() function");
}
