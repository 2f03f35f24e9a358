#include "platform/dispatch/DispatchSource.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/FileDescriptor.h"
#include "tests/platform/dispatch/Waiting.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/MainLoop.h"
#include "tests/support/Pipe.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;
using dispatchtest::Counter;
using liveapp::test::Pipe;
using liveapp::test::pumpMainLoopFor;
using liveapp::test::pumpMainLoopOnce;
using liveapp::test::pumpMainLoopUntil;

namespace {

TEST(DispatchSourceDescriptor, ReadSourceReportsTheBytesReadableThenZeroAtTheEnd) {
    Pipe pipe;
    auto source = DispatchSource::createRead(pipe.reader.get(), DispatchQueue::create("reader"));
    std::vector<uint64_t> data; // read by the test once the cancel handler has run after the events
    source->setEventHandler([&] {
        data.push_back(source->data());
        if (pipe.drain().empty())
            source->cancel(); // the end stays readable; a reader stops watching
    });
    Counter cancelled;
    source->setCancelHandler([&] { cancelled.notify(); });
    pipe.put("hello");
    source->resume();
    pipe.writer.reset();
    ASSERT_TRUE(cancelled.waitFor(1));
    EXPECT_EQ(data, (std::vector<uint64_t>{5, 0}));
}

TEST(DispatchSourceDescriptor, ListeningSocketReportsManyConnectionsAndAConnectedOneIsWritable) {
    auto listener = liveapp::test::RawListener::create(AF_INET);
    ASSERT_TRUE(listener);
    auto queue = DispatchQueue::create("accept");
    auto source = DispatchSource::createRead(listener->fd(), queue);
    std::atomic<uint64_t> data{0};
    std::unique_ptr<liveapp::test::RawPeer> accepted;
    source->setEventHandler([&] {
        data = source->data();
        accepted = listener->accept();
        source->cancel();
    });
    Counter cancelled;
    source->setCancelHandler([&] { cancelled.notify(); });
    source->resume();
    auto client = liveapp::test::RawPeer::connectTo(AF_INET, listener->port());
    ASSERT_TRUE(client);
    ASSERT_TRUE(cancelled.waitFor(1));
    EXPECT_EQ(data.load(), DispatchSource::manyConnections);
    EXPECT_TRUE(accepted);

    auto writable = DispatchSource::createWrite(client->fd(), queue);
    writable->setEventHandler([&] {
        data = writable->data();
        writable->cancel();
    });
    writable->setCancelHandler([&] { cancelled.notify(); });
    writable->resume();
    ASSERT_TRUE(cancelled.waitFor(2));
    EXPECT_GE(data.load(), 1u);
    EXPECT_LT(data.load(), DispatchSource::manyConnections);
}

// A listening socket of a family, on loopback or an abstract local name, and clients connecting to it.
struct LocalListener {
    int family;
    platform::FileDescriptor fd;
    sockaddr_storage address{};
    socklen_t length{0};

