#include "platform/runloop/RunLoop.h"

#include "platform/foundation/Fatal.h"
#include "platform/foundation/Pause.h"
#include "platform/runloop/RunLoopInternals.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

namespace {

pid_t threadId() {
    thread_local const pid_t id = ::gettid();
    return id;
}

std::atomic<pid_t> g_mainThreadId{0};

pid_t mainThreadId() {
    pid_t id = g_mainThreadId.load(std::memory_order_acquire);
    return id ? id : ::getpid();
}

std::mutex& mainLoopMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<RunLoop>& mainLoopStorage() {
    static std::shared_ptr<RunLoop> loop;
    return loop;
}

constexpr uint64_t wakeToken = 0; // generations start at 1, so no descriptor's token is 0

uint64_t tokenFor(int fd, uint32_t generation) {
    return (uint64_t(generation) << 32) | uint32_t(fd);
}

uint32_t epollEventsFor(uint32_t events) {
    uint32_t result = 0;
    if (events & RunLoopFdSource::Read)
        result |= EPOLLIN;
    if (events & RunLoopFdSource::Write)
        result |= EPOLLOUT;
    return result;
}

} // namespace

// The calling thread's loop. Tearing it down when the thread ends breaks the cycles that blocks
// capturing their own loop would otherwise make, and drops work nobody will ever run.
struct RunLoopThreadSlot {
    std::shared_ptr<RunLoop> loop;
    ~RunLoopThreadSlot() {
        if (loop)
            loop->teardown();
    }
};

namespace {
thread_local RunLoopThreadSlot t_slot;
} // namespace

namespace detail {

MonoTime saturatingAdd(MonoTime time, Duration by) {
    auto count = time.time_since_epoch().count();
    MonoTime::rep sum;
    if (__builtin_add_overflow(count, std::chrono::duration_cast<MonoTime::duration>(by).count(), &sum))
        return by > Duration::zero() ? MonoTime::max() : MonoTime::min();
    return MonoTime(MonoTime::duration(sum));
}

} // namespace detail

// ---- Internals ----
RunLoop::Internals::Internals()
    : epollFd(::epoll_create1(EPOLL_CLOEXEC))
    , wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    , commonIndex(&timerIndices[commonModes]) {
    if (epollFd.get() < 0 || wakeFd.get() < 0)
        fatalError("RunLoop: cannot create the epoll set or its waker (out of descriptors?)");
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = wakeToken;
    if (::epoll_ctl(epollFd.get(), EPOLL_CTL_ADD, wakeFd.get(), &event) != 0)
        fatalError("RunLoop: cannot watch the waker");
}

void RunLoop::Internals::wake() {
    // A read-modify-write, so it reads the loop's latest mark and orders what this waker changed
    // before the loop's next look.
    if (mayBeSleeping.fetch_or(0, std::memory_order_acq_rel) == 0)
        return;
    uint64_t one = 1;
    // A full counter (EAGAIN) already means "awake"; nothing else can fail on an eventfd.
    [[maybe_unused]] auto written = ::write(wakeFd.get(), &one, sizeof one);
}

bool RunLoop::Internals::isActive(const std::set<RunLoopMode>& modes, const RunLoopMode& mode) const {
    return modes.count(mode) || (modes.count(commonModes) && commonSet.count(mode));
}

bool RunLoop::Internals::isActive(const std::vector<RunLoopMode>& modes, const RunLoopMode& mode) const {
    if (modes.empty())
        return commonSet.count(mode) != 0;
    for (auto& candidate : modes) {
        if (candidate == mode || (candidate == commonModes && commonSet.count(mode)))
            return true;
    }
    return false;
}

