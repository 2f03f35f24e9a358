// The broadcast screen's chat-room client against a real chat server on loopback: joining, hostile
// frames, drops and the pace of reconnects, connections dropped while they are still being made, bad
// routes, and the viewer-count poll. How frames are cut is pinned with the wire rules on their own.

#include "app/core/CommonData.h"
#include "tests/app/screens/LiveScreenFixture.h"
#include "tests/peers/HttpGate.h"
#include "tests/support/EditedResources.h"

#include <atomic>
#include <gtest/gtest.h>

using namespace liveapp::test;
using platform::Value;

namespace {

std::string line(std::string_view text, int64_t type = 0) {
    return ChatServer::envelope(ChatServer::chatLine("ann", text, type));
}

// Lookups for one port wait on a gate (a connect that is still being made); all others are answered
// by the fake resolver at once.
class HoldingResolver final : public platform::Resolver {
public:
    HoldingResolver(std::shared_ptr<FakeResolver> inner, uint16_t port, std::shared_ptr<HttpGate> gate)
        : m_inner(std::move(inner))
        , m_service(std::to_string(port))
        , m_gate(std::move(gate)) {}
    int resolve(std::string_view host, std::string_view service, const platform::ResolveHints& hints,
                std::vector<platform::ResolvedAddress>& out) override {
        if (service == m_service)
            m_gate->waitFor(std::chrono::seconds(60));
        return m_inner->resolve(host, service, hints, out);
    }

private:
    std::shared_ptr<FakeResolver> m_inner;
    std::string m_service;
    std::shared_ptr<HttpGate> m_gate;
};

using ChatClientTest = LiveScreenFixture;

TEST_F(ChatClientTest, JoinsWithTheEnterRoomMessageAfterEveryConnect) {
    presentAndJoin();
    EXPECT_EQ(lines(), (std::vector<std::string>{std::string(kConnecting), std::string(kConnected)}));
    auto routes = stub.requestsTo(ServiceStub::kRouteEndpoint);
    ASSERT_EQ(routes.size(), 1u);
    EXPECT_EQ(routes[0].queryValue("roomId"), "42");

    chat->closeConnections(); // the reconnect starts its count of messages anew
    ASSERT_TRUE(waitForEnterRooms(*chat, 2));
    for (const auto& room : chat->enterRooms()) {
        EXPECT_TRUE(room.valid) << room.problem << "\n" << room.body;
        EXPECT_NE(room.body.find("\n"), std::string::npos) << "pretty-printed";
    }
    EXPECT_EQ(countOf(kDisconnected), 1u);
    EXPECT_TRUE(waitForCount(kConnected, 2));
}

// What a frame may hold is pinned with the wire rules; here the connection survives what it drops.
TEST_F(ChatClientTest, HostileFramesAreDroppedAndAnOversizedOneClosesTheConnectionKeepingTheLines) {
    presentAndJoin();
    for (const std::string& body :
         {std::string("not json"), line("", 1000001), line("", 1000002), line("kept")})
        ASSERT_TRUE(chat->sendFrame(body));
    ASSERT_TRUE(waitForCount("ann：kept", 1));
    EXPECT_EQ(lines().size(), 3u) << "nothing but the join lines and the last line";
    EXPECT_EQ(chat->connectionCount(), 1u);
    ASSERT_TRUE(chat->sendRaw(std::string("\x80\x00\x00\x00{}", 6))); // 2 GB announced
    ASSERT_TRUE(waitForCount(kDisconnected, 1));
    ASSERT_TRUE(waitForEnterRooms(*chat, 2)); // the first reconnect goes at once
    ASSERT_TRUE(chat->sendFrame(line("again")));
    ASSERT_TRUE(waitForCount("ann：again", 1));
    EXPECT_EQ(lines(),
              (std::vector<std::string>{std::string(kConnecting), std::string(kConnected), "ann：kept",
                                        std::string(kDisconnected), std::string(kConnecting),
                                        std::string(kConnected), "ann：again"}));
}

TEST_F(ChatClientTest, AfterTheBackButtonADropAddsItsLineButNoReconnect) {
    presentAndJoin();
    screen->setBackButtonPressed(true);
    chat->closeConnections();
    ASSERT_TRUE(waitForCount(kDisconnected, 1));
    settle();
    EXPECT_EQ(countOf(kConnecting), 1u);
    EXPECT_EQ(stub.requestsTo(ServiceStub::kRouteEndpoint).size(), 1u);
}

TEST_F(ChatClientTest, WhileTheServerStaysDownReconnectsBackOffAndAConnectionThatHeldResetsThem) {
    presentAndJoin();
    const uint16_t port = chat->port();
    chat.reset(); // down: the connection ends and connects are refused

    // The first reconnect goes at once, and is refused.
    ASSERT_TRUE(waitForCount(kDisconnected, 2));
    settle();
    EXPECT_EQ(countOf(kConnecting), 2u);
    size_t attempts = 2;
    for (double pause : {1.0, 2.0, 4.0, 8.0}) {
        advance(pause - 0.1);
        settle();
        EXPECT_EQ(countOf(kConnecting), attempts) << "before " << pause << " s";
        advance(0.1);
        EXPECT_EQ(countOf(kConnecting), ++attempts) << "after " << pause << " s";
        ASSERT_TRUE(waitForCount(kDisconnected, attempts));
        settle();
    }

    chat = std::make_unique<ChatServer>(ChatServerOptions{port, "42"});
    advance(16);
    ASSERT_TRUE(waitForEnterRooms(*chat, 1));
    ASSERT_TRUE(waitForCount(kConnected, 2));

    advance(10); // it held: the next drop is followed at once again
    chat->closeConnections();
    ASSERT_TRUE(waitForEnterRooms(*chat, 2));
    chat->closeConnections(); // this one did not hold
    ASSERT_TRUE(waitForCount(kDisconnected, attempts + 2));
    settle();
    EXPECT_EQ(countOf(kConnecting), attempts + 2);
    advance(1);
    ASSERT_TRUE(waitForEnterRooms(*chat, 3));
}

TEST_F(ChatClientTest, ARouteAnsweredAfterTheConnectionWasReplacedIsIgnored) {
    // The first route request is answered with a server of its own, the second with the real one;
    // each waits for its own gate, the first let go first.
    ChatServer stale(ChatServerOptions{0, "42"});
    std::shared_ptr<HttpGate> gates[] = {stub.server().makeGate(), stub.server().makeGate()};
    std::atomic<int> arrivals{0};
    stub.server().route("GET", "/site/route", [&](const HttpRequest&, HttpResponse& response) {
        const int index = arrivals++;
        if (index < 2)
            gates[index]->wait();
        const uint16_t port = index == 0 ? stale.port() : chat->port();
        response =
            HttpResponse::text(200, ServiceStub::routeBytes("127.0.0.1", port), "application/octet-stream");
    });
    present();
    ASSERT_TRUE(gates[0]->waitForArrivals(1));
    screen->disconnectBarrage(); // as leaving the foreground does
    screen->connectBarrage();
    ASSERT_TRUE(gates[1]->waitForArrivals(1));
    gates[0]->open();
    gates[1]->open();
    ASSERT_TRUE(waitForEnterRooms(*chat, 1));
    ASSERT_TRUE(waitForCount(kConnected, 1));
    EXPECT_EQ(stale.connectionCount(), 0u);
}

TEST_F(ChatClientTest, DisconnectingStopsAConnectThatIsStillBeingMade) {
    ChatServer slow(ChatServerOptions{0, "42"});
    auto lookup = std::make_shared<HttpGate>();
    ScopedResolver holding(std::make_shared<HoldingResolver>(resolver, slow.port(), lookup));
    stub.scriptOnce(std::string(ServiceStub::kRouteEndpoint),
                    HttpResponse::text(200, ServiceStub::routeBytes("127.0.0.1", slow.port()),
                                       "application/octet-stream"));
    present();
    ASSERT_TRUE(lookup->waitForArrivals(1)); // connecting
    screen->disconnectBarrage();
    lookup->open();
    screen->connectBarrage(); // a connect on a socket that still connected would be refused
    ASSERT_TRUE(waitForEnterRooms(*chat, 1));
    ASSERT_TRUE(waitForCount(kConnected, 1));
    EXPECT_EQ(slow.connectionCount(), 0u);
    EXPECT_EQ(countOf(kDisconnected), 0u) << "a disconnect asked for adds no line";
}

// The route's decoding is pinned case by case with the wire rules; here one unusable route goes end to end.
TEST_F(ChatClientTest, AnUnusableRouteIsTheRouteFailureNotAReconnectLoop) {
    stub.script(std::string(ServiceStub::kRouteEndpoint),
                HttpResponse::text(200, ServiceStub::routeBytes("127.0.0.1", 0), "application/octet-stream"));
    present();
    ASSERT_TRUE(waitForPrompt("请求弹幕服务器失败"));
    settle();
    EXPECT_EQ(countOf(kDisconnected), 0u);
    EXPECT_EQ(chat->connectionCount(), 0u);
}

// ---- The viewer-count poll ----
TEST_F(ChatClientTest, ViewerCountPollsAtTheConfiguredIntervalAndShowsOnlyCounts) {
    present();
    ASSERT_TRUE(pumpUntil([&] { return panel()->personsView()->personsAmount() == 12; }));
    ASSERT_TRUE(screen->roomInfoRequestTimer());
    EXPECT_EQ(screen->roomInfoRequestTimer()->timeInterval(), std::chrono::seconds(5));
    // The count the service sends and the count shown.
    for (auto [view, shown] :
         {std::pair{"30", 30}, std::pair{"-3", 0}, std::pair{"many", 0}, std::pair{"7", 7}}) {
        SCOPED_TRACE(view);
        stub.setRoom("42", Value::dictionary({{"view", view}}));
        const size_t before = stub.requestsTo(ServiceStub::kRoomInfoEndpoint).size();
        advance(5);
        ASSERT_TRUE(
            pumpUntil([&] { return stub.requestsTo(ServiceStub::kRoomInfoEndpoint).size() > before; }));
        EXPECT_TRUE(pumpUntil([&] {
            return panel()->personsView()->titleLabel()->text() == std::to_string(shown);
        })) << "shows "
            << panel()->personsView()->titleLabel()->text();
        EXPECT_EQ(panel()->personsView()->personsAmount(), uint64_t(shown));
    }
}

TEST_F(ChatClientTest, APollIntervalOfZeroIsTakenAsOneSecond) {
    {
        EditedResources zero("LiveParameters_new.plist", [](std::string& text) {
            const auto at = text.find("<integer>", text.find("LiveRoomRefreshingInterval"));
            text.replace(at, text.find("</integer>", at) - at, "<integer>0");
        });
        present();
    }
    ASSERT_TRUE(screen->roomInfoRequestTimer());
    EXPECT_EQ(screen->roomInfoRequestTimer()->timeInterval(), std::chrono::seconds(1));
}

} // namespace
