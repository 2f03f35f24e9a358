#include "tests/sockets/runloop/RunLoopTestSupport.h"
#include "tests/support/FakeResolver.h"

#include <thread>

using namespace runloopsockettest;
using liveapp::test::FakeResolver;
using liveapp::test::HttpGate;
using liveapp::test::pumpMainLoopOnce;
using liveapp::test::ScopedResolver;

TEST(RunLoopSocketLifecycle, MisuseRaisesTheNamedExceptionBeforeChangingAnything) {
    auto recorder = std::make_shared<Recorder>();
    auto listening = RunLoopSocket::create(recorder);
    ASSERT_TRUE(listening->acceptOnInterface("localhost", 0));
    auto loose = RunLoopSocket::create();
    auto address = loopbackAddress(AF_INET, listening->localPort());
    EXPECT_EQ(raisedBy([&] { loose->connectToAddress(address); }),
              "RunLoopSocketException: Attempting to connect without a delegate. Set a delegate first.");
    EXPECT_EQ(raisedBy([&] { loose->acceptOnPort(0); }),
              "RunLoopSocketException: Attempting to accept without a delegate. Set a delegate first.");
    EXPECT_EQ(raisedBy([&] { listening->connectToHost("localhost", 1); }),
              "RunLoopSocketException: Attempting to connect while connected or accepting connections. "
              "Disconnect first.");
    EXPECT_EQ(raisedBy([&] { listening->acceptOnPort(0); }),
              "RunLoopSocketException: Attempting to accept while connected or accepting connections. "
              "Disconnect first.");
    auto peer = RawPeer::connectTo(AF_INET, listening->localPort());
    ASSERT_TRUE(peer);
    EXPECT_TRUE(recorder->waitFor(Ev::Accept)); // still listening
    recorder->accepted.clear();
}

TEST(RunLoopSocketLifecycle, ThreadCheckRaisesOnlyOffTheBoundThread) {
    auto socket = RunLoopSocket::create(std::make_shared<Recorder>());
    std::string offThread;
    std::thread([&] { offThread = raisedBy([&] { socket->checkForThreadSafety(); }); }).join();
    EXPECT_EQ(offThread, "nothing"); // no run loop bound yet
    ASSERT_TRUE(socket->acceptOnPort(0));
    std::thread([&] { offThread = raisedBy([&] { socket->checkForThreadSafety(); }); }).join();
    EXPECT_EQ(offThread,
              "RunLoopSocketException: Attempting to access RunLoopSocket instance from incorrect thread.");
    EXPECT_EQ(raisedBy([&] { socket->checkForThreadSafety(); }), "nothing");
}

TEST(RunLoopSocketLifecycle, AStartThatFailsAnswersNoLeavesTheSocketIdleAndTellsNothing) {
    auto listener = RawListener::create(AF_INET);
    auto recorder = std::make_shared<Recorder>();
    recorder->willConnect = false;
    auto socket = RunLoopSocket::create(recorder);
    auto target = loopbackAddress(AF_INET, listener->port());
    sockaddr_in6 wrongFamily{};
    wrongFamily.sin6_family = AF_UNIX;
    struct Case {
        std::function<bool(platform::ErrorPtr*)> start;
        std::string error;
    };
    std::vector<Case> cases = {
        {[&](auto err) { return socket->connectToAddress(target, err); },
         "RunLoopSocketErrorDomain 1: Connection canceled"},
        {[&](auto err) { return socket->connectToHost("127.0.0.1", listener->port(), err); },
         "RunLoopSocketErrorDomain 1: Connection canceled"},
        {[&](auto err) { return socket->connectToAddress(target.subdata(0, 15), err); },
         "RunLoopSocketErrorDomain -1: Remote address is not IPv4 or IPv6"},
        {[&](auto err) { return socket->connectToAddress(loopbackAddress(AF_INET6, 1).subdata(0, 20), err); },
         "RunLoopSocketErrorDomain -1: Remote address is not IPv4 or IPv6"},
        {[&](auto err) {
             return socket->connectToAddress(target, platform::Data(&wrongFamily, sizeof wrongFamily), -1.0,
                                             err);
         },
         "RunLoopSocketErrorDomain -1: Interface address is not IPv4 or IPv6"},
    };
    for (auto& [start, error] : cases) {
        platform::ErrorPtr err;
        EXPECT_FALSE(start(&err));
        EXPECT_EQ(describe(err), error);
        EXPECT_TRUE(socket->isDisconnected());
    }
    pumpMainLoopOnce();
    EXPECT_TRUE(recorder->events().empty());
}