// The epoll set holds a descriptor only while some valid, enabled source on it is active in the mode
// the loop runs in: level-triggered readiness for a source of another mode would otherwise turn
// every wait into a spin.
void RunLoop::Internals::applyInterest(int fd, FdEntry& entry) {
    uint32_t wanted = 0;
    if (!modeStack.empty() && !dead) {
        auto& mode = modeStack.back();
        for (auto& sourceEntry : entry.sources) {
            if (!isActive(sourceEntry.modes, mode))
                continue;
            std::lock_guard sourceLock(sourceEntry.source->m_mutex);
            if (sourceEntry.source->m_valid)
                wanted |= sourceEntry.source->m_enabled;
        }
    }
    uint32_t events = epollEventsFor(wanted);
    if (entry.alwaysReady) {
        entry.registered = events;
        return;
    }
    if (events == entry.registered)
        return;
    epoll_event event{};
    event.events = events;
    event.data.u64 = tokenFor(fd, entry.generation);
    if (events == 0) {
        // Fails only when the owner closed the descriptor first, which took it out of the set.
        ::epoll_ctl(epollFd.get(), EPOLL_CTL_DEL, fd, nullptr);
        entry.registered = 0;
        return;
    }
    int op = entry.registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    int result = ::epoll_ctl(epollFd.get(), op, fd, &event);
    if (result != 0 && errno == ENOENT)
        result = ::epoll_ctl(epollFd.get(), EPOLL_CTL_ADD, fd, &event);
    else if (result != 0 && errno == EEXIST)
        result = ::epoll_ctl(epollFd.get(), EPOLL_CTL_MOD, fd, &event);
    if (result != 0 && errno == EPERM) {
        entry.alwaysReady = true;
        ++alwaysReadyCount;
        entry.registered = events;
        return;
    }
    entry.registered = result == 0 ? events : 0;
}

void RunLoop::Internals::applyAllInterest() {
    for (auto& [fd, entry] : fds)
        applyInterest(fd, entry);
}

void RunLoop::Internals::detachTimer(const Timer* timer) {
    // Released after the lock: the loop's reference may be the last one, and the timer's block may
    // hold things whose destructors come back here.
    std::shared_ptr<Timer> released;
    {
        std::lock_guard lock(mutex);
        auto found = timers.find(timer);
        if (found == timers.end())
            return;
        released = std::move(found->second.timer);
        eraseTimer(found);
    }
}

void RunLoop::Internals::eraseTimer(std::unordered_map<const Timer*, TimerEntry>::iterator found) {
    auto& entry = found->second;
    for (auto* index : entry.indices)
        index->erase({entry.filedAt, entry.sequence});
    timers.erase(found);
}

void RunLoop::Internals::eraseFd(std::unordered_map<int, FdEntry>::iterator found) {
    if (found->second.alwaysReady)
        --alwaysReadyCount;
    fds.erase(found);
}

void RunLoop::Internals::refileTimer(const Timer* timer) {
    std::lock_guard lock(mutex);
    auto found = timers.find(timer);
    if (found == timers.end())
        return;
    auto& entry = found->second;
    MonoTime date;
    {
        std::lock_guard timerLock(timer->m_mutex);
        date = timer->m_fireDate;
    }
    if (date == entry.filedAt)
        return;
    for (auto* index : entry.indices) {
        auto node = index->extract({entry.filedAt, entry.sequence});
        node.key() = {date, entry.sequence};
        index->insert(std::move(node));
    }
    entry.filedAt = date;
}

std::pair<RunLoop::Internals::TimerIndex*, RunLoop::Internals::TimerIndex*>
RunLoop::Internals::timerIndicesFor(const RunLoopMode& mode) {
    auto own = timerIndices.find(mode);
    return {own == timerIndices.end() ? nullptr : &own->second,
            commonSet.count(mode) ? commonIndex : nullptr};
}

void RunLoop::Internals::detachFdSource(const RunLoopFdSource* source) {
    std::shared_ptr<RunLoopFdSource> released;
    {
        std::lock_guard lock(mutex);
        auto found = fds.find(source->fd());
        if (found == fds.end())
            return;
        auto& sources = found->second.sources;
        auto it = std::find_if(sources.begin(), sources.end(),
                               [source](auto& entry) { return entry.source.get() == source; });
        if (it == sources.end())
            return;
        released = std::move(it->source);
        sources.erase(it);
        applyInterest(found->first, found->second);
        if (sources.empty())
            eraseFd(found);
    }
}

void RunLoop::Internals::detachSignalSource(const RunLoopSignalSource* source) {
    std::shared_ptr<RunLoopSignalSource> released;
    {
        std::lock_guard lock(mutex);
        auto it = std::find_if(signals.begin(), signals.end(),
                               [source](auto& entry) { return entry.source.get() == source; });
        if (it == signals.end())
            return;
        released = std::move(it->source);
        signals.erase(it);
    }
}

void RunLoop::Internals::fdSourceChanged(int fd) {
    std::lock_guard lock(mutex);
    auto found = fds.find(fd);
    if (found != fds.end())
        applyInterest(fd, found->second);
}