    explicit LocalListener(int family)
        : family(family)
        , fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
        sockaddr_storage bound{};
        bound.ss_family = static_cast<sa_family_t>(family);
        socklen_t boundLength = sizeof(sa_family_t); // a local socket takes a free abstract name
        if (family == AF_INET) {
            reinterpret_cast<sockaddr_in&>(bound).sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            boundLength = sizeof(sockaddr_in);
        }
        length = sizeof address;
        if (fd.get() < 0 || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&bound), boundLength) != 0 ||
            ::listen(fd.get(), 16) != 0 ||
            ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
            fd.reset();
    }
    platform::FileDescriptor connectClient() const {
        platform::FileDescriptor client(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (::connect(client.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0)
            client.reset();
        return client;
    }
};

// A listener's source tells many connections whatever its family, and a handler that takes one
// connection per run still hears of each one: those that queued before it resumed and those that came
// in a burst while it ran.
TEST(DispatchSourceDescriptor, AListenerWhoseHandlerTakesOneConnectionPerRunHearsOfEveryOne) {
    struct Case {
        const char* name;
        int family;
        bool connectBeforeResume;
    };
    const Case cases[] = {
        {"loopback, queued before", AF_INET, true},
        {"loopback, after", AF_INET, false},
        {"local, queued before", AF_UNIX, true},
        {"local, after", AF_UNIX, false},
    };
    constexpr int connections = 4;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LocalListener listener(c.family);
        ASSERT_GE(listener.fd.get(), 0);
        auto source = DispatchSource::createRead(listener.fd.get(), DispatchQueue::create("accept one"));
        std::vector<uint64_t> data; // read by the test once the cancel handler has run
        std::vector<platform::FileDescriptor> accepted;
        source->setEventHandler([&] {
            data.push_back(source->data());
            platform::FileDescriptor one(::accept4(listener.fd.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (one.get() >= 0)
                accepted.push_back(std::move(one));
            if (accepted.size() == connections)
                source->cancel();
        });
        Counter cancelled;
        source->setCancelHandler([&] { cancelled.notify(); });
        std::vector<platform::FileDescriptor> clients;
        if (c.connectBeforeResume) {
            for (int i = 0; i < connections; ++i)
                clients.push_back(listener.connectClient());
        }
        source->resume();
        if (!c.connectBeforeResume) {
            for (int i = 0; i < connections; ++i)
                clients.push_back(listener.connectClient());
        }
        for (const auto& client : clients)
            ASSERT_GE(client.get(), 0);
        ASSERT_TRUE(cancelled.waitFor(1));
        EXPECT_EQ(accepted.size(), size_t(connections));
        for (uint64_t reported : data)
            EXPECT_EQ(reported, DispatchSource::manyConnections);
    }
}

// The handler takes one byte per run: what it leaves must bring it back with no new bytes arriving.
TEST(DispatchSourceDescriptor, BytesTheHandlerLeavesBringItBackUntilTaken) {
    Pipe pipe;
    auto source = DispatchSource::createRead(pipe.reader.get(), DispatchQueue::create("reader"));
    std::vector<uint64_t> data;
    Counter ran;
    source->setEventHandler([&] {
        data.push_back(source->data());
        char byte;
        ASSERT_EQ(::read(pipe.reader.get(), &byte, 1), 1);
        ran.notify();
    });
    pipe.put("abc");
    source->resume();
    ASSERT_TRUE(ran.waitFor(3));
    source->cancel();
    EXPECT_EQ(data, (std::vector<uint64_t>{3, 2, 1}));
}

// Bytes that come while the handler runs or the source is suspended raise no wake-up of their own
// once readiness has been reported: each must still be delivered.
TEST(DispatchSourceDescriptor, BytesArrivingDuringTheHandlerOrWhileSuspendedAreDelivered) {
    Pipe pipe;
    auto queue = DispatchQueue::create("reader");
    auto source = DispatchSource::createRead(pipe.reader.get(), queue);
    Counter ran;
    std::vector<std::string> taken;
    source->setEventHandler([&] {
        taken.push_back(pipe.drain());
        if (taken.size() == 1)
            pipe.put("during"); // arrives while this handler runs
        ran.notify();
    });
    pipe.put("first");
    source->resume();
    ASSERT_TRUE(ran.waitFor(2));
    queue->sync([&] { source->suspend(); });
    pipe.put("suspended");
    source->resume();
    ASSERT_TRUE(ran.waitFor(3));
    source->cancel();
    queue->sync([] {});
    EXPECT_EQ(taken, (std::vector<std::string>{"first", "during", "suspended"}));
}

// A descriptor ready when its source is resumed is delivered before the manager watches it; once the
// handler has used the readiness up, the source must still hear of the next. The write case shares its
// socket with a watched read source, so its late registration cannot take the descriptor's own.
TEST(DispatchSourceDescriptor, ReadyWhenResumedThenUsedUpTheSourceStillHearsTheNextReadiness) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    auto queue = DispatchQueue::create("ready-at-once");
    auto bystander = DispatchSource::createRead(pair[0], queue);
    bystander->setEventHandler([] {});
    bystander->resume();

    struct Case {
        DispatchSourceType type;
        int fd;
        std::function<void()> useUp; // on the queue: what the handler does with the readiness
        std::function<void()> renew; // from the test: brings readiness back once used up
    };
    // Each side its own buffer: the handler and the test thread fill them at the same time.
    auto drain = [](int fd) {
        char bytes[4096];
        while (::read(fd, bytes, sizeof bytes) > 0) {
        }
    };
    std::vector<Case> cases{
        {DispatchSourceType::Read, pair[1], [&] { drain(pair[1]); },
         [&] { ASSERT_EQ(::write(pair[0], "x", 1), 1); }},
        {DispatchSourceType::Write, pair[0],
         [&] {
             const char bytes[4096] = {};
             while (::write(pair[0], bytes, sizeof bytes) > 0) {
             }
         },
         [&] { drain(pair[1]); }},
    };
    ASSERT_EQ(::write(pair[0], "x", 1), 1); // the read case's end is readable at once
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type == DispatchSourceType::Read ? "read" : "write");
        auto source = DispatchSource::create(c.type, c.fd, queue);
        Counter ran;
        source->setEventHandler([&] {
            c.useUp();
            ran.notify();
        });
        source->resume();
        ASSERT_TRUE(ran.waitFor(1));
        queue->sync([] {}); // the first run is over and the source watched
        c.renew();
        EXPECT_TRUE(ran.waitFor(2));
        source->cancel();
        queue->sync([] {});
    }
    bystander->cancel();
    queue->sync([] {});
    ::close(pair[0]);
    ::close(pair[1]);
}

