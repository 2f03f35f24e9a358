#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopFdSource.h"
#include "tests/support/MainLoop.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;
using liveapp::test::pumpMainLoopOnce;
using liveapp::test::pumpMainLoopUntil;

namespace {

struct Pipe {
    Pipe() {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
        reader = fds[0];
        writer = fds[1];
    }
    ~Pipe() {
        closeReader();
        closeWriter();
    }
    void closeReader() {
        if (reader >= 0)
            ::close(reader);
        reader = -1;
    }
    void closeWriter() {
        if (writer >= 0)
            ::close(writer);
        writer = -1;
    }
    void write(const char* text) { ASSERT_GT(::write(writer, text, std::strlen(text)), 0); }
    std::string drain() {
        std::string result;
        char buffer[256];
        ssize_t got;
        while ((got = ::read(reader, buffer, sizeof buffer)) > 0)
            result.append(buffer, size_t(got));
        return result;
    }
    int reader{-1};
    int writer{-1};
};

class FdSourceTest : public testing::Test {
protected:
    std::shared_ptr<RunLoop> loop{RunLoop::main()};
};

} // namespace

TEST_F(FdSourceTest, AReadableDescriptorCallsOutUntilDrained) {
    Pipe pipe;
    std::string received;
    int callouts = 0;
    auto source = RunLoopFdSource::create(pipe.reader, [&](RunLoopFdSource&, uint32_t ready) {
        EXPECT_EQ(ready, RunLoopFdSource::Read);
        ++callouts;
        received += pipe.drain();
    });
    loop->addSource(source, RunLoop::defaultMode);
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 0);

    pipe.write("hello");
    ASSERT_TRUE(pumpMainLoopUntil([&] { return received == "hello"; }));
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 1);
    source->invalidate();
}

TEST_F(FdSourceTest, ReadinessIsLevelTriggeredWhileDataRemains) {
    Pipe pipe;
    int callouts = 0;
    auto source = RunLoopFdSource::create(pipe.reader, [&](RunLoopFdSource&, uint32_t) { ++callouts; });
    loop->addSource(source, RunLoop::defaultMode);
    pipe.write("x");
    pumpMainLoopOnce();
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 2);
    source->invalidate();
}

TEST_F(FdSourceTest, WriteReadinessCallsOutOnlyWhileEnabled) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
    int writable = 0;
    auto source = RunLoopFdSource::create(
        pair[0],
        [&](RunLoopFdSource& self, uint32_t ready) {
            EXPECT_EQ(ready, RunLoopFdSource::Write);
            ++writable;
            self.disable(RunLoopFdSource::Write);
        },
        RunLoopFdSource::None);
    loop->addSource(source, RunLoop::defaultMode);
    pumpMainLoopOnce();
    EXPECT_EQ(writable, 0);

    source->enable(RunLoopFdSource::Write);
    pumpMainLoopOnce();
    pumpMainLoopOnce();
    EXPECT_EQ(writable, 1);
    source->invalidate();
    ::close(pair[0]);
    ::close(pair[1]);
}

TEST_F(FdSourceTest, EnablingFromAnotherThreadWakesASleepingLoop) {
    Pipe pipe;
    pipe.write("waiting");
    std::atomic<int> callouts{0};
    auto source = RunLoopFdSource::create(
        pipe.reader, [&](RunLoopFdSource&, uint32_t) { callouts += !pipe.drain().empty(); },
        RunLoopFdSource::None);
    loop->addSource(source, RunLoop::defaultMode);
    std::thread enabler([&] { source->enable(RunLoopFdSource::Read); });
    auto result = loop->runModeForRealTime(RunLoop::defaultMode, 60s, true);
    enabler.join();
    EXPECT_EQ(result, RunLoop::RunResult::HandledSource);
    EXPECT_EQ(callouts, 1);
    source->invalidate();
}

TEST_F(FdSourceTest, CalloutsHappenOnTheOwningThreadForSourcesAddedElsewhere) {
    Pipe pipe;
    std::thread::id calledOn;
    auto source = RunLoopFdSource::create(pipe.reader, [&](RunLoopFdSource& self, uint32_t) {
        calledOn = std::this_thread::get_id();
        pipe.drain();
        self.invalidate();
    });
    std::thread([&] {
        loop->addSource(source, RunLoop::commonModes);
        pipe.write("from afar");
    }).join();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return !source->isValid(); }));
    EXPECT_EQ(calledOn, std::this_thread::get_id());
}