// ---- Threads ----
std::shared_ptr<RunLoop> RunLoop::current() {
    if (t_slot.loop)
        return t_slot.loop;
    t_slot.loop = isMainThread() ? main() : std::make_shared<RunLoop>(PrivateTag{});
    return t_slot.loop;
}

std::shared_ptr<RunLoop> RunLoop::main() {
    std::lock_guard lock(mainLoopMutex());
    auto& loop = mainLoopStorage();
    if (!loop) {
        g_mainThreadId.store(mainThreadId(), std::memory_order_release);
        loop = std::make_shared<RunLoop>(PrivateTag{});
    }
    return loop;
}

void RunLoop::setMainThread() {
    std::lock_guard lock(mainLoopMutex());
    if (mainLoopStorage() && mainThreadId() != threadId())
        fatalError("RunLoop: setMainThread() called after the main run loop was bound to another thread");
    g_mainThreadId.store(threadId(), std::memory_order_release);
}

bool RunLoop::isMainThread() {
    // Asked by every sync and queue-specific lookup: until a main run loop exists the answer is
    // settled once per thread, not by a system call per question.
    thread_local const bool t_isProcessMain = ::gettid() == ::getpid();
    pid_t id = g_mainThreadId.load(std::memory_order_acquire);
    return id ? threadId() == id : t_isProcessMain;
}

bool RunLoop::isCurrent() const {
    if (t_slot.loop)
        return t_slot.loop.get() == this;
    if (!isMainThread())
        return false;
    std::lock_guard lock(mainLoopMutex());
    return mainLoopStorage().get() == this;
}

// ---- Life ----
RunLoop::RunLoop(PrivateTag)
    : m_internals(std::make_unique<Internals>()) {}

RunLoop::~RunLoop() {
    teardown();
}

void RunLoop::teardown() {
    auto& in = *m_internals;
    std::deque<Internals::Perform> performs;
    std::unordered_map<const Timer*, Internals::TimerEntry> timers;
    std::unordered_map<int, Internals::FdEntry> fds;
    std::vector<Internals::SignalEntry> signals;
    {
        std::lock_guard lock(in.mutex);
        if (in.dead)
            return;
        in.dead = true;
        performs.swap(in.performs);
        in.queuedPerforms.store(0, std::memory_order_relaxed);
        timers.swap(in.timers);
        for (auto& [mode, index] : in.timerIndices)
            index.clear();
        signals.swap(in.signals);
        for (auto& [fd, entry] : in.fds) {
            if (entry.registered && !entry.alwaysReady)
                ::epoll_ctl(in.epollFd.get(), EPOLL_CTL_DEL, fd, nullptr);
        }
        fds.swap(in.fds);
        in.alwaysReadyCount = 0;
    }
    if (in.clock) {
        in.clock->removeListener(in.clockListener);
        in.clock.reset();
    }
    for (auto& [key, entry] : timers)
        entry.timer->invalidate();
    for (auto& [fd, entry] : fds) {
        for (auto& sourceEntry : entry.sources)
            sourceEntry.source->invalidate();
    }
    for (auto& entry : signals)
        entry.source->invalidate();
}

// ---- Modes, stop and wake ----
std::optional<RunLoopMode> RunLoop::currentMode() const {
    std::lock_guard lock(m_internals->mutex);
    if (m_internals->modeStack.empty())
        return std::nullopt;
    return m_internals->modeStack.back();
}

void RunLoop::addCommonMode(const RunLoopMode& mode) {
    if (mode == commonModes)
        return;
    {
        std::lock_guard lock(m_internals->mutex);
        m_internals->commonSet.insert(mode);
        m_internals->applyAllInterest();
    }
    m_internals->wake();
}

void RunLoop::stop() {
    m_internals->stopRequested.store(true);
    m_internals->wake();
}

void RunLoop::wakeUp() {
    m_internals->wake();
}

void RunLoop::setPerformLinger(Duration window) {
    m_internals->performLingerPauses.store(window > Duration::zero() ? detail::pausesIn(window) : 0,
                                           std::memory_order_relaxed);
}

// ---- Performs ----
bool RunLoop::performBlock(std::function<void()> block, std::vector<RunLoopMode> modes, const void* target) {
    return enqueuePerform(std::move(block), std::move(modes), target);
}

