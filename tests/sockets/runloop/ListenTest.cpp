#include "tests/sockets/runloop/RunLoopTestSupport.h"
#include "tests/support/FakeResolver.h"

#include <fmt/format.h>
#include <netdb.h>

using namespace runloopsockettest;
using liveapp::test::FakeResolver;
using liveapp::test::ScopedResolver;

namespace {

class RunLoopSocketListen : public testing::Test {
protected:
    void TearDown() override { recorder->accepted.clear(); } // they hold the recorder

    std::shared_ptr<Recorder> recorder{std::make_shared<Recorder>()};
    RunLoopSocketPtr listening{RunLoopSocket::create(recorder)};
};

} // namespace

TEST_F(RunLoopSocketListen, BothFamiliesShareOnePortAndEachConnectionBecomesASocketOfItsOwn) {
    if (!hasIPv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback";
    ASSERT_TRUE(listening->acceptOnPort(0));
    uint16_t port = listening->localPort4();
    EXPECT_NE(port, 0);
    EXPECT_EQ(listening->localPort6(), port);
    EXPECT_EQ(listening->description(),
              fmt::format(
                  "<RunLoopSocket {} local 0.0.0.0/:: {} remote (null)/(null) 0 has queued 0 reads 0 writes, "
                  "no current read, no current write, read stream 0x0 not open, write stream 0x0 not open, "
                  "not connected>",
                  fmt::ptr(listening.get()), port));
    listening->disconnect();

    ASSERT_TRUE(listening->acceptOnInterface("localhost", 0));
    EXPECT_EQ(listening->localHost4(), "127.0.0.1");
    EXPECT_EQ(listening->localHost6(), "::1");
    auto peer4 = RawPeer::connectTo(AF_INET, listening->localPort());
    ASSERT_TRUE(recorder->waitFor(Ev::Connect));
    auto peer6 = RawPeer::connectTo(AF_INET6, listening->localPort());
    ASSERT_TRUE(recorder->waitFor(Ev::Connect, 2));
    auto connects = recorder->events(Ev::Connect);
    EXPECT_EQ(connects[0].host, "127.0.0.1");
    EXPECT_EQ(connects[0].port, peer4->localPort());
    EXPECT_EQ(connects[1].host, "::1");
    EXPECT_EQ(connects[1].port, peer6->localPort());
    ASSERT_EQ(recorder->accepted.size(), 2u);
    auto& accepted6 = recorder->accepted[1];
    EXPECT_TRUE(accepted6->isIPv6() && !accepted6->isIPv4());
    EXPECT_EQ(accepted6->connectedHost4(), std::nullopt);
    EXPECT_EQ(accepted6->connectedPort(), peer6->localPort());
    EXPECT_TRUE(accepted6->isConnected());
    EXPECT_TRUE(listening->isDisconnected() == false && !listening->isConnected());
}

TEST_F(RunLoopSocketListen, AnInterfaceNameListensOnWhatItResolvesTo) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->add("v6only.test", {"::1"});
    resolver->fail("broken.test", EAI_FAIL);
    ScopedResolver installed(resolver);
    if (hasIPv6Loopback()) {
        ASSERT_TRUE(listening->acceptOnInterface("v6only.test", 0));
        EXPECT_FALSE(listening->isIPv4());
        EXPECT_EQ(listening->localHost(), "::1");
        listening->disconnect();
    }
    platform::ErrorPtr err;
    EXPECT_FALSE(listening->acceptOnInterface("broken.test", 0, &err));
    EXPECT_EQ(describe(err), "kCFStreamErrorDomainNetDB " + std::to_string(EAI_FAIL) +
                                 ": Non-recoverable failure in name resolution");
    EXPECT_TRUE(listening->isDisconnected());
}

TEST_F(RunLoopSocketListen, AnAcceptedSocketThatFailsToStartIsClosedAndItsDelegateHearsIt) {
    recorder->willConnect = false;
    ASSERT_TRUE(listening->acceptOnInterface("127.0.0.1", 0));
    auto peer = RawPeer::connectTo(AF_INET, listening->localPort());
    ASSERT_TRUE(recorder->waitFor(Ev::Disconnect));
    EXPECT_EQ(recorder->kinds(), (std::vector<Ev>{Ev::Accept, Ev::Disconnect}));
    EXPECT_EQ(recorder->last(Ev::Disconnect)->sock, recorder->accepted.at(0).get());
    EXPECT_TRUE(peer->waitForEndOfStream());
    EXPECT_FALSE(listening->isDisconnected()); // the listener goes on
}
