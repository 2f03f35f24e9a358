#include "platform/foundation/Fatal.h"
#include "platform/foundation/Pause.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopInternals.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sched.h>
#include <sys/epoll.h>
#include <unistd.h>

namespace platform {

namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

constexpr uint64_t wakeToken = 0;
constexpr int maxEventsPerWait = 64;

uint32_t readinessFrom(uint32_t epollEvents) {
    uint32_t ready = 0;
    if (epollEvents & (EPOLLIN | EPOLLHUP | EPOLLERR | EPOLLRDHUP))
        ready |= RunLoopFdSource::Read;
    if (epollEvents & (EPOLLOUT | EPOLLHUP | EPOLLERR))
        ready |= RunLoopFdSource::Write;
    return ready;
}

int toMilliseconds(std::optional<Duration> wait) {
    if (!wait)
        return -1;
    if (*wait <= Duration::zero())
        return 0;
    // Rounded up: waking a little early would only make the loop spin until the deadline.
    auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(*wait).count();
    return int(std::min<int64_t>(milliseconds, INT_MAX));
}

} // namespace

RunLoop::RunResult RunLoop::runMode(const RunLoopMode& mode, MonoTime limitDate,
                                    bool returnAfterSourceHandled) {
    return runInternal(mode, limitDate, std::nullopt, returnAfterSourceHandled);
}

RunLoop::RunResult RunLoop::runModeForRealTime(const RunLoopMode& mode, Duration realLimit,
                                               bool returnAfterSourceHandled) {
    return runInternal(mode, std::nullopt, std::chrono::steady_clock::now() + realLimit,
                       returnAfterSourceHandled);
}

void RunLoop::run() {
    runInternal(defaultMode, std::nullopt, std::nullopt, false);
}

RunLoop::RunResult RunLoop::runInternal(const RunLoopMode& requestedMode, std::optional<MonoTime> limitDate,
                                        std::optional<SteadyTime> realLimit, bool returnAfterSourceHandled) {
    // A copy: a thread's loop may still be running its last passes while the process exits and the
    // static mode names it was started with are destroyed.
    const RunLoopMode mode = requestedMode;
    auto self = current();
    if (self.get() != this) {
        fatalError("RunLoop: run on a thread that does not own the loop");
    }
    if (mode == commonModes) {
        fatalError("RunLoop: the common modes are a set to register in, not a mode to run in");
    }
    auto& in = *m_internals;
    {
        std::lock_guard lock(in.mutex);
        in.modeStack.push_back(mode);
        in.applyAllInterest();
    }
    struct LeaveMode {
        Internals& in;
        ~LeaveMode() {
            std::lock_guard lock(in.mutex);
            in.modeStack.pop_back();
            in.applyAllInterest();
        }
    } leave{in};

    for (;;) {
        if (in.stopRequested.exchange(false))
            return RunResult::Stopped;
        in.followClock(self);

        bool handled = in.fireTimers(mode);
        if (in.stopRequested.load())
            continue;
        bool ranPerform = in.runPerforms(mode);
        handled |= ranPerform;
        if (in.stopRequested.load())
            continue;
        handled |= in.fireSignals(mode);
        if (in.stopRequested.load())
            continue;
        if (handled && returnAfterSourceHandled)
            return RunResult::HandledSource;
        if (ranPerform)
            in.lingerForPerform();

        bool limitPassed = (limitDate && Clock::now() >= *limitDate) ||
                           (realLimit && std::chrono::steady_clock::now() >= *realLimit);
        // Past the limit the loop still looks once at its descriptors, so a run with a limit in the
        // past is a poll.
        in.mayBeSleeping.exchange(1, std::memory_order_acq_rel);
        int timeout = limitPassed || in.stopRequested.load() ? 0 : in.waitTimeout(mode, limitDate, realLimit);
        handled |= in.waitAndDispatch(mode, timeout);
        if (in.stopRequested.load())
            continue;
        if (handled && returnAfterSourceHandled)
            return RunResult::HandledSource;
        if (limitPassed)
            return RunResult::TimedOut;
    }
}

// A ManualClock's future reaches a sleeping loop only through its listeners, so the loop listens
// to whichever clock is installed, moving its subscription when a test installs another.
void RunLoop::Internals::followClock(const std::shared_ptr<RunLoop>& self) {
    if (clock.get() == &Clock::current())
        return;
    if (clock)
        clock->removeListener(clockListener);
    clock = Clock::currentShared();
    std::weak_ptr<RunLoop> weak = self;
    clockListener = clock->addListener([weak] {
        if (auto loop = weak.lock())
            loop->wakeUp();
    });
}