bool RunLoop::performBlock(std::function<void()> block) {
    return enqueuePerform(std::move(block), {}, nullptr);
}

bool RunLoop::enqueuePerform(std::function<void()>&& block, std::vector<RunLoopMode>&& modes,
                             const void* target) {
    if (!block)
        return true;
    {
        std::lock_guard lock(m_internals->mutex);
        if (m_internals->dead)
            return false; // `block` dies after the lock is released
        m_internals->performs.push_back(
            {std::move(block), std::move(modes), target, m_internals->nextSequence++});
    }
    // Counted once the lock is free, so a lingering loop that sees the count does not go to sleep on
    // the lock the poster still holds.
    m_internals->queuedPerforms.fetch_add(1, std::memory_order_relaxed);
    if (!isCurrent()) {
        if (m_internals->performLingerPauses.load(std::memory_order_relaxed) > 0)
            m_internals->lastPosterCpu.store(::sched_getcpu(), std::memory_order_relaxed);
        m_internals->wake();
    }
    return true;
}

bool RunLoop::performBlockAfter(Duration delay, std::function<void()> block, std::vector<RunLoopMode> modes,
                                const void* target) {
    if (!block)
        return true;
    if (modes.empty())
        modes.push_back(commonModes);
    auto fireDate = detail::saturatingAdd(Clock::now(), std::max(delay, Duration::zero()));
    auto timer =
        Timer::create(fireDate, Duration::zero(), false, [block = std::move(block)](Timer&) { block(); });
    timer->m_target = target;
    for (auto& mode : modes)
        addTimer(timer, mode);
    return timer->isValid();
}

void RunLoop::cancelPerformsWithTarget(const void* target) {
    if (!target)
        return;
    std::vector<Internals::Perform> dropped;
    std::vector<std::shared_ptr<Timer>> delayed;
    {
        std::lock_guard lock(m_internals->mutex);
        auto& performs = m_internals->performs;
        for (auto it = performs.begin(); it != performs.end();) {
            if (it->target == target) {
                dropped.push_back(std::move(*it));
                it = performs.erase(it);
                m_internals->queuedPerforms.fetch_sub(1, std::memory_order_relaxed);
            } else {
                ++it;
            }
        }
        for (auto& [key, entry] : m_internals->timers) {
            if (entry.timer->m_target == target)
                delayed.push_back(entry.timer);
        }
    }
    for (auto& timer : delayed)
        timer->invalidate();
}

// ---- Registration ----
template <typename Item> bool RunLoop::claim(Item& item, const char* what) {
    auto self = shared_from_this();
    std::lock_guard itemLock(item.m_mutex);
    if (!item.m_valid)
        return false;
    auto owner = item.m_loop.lock();
    if (item.m_scheduled && owner && owner != self) {
        fatalError(std::string("RunLoop: ") + what + " was added to a second run loop");
    }
    item.m_loop = self;
    item.m_scheduled = true;
    return true;
}

template <typename Item> void RunLoop::unclaim(Item& item) {
    std::lock_guard itemLock(item.m_mutex);
    item.m_scheduled = false;
    item.m_loop.reset();
}

void RunLoop::addTimer(const std::shared_ptr<Timer>& timer, const RunLoopMode& mode) {
    if (!timer)
        return;
    if (!claim(*timer, "a timer"))
        return;
    bool dead = false;
    {
        auto& in = *m_internals;
        std::lock_guard lock(in.mutex);
        dead = in.dead;
        if (!dead) {
            std::lock_guard timerLock(timer->m_mutex);
            // An invalidate() racing with this call either sees the entry or is seen here.
            if (timer->m_valid) {
                auto& entry = in.timers[timer.get()];
                if (!entry.timer) {
                    entry.timer = timer;
                    entry.sequence = in.nextSequence++;
                    entry.filedAt = timer->m_fireDate;
                }
                auto* index = &in.timerIndex(mode);
                if (std::find(entry.indices.begin(), entry.indices.end(), index) == entry.indices.end()) {
                    entry.indices.push_back(index);
                    index->emplace(Internals::TimerKey{entry.filedAt, entry.sequence}, timer.get());
                }
            }
        }
    }
    if (dead)
        timer->invalidate();
    else if (!isCurrent())
        m_internals->wake();
}