// A read and a write source on one socket are watched apart: each reports on its own.
TEST(DispatchSourceDescriptor, ReadAndWriteSourcesOnOneSocketEachDeliver) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    auto queue = DispatchQueue::create("both");
    auto reader = DispatchSource::createRead(pair[0], queue);
    auto writer = DispatchSource::createWrite(pair[0], queue);
    Counter reported;
    reader->setEventHandler([&] {
        char bytes[16];
        ASSERT_GT(::read(pair[0], bytes, sizeof bytes), 0);
        reader->cancel();
    });
    writer->setEventHandler([&] { writer->cancel(); });
    reader->setCancelHandler([&] { reported.notify(); });
    writer->setCancelHandler([&] { reported.notify(); });
    reader->resume();
    writer->resume();
    ASSERT_EQ(::write(pair[1], "x", 1), 1);
    EXPECT_TRUE(reported.waitFor(2));
    ::close(pair[0]);
    ::close(pair[1]);
}

// Idle workers watch for readiness in turn, and the worker that saw it runs the handler: readiness must
// still get through while that handler blocks without saying so, and while every worker is held.
TEST(DispatchSourceDescriptor, ReadinessGetsThroughWhileAHandlerBlocksAndWhileEveryWorkerIsHeld) {
    for (int held : {0, 2 * int(std::thread::hardware_concurrency())}) {
        Counter gate, holding, released, blocked, delivered, cancelled;
        for (int i = 0; i < held; ++i)
            DispatchQueue::global()->async([&] {
                holding.notify();
                gate.waitFor(1);
                released.notify();
            });
        ASSERT_TRUE(holding.waitFor(held));
        Pipe first, second;
        auto blocking = DispatchSource::createRead(first.reader.get(), DispatchQueue::create("blocking"));
        blocking->setEventHandler([&] {
            first.drain();
            blocked.notify();
            gate.waitFor(1);
        });
        auto other = DispatchSource::createRead(second.reader.get(), DispatchQueue::create("other"));
        other->setEventHandler([&] {
            second.drain();
            delivered.notify();
        });
        for (auto* source : {&blocking, &other}) {
            (*source)->setCancelHandler([&] { cancelled.notify(); });
            (*source)->resume();
        }
        first.put("x");
        ASSERT_TRUE(blocked.waitFor(1));
        second.put("y");
        EXPECT_TRUE(delivered.waitFor(1)) << held << " workers held";
        gate.notify();
        blocking->cancel();
        other->cancel();
        ASSERT_TRUE(cancelled.waitFor(2));
        ASSERT_TRUE(released.waitFor(held));
    }
}

TEST(DispatchSourceLifecycle, CreatedSuspendedAndDeliversOnlyAfterResume) {
    Pipe pipe;
    auto source = DispatchSource::createRead(pipe.reader.get(), DispatchQueue::main());
    int events = 0;
    source->setEventHandler([&] {
        ++events;
        pipe.drain();
    });
    pipe.put("x");
    pumpMainLoopFor(50ms);
    EXPECT_EQ(events, 0);
    source->resume();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return events == 1; }));

    source->suspend();
    source->suspend();
    pipe.put("y");
    source->resume();
    pumpMainLoopFor(50ms);
    EXPECT_EQ(events, 1); // still suspended once
    source->resume();
    EXPECT_TRUE(pumpMainLoopUntil([&] { return events == 2; }));
    source->cancel();
}

