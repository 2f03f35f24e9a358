#include "tests/peers/ThrottlingRelay.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <random>
#include <sys/ioctl.h>
#include <thread>

using namespace liveapp::test;

namespace {

using Steady = std::chrono::steady_clock;

std::string randomBytes(size_t length, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(length, '\0');
    for (char& byte : bytes)
        byte = char(generator());
    return bytes;
}

// The target, the relay in front of it, and one client connected through the relay.
struct Route {
    explicit Route(std::optional<int> rate = std::nullopt, size_t hold = ThrottlingRelay::defaultHold)
        : target(RawListener::create(AF_INET))
        , relay(target->port(), rate, hold) {
        client = RawPeer::connectTo(AF_INET, relay.port());
        server = target->accept();
    }
    bool connected() const { return client && server; }

    std::unique_ptr<RawListener> target;
    ThrottlingRelay relay;
    std::unique_ptr<RawPeer> client;
    std::unique_ptr<RawPeer> server;
};

// Bytes the client's kernel has not had acknowledged yet.
int unsentBytes(const RawPeer& peer) {
    int queued = -1;
    ::ioctl(peer.fd(), SIOCOUTQ, &queued);
    return queued;
}

// Bytes the client's kernel has seen acknowledged, in all.
uint64_t acknowledgedBytes(const RawPeer& peer) {
    tcp_info info{};
    socklen_t length = sizeof(info);
    ::getsockopt(peer.fd(), IPPROTO_TCP, TCP_INFO, &info, &length);
    return info.tcpi_bytes_acked;
}

} // namespace

TEST(ThrottlingRelay, UnthrottledPassesEveryByteBothWaysInOrder) {
    Route route;
    ASSERT_TRUE(route.connected());
    const std::string up = randomBytes(1 << 20, 1);
    const std::string down = randomBytes(256 << 10, 2);

    std::thread writer([&] { route.client->sendAll(up); });
    EXPECT_TRUE(route.server->receiveExactly(up.size()) == up);
    writer.join();
    ASSERT_TRUE(route.server->sendAll(down));
    EXPECT_TRUE(route.client->receiveExactly(down.size()) == down);

    EXPECT_EQ(route.relay.bytesToServer(), up.size());
    EXPECT_EQ(route.relay.bytesToClient(), down.size());
    EXPECT_EQ(route.relay.connectionCount(), 1u);
}

TEST(ThrottlingRelay, ThrottledClientReachesTheServerNoFasterThanTheRateAndItsBurst) {
    const Steady::time_point start = Steady::now();
    Route route(1600); // 200 000 bytes/s, a burst of 10 000 bytes
    ASSERT_TRUE(route.connected());
    const std::string up = randomBytes(100'000, 3);

    std::thread writer([&] { route.client->sendAll(up); });
    EXPECT_TRUE(route.server->receiveExactly(up.size()) == up);
    const double seconds = std::chrono::duration<double>(Steady::now() - start).count();
    writer.join();
    EXPECT_LE(double(up.size()), 200'000 * seconds + 10'000) << "after " << seconds << " s";
}

TEST(ThrottlingRelay, StalledUplinkFillsTheClientsSendBufferAndPassesNothingUntilResumed) {
    Route route(0);
    ASSERT_TRUE(route.connected());
    ::fcntl(route.client->fd(), F_SETFL, ::fcntl(route.client->fd(), F_GETFL) | O_NONBLOCK);
    const std::string chunk = randomBytes(64 << 10, 4);
    std::string offered;
    while (offered.size() < (16u << 20)) {
        ssize_t n = ::send(route.client->fd(), chunk.data(), chunk.size(), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        offered.append(chunk, 0, size_t(n));
    }
    ASSERT_LT(offered.size(), 16u << 20) << "the client's sending never blocked";

    // All but the relay's small receive buffer waits in the client's kernel.
    EXPECT_GE(unsentBytes(*route.client), int(offered.size()) - (64 << 10));
    EXPECT_GT(unsentBytes(*route.client), 0);
    EXPECT_EQ(route.server->receiveSome(std::chrono::milliseconds(100)).size(), 0u);
    EXPECT_EQ(route.relay.bytesToServer(), 0u);

    route.relay.setRate(std::nullopt);
    EXPECT_TRUE(route.server->receiveExactly(offered.size()) == offered);
    const Steady::time_point deadline = Steady::now() + kPeerWait;
    while (unsentBytes(*route.client) != 0 && Steady::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(unsentBytes(*route.client), 0);
}

TEST(ThrottlingRelay, ClosingEitherSideDeliversWhatItSentThenClosesTheOther) {
    for (bool clientCloses : {true, false}) {
        SCOPED_TRACE(clientCloses ? "the client closes" : "the server closes");
        Route route;
        ASSERT_TRUE(route.connected());
        RawPeer& closing = clientCloses ? *route.client : *route.server;
        RawPeer& other = clientCloses ? *route.server : *route.client;

        ASSERT_TRUE(closing.sendAll("bye"));
        closing.close();
        EXPECT_EQ(other.receiveExactly(3), "bye");
        EXPECT_TRUE(other.waitForEndOfStream());
    }
}

TEST(ThrottlingRelay, ClientOfARefusingTargetIsClosed) {
    uint16_t closedPort = RawListener::create(AF_INET)->port();
    ThrottlingRelay relay(closedPort);
    auto client = RawPeer::connectTo(AF_INET, relay.port());
    ASSERT_TRUE(client);
    EXPECT_TRUE(client->waitForEndOfStream());
    EXPECT_EQ(relay.connectionCount(), 1u);
    EXPECT_EQ(relay.openConnectionCount(), 0u);
}

// What the relay has acknowledged to a throttled client and not yet passed on: its kernel doubles the
// receive buffer, the rest is at most one read of the rate's burst.
TEST(ThrottlingRelay, HoldsLittleMoreOfAThrottledClientsBytesThanItIsToldTo) {
    Route route(100, 6 * 1024);
    ASSERT_TRUE(route.connected());
    ::fcntl(route.client->fd(), F_SETFL, ::fcntl(route.client->fd(), F_GETFL) | O_NONBLOCK);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done)
            route.server->receiveSome(std::chrono::milliseconds(20));
    });
    const std::string chunk = randomBytes(4096, 5);
    uint64_t mostHeld = 0;
    for (auto end = Steady::now() + std::chrono::milliseconds(1500); Steady::now() < end;) {
        while (::send(route.client->fd(), chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0) {
        }
        const uint64_t delivered = route.relay.bytesToServer();
        const uint64_t acknowledged = acknowledgedBytes(*route.client);
        mostHeld = std::max(mostHeld, acknowledged - std::min(acknowledged, delivered));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    done = true;
    reader.join();
    EXPECT_GT(mostHeld, 0u);
    EXPECT_LE(mostHeld, 2u * 6 * 1024 + 625);
}