bool RunLoop::Internals::fireTimer(const std::shared_ptr<Timer>& timer, MonoTime now) {
    std::shared_ptr<Timer::Block> block;
    uint64_t armCount = 0;
    {
        std::lock_guard lock(timer->m_mutex);
        if (!timer->m_valid || timer->m_firing || timer->m_fireDate > now || !timer->m_block ||
            !*timer->m_block)
            return false;
        block = timer->m_block;
        armCount = timer->m_armCount;
        timer->m_firing = true;
        if (timer->m_repeats) {
            auto next = detail::saturatingAdd(timer->m_fireDate, timer->m_interval);
            if (next <= now) {
                auto behind = (now - timer->m_fireDate) / timer->m_interval;
                next = detail::saturatingAdd(timer->m_fireDate, (behind + 1) * timer->m_interval);
            }
            timer->m_fireDate = next;
        }
    }
    struct EndFiring {
        Timer& timer;
        uint64_t armCount;
        ~EndFiring() {
            bool expired = false;
            {
                std::lock_guard lock(timer.m_mutex);
                timer.m_firing = false;
                expired = !timer.m_repeats && timer.m_armCount == armCount;
            }
            if (expired)
                timer.invalidate();
        }
    } endFiring{*timer, armCount};
    (*block)(*timer);
    return true;
}

bool RunLoop::Internals::fireTimers(const RunLoopMode& mode) {
    struct Due {
        TimerKey key;
        std::shared_ptr<Timer> timer;
    };
    std::vector<Due> due;
    auto now = Clock::now();
    std::pair<TimerIndex*, TimerIndex*> indices;
    {
        std::lock_guard lock(mutex);
        indices = timerIndicesFor(mode);
        for (auto* index : {indices.first, indices.second}) {
            if (!index)
                continue;
            for (auto it = index->begin(); it != index->end() && it->first.first <= now; ++it) {
                auto& timer = timers.at(it->second).timer;
                std::lock_guard timerLock(timer->m_mutex);
                if (timer->m_valid && !timer->m_firing && timer->m_fireDate <= now)
                    due.push_back({it->first, timer});
            }
        }
    }
    if (indices.first && indices.second) {
        // A timer added both in this mode and in the common modes was found twice, under one key.
        std::sort(due.begin(), due.end(), [](const Due& a, const Due& b) { return a.key < b.key; });
        due.erase(std::unique(due.begin(), due.end(),
                              [](const Due& a, const Due& b) { return a.timer == b.timer; }),
                  due.end());
    }
    bool handled = false;
    for (auto& item : due) {
        // An earlier callout of this pass may have removed it from the mode.
        if (!isScheduledIn(item.timer.get(), indices))
            continue;
        handled |= fireTimer(item.timer, now);
        refileTimer(item.timer.get()); // a repeating or re-armed timer has a new date
        if (stopRequested.load())
            break;
    }
    return handled;
}

bool RunLoop::Internals::isScheduledIn(const Timer* timer,
                                       std::pair<TimerIndex*, TimerIndex*> indices) const {
    std::lock_guard lock(mutex);
    auto found = timers.find(timer);
    if (found == timers.end())
        return false;
    auto& filed = found->second.indices;
    auto in = [&](const TimerIndex* index) {
        return index && std::find(filed.begin(), filed.end(), index) != filed.end();
    };
    return in(indices.first) || in(indices.second);
}

bool RunLoop::Internals::runPerforms(const RunLoopMode& mode) {
    uint64_t boundary = 0;
    {
        std::lock_guard lock(mutex);
        boundary = nextSequence;
    }
    bool handled = false;
    for (;;) {
        Perform perform;
        {
            std::lock_guard lock(mutex);
            auto it = performs.begin();
            while (it != performs.end() && it->sequence < boundary && !isActive(it->modes, mode))
                ++it;
            if (it == performs.end() || it->sequence >= boundary)
                break;
            perform = std::move(*it);
            performs.erase(it);
            queuedPerforms.fetch_sub(1, std::memory_order_relaxed);
        }
        perform.block();
        handled = true;
        if (stopRequested.load())
            break;
    }
    return handled;
}

size_t RunLoop::Internals::lingerPauses() const {
    return detail::coresScarce() ? 0 : performLingerPauses.load(std::memory_order_relaxed);
}

void RunLoop::Internals::lingerForPerform() {
    size_t pauses = lingerPauses();
    // A loop woken onto its poster's core (the kernel often puts a wakee beside its waker) would spin
    // there while the poster, preempted by the wake, waits for that very core to post the next one.
    int cpu = pauses > 0 ? ::sched_getcpu() : -1;
    if (pauses == 0 || cpu == lastPosterCpu.load(std::memory_order_relaxed))
        return;
    lingeringCpu.store(cpu, std::memory_order_relaxed);
    // Nothing else is looked at meanwhile: a descriptor or timer waits at most the linger.
    for (; pauses > 0; --pauses) {
        if (queuedPerforms.load(std::memory_order_relaxed) > 0 ||
            stopRequested.load(std::memory_order_relaxed))
            break;
        detail::cpuRelax();
    }
    lingeringCpu.store(-1, std::memory_order_relaxed);
}

size_t RunLoop::Internals::waiterLookPauses() const {
    size_t pauses = lingerPauses();
    // A waiter on the core the loop lingers on holds the very core the loop needs to answer: it sleeps
    // at once, which hands the core over.
    if (pauses > 0 && lingeringCpu.load(std::memory_order_relaxed) == ::sched_getcpu())
        return 0;
    return pauses;
}