TEST(DispatchSourceLifecycle, CancelHandlerRunsOnceAfterTheRunningEventHandlerReturns) {
    Pipe pipe;
    auto source = DispatchSource::createRead(pipe.reader.get(),
                                             DispatchQueue::create("wide", DispatchQueueAttr::Concurrent));
    Counter entered, release, cancelled;
    std::atomic<bool> inHandler{false};
    std::atomic<bool> cancelSawHandlerRunning{false};
    source->setEventHandler([&] {
        inHandler = true;
        entered.notify();
        release.waitFor(1);
        inHandler = false;
    });
    source->setCancelHandler([&] {
        cancelSawHandlerRunning = inHandler.load();
        cancelled.notify();
    });
    pipe.put("go");
    source->resume();
    ASSERT_TRUE(entered.waitFor(1));
    source->cancel();
    pipe.put("more"); // still readable, but no event handler may start now
    // Give a wrong implementation the chance to run the cancel handler early.
    std::this_thread::sleep_for(30ms);
    release.notify();
    ASSERT_TRUE(cancelled.waitFor(1));
    source->cancel(); // a second cancel is a no-op
    DispatchQueue::create("settle")->sync([] {});
    EXPECT_FALSE(cancelSawHandlerRunning.load());
    EXPECT_EQ(entered.count(), 1);
    EXPECT_EQ(cancelled.count(), 1);
}

TEST(DispatchSourceLifecycle, CancelWhileSuspendedRunsTheCancelHandlerOnlyOnResume) {
    for (bool everResumed : {false, true}) {
        SCOPED_TRACE(everResumed ? "suspended after running" : "never resumed");
        Pipe pipe;
        auto source = DispatchSource::createRead(pipe.reader.get(), DispatchQueue::main());
        int events = 0;
        int cancels = 0;
        source->setEventHandler([&] { ++events; });
        source->setCancelHandler([&] { ++cancels; });
        if (everResumed) {
            source->resume();
            source->suspend();
        }
        pipe.put("pending");
        source->cancel();
        pumpMainLoopFor(50ms);
        EXPECT_EQ(cancels, 0);
        source->resume();
        ASSERT_TRUE(pumpMainLoopUntil([&] { return cancels == 1; }));
        pumpMainLoopFor(20ms);
        EXPECT_EQ(events, 0);
        EXPECT_EQ(cancels, 1);
    }
}

// Nothing is left to run on the queue, so nothing is queued there: the source and what its event
// handler holds are let go of by the call that finishes the cancel, even while the queue is held.
TEST(DispatchSourceLifecycle, WithoutACancelHandlerTheCallThatFinishesTheCancelLetsGoOfTheHandler) {
    struct Case {
        const char* name;
        DispatchSourceType type;
        bool suspendedAtCancel; // then the resume finishes the cancel
    };
    for (const Case& c :
         {Case{"read", DispatchSourceType::Read, false}, Case{"write", DispatchSourceType::Write, false},
          Case{"timer", DispatchSourceType::Timer, false},
          Case{"read, resumed after the cancel", DispatchSourceType::Read, true}}) {
        SCOPED_TRACE(c.name);
        Pipe pipe;
        int fd = c.type == DispatchSourceType::Write ? pipe.writer.get() : pipe.reader.get();
        // Not ready, so no event is queued before the cancel: nothing to read, no room to write.
        for (char fill[4096]{}; c.type == DispatchSourceType::Write && ::write(fd, fill, sizeof fill) > 0;) {
        }
        auto queue = DispatchQueue::create("held");
        auto source = DispatchSource::create(c.type, fd, queue);
        auto held = std::make_shared<int>(0);
        std::weak_ptr<int> watch = held;
        source->setEventHandler([held] { ++*held; });
        held.reset();
        std::weak_ptr<DispatchSource> weakSource = source;
        source->resume();
        if (c.suspendedAtCancel)
            source->suspend();
        queue->suspend(); // a block queued for the cancel could not run before the checks
        source->cancel();
        if (c.suspendedAtCancel) {
            EXPECT_FALSE(watch.expired());
            source->resume();
        }
        source.reset();
        EXPECT_TRUE(watch.expired());
        EXPECT_TRUE(weakSource.expired());
        queue->resume();
    }
}

