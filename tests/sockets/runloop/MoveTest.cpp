#include "platform/runloop/Thread.h"
#include "tests/sockets/runloop/RunLoopTestSupport.h"

using namespace runloopsockettest;
using liveapp::test::pumpMainLoopFor;

namespace {

// A thread with a run loop, for the sockets moved to it; ended (after the work it was given) when the
// test ends.
class RunLoopSocketMove : public testing::Test {
protected:
    void SetUp() override {
        onWorker([&] { workerId = std::this_thread::get_id(); });
    }
    void TearDown() override {
        worker->perform([] {}, true);
        worker->cancel();
        worker->join();
    }
    // Runs `block` on the worker and waits for it: a moved socket is used from its thread only.
    void onWorker(const std::function<void()>& block) { ASSERT_TRUE(worker->perform(block, true)); }

    std::shared_ptr<platform::Thread> worker{platform::Thread::detachNewThread("socket worker")};
    std::thread::id workerId;
};

} // namespace

TEST_F(RunLoopSocketMove, MovedAndAcceptedSocketsAreServedOnTheThreadTheyGoTo) {
    auto connected = connectToPeer();
    ASSERT_TRUE(connected.peer);
    ASSERT_TRUE(connected.socket->moveToRunLoop(worker->runLoop()));
    onWorker([&] { connected.socket->readDataToLength(3, -1, 1); });
    ASSERT_TRUE(connected.peer->sendAll("abc"));
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Read));
    EXPECT_EQ(connected.recorder->last(Ev::Read)->thread, workerId);
    auto recorder = std::make_shared<UdpRecorder>();
    auto udp = RunLoopUdpSocket::create(recorder);
    ASSERT_TRUE(udp->bindToAddress("127.0.0.1", 0));
    ASSERT_TRUE(udp->moveToRunLoop(worker->runLoop()));
    uint16_t port = 0;
    onWorker([&] {
        port = udp->localPort();
        udp->receiveWithTimeout(-1, 1);
    });
    UdpPeer peer;
    ASSERT_TRUE(peer.sendTo(port, "datagram"));
    ASSERT_TRUE(recorder->waitFor(Ev::Received));
    EXPECT_EQ(recorder->last(Ev::Received)->thread, workerId);
    auto listenerLog = std::make_shared<Recorder>(); // an accepted socket goes where the delegate says
    listenerLog->runLoopForNewSocket = worker->runLoop();
    auto listening = RunLoopSocket::create(listenerLog);
    ASSERT_TRUE(listening->acceptOnInterface("127.0.0.1", 0));
    auto client = RawPeer::connectTo(AF_INET, listening->localPort());
    ASSERT_TRUE(listenerLog->waitFor(Ev::Connect));
    EXPECT_EQ(listenerLog->last(Ev::Accept)->thread, std::this_thread::get_id());
    EXPECT_EQ(listenerLog->last(Ev::Connect)->thread, workerId);
    onWorker([&] {
        connected.socket.reset();
        udp.reset();
        listenerLog->accepted.clear();
    });
}

TEST_F(RunLoopSocketMove, TheConnectTimerMovesWithTheSocket) {
    HeldResolver held;
    held.resolver->add("slow.test", {"127.0.0.1"});
    ManualClockScope clock;
    auto recorder = std::make_shared<Recorder>();
    auto socket = RunLoopSocket::create(recorder);
    ASSERT_TRUE(socket->connectToHost("slow.test", 9, 5.0));
    ASSERT_TRUE(socket->moveToRunLoop(worker->runLoop()));
    ASSERT_TRUE(held.gate->waitForArrivals(1)); // the lookup is under way, on the fake
    clock.advance(5);
    ASSERT_TRUE(recorder->waitFor(Ev::Disconnect));
    EXPECT_EQ(recorder->last(Ev::WillDisconnect)->thread, workerId);
    EXPECT_EQ(recorder->last(Ev::WillDisconnect)->error->code(), RunLoopSocketConnectTimeoutError);
    onWorker([&] { socket.reset(); });
}

TEST_F(RunLoopSocketMove, ASocketIsServedOnlyInItsModes) {
    const platform::RunLoopMode custom{"SocketTestMode"};
    auto connected = connectToPeer();
    ASSERT_TRUE(connected.peer);
    EXPECT_FALSE(connected.socket->setRunLoopModes({})); // the list never empties
    ASSERT_TRUE(connected.socket->setRunLoopModes({custom}));
    EXPECT_FALSE(connected.socket->removeRunLoopMode(custom));
    EXPECT_FALSE(connected.socket->addRunLoopMode(std::nullopt));
    connected.socket->readDataToLength(3, -1, 1);
    ASSERT_TRUE(connected.peer->sendAll("abc"));
    pumpMainLoopFor(std::chrono::milliseconds(100)); // the default mode
    EXPECT_EQ(connected.recorder->count(Ev::Read), 0u);
    auto loop = platform::RunLoop::main();
    for (int pass = 0; pass < 500 && !connected.recorder->count(Ev::Read); ++pass)
        loop->runModeForRealTime(custom, std::chrono::milliseconds(20), true);
    EXPECT_EQ(connected.recorder->last(Ev::Read)->data, "abc");
}
