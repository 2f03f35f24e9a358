#pragma once
// What a RunLoop keeps, shared by the loop, its timers and its sources. Private to platform/runloop.
//
// Lock order: a loop's mutex may be held while taking a timer's or source's mutex, never the
// reverse; no callout runs with either held.
//
// Timers are filed by deadline in one ordered index per mode they are added in, so a pass reads only
// the due heads of its mode's index and of the common modes' (when its mode is a common one), and
// adding, re-arming and invalidating a timer cost O(log n) whatever else is scheduled.

#include "platform/foundation/FileDescriptor.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopFdSource.h"
#include "platform/runloop/RunLoopSignalSource.h"
#include "platform/runloop/Timer.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <sys/types.h>
#include <unordered_map>

namespace platform {

namespace detail {

// `time + by`, held at the ends of the clock's range: "never" is often spelt as a huge interval.
MonoTime saturatingAdd(MonoTime time, Duration by);

} // namespace detail

struct RunLoop::Internals {
    struct Perform {
        std::function<void()> block;
        std::vector<RunLoopMode> modes; // empty: the common modes
        const void* target{nullptr};
        uint64_t sequence{0};
    };
    // Due order: deadline, then scheduling order.
    using TimerKey = std::pair<MonoTime, uint64_t>;
    using TimerIndex = std::map<TimerKey, const Timer*>;
    struct TimerEntry {
        std::shared_ptr<Timer> timer;
        uint64_t sequence{0};
        MonoTime filedAt{};               // the deadline it is filed under in its indices
        std::vector<TimerIndex*> indices; // one per mode it was added in
    };
    struct FdSourceEntry {
        std::shared_ptr<RunLoopFdSource> source;
        std::set<RunLoopMode> modes;
    };
    struct FdEntry {
        uint32_t generation{0};
        uint32_t registered{0};  // the epoll events currently asked for; 0 when not in the set
        bool alwaysReady{false}; // a descriptor epoll refuses (a regular file) is always ready
        std::vector<FdSourceEntry> sources;
    };
    struct SignalEntry {
        std::shared_ptr<RunLoopSignalSource> source;
        std::set<RunLoopMode> modes;
    };

    Internals();

    // All of these take `mutex` themselves.
    void detachTimer(const Timer* timer);
    // Files the timer anew under its current fire date (after a re-arm or a repeat).
    void refileTimer(const Timer* timer);
    void detachFdSource(const RunLoopFdSource* source);
    void detachSignalSource(const RunLoopSignalSource* source);
    void fdSourceChanged(int fd);
    void wake();

    // Callers hold `mutex`.
    bool isActive(const std::set<RunLoopMode>& modes, const RunLoopMode& mode) const;
    bool isActive(const std::vector<RunLoopMode>& modes, const RunLoopMode& mode) const;
    void applyInterest(int fd, FdEntry& entry);
    void applyAllInterest();
    TimerIndex& timerIndex(const RunLoopMode& mode) { return timerIndices[mode]; }
    // The indices a run in `mode` reads: its own and, for a common mode, the common modes'.
    std::pair<TimerIndex*, TimerIndex*> timerIndicesFor(const RunLoopMode& mode);
    void eraseTimer(std::unordered_map<const Timer*, TimerEntry>::iterator found);
    void eraseFd(std::unordered_map<int, FdEntry>::iterator found);

    // The passes of a run; owning thread only, no lock held. Each returns whether it called out.
    void followClock(const std::shared_ptr<RunLoop>& self);
    bool fireTimers(const RunLoopMode& mode);
    bool runPerforms(const RunLoopMode& mode);
    // After a pass that ran a perform: looks for the next one for up to the linger, without a system
    // call, so a thread answering it at once finds the loop awake and posts without a wake-up.
    void lingerForPerform();
    // How many pauses the loop lingers after a perform, and a waiter on one of its performs looks for
    // the answer: none while cores are scarce, where the spin would hold a core a runnable thread needs.
    size_t lingerPauses() const;
    // How many pauses a thread waiting on one of the loop's performs looks for the answer.
    size_t waiterLookPauses() const;
    bool fireSignals(const RunLoopMode& mode);
    int waitTimeout(const RunLoopMode& mode, std::optional<MonoTime> limitDate,
                    std::optional<std::chrono::steady_clock::time_point> realLimit);
    bool waitAndDispatch(const RunLoopMode& mode, int timeoutMilliseconds);
    static bool fireTimer(const std::shared_ptr<Timer>& timer, MonoTime now);
    // The earliest date of a timer filed in `index` that may fire; callers hold `mutex`.
    std::optional<MonoTime> nextFireDate(const TimerIndex* index) const;
    // Whether the timer is still filed in one of the two indices; takes `mutex`.
    bool isScheduledIn(const Timer* timer, std::pair<TimerIndex*, TimerIndex*> indices) const;

    FileDescriptor epollFd;
    FileDescriptor wakeFd;
    std::atomic<bool> stopRequested{false};
    // 1 from before the loop looks at what it would wait for until its wait returns. Only then does a
    // wake need the eventfd: outside that stretch the loop looks again before it sleeps, and each
    // waker changes what it looks at before it reads this (both read it by read-modify-write).
    std::atomic<uint8_t> mayBeSleeping{0};
    // How many performs are queued, for a lingering loop to read without the lock: raised by a poster
    // after it let go of `mutex`, lowered under it as they are taken or dropped, so briefly below zero
    // when the loop took a perform its poster has yet to count.
    std::atomic<int64_t> queuedPerforms{0};
    // Pauses a pass that ran a perform spends looking for the next one before it may sleep (0: none).
    std::atomic<size_t> performLingerPauses{0};
    // The processor the last perform from another thread was posted from (-1: unknown), kept only while
    // the loop lingers: a loop on that same core would hold the very core its next poster needs.
    std::atomic<int> lastPosterCpu{-1};
    // The processor the loop is lingering on (-1: not lingering).
    std::atomic<int> lingeringCpu{-1};

    mutable std::mutex mutex;
    bool dead{false};
    std::set<RunLoopMode> commonSet{defaultMode};
    std::vector<RunLoopMode> modeStack; // runs in progress, innermost last
    uint64_t nextSequence{1};
    uint32_t nextGeneration{1};
    std::deque<Perform> performs;
    std::unordered_map<const Timer*, TimerEntry> timers;
    // Never erased, so entries may point at them; a loop has few modes.
    std::unordered_map<RunLoopMode, TimerIndex> timerIndices;
    TimerIndex* const commonIndex; // the common modes' index, looked up once
    std::unordered_map<int, FdEntry> fds;
    // How many entries of `fds` are always ready: a pass looks through `fds` for them only when
    // there are some, not at every descriptor of a loop carrying many sockets.
    size_t alwaysReadyCount{0};
    std::vector<SignalEntry> signals;

    // Only the owning thread touches these.
    // Kept between passes so a pass that dispatches descriptors does not allocate its list anew; a
    // nested run's pass, started from a callout, finds it taken and makes its own.
    std::vector<std::pair<std::shared_ptr<RunLoopFdSource>, uint32_t>> readyScratch;
    std::shared_ptr<Clock> clock;
    uint64_t clockListener{0};
};

} // namespace platform
