#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopFdSource.h"
#include "tests/support/MainLoop.h"
#include "tests/support/Pipe.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;
using liveapp::test::Pipe;
using liveapp::test::pumpMainLoopOnce;
using liveapp::test::pumpMainLoopUntil;

namespace {

class FdSourceTest : public testing::Test {
protected:
    void TearDown() override {
        for (auto& source : sources)
            source->invalidate();
    }
    // A source on the main loop that the test's end invalidates.
    std::shared_ptr<RunLoopFdSource> watch(int fd, RunLoopFdSource::Callout callout,
                                           uint32_t enabled = RunLoopFdSource::Read,
                                           const RunLoopMode& mode = RunLoop::defaultMode) {
        auto source = RunLoopFdSource::create(fd, std::move(callout), enabled);
        loop->addSource(source, mode);
        sources.push_back(source);
        return source;
    }

    std::shared_ptr<RunLoop> loop{RunLoop::main()};
    std::vector<std::shared_ptr<RunLoopFdSource>> sources;
    int callouts{0};
};

} // namespace

TEST_F(FdSourceTest, AReadableDescriptorCallsOutEveryPassUntilDrained) {
    Pipe pipe;
    std::string received;
    watch(pipe.reader.get(), [&](RunLoopFdSource&, uint32_t ready) {
        EXPECT_EQ(ready, RunLoopFdSource::Read);
        // Level triggered: the first callout leaves the data, so the next pass calls out again.
        if (++callouts > 1)
            received += pipe.drain();
    });
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 0);

    pipe.put("hello");
    ASSERT_TRUE(pumpMainLoopUntil([&] { return received == "hello"; }));
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 2);
}

TEST_F(FdSourceTest, ASourceAddedAndEnabledFromAnotherThreadWakesASleepingLoopAndCallsOutOnIt) {
    Pipe pipe;
    pipe.put("waiting");
    std::thread::id calledOn;
    auto source = RunLoopFdSource::create(
        pipe.reader.get(),
        [&](RunLoopFdSource&, uint32_t) {
            calledOn = std::this_thread::get_id();
            callouts += !pipe.drain().empty();
        },
        RunLoopFdSource::None);
    sources.push_back(source);
    std::thread other([&] {
        loop->addSource(source, RunLoop::commonModes);
        source->enable(RunLoopFdSource::Read);
    });
    auto result = loop->runModeForRealTime(RunLoop::defaultMode, 60s, true);
    other.join();
    EXPECT_EQ(result, RunLoop::RunResult::HandledSource);
    EXPECT_EQ(callouts, 1);
    EXPECT_EQ(calledOn, std::this_thread::get_id());
}

TEST_F(FdSourceTest, ASourceAddedFromAnotherThreadCallsOutOnTheSleepingLoopWhenItsDescriptorIsReady) {
    enum class Ready { BeforeTheAdd, AfterTheAdd, Always };
    for (Ready when : {Ready::BeforeTheAdd, Ready::AfterTheAdd, Ready::Always}) {
        SCOPED_TRACE(int(when));
        Pipe pipe;
        FILE* file = nullptr;
        int fd = pipe.reader.get();
        if (when == Ready::Always) {
            // epoll refuses a regular file; only a pass of the loop looks at it.
            file = std::tmpfile();
            ASSERT_NE(file, nullptr);
            fd = ::fileno(file);
        }
        if (when == Ready::BeforeTheAdd)
            pipe.put("early");
        int seen = 0;
        auto source = RunLoopFdSource::create(fd, [&](RunLoopFdSource& self, uint32_t) {
            ++seen;
            self.invalidate();
        });
        sources.push_back(source);
        std::thread other([&] {
            loop->addSource(source, RunLoop::defaultMode);
            if (when == Ready::AfterTheAdd)
                pipe.put("late");
        });
        auto result = loop->runModeForRealTime(RunLoop::defaultMode, 60s, true);
        other.join();
        EXPECT_EQ(result, RunLoop::RunResult::HandledSource);
        EXPECT_EQ(seen, 1);
        if (file)
            std::fclose(file);
    }
}

