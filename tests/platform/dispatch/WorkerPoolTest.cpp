#include "platform/dispatch/WorkerPool.h"

#include "platform/dispatch/DispatchGroup.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "tests/platform/dispatch/Waiting.h"
#include "tests/support/Pipe.h"

#include <atomic>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <pthread.h>
#include <sched.h>
#include <set>
#include <string>
#include <sys/epoll.h>
#include <sys/types.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace platform;
using dispatchtest::Counter;

namespace {

constexpr int blockedTasks = 64;

TEST(WorkerPool, SurvivesSixtyFourTasksBlockedWhereDispatchCannotSee) {
    Counter gate, started, finished;
    for (int i = 0; i < blockedTasks; ++i)
        DispatchQueue::global()->async([&] {
            started.notify();
            gate.waitFor(1); // a foreign lock: only the watchdog can notice the pool is stuck
            finished.notify();
        });
    // All of them can be inside at once only if the pool grew past them.
    ASSERT_TRUE(started.waitFor(blockedTasks));

    Counter otherQueue;
    DispatchQueue::create("still-moving")->async([&] { otherQueue.notify(); });
    EXPECT_TRUE(otherQueue.waitFor(1));

    gate.notify();
    EXPECT_TRUE(finished.waitFor(blockedTasks));
}

TEST(WorkerPool, WorkersStartedForANamedThreadDoNotTakeItsName) {
    // Threads inherit the name of the thread that starts them; the pool starts workers from whoever
    // enqueues. Blocks that stay blocked make it start new ones for this enqueuer.
    Counter gate, started, finished, borrowed;
    std::thread enqueuer([&] {
        ::pthread_setname_np(::pthread_self(), "origin.thread");
        for (int i = 0; i < blockedTasks; ++i)
            DispatchQueue::global()->async([&] {
                char name[16] = {};
                ::pthread_getname_np(::pthread_self(), name, sizeof(name));
                if (std::string(name) == "origin.thread")
                    borrowed.notify();
                started.notify();
                gate.waitFor(1);
                finished.notify();
            });
    });
    enqueuer.join();
    ASSERT_TRUE(started.waitFor(blockedTasks));
    gate.notify();
    ASSERT_TRUE(finished.waitFor(blockedTasks));
    EXPECT_EQ(borrowed.count(), 0);
}

TEST(WorkerPool, SurvivesSixtyFourTasksBlockedOnSemaphoresSignalledByLaterWork) {
    auto semaphore = DispatchSemaphore::create(0);
    auto group = DispatchGroup::create();
    auto low = DispatchQueue::global(DispatchQueuePriority::Low);
    for (int i = 0; i < blockedTasks; ++i)
        group->async(DispatchQueue::global(DispatchQueuePriority::High), [semaphore] { semaphore->wait(); });
    // The signals are queued behind the waiters, at a lower priority.
    for (int i = 0; i < blockedTasks; ++i)
        group->async(low, [semaphore] { semaphore->signal(); });
    EXPECT_TRUE(group->wait(dispatchtest::generous));
}

TEST(WorkerPool, ManyWorkersSyncingOntoOneSerialQueueAllComplete) {
    auto serial = DispatchQueue::create("shared");
    auto group = DispatchGroup::create();
    std::atomic<int> total{0};
    for (int i = 0; i < blockedTasks; ++i)
        group->async(DispatchQueue::global(), [&] { serial->sync([&] { ++total; }); });
    EXPECT_TRUE(group->wait(dispatchtest::generous));
    EXPECT_EQ(total.load(), blockedTasks);
}

// Posters outside the pool hand it jobs while its workers keep finding nothing and going to sleep:
// every job must run exactly once, whichever worker takes it, and the pool must be left with nothing
// counted as waiting.
struct SubmitRace {
    const char* name;
    int posters;
    int rounds;
    int jobsPerRound; // posted together before the poster waits for them
    bool mixPriorities;
};

class WorkerPoolSubmitRace : public testing::TestWithParam<SubmitRace> {};

TEST_P(WorkerPoolSubmitRace, RunsEveryJobOnceAndLeavesNothingWaiting) {
    const SubmitRace race = GetParam();
    auto& pool = detail::WorkerPool::shared();
    std::vector<std::atomic<int>> runs(size_t(race.posters) * race.rounds * race.jobsPerRound);
    std::atomic<bool> stalled{false};
    std::vector<std::thread> posters;
    for (int poster = 0; poster < race.posters; ++poster)
        posters.emplace_back([&, poster] {
            for (int round = 0; round < race.rounds && !stalled; ++round) {
                Counter done;
                for (int job = 0; job < race.jobsPerRound; ++job) {
                    size_t slot = (size_t(poster) * race.rounds + round) * race.jobsPerRound + job;
                    int priority = race.mixPriorities ? int(slot % detail::WorkerPool::priorityCount) : 1;
                    pool.submit(priority, [&runs, &done, slot] {
                        ++runs[slot];
                        done.notify();
                    });
                }
                if (!done.waitFor(race.jobsPerRound))
                    stalled = true;
            }
        });
    for (auto& poster : posters)
        poster.join();
    ASSERT_FALSE(stalled);
    for (size_t slot = 0; slot < runs.size(); ++slot)
        ASSERT_EQ(runs[slot].load(), 1) << "job " << slot;
    EXPECT_FALSE(pool.hasWaitingJobs());
}

INSTANTIATE_TEST_SUITE_P(Posters, WorkerPoolSubmitRace,
                         testing::Values(SubmitRace{"OneAnsweredAtATime", 1, 2000, 1, false},
                                         SubmitRace{"EightAnsweredAtATime", 8, 400, 1, false},
                                         SubmitRace{"EightInBurstsAtAllPriorities", 8, 100, 16, true},
                                         SubmitRace{"ThirtyTwoInPairs", 32, 50, 2, true}),
                         [](const testing::TestParamInfo<SubmitRace>& info) {
                             return std::string(info.param.name);
                         });

// Pins threads to the processor the maker runs on; gives each back what the maker had.
class OneCore {
public:
    OneCore() {
        ::sched_getaffinity(0, sizeof(m_original), &m_original);
        pin();
    }
    ~OneCore() {
        for (pid_t thread : m_pinned)
            ::sched_setaffinity(thread, sizeof(m_original), &m_original);
    }
    void pin() { // from one thread at a time
        cpu_set_t only;
        CPU_ZERO(&only);
        CPU_SET(cpu, &only);
        ::sched_setaffinity(0, sizeof(only), &only);
        m_pinned.insert(::gettid());
    }
    const int cpu{::sched_getcpu()};

private:
    cpu_set_t m_original{};
    std::set<pid_t> m_pinned;
};

TEST(WorkerPoolLook, AWorkerLooksForMoreUnlessItsPosterRanOnTheSameCore) {
    struct Case {
        const char* poster;
        int cpuOffset; // from the worker's own; -1: no poster known
        bool streaming;
        bool finds; // found() holds throughout; false when the worker sleeps without a look
    };
    for (int pass = 0; pass < 3; ++pass) // a look is admitted only while no other worker looks
        for (const Case& c : {Case{"unknown", -1, false, true}, Case{"elsewhere", 1, false, true},
                              Case{"here", 0, false, false}, Case{"here, streaming", 0, true, true}}) {
            Counter done;
            bool found = false;
            int checks = 0;
            DispatchQueue::global()->async([&] {
                OneCore core;
                int poster = c.cpuOffset < 0 ? -1 : core.cpu + c.cpuOffset;
                found =
                    detail::WorkerPool::shared().lookForMore([&] { return ++checks; }, poster, c.streaming);
                done.notify();
            });
            ASSERT_TRUE(done.waitFor(1)) << c.poster;
            if (c.cpuOffset != 0 && checks == 0)
                continue; // another worker was looking
            EXPECT_EQ(found, c.finds) << c.poster;
            EXPECT_EQ(checks > 0, c.finds) << c.poster;
        }
}

// Workers whose poster shares their core sleep instead of looking: its next post must still wake one.
TEST(WorkerPoolLook, RoundTripsAndBurstsFromTheWorkersOwnCoreAllRunInOrder) {
    OneCore core;
    auto queue = DispatchQueue::create("test.onecore");
    int ran = 0, posted = 0;
    for (int round = 0; round < 300; ++round) {
        Counter answered;
        for (int i = 0, blocks = round % 3 ? 1 : 50; i < blocks; ++i, ++posted)
            queue->async([&, expected = posted, last = i == blocks - 1] {
                core.pin();
                EXPECT_EQ(ran++, expected);
                if (last)
                    answered.notify();
            });
        ASSERT_TRUE(answered.waitFor(1)) << "round " << round;
    }
    queue->sync([] {});
    EXPECT_EQ(ran, posted);
}

// Two pairs of queues answering each other share the one look: the worker left out still looks for
// its own queue, and a job posted meanwhile still gets a worker of its own.
TEST(WorkerPoolLook, AWorkerLeftOutOfTheLookStillLooksForItsOwnQueueWithoutHoldingBackOtherJobs) {
    if (std::thread::hardware_concurrency() < 4)
        GTEST_SKIP() << "looks of a worker's own are for machines with four cores or more";
    static detail::WorkerPool& pool = *new detail::WorkerPool; // lives for the process, as its workers do
    std::atomic<bool> firstLooking{false}, firstEnded{false}, secondLooking{false}, otherRan{false};
    std::atomic<int> checks{0};
    std::atomic<bool> secondFound{false};
    Counter done;
    pool.submit(1, [&] { // the one left out: it waits until the other worker holds the look
        if (!dispatchtest::waitUntil([&] { return firstLooking.load(); }))
            return done.notify();
        secondFound = pool.lookForMore([&] {
            if (++checks == 1) {
                secondLooking = true;
                if (dispatchtest::waitUntil([&] { return firstEnded.load(); }))
                    pool.submit(1, [&] { otherRan = true; });
                dispatchtest::waitUntil([&] { return otherRan.load(); });
            }
            return checks >= 3;
        });
        done.notify();
    });
    pool.submit(1, [&] { // the one looking
        pool.lookForMore([&] {
            firstLooking = true;
            return dispatchtest::waitUntil([&] { return secondLooking.load(); });
        });
        firstEnded = true;
        done.notify();
    });
    ASSERT_TRUE(done.waitFor(2));
    EXPECT_TRUE(secondLooking);
    EXPECT_TRUE(secondFound);
    EXPECT_EQ(checks, 3);
    EXPECT_TRUE(otherRan); // posted while it looked, yet run: a look of its own holds back no poster
}

// A pool of its own, watching a set of its own. Like the shared pool it lives for the process (its
// workers never end), so it and what its ready function reads are never destroyed.
struct WatchingPool {
    // coresScarce: the pool's check of the machine's cores; its own when empty.
    static WatchingPool& make(std::function<bool()> coresScarce = {}) {
        auto* made = coresScarce ? new WatchingPool(std::move(coresScarce)) : new WatchingPool;
        made->pool.watchWhenIdle(made->set, [made](const epoll_event* events, int count) {
            for (int i = 0; i < count; ++i)
                made->ready(events[i].data.u64);
        });
        made->pool.ensureWatched();
        return *made;
    }
    void watch(int fd, uint64_t token) {
        epoll_event event{};
        event.events = EPOLLIN | EPOLLONESHOT;
        event.data.u64 = token;
        ASSERT_EQ(::epoll_ctl(set, EPOLL_CTL_ADD, fd, &event), 0);
    }
    bool waitUntilWatched() {
        return dispatchtest::waitUntil([this] { return pool.watchHeld(); });
    }
    WatchingPool() = default;
    explicit WatchingPool(std::function<bool()> coresScarce)
        : pool(std::move(coresScarce)) {}
    detail::WorkerPool pool;
    int set{::epoll_create1(EPOLL_CLOEXEC)};
    std::function<void(uint64_t)> ready; // set before anything it watches is ready
};

// The watchdog adds a worker when a posted job has not started within its interval, which a woken
// thread waiting that long for a core on a loaded machine can cause too, and that worker may take the
// job. So each attempt uses a pool of its own, and one clean attempt of three passes; a post that does
// not reach the worker or the watcher waits for the watchdog every time and fails all three.
TEST(WorkerPoolWatch, AWorkerWokenByReadinessRunsTheJobsItPostedAndAPostWakesTheWatcherItself) {
    struct Seen {
        bool readyOnWorker{false};
        bool ranOnReadyWorker{false};
        bool postKeptThePool{false};
    };
    auto attempt = [](Seen& seen) {
        auto& watching = WatchingPool::make();
        liveapp::test::Pipe pipe;
        std::atomic<bool> readyOnWorker{false};
        std::thread::id readyOn, ranOn;
        Counter ran;
        watching.ready = [&](uint64_t) {
            readyOnWorker = detail::WorkerPool::isWorkerThread();
            readyOn = std::this_thread::get_id();
            watching.pool.submit(1, [&] {
                ranOn = std::this_thread::get_id();
                ran.notify();
            });
        };
        ASSERT_TRUE(watching.waitUntilWatched());
        watching.watch(pipe.reader.get(), 1);
        pipe.put("x");
        ASSERT_TRUE(ran.waitFor(1));
        seen.readyOnWorker = readyOnWorker;
        seen.ranOnReadyWorker = ranOn == readyOn; // no second worker woken to run it

        // With no worker asleep, a post wakes the watcher rather than waiting for the pool to grow.
        ASSERT_TRUE(watching.waitUntilWatched());
        size_t threads = watching.pool.threadCount();
        Counter posted;
        watching.pool.submit(1, [&] { posted.notify(); });
        ASSERT_TRUE(posted.waitFor(1));
        seen.postKeptThePool = watching.pool.threadCount() == threads;
    };
    Seen seen;
    for (int tries = 0; tries < 3; ++tries) {
        seen = {};
        attempt(seen);
        if (HasFatalFailure())
            return;
        if (seen.readyOnWorker && seen.ranOnReadyWorker && seen.postKeptThePool)
            break;
    }
    EXPECT_TRUE(seen.readyOnWorker);
    EXPECT_TRUE(seen.ranOnReadyWorker);
    EXPECT_TRUE(seen.postKeptThePool);
}

TEST(WorkerPoolWatch, AWorkerLookingForMoreOfItsQueuePassesOnReadinessThatComesMeanwhile) {
    auto& watching = WatchingPool::make();
    liveapp::test::Pipe pipe;
    std::atomic<bool> passed{false};
    watching.ready = [&](uint64_t) { passed = true; };
    ASSERT_TRUE(watching.waitUntilWatched());
    watching.watch(pipe.reader.get(), 1);
    Counter done;
    bool found = false;
    watching.pool.submit(1, [&] { // the watcher leaves the watch to run it
        pipe.put("x");
        found = watching.pool.lookForMore([&] { return passed.load(); });
        done.notify();
    });
    ASSERT_TRUE(done.waitFor(1));
    EXPECT_TRUE(found);
}

TEST(WorkerPoolWatch, ReadinessStillReachesReadyWhileTheWatchersJobBlocksWithoutSayingSo) {
    auto& watching = WatchingPool::make();
    liveapp::test::Pipe first, second;
    struct Gates {
        Counter gate, blocked, secondReady;
    };
    auto gates = std::make_shared<Gates>(); // the blocked job may still be leaving the gate at the end
    watching.ready = [&watching, gates](uint64_t token) {
        if (token == 2) {
            gates->secondReady.notify();
            return;
        }
        watching.pool.submit(1, [gates] {
            gates->blocked.notify();
            gates->gate.waitFor(1); // a foreign wait the pool is not told of
        });
    };
    ASSERT_TRUE(watching.waitUntilWatched());
    watching.watch(first.reader.get(), 1);
    watching.watch(second.reader.get(), 2);
    first.put("x");
    ASSERT_TRUE(gates->blocked.waitFor(1));
    second.put("y");
    EXPECT_TRUE(gates->secondReady.waitFor(1));
    gates->gate.notify();
}

// The scheduling state a thread is in ('R' running, 'S' asleep, ...), from /proc.
char threadState(pid_t thread) {
    std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
    std::string line;
    std::getline(stat, line);
    auto end = line.rfind(')');
    return end == std::string::npos || end + 2 >= line.size() ? '?' : line[end + 2];
}

// Whether a worker's wake takes its waker's core depends on how it waits: while the machine has no
// core to spare, as a batch thread when its waker likely shares its core (watching the set, or asleep
// after a job whose poster ran on its core), otherwise as a plain one, so a wake from another core
// does not wait behind whatever holds the wakee's core; its jobs, and the threads they start, run as
// plain ones either way.
TEST(WorkerPoolWait, AWorkerWaitsAsABatchThreadOnlyForAWakerOnItsCoreWhileCoresAreScarce) {
    struct Case {
        const char* wait;
        detail::WorkerPool* pool;
        bool posterOnWorkersCore;
        int waitingPolicy;
    };
    // They live for the process, as their idle workers may.
    auto* scarce = new detail::WorkerPool([] { return true; });
    auto* spare = new detail::WorkerPool([] { return false; });
    auto& watching = WatchingPool::make([] { return true; });
    ASSERT_TRUE(watching.waitUntilWatched());
    for (const Case& c : {Case{"asleep, poster elsewhere, cores scarce", scarce, false, SCHED_OTHER},
                          Case{"asleep, poster on its core, cores scarce", scarce, true, SCHED_BATCH},
                          Case{"asleep, poster on its core, cores to spare", spare, true, SCHED_OTHER},
                          Case{"watching, cores scarce", &watching.pool, false, SCHED_BATCH}})
        for (int job = 0; job < 2; ++job) { // the second runs on a worker back from a wait
            Counter ran;
            std::atomic<pid_t> worker{0};
            std::atomic<int> jobPolicy{-1}, startedPolicy{-1};
            c.pool->submit(1, [&] {
                jobPolicy = ::sched_getscheduler(0);
                std::thread([&] { startedPolicy = ::sched_getscheduler(0); }).join();
                // As a serial queue's drain reports a poster on its core; again, should the worker
                // have moved between reading its core and reporting it.
                for (int attempt = 0; c.posterOnWorkersCore && attempt < 3; ++attempt)
                    c.pool->lookForMore([] { return false; }, detail::WorkerPool::currentCpu());
                worker = ::gettid();
                ran.notify();
            });
            ASSERT_TRUE(ran.waitFor(1)) << c.wait;
            EXPECT_EQ(jobPolicy, SCHED_OTHER) << c.wait << " job " << job;
            EXPECT_EQ(startedPolicy, SCHED_OTHER) << c.wait << " job " << job;
            EXPECT_TRUE(dispatchtest::waitUntil([&] {
                return threadState(worker) == 'S' && ::sched_getscheduler(worker) == c.waitingPolicy;
            })) << c.wait
                << " job " << job;
        }
}

} // namespace
