#pragma once
// The event loop of one thread. It sleeps in epoll and calls out, on its own thread only, to the
// timers, descriptor sources, signal sources and performs registered in the mode it runs in.
// Each thread has at most one, made on first use of current(); the main thread's is main().
//
// Promises: registering, performing, stopping and waking are safe from any thread, and a sleeping
// loop hears of each: a descriptor source added from another thread through the epoll set it sleeps
// on, everything else by a wake-up. Nothing is called out from inside the call that registered it,
// only from a run. Once invalidated, a timer or source gets no callout that has not already begun,
// even later in the same pass. Timers fire in fire-date order (ties in scheduling order); performs run in
// FIFO order. Time comes from Clock::current(), so moving a ManualClock wakes the loop and fires its timers.
// Not promised: an order between kinds of event within one pass, or any order across loops.
// Work that has no thread of its own to run on belongs on a dispatch queue, not on a run loop.

#include "platform/foundation/Clock.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class Timer;
class RunLoopFdSource;
class RunLoopSignalSource;

using RunLoopMode = std::string;

class RunLoop : public std::enable_shared_from_this<RunLoop> {
public:
    // The mode ordinary work registers in. The names are never destroyed: loops on threads that
    // outlive the process's static destructors (a worker running a loop as the process ends) still
    // compare them.
    static inline const RunLoopMode& defaultMode = *new RunLoopMode("RunLoopDefaultMode");
    // Not a mode one runs in but a set of modes: whatever registers here is active in every mode of
    // the loop's common set (the default mode, plus those added with addCommonMode).
    static inline const RunLoopMode& commonModes = *new RunLoopMode("RunLoopCommonModes");

    enum class RunResult {
        Stopped,       // stop() was called (before or during the run)
        TimedOut,      // the limit passed
        HandledSource, // returnAfterSourceHandled and a pass called something out
    };

    // The calling thread's loop, made on first use; it lives as long as the thread (or longer, for
    // those holding it, but once its thread has ended it drops whatever is registered or performed).
    static std::shared_ptr<RunLoop> current();

    // The main thread's loop; callable from any thread. The main thread is the process's initial
    // thread unless setMainThread() names another before main() is first used. In test programs the
    // test's own thread (the initial thread) is the main thread.
    static std::shared_ptr<RunLoop> main();
    static void setMainThread(); // the calling thread becomes the main thread; aborts if too late
    static bool isMainThread();

    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // Running (owning thread only; aborts otherwise). Runs may nest, in the same or another mode.
    // A loop with nothing registered in the mode still sleeps until the limit or a stop: a thread can
    // idle in its loop waiting for performs.
    RunResult runMode(const RunLoopMode& mode, MonoTime limitDate, bool returnAfterSourceHandled = false);
    // The same with a limit in real (steady) time whatever clock is installed, for callers that must
    // not hang while virtual time stands still (test pumping).
    RunResult runModeForRealTime(const RunLoopMode& mode, Duration realLimit,
                                 bool returnAfterSourceHandled = false);
    void run(); // the default mode until stop()

    // Makes the innermost run return Stopped after its current callout; if the loop is not running,
    // the next run returns Stopped at once. Any thread.
    void stop();
    // Interrupts the wait so the loop looks at its timers and sources again. Any thread.
    void wakeUp();
    // For a loop that trades performs with threads waiting on them: after a pass that ran a perform,
    // the loop looks for the next one for up to `window` (pausing, with no system call and no clock
    // read) before it sleeps, so an answer that follows at once finds it awake and costs no wake-up;
    // a thread waiting on one of its performs (Thread::perform) looks for the answer as long before it
    // sleeps. Its descriptors and timers wait meanwhile. Neither spins while the machine has more
    // threads runnable than cores, nor on a core the other side needs: the loop not on the core its
    // last perform was posted from, a waiter not on the core the loop lingers on. Zero (the default)
    // sleeps at once. Any thread.
    void setPerformLinger(Duration window);