TEST_F(FdSourceTest, ASourceInvalidatedByAnEarlierCalloutOfThePassGetsNoCallout) {
    Pipe first, second;
    first.put("1");
    second.put("2");
    auto invalidateBoth = [&](RunLoopFdSource&, uint32_t) {
        ++callouts;
        for (auto& source : sources)
            source->invalidate();
    };
    watch(first.reader.get(), invalidateBoth);
    watch(second.reader.get(), invalidateBoth);
    pumpMainLoopOnce();
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 1);
}

TEST_F(FdSourceTest, ReadAndWriteSourcesShareOneDescriptorAndWriteReadinessCallsOutOnlyWhileEnabled) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
    FileDescriptor closeOne(pair[0]), closeOther(pair[1]);
    int reads = 0, writes = 0;
    watch(pair[0], [&](RunLoopFdSource&, uint32_t ready) {
        EXPECT_EQ(ready, RunLoopFdSource::Read);
        char buffer[16];
        while (::read(pair[0], buffer, sizeof buffer) > 0) {
        }
        ++reads;
    });
    auto writer = watch(
        pair[0],
        [&](RunLoopFdSource& self, uint32_t ready) {
            EXPECT_EQ(ready, RunLoopFdSource::Write);
            if (++writes == 2)
                self.disable(RunLoopFdSource::Write);
        },
        RunLoopFdSource::None);
    pumpMainLoopOnce();
    EXPECT_EQ(writes, 0);
    writer->enable(RunLoopFdSource::Write);
    ASSERT_EQ(::write(pair[1], "x", 1), 1);
    pumpMainLoopOnce();
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(writes, 1);
    pumpMainLoopOnce();
    pumpMainLoopOnce();
    EXPECT_EQ(writes, 2);

    writer->invalidate();
    ASSERT_EQ(::write(pair[1], "y", 1), 1);
    pumpMainLoopOnce();
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(writes, 2);
}

TEST_F(FdSourceTest, AHangUpAndARegularFileReadAsReadable) {
    Pipe pipe;
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    bool endOfStream = false, fileReady = false;
    watch(pipe.reader.get(), [&](RunLoopFdSource& self, uint32_t ready) {
        char byte;
        endOfStream = (ready & RunLoopFdSource::Read) && ::read(pipe.reader.get(), &byte, 1) == 0;
        self.invalidate();
    });
    watch(::fileno(file), [&](RunLoopFdSource& self, uint32_t ready) {
        fileReady = ready == RunLoopFdSource::Read;
        self.invalidate();
    });
    pipe.writer.reset();
    EXPECT_TRUE(pumpMainLoopUntil([&] { return endOfStream && fileReady; }));
    std::fclose(file);
}

TEST_F(FdSourceTest, AfterInvalidateTheDescriptorMayBeClosedAndItsNumberReused) {
    auto stale = std::make_unique<Pipe>();
    int staleCallouts = 0;
    auto old = watch(stale->reader.get(), [&](RunLoopFdSource&, uint32_t) { ++staleCallouts; });
    stale->put("never read");
    old->invalidate();
    int number = stale->reader.get();
    stale.reset();

    Pipe fresh;
    EXPECT_EQ(fresh.reader.get(), number); // the lowest free number comes back
    std::string received;
    watch(fresh.reader.get(), [&](RunLoopFdSource&, uint32_t) { received += fresh.drain(); });
    fresh.put("new");
    ASSERT_TRUE(pumpMainLoopUntil([&] { return received == "new"; }));
    EXPECT_EQ(staleCallouts, 0);
}