void RunLoop::removeTimer(const std::shared_ptr<Timer>& timer, const RunLoopMode& mode) {
    if (!timer)
        return;
    auto& in = *m_internals;
    std::lock_guard lock(in.mutex);
    auto found = in.timers.find(timer.get());
    if (found == in.timers.end())
        return;
    auto& entry = found->second;
    auto index = in.timerIndices.find(mode);
    if (index == in.timerIndices.end())
        return;
    auto filed = std::find(entry.indices.begin(), entry.indices.end(), &index->second);
    if (filed == entry.indices.end())
        return;
    index->second.erase({entry.filedAt, entry.sequence});
    entry.indices.erase(filed);
    if (!entry.indices.empty())
        return;
    unclaim(*timer);
    // `timer` is the caller's too, so the loop's reference cannot be the last one under the lock.
    in.timers.erase(found);
}

template <typename Source, typename Insert>
void RunLoop::addSourceWith(const std::shared_ptr<Source>& source, const char* what, Insert insert) {
    if (!source || !claim(*source, what))
        return;
    bool dead = false;
    bool needsPass = false;
    {
        std::lock_guard lock(m_internals->mutex);
        dead = m_internals->dead;
        bool valid = false;
        if (!dead) {
            std::lock_guard sourceLock(source->m_mutex);
            valid = source->m_valid;
        }
        if (valid)
            needsPass = insert(*m_internals);
    }
    if (dead)
        source->invalidate();
    else if (needsPass && !isCurrent())
        m_internals->wake();
}

template <typename Entries, typename Source>
void RunLoop::addMode(Entries& entries, const std::shared_ptr<Source>& source, const RunLoopMode& mode) {
    auto it =
        std::find_if(entries.begin(), entries.end(), [&](auto& entry) { return entry.source == source; });
    if (it == entries.end())
        it = entries.insert(entries.end(), {source, {}});
    it->modes.insert(mode);
}

template <typename Entries, typename Source>
bool RunLoop::removeMode(Entries& entries, const std::shared_ptr<Source>& source, const RunLoopMode& mode) {
    auto it =
        std::find_if(entries.begin(), entries.end(), [&](auto& entry) { return entry.source == source; });
    if (it == entries.end())
        return false;
    it->modes.erase(mode);
    if (it->modes.empty()) {
        unclaim(*source);
        // The caller holds `source` too, so it cannot die here, under the loop's lock.
        entries.erase(it);
    }
    return true;
}

void RunLoop::addSource(const std::shared_ptr<RunLoopFdSource>& source, const RunLoopMode& mode) {
    addSourceWith(source, "a descriptor source", [&](Internals& in) {
        auto [found, inserted] = in.fds.try_emplace(source->fd());
        auto& fdEntry = found->second;
        if (inserted) {
            fdEntry.generation = in.nextGeneration++;
            if (in.nextGeneration == 0)
                in.nextGeneration = 1;
        }
        addMode(fdEntry.sources, source, mode);
        in.applyInterest(found->first, fdEntry);
        // The epoll set was brought up to date here, under the lock, so a sleeping loop hears of the
        // descriptor from the kernel once it is ready; only one epoll refuses is looked at by a pass
        // rather than by the wait, and so needs the loop woken.
        return fdEntry.alwaysReady && fdEntry.registered;
    });
}

void RunLoop::addSource(const std::shared_ptr<RunLoopSignalSource>& source, const RunLoopMode& mode) {
    addSourceWith(source, "a signal source", [&](Internals& in) {
        addMode(in.signals, source, mode);
        return true; // a signal already caught is seen only by a pass
    });
}

void RunLoop::removeSource(const std::shared_ptr<RunLoopFdSource>& source, const RunLoopMode& mode) {
    if (!source)
        return;
    auto& in = *m_internals;
    std::lock_guard lock(in.mutex);
    auto found = in.fds.find(source->fd());
    if (found == in.fds.end() || !removeMode(found->second.sources, source, mode))
        return;
    in.applyInterest(found->first, found->second);
    if (found->second.sources.empty())
        in.eraseFd(found);
}

void RunLoop::removeSource(const std::shared_ptr<RunLoopSignalSource>& source, const RunLoopMode& mode) {
    if (!source)
        return;
    std::lock_guard lock(m_internals->mutex);
    removeMode(m_internals->signals, source, mode);
}

} // namespace platform