    // The mode of the innermost run, or nullopt when the loop is not running.
    std::optional<RunLoopMode> currentMode() const;
    bool isCurrent() const; // the calling thread owns this loop
    void addCommonMode(const RunLoopMode& mode);

    // Queues `block` to run on this loop in one of `modes` (none given means the common modes). Returns
    // false, dropping the block, when the loop's thread has ended. Blocks run in FIFO order; one queued
    // during a pass runs next pass.
    bool performBlock(std::function<void()> block, std::vector<RunLoopMode> modes,
                      const void* target = nullptr);
    // The same in the common modes, without a list of modes to build and keep.
    bool performBlock(std::function<void()> block);
    // The same, no earlier than `delay` from now by Clock::current().
    bool performBlockAfter(Duration delay, std::function<void()> block,
                           std::vector<RunLoopMode> modes = {commonModes}, const void* target = nullptr);
    // Drops every pending perform (immediate or delayed) queued on this loop with `target`. The
    // target is an opaque key compared by address, usually the object the work is for; null matches
    // nothing. A perform already under way finishes.
    void cancelPerformsWithTarget(const void* target);

    // Registration (any thread). A timer or source belongs to one loop: adding it to a second one
    // aborts, unless it was first removed from every mode of the first. Adding an invalidated one does
    // nothing. The loop keeps what is registered alive until it is invalidated or removed from its last
    // mode; a timer removed from the mode a pass runs in gets no callout that has not begun.
    void addTimer(const std::shared_ptr<Timer>& timer, const RunLoopMode& mode);
    void removeTimer(const std::shared_ptr<Timer>& timer, const RunLoopMode& mode);
    void addSource(const std::shared_ptr<RunLoopFdSource>& source, const RunLoopMode& mode);
    void addSource(const std::shared_ptr<RunLoopSignalSource>& source, const RunLoopMode& mode);
    void removeSource(const std::shared_ptr<RunLoopFdSource>& source, const RunLoopMode& mode);
    void removeSource(const std::shared_ptr<RunLoopSignalSource>& source, const RunLoopMode& mode);

private:
    struct Internals; // shared with the timer and source classes
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    explicit RunLoop(PrivateTag);

private:
    friend class Timer;
    friend class RunLoopFdSource;
    friend class RunLoopSignalSource;
    friend class Thread;
    friend struct RunLoopThreadSlot;

    RunResult runInternal(const RunLoopMode& mode, std::optional<MonoTime> limitDate,
                          std::optional<std::chrono::steady_clock::time_point> realLimit,
                          bool returnAfterSourceHandled);
    void teardown();
    bool enqueuePerform(std::function<void()>&& block, std::vector<RunLoopMode>&& modes, const void* target);
    // Marks a timer or source as registered with this loop; false when it is already invalid.
    // Registering one item with a second loop is a programming error and aborts.
    template <typename Item> bool claim(Item& item, const char* what);
    // The item is on no loop any more and may be added to another.
    template <typename Item> static void unclaim(Item& item);
    // Claims a source, then (under the loop's lock, while the source is valid) lets `insert` enter it;
    // `insert` answers whether the loop must be woken to look at it.
    template <typename Source, typename Insert>
    void addSourceWith(const std::shared_ptr<Source>& source, const char* what, Insert insert);
    // Adds `mode` to the entry of `source` in `entries` (a source and its modes), making the entry when
    // there is none. Removing its last mode removes the entry and frees the source for another loop;
    // removeMode answers false when the source has no entry. Callers hold the loop's lock.
    template <typename Entries, typename Source>
    static void addMode(Entries& entries, const std::shared_ptr<Source>& source, const RunLoopMode& mode);
    template <typename Entries, typename Source>
    static bool removeMode(Entries& entries, const std::shared_ptr<Source>& source, const RunLoopMode& mode);

    std::unique_ptr<Internals> m_internals;
};

} // namespace platform