TEST_F(FdSourceTest, ASourceIsServedOnlyInItsModes) {
    const RunLoopMode custom{"CustomMode"};
    Pipe pipe;
    pipe.put("x");
    auto source = watch(
        pipe.reader.get(), [&](RunLoopFdSource&, uint32_t) { ++callouts; }, RunLoopFdSource::Read, custom);
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 0);
    loop->runMode(custom, Clock::now());
    EXPECT_EQ(callouts, 1);

    loop->removeSource(source, custom);
    loop->runMode(custom, Clock::now());
    EXPECT_EQ(callouts, 1);
    // Removal leaves it valid, to be added again.
    loop->addSource(source, RunLoop::defaultMode);
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 2);
}

TEST_F(FdSourceTest, RegularFilesStayAlwaysReadyWhileAnyIsRegisteredAndLeaveNoSpinOnceAllAreGone) {
    FILE* kept = std::tmpfile();
    FILE* dropped = std::tmpfile();
    ASSERT_NE(kept, nullptr);
    ASSERT_NE(dropped, nullptr);
    int keptCallouts = 0, droppedCallouts = 0;
    auto keptSource = watch(::fileno(kept), [&](RunLoopFdSource&, uint32_t) { ++keptCallouts; });
    auto droppedSource = watch(::fileno(dropped), [&](RunLoopFdSource&, uint32_t) { ++droppedCallouts; });
    pumpMainLoopOnce();
    EXPECT_EQ(keptCallouts, 1);
    EXPECT_EQ(droppedCallouts, 1);

    // Removed from its only mode, then added back: it is always ready again, and so is the other.
    loop->removeSource(droppedSource, RunLoop::defaultMode);
    pumpMainLoopOnce();
    EXPECT_EQ(keptCallouts, 2);
    EXPECT_EQ(droppedCallouts, 1);
    loop->addSource(droppedSource, RunLoop::defaultMode);
    pumpMainLoopOnce();
    EXPECT_EQ(keptCallouts, 3);
    EXPECT_EQ(droppedCallouts, 2);

    droppedSource->invalidate();
    pumpMainLoopOnce();
    EXPECT_EQ(keptCallouts, 4);
    EXPECT_EQ(droppedCallouts, 2);

    // With none left, a run waits for its limit instead of returning at once for a file.
    keptSource->invalidate();
    Pipe pipe;
    watch(pipe.reader.get(), [&](RunLoopFdSource&, uint32_t) { pipe.drain(); });
    std::thread writer([&] { pipe.put("x"); });
    auto result = loop->runModeForRealTime(RunLoop::defaultMode, 60s, true);
    writer.join();
    EXPECT_EQ(result, RunLoop::RunResult::HandledSource);
    EXPECT_EQ(keptCallouts, 4);
    std::fclose(kept);
    std::fclose(dropped);
}

TEST_F(FdSourceTest, ANestedRunFromACalloutLeavesTheRestOfTheOuterPassToCallOut) {
    const RunLoopMode inner{"InnerMode"};
    Pipe first, second, third;
    first.put("1");
    second.put("2");
    third.put("3");
    std::vector<std::string> served;
    bool nested = false;
    auto outer = [&](const char* name, Pipe& pipe) {
        return [&, name](RunLoopFdSource&, uint32_t) {
            served.push_back(name);
            pipe.drain();
            if (!std::exchange(nested, true))
                loop->runMode(inner, Clock::now());
        };
    };
    watch(first.reader.get(), outer("outer", first));
    watch(second.reader.get(), outer("outer", second));
    watch(
        third.reader.get(),
        [&](RunLoopFdSource&, uint32_t) {
            served.push_back("inner");
            third.drain();
        },
        RunLoopFdSource::Read, inner);
    // One pass: both outer descriptors were ready when it looked, the inner one is served by the
    // nested run in between.
    auto result = loop->runModeForRealTime(RunLoop::defaultMode, 60s, true);
    EXPECT_EQ(result, RunLoop::RunResult::HandledSource);
    EXPECT_EQ(served, (std::vector<std::string>{"outer", "inner", "outer"}));
}