TEST(DispatchSourceLifecycle, DescriptorClosedInTheCancelHandlerCanBeWatchedAgainUnderTheSameNumber) {
    Pipe first;
    int number = first.reader.get();
    auto old = DispatchSource::createRead(number, DispatchQueue::main());
    int oldEvents = 0;
    old->setEventHandler([&] { ++oldEvents; });
    old->setCancelHandler([&] { first.reader.reset(); });
    old->resume();
    old->cancel();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return !first.reader; }));

    Pipe second; // the lowest free number: the one just closed
    ASSERT_EQ(second.reader.get(), number);
    auto fresh = DispatchSource::createRead(number, DispatchQueue::main());
    std::string received;
    fresh->setEventHandler([&] { received += second.drain(); });
    fresh->resume();
    second.put("z");
    EXPECT_TRUE(pumpMainLoopUntil([&] { return received == "z"; }));
    EXPECT_EQ(oldEvents, 0);
    fresh->cancel();
}

class DispatchSourceTimer : public dispatchtest::VirtualClock {
protected:
    void SetUp() override {
        VirtualClock::SetUp();
        source->setEventHandler([this] { data.push_back(source->data()); });
    }
    void TearDown() override {
        source->cancel();
        VirtualClock::TearDown();
    }
    // The manager fires timers in date order, so once an `after` due now has run, every timer due
    // by now has been handled by the manager (its event queued on the main queue, not yet run).
    static void waitForManagerToCatchUp() {
        Counter passed;
        DispatchQueue::create("sentinel")->after(Clock::now(), [&] { passed.notify(); });
        ASSERT_TRUE(passed.waitFor(1));
    }
    // Runs every event due by now.
    static void settle() {
        waitForManagerToCatchUp();
        pumpMainLoopOnce();
    }

    std::shared_ptr<DispatchSource> source{DispatchSource::createTimer(DispatchQueue::main())};
    std::vector<uint64_t> data; // main thread only
};

TEST_F(DispatchSourceTimer, OneShotTimerFiresOnceAtItsStartAndAgainOnlyIfReArmedFromItsHandler) {
    source->setEventHandler([&] {
        data.push_back(source->data());
        if (data.size() == 1)
            source->setTimer(Clock::now() + 2s, Duration::max());
    });
    source->setTimer(Clock::now() + 14 * 24h, Duration::zero());
    source->resume();
    clock->advance(13 * 24h);
    settle();
    EXPECT_TRUE(data.empty());
    clock->advance(24h);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return data.size() == 1; }));
    clock->advance(2s);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return data.size() == 2; }));
    clock->advance(24h);
    settle();
    EXPECT_EQ(data, (std::vector<uint64_t>{1, 1}));
}

TEST_F(DispatchSourceTimer, RepeatingTimerCountsFiresMissedWhileTheClockJumped) {
    source->setTimer(Clock::now() + 2s, 2s);
    source->resume();
    clock->advance(10s); // fires due at 2, 4, 6, 8 and 10 seconds
    ASSERT_TRUE(pumpMainLoopUntil([&] { return data.size() == 1; }));
    clock->advance(2s);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return data.size() == 2; }));
    EXPECT_EQ(data, (std::vector<uint64_t>{5, 1}));
}

TEST_F(DispatchSourceTimer, FiresWhileSuspendedAreDeliveredTogetherOnResume) {
    source->setTimer(Clock::now() + 1s, 1s);
    source->resume();
    source->suspend();
    for (int i = 0; i < 3; ++i) {
        clock->advance(1s);
        settle();
    }
    EXPECT_TRUE(data.empty());
    source->resume();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return !data.empty(); }));
    EXPECT_EQ(data.front(), 3u);
}

TEST_F(DispatchSourceTimer, NoEventHandlerStartsAfterCancel) {
    int cancels = 0;
    source->setCancelHandler([&] { ++cancels; });
    source->setTimer(Clock::now() + 1s, 1s);
    source->resume();
    clock->advance(1s);
    // The event now sits in the main queue, not yet started; cancelling must still keep it from running.
    waitForManagerToCatchUp();
    source->cancel();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return cancels == 1; }));
    clock->advance(5s);
    settle();
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(cancels, 1);
}

} // namespace