TEST_F(FdSourceTest, ASourceInvalidatedByAnEarlierCalloutOfThePassGetsNoCallout) {
    Pipe first, second;
    first.write("1");
    second.write("2");
    int callouts = 0;
    std::shared_ptr<RunLoopFdSource> a, b;
    a = RunLoopFdSource::create(first.reader, [&](RunLoopFdSource&, uint32_t) {
        ++callouts;
        b->invalidate();
        a->invalidate();
    });
    b = RunLoopFdSource::create(second.reader, [&](RunLoopFdSource&, uint32_t) {
        ++callouts;
        a->invalidate();
        b->invalidate();
    });
    loop->addSource(a, RunLoop::defaultMode);
    loop->addSource(b, RunLoop::defaultMode);
    pumpMainLoopOnce();
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 1);
}

TEST_F(FdSourceTest, ReadAndWriteSourcesShareOneDescriptor) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
    int reads = 0;
    int writes = 0;
    auto reader = RunLoopFdSource::create(pair[0], [&](RunLoopFdSource&, uint32_t ready) {
        EXPECT_EQ(ready, RunLoopFdSource::Read);
        char buffer[16];
        while (::read(pair[0], buffer, sizeof buffer) > 0) {
        }
        ++reads;
    });
    auto writer = RunLoopFdSource::create(
        pair[0],
        [&](RunLoopFdSource&, uint32_t ready) {
            EXPECT_EQ(ready, RunLoopFdSource::Write);
            ++writes;
        },
        RunLoopFdSource::Write);
    loop->addSource(reader, RunLoop::defaultMode);
    loop->addSource(writer, RunLoop::defaultMode);
    ASSERT_EQ(::write(pair[1], "x", 1), 1);
    pumpMainLoopOnce();
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(writes, 1);

    writer->invalidate();
    ASSERT_EQ(::write(pair[1], "y", 1), 1);
    pumpMainLoopOnce();
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(writes, 1);
    reader->invalidate();
    ::close(pair[0]);
    ::close(pair[1]);
}

TEST_F(FdSourceTest, AHangUpReadsAsReadable) {
    Pipe pipe;
    bool endOfStream = false;
    auto source = RunLoopFdSource::create(pipe.reader, [&](RunLoopFdSource& self, uint32_t ready) {
        char byte;
        endOfStream = (ready & RunLoopFdSource::Read) && ::read(pipe.reader, &byte, 1) == 0;
        self.invalidate();
    });
    loop->addSource(source, RunLoop::defaultMode);
    pipe.closeWriter();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return !source->isValid(); }));
    EXPECT_TRUE(endOfStream);
}

TEST_F(FdSourceTest, AfterInvalidateTheDescriptorMayBeClosedAndItsNumberReused) {
    auto stale = std::make_unique<Pipe>();
    int staleCallouts = 0;
    auto old = RunLoopFdSource::create(stale->reader, [&](RunLoopFdSource&, uint32_t) { ++staleCallouts; });
    loop->addSource(old, RunLoop::defaultMode);
    stale->write("never read");
    old->invalidate();
    int number = stale->reader;
    stale.reset();

    Pipe fresh;
    EXPECT_EQ(fresh.reader, number); // the lowest free number comes back
    std::string received;
    auto source =
        RunLoopFdSource::create(fresh.reader, [&](RunLoopFdSource&, uint32_t) { received += fresh.drain(); });
    loop->addSource(source, RunLoop::defaultMode);
    fresh.write("new");
    ASSERT_TRUE(pumpMainLoopUntil([&] { return received == "new"; }));
    EXPECT_EQ(staleCallouts, 0);
    source->invalidate();
}

TEST_F(FdSourceTest, ASourceIsServedOnlyInItsModes) {
    const RunLoopMode custom{"CustomMode"};
    Pipe pipe;
    pipe.write("x");
    int callouts = 0;
    auto source = RunLoopFdSource::create(pipe.reader, [&](RunLoopFdSource&, uint32_t) { ++callouts; });
    loop->addSource(source, custom);
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 0);
    loop->runMode(custom, Clock::now());
    EXPECT_EQ(callouts, 1);

    loop->removeSource(source, custom);
    loop->runMode(custom, Clock::now());
    EXPECT_EQ(callouts, 1);
    EXPECT_TRUE(source->isValid());
    source->invalidate();
}

TEST_F(FdSourceTest, ARegularFileIsAlwaysReady) {
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    bool called = false;
    auto source = RunLoopFdSource::create(::fileno(file), [&](RunLoopFdSource& self, uint32_t ready) {
        called = ready == RunLoopFdSource::Read;
        self.invalidate();
    });
    loop->addSource(source, RunLoop::defaultMode);
    EXPECT_TRUE(pumpMainLoopUntil([&] { return called; }));
    std::fclose(file);
}
