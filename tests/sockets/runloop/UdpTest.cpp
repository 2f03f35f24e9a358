#include "tests/sockets/runloop/RunLoopTestSupport.h"
#include "tests/support/FakeResolver.h"

#include <algorithm>
#include <cstring>
#include <net/if.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace runloopsockettest;
using liveapp::test::FakeResolver;
using liveapp::test::ScopedResolver;

namespace {

class RunLoopUdpSocketRules : public testing::Test {
protected:
    std::shared_ptr<FakeResolver> resolver{std::make_shared<FakeResolver>()};
    ScopedResolver installed{resolver};
};

} // namespace

TEST_F(RunLoopUdpSocketRules, MisuseRaisesTheNamedException) {
    UdpPeer peer;
    auto to = [&] { return loopbackAddress(AF_INET, peer.port()); };
    struct Case {
        std::function<void(RunLoopUdpSocket&)> prepare;
        std::function<void(RunLoopUdpSocket&)> misuse;
        std::string reason;
    };
    std::vector<Case> cases = {
        {[](auto& s) { s.close(); }, [](auto& s) { s.bindToPort(0); }, "The socket is closed."},
        {[](auto& s) { s.close(); }, [&](auto& s) { s.connectToAddress(to()); }, "The socket is closed."},
        {[](auto& s) { s.close(); }, [](auto& s) { s.joinMulticastGroup("239.1.1.1"); },
         "The socket is closed."},
        {[](auto& s) { s.bindToPort(0); }, [](auto& s) { s.bindToPort(0); },
         "Cannot bind a socket more than once."},
        {[&](auto& s) { s.connectToAddress(to()); }, [](auto& s) { s.bindToPort(0); },
         "Cannot bind after connecting. If needed, bind first, then connect."},
        {[&](auto& s) { s.connectToAddress(to()); }, [&](auto& s) { s.connectToAddress(to()); },
         "Cannot connect a socket more than once."},
        {[](auto&) {}, [](auto& s) { s.joinMulticastGroup("239.1.1.1"); },
         "Must bind a socket before joining a multicast group."},
        {[&](auto& s) {
             s.bindToPort(0);
             s.connectToAddress(to());
         },
         [](auto& s) { s.joinMulticastGroup("239.1.1.1"); }, "Cannot join a multicast group if connected."},
    };
    for (auto& test : cases) {
        auto socket = RunLoopUdpSocket::create();
        test.prepare(*socket);
        EXPECT_EQ(raisedBy([&] { test.misuse(*socket); }), "RunLoopUdpSocketException: " + test.reason);
    }
}

TEST_F(RunLoopUdpSocketRules, RefusedRequestsAnswerWithTheirErrorAndLeaveTheSocketUsable) {
    resolver->fail("broken.test", EAI_FAIL);
    UdpPeer peer;
    auto recorder = std::make_shared<UdpRecorder>();
    auto socket = RunLoopUdpSocket::create(recorder);
    auto only4 = RunLoopUdpSocket::initIPv4();
    auto only6 = RunLoopUdpSocket::initIPv6();
    struct Case {
        std::function<bool(platform::ErrorPtr*)> request;
        std::string error;
    };
    std::vector<Case> cases = {
        {[&](auto err) { return socket->connectToAddress(loopbackAddress(AF_INET6, 1).subdata(0, 20), err); },
         "RunLoopUdpSocketErrorDomain 1: remoteAddr parameter is not a valid address"},
        {[&](auto err) { return socket->connectToHost("broken.test", 1, err); },
         "kCFStreamErrorDomainNetDB " + std::to_string(EAI_FAIL) +
             ": Non-recoverable failure in name resolution"},
        {[&](auto err) { return socket->connectToHost("", 1, err); },
         "kCFStreamErrorDomainNetDB " + std::to_string(EAI_NONAME) + ": Name or service not known"},
        {[&](auto err) { return only4->bindToAddress("::1", 0, err); },
         "RunLoopUdpSocketErrorDomain 3: IPv6 is unavailable due to binding/connecting using IPv4 only or is "
         "not "
         "supported on this platform"},
        {[&](auto err) { return only6->bindToAddress("127.0.0.1", 0, err); },
         "RunLoopUdpSocketErrorDomain 2: IPv4 is unavailable due to binding/connecting using IPv6 only"},
    };
    for (auto& [request, error] : cases) {
        platform::ErrorPtr err;
        EXPECT_FALSE(request(&err));
        EXPECT_EQ(describe(err), error);
    }
    EXPECT_FALSE(socket->sendData(platform::Data("x"), -1, 1));                     // not connected
    EXPECT_FALSE(socket->sendData(platform::Data("x"), std::string(""), 9, -1, 1)); // no host
    EXPECT_TRUE(socket->connectToAddress(loopbackAddress(AF_INET, peer.port())));
    EXPECT_FALSE(socket->sendData(platform::Data(), -1, 1));
    EXPECT_TRUE(socket->sendData(platform::Data("x"), -1, 1));
    ASSERT_TRUE(recorder->waitFor(Ev::Sent));
    EXPECT_EQ(peer.receive(), "x");
}

TEST_F(RunLoopUdpSocketRules, BindingAndConnectingKeepOnlyTheFamiliesTheAddressesNeed) {
    resolver->add("v4only.test", {"127.0.0.1"});
    resolver->add("both.test", {"::1", "127.0.0.1"});
    auto localhost = RunLoopUdpSocket::create();
    ASSERT_TRUE(localhost->bindToAddress("localhost", 0));
    EXPECT_TRUE(localhost->isIPv4() && localhost->isIPv6());
    EXPECT_EQ(localhost->localHost(), "127.0.0.1");
    auto named = RunLoopUdpSocket::create();
    ASSERT_TRUE(named->bindToAddress("v4only.test", 0));
    EXPECT_TRUE(named->isIPv4() && !named->isIPv6());
    UdpPeer peer;
    auto connected = RunLoopUdpSocket::create();
    ASSERT_TRUE(connected->connectToHost("both.test", peer.port()));
    EXPECT_TRUE(connected->isIPv4() && !connected->isIPv6());
    EXPECT_TRUE(connected->isConnectedToHost("127.0.0.1", peer.port()));
}

TEST_F(RunLoopUdpSocketRules, OnlyAConnectedSocketKnowsItsPathMtu) {
    UdpPeer peer;
    auto socket = RunLoopUdpSocket::create();
    EXPECT_EQ(socket->maximumTransmissionUnit(), 0u);
    ASSERT_TRUE(socket->connectToAddress(loopbackAddress(AF_INET, peer.port())));
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_EQ(::ioctl(probe, SIOCGIFMTU, &request), 0);
    ::close(probe);
    EXPECT_EQ(socket->maximumTransmissionUnit(), uint32_t(std::min(request.ifr_mtu, 65535))); // IPv4's limit
}