bool RunLoop::Internals::fireSignals(const RunLoopMode& mode) {
    std::vector<std::shared_ptr<RunLoopSignalSource>> signalled;
    {
        std::lock_guard lock(mutex);
        for (auto& entry : signals) {
            if (entry.source->m_signaled.load() && isActive(entry.modes, mode))
                signalled.push_back(entry.source);
        }
    }
    bool handled = false;
    for (auto& source : signalled) {
        std::shared_ptr<std::function<void()>> callout;
        {
            std::lock_guard lock(source->m_mutex);
            if (!source->m_valid)
                continue;
            callout = source->m_callout;
        }
        // Cleared before the callout, so a signal sent while it runs brings another pass.
        if (!source->m_signaled.exchange(false) || !*callout)
            continue;
        (*callout)();
        handled = true;
        if (stopRequested.load())
            break;
    }
    return handled;
}

std::optional<MonoTime> RunLoop::Internals::nextFireDate(const TimerIndex* index) const {
    if (!index)
        return std::nullopt;
    // Only a timer whose callout is under way (a nested run) or that is being invalidated is passed over.
    for (auto& [key, timer] : *index) {
        std::lock_guard timerLock(timer->m_mutex);
        if (timer->m_valid && !timer->m_firing)
            return timer->m_fireDate;
    }
    return std::nullopt;
}

int RunLoop::Internals::waitTimeout(const RunLoopMode& mode, std::optional<MonoTime> limitDate,
                                    std::optional<SteadyTime> realLimit) {
    bool immediate = false;
    std::optional<MonoTime> deadline = limitDate;
    {
        std::lock_guard lock(mutex);
        for (auto& perform : performs) {
            if (isActive(perform.modes, mode)) {
                immediate = true;
                break;
            }
        }
        for (auto& entry : signals) {
            if (entry.source->m_signaled.load() && isActive(entry.modes, mode))
                immediate = true;
        }
        if (alwaysReadyCount) {
            for (auto& [fd, entry] : fds) {
                if (entry.alwaysReady && entry.registered)
                    immediate = true;
            }
        }
        if (!immediate) {
            auto indices = timerIndicesFor(mode);
            for (auto* index : {indices.first, indices.second}) {
                if (auto next = nextFireDate(index))
                    deadline = deadline ? std::min(*deadline, *next) : *next;
            }
        }
    }
    if (immediate)
        return 0;
    std::optional<Duration> wait;
    if (deadline)
        wait = Clock::current().realWaitFor(*deadline);
    if (realLimit) {
        auto remaining =
            std::max(Duration::zero(),
                     std::chrono::duration_cast<Duration>(*realLimit - std::chrono::steady_clock::now()));
        wait = wait ? std::min(*wait, remaining) : remaining;
    }
    return toMilliseconds(wait);
}

bool RunLoop::Internals::waitAndDispatch(const RunLoopMode& mode, int timeoutMilliseconds) {
    epoll_event events[maxEventsPerWait];
    int count = ::epoll_wait(epollFd.get(), events, maxEventsPerWait, timeoutMilliseconds);
    mayBeSleeping.store(0, std::memory_order_relaxed);
    if (count < 0)
        count = 0; // EINTR: the caller's next pass recomputes the wait
    auto ready = std::move(readyScratch);
    ready.clear();
    {
        std::lock_guard lock(mutex);
        auto collect = [&](FdEntry& entry, uint32_t readiness) {
            for (auto& sourceEntry : entry.sources) {
                if (isActive(sourceEntry.modes, mode))
                    ready.emplace_back(sourceEntry.source, readiness);
            }
        };
        for (int i = 0; i < count; ++i) {
            uint64_t token = events[i].data.u64;
            if (token == wakeToken) {
                uint64_t value = 0;
                [[maybe_unused]] auto got = ::read(wakeFd.get(), &value, sizeof value);
                continue;
            }
            auto found = fds.find(int(uint32_t(token)));
            // A stale event for a descriptor that was dropped and registered anew has an old generation.
            if (found == fds.end() || found->second.generation != uint32_t(token >> 32))
                continue;
            collect(found->second, readinessFrom(events[i].events));
        }
        if (alwaysReadyCount) {
            for (auto& [fd, entry] : fds) {
                if (entry.alwaysReady && entry.registered)
                    collect(entry, RunLoopFdSource::Read | RunLoopFdSource::Write);
            }
        }
    }
    bool handled = false;
    for (auto& [source, readiness] : ready) {
        std::shared_ptr<RunLoopFdSource::Callout> callout;
        uint32_t events = 0;
        {
            std::lock_guard lock(source->m_mutex);
            if (!source->m_valid)
                continue;
            events = readiness & source->m_enabled;
            callout = source->m_callout;
        }
        if (!events || !*callout)
            continue;
        (*callout)(*source, events);
        handled = true;
        if (stopRequested.load())
            break;
    }
    // Emptied here, on the owning thread: the sources' last references may go with it.
    ready.clear();
    if (readyScratch.capacity() < ready.capacity())
        readyScratch = std::move(ready);
    return handled;
}

} // namespace platform