TEST(RunLoopSocketLifecycle, ARefusedConnectEndsInTheGeneralErrorAndTheSocketCanConnectAgain) {
    auto recorder = std::make_shared<Recorder>();
    auto socket = RunLoopSocket::create(recorder);
    uint16_t refused = RawListener::create(AF_INET)->port(); // released at once
    ASSERT_TRUE(socket->connectToAddress(loopbackAddress(AF_INET, refused)));
    ASSERT_TRUE(recorder->waitFor(Ev::Disconnect));
    EXPECT_EQ(recorder->kinds(), (std::vector<Ev>{Ev::WillDisconnect, Ev::Disconnect}));
    EXPECT_EQ(describe(recorder->last(Ev::WillDisconnect)->error),
              "RunLoopSocketErrorDomain -1: General CFSocket error");
    EXPECT_TRUE(socket->isDisconnected());
    auto listener = RawListener::create(AF_INET);
    ASSERT_TRUE(socket->connectToAddress(loopbackAddress(AF_INET, listener->port())));
    EXPECT_TRUE(recorder->waitFor(Ev::Connect));
}

TEST(RunLoopSocketLifecycle, APeerThatClosesLeavesTheInterruptedReadToUnreadDataInsideWillDisconnect) {
    auto connected = connectToPeer();
    ASSERT_TRUE(connected.peer);
    EXPECT_EQ(connected.socket->unreadData(), std::nullopt);
    connected.socket->readDataToLength(10, -1, 1);
    ASSERT_TRUE(connected.peer->sendAll("tail"));
    connected.peer->close();
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Disconnect));
    EXPECT_EQ(connected.recorder->kinds(),
              (std::vector<Ev>{Ev::Connect, Ev::ReadPartial, Ev::WillDisconnect, Ev::Disconnect}));
    auto willDisconnect = *connected.recorder->last(Ev::WillDisconnect);
    EXPECT_EQ(willDisconnect.error, nullptr);
    EXPECT_EQ(willDisconnect.unread, platform::Data("tail"));
    EXPECT_EQ(connected.socket->unreadData(), std::nullopt);
}

TEST(RunLoopSocketLifecycle, ReleasingTheSocketClosesItOnceEvenFromItsOwnCallback) {
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
TEST(RunLoopSocketLifecycle, AConnectionMadeInsideTheCloseCallbacksSurvives) {
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

TEST(RunLoopSocketLifecycle, ConnectingByNameWaitsForTheStreamsAndTimesOutOnlyWithATimeOut) {
    auto resolver = std::make_shared<FakeResolver>();
    auto gate = std::make_shared<HttpGate>();
    std::shared_ptr<void> opensTheGate(nullptr,
                                       [gate](void*) { gate->open(); }); // even when an assertion fails
    resolver->holdLookups(gate);
    ScopedResolver installed(resolver);
    ManualClockScope clock;
    auto listener = RawListener::create(AF_INET);
    resolver->add("chat.test", {"127.0.0.1"});
    auto recorder = std::make_shared<Recorder>();
    auto waiting = RunLoopSocket::create(recorder);
    auto timing = RunLoopSocket::create(recorder);
    ASSERT_TRUE(waiting->connectToHost("chat.test", listener->port(), -1.0));
    ASSERT_TRUE(timing->connectToHost("chat.test", listener->port(), 5.0));
    ASSERT_TRUE(gate->waitForArrivals(2));
    clock.advance(1000);
    ASSERT_TRUE(recorder->waitFor(Ev::Disconnect));
    EXPECT_EQ(recorder->last(Ev::Disconnect)->sock, timing.get());
    EXPECT_EQ(describe(recorder->last(Ev::WillDisconnect)->error),
              "RunLoopSocketErrorDomain 2: Attempt to connect to host timed out");
    gate->open();
    ASSERT_TRUE(recorder->waitFor(Ev::Connect));
    EXPECT_EQ(recorder->last(Ev::Connect)->sock, waiting.get());
    EXPECT_EQ(recorder->last(Ev::Connect)->host, "127.0.0.1");
    EXPECT_EQ(recorder->last(Ev::Connect)->port, listener->port());
    EXPECT_TRUE(resolver->waitUntilIdle()); // the timed-out socket's lookup
}

TEST(RunLoopSocketLifecycle, TheModeListNeverEmpties) {
    auto socket = RunLoopSocket::create();
    EXPECT_FALSE(socket->setRunLoopModes({}));
    EXPECT_FALSE(socket->removeRunLoopMode(platform::RunLoop::defaultMode));
    EXPECT_FALSE(socket->addRunLoopMode(std::nullopt));
    EXPECT_TRUE(socket->addRunLoopMode("Other"));
    EXPECT_TRUE(socket->removeRunLoopMode(platform::RunLoop::defaultMode));
    EXPECT_EQ(socket->runLoopModes(), std::vector<platform::RunLoopMode>{"Other"});
}
