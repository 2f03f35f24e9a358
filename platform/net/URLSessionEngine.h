#pragma once
// The network thread every session shares: one libcurl multi handle driven by the thread's run loop
// (curl's sockets are run-loop descriptor sources, curl's timer a timerfd), and the loads of the
// tasks under way. Made on first use; torn down at process exit (the thread is joined, transfers are
// dropped without reports) so nothing outlives the statics it uses.
//
// Promises: start, cancel and post are safe from any thread; everything they cause runs on the
// network thread. The loads and curl are touched only there. Starts that arrive while earlier ones
// still wait are taken in one pass, in the order they came, so a burst wakes the thread once.

#include "platform/foundation/Clock.h"
#include "platform/net/HomeBlockPool.h"
#include "platform/net/URLSessionTask.h"
#include "platform/runloop/RunLoopFdSource.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/Timer.h"

#include <atomic>
#include <curl/curl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace platform::detail {

class URLSessionDelivery;
class URLSessionLoad;

class URLSessionEngine {
public:
    // What the network thread did, counted since it started: the hand-offs and epoll changes a
    // request costs are checked by tests and reported by benchmarks. Any thread.
    struct Counts {
        uint64_t startPasses{0};     // passes that began the tasks waiting to start
        uint64_t socketsWatched{0};  // sockets of curl's given a run-loop source
        uint64_t watchChanges{0};    // changes of the readiness a watched socket waits for
        uint64_t timersMade{0};      // run-loop timers made for the loads' time-outs
        uint64_t handlesReset{0};    // kept transfer handles wiped of their options before reuse
        uint64_t deliveryPosts{0};   // blocks handed to the tasks' deliveries, each carrying reports
        uint64_t deadlinesMade{0};   // entries made for the loads' deadlines (moved ones are reused)
        uint64_t addressesParsed{0}; // URLs parsed for a transfer handle that did not hold them already
        uint64_t blocksReused{0};    // responses and bodies placed in blocks let go of after delivery
    };

    static URLSessionEngine& shared();
    Counts counts() const;

    void start(const URLSessionTaskPtr& task);
    void cancel(uint64_t taskIdentifier);
    // Runs `work` on the network thread with the load of that task, if it is still under way.
    void withLoad(uint64_t taskIdentifier, std::function<void(URLSessionLoad&)> work);
    // Runs `work` on the network thread. False when the engine has been torn down.
    bool post(std::function<void()> work);

    // For loads, on the network thread.
    std::shared_ptr<RunLoop> runLoop() const { return m_loop; }
    // Where a load places what crosses to its delivery (the response, the body gathered for a
    // completion handler): freeing it there costs the network thread's allocator no lock.
    std::pmr::memory_resource* blocks() { return &m_blocks; }
    // Hands `block` to the task's delivery after what the network thread is doing now, in order with
    // the other reports of that work: the reports a pass over the ready sockets makes for one delivery
    // (the completions of many transfers, a task's last data and its end) go in one post. When the
    // delivery has gone (a run loop whose thread ended), `ifDropped` says what becomes of the task.
    enum class IfDropped { CancelLoad, EndTask };
    void deliver(const URLSessionTaskPtr& task, std::function<void()> block, IfDropped ifDropped);
    bool addTransfer(CURL* easy);
    void removeTransfer(CURL* easy);
    void loadEnded(uint64_t taskIdentifier); // the load is destroyed once the current callout returns
    // The load holds body bytes not yet handed out: its flush() runs before the current callout ends.
    void flushSoon(uint64_t taskIdentifier);
    // Easy handles outlive their transfers: a kept handle is ready sooner than a new one. One whose
    // last transfer set only the options every transfer sets (`plain`) keeps them, so the next
    // transfer sets just what is its own; any other is reset. `configured`: the handle holds them.
    // `address` is the handle's own parsed URL, handed to curl in place of text it would parse and
    // print back on every transfer; `addressText` is what it holds while curl has it (empty when not).
    struct EasyHandle {
        CURL* easy{nullptr};
        bool configured{false};
        CURLU* address{nullptr};
        std::string addressText;
    };
    EasyHandle takeEasy();
    void recycleEasy(EasyHandle handle, bool plain);
    // Hands the transfer handle `address` (without a fragment) parsed, unless it holds it already.
    void setAddress(EasyHandle& handle, std::string_view address);
    // The time of the current callout, read once however many loads ask (Clock::now() outside one).
    MonoTime now();
    // A load's time-outs share the engine's one run-loop timer: moving a deadline costs no timer of
    // its own. At the time, the load's deadlinePassed(kind) runs, unless it has ended.
    enum class Deadline { Idle, Resource };
    void moveDeadline(uint64_t taskIdentifier, Deadline kind, std::optional<MonoTime> from,
                      std::optional<MonoTime> to);

    URLSessionEngine();
    URLSessionEngine(const URLSessionEngine&) = delete;
    URLSessionEngine& operator=(const URLSessionEngine&) = delete;

private:
    // Marks work of the engine on the network thread; the outermost one, as it ends, runs what curl
    // asked to run "now" and lets go of the loads that ended, without a trip through the run loop.
    class Callout;

    // A socket of curl's and the readiness curl waits for on it (None while its connection is idle).
    struct SocketWatch {
        std::shared_ptr<RunLoopFdSource> source;
        uint32_t wanted{RunLoopFdSource::None};
    };

    void setUp();
    void tearDown();
    void startWaiting();
    void begin(const URLSessionTaskPtr& task);
    void socketReady(int fd, uint32_t ready);
    void socketAction(int fd, int mask);
    void readCompleted();
    void flushLoads();
    void calloutEnded();
    void passReports();
    void sendReports();
    // Keeps the entry of a deadline that went for the next one, unless enough are kept already.
    void keepSpareDeadline(std::set<std::tuple<MonoTime, uint64_t, Deadline>>::node_type entry);
    static int socketCallback(CURL* easy, int fd, int what, void* engine, void* socketData);
    static int timerCallback(CURLM* multi, long timeoutMs, void* engine);
    static int closeSocketCallback(void* engine, curl_socket_t fd);
    void dropEasy(const EasyHandle& handle);
    void armTimer(long timeoutMs); // negative: disarmed
    void armDeadlineTimer(MonoTime at);
    void deadlinesDue();

    HomeBlockPool m_blocks; // first, so it outlives whatever the rest let go of
    std::shared_ptr<Thread> m_thread;
    std::shared_ptr<RunLoop> m_loop;
    CURLM* m_multi{nullptr};
    int m_timerFd{-1};
    std::shared_ptr<RunLoopFdSource> m_timerSource;
    std::unordered_map<int, SocketWatch> m_sockets;
    std::unordered_map<uint64_t, std::unique_ptr<URLSessionLoad>> m_loads;
    std::vector<EasyHandle> m_idleEasy;
    int m_callouts{0};
    bool m_timeoutDue{false}; // curl's timer ran out at once, inside a callout
    bool m_timerArmed{false};
    std::vector<uint64_t> m_endedLoads;
    std::vector<uint64_t> m_unflushedLoads;
    std::optional<MonoTime> m_calloutTime;
    using DeadlineSet = std::set<std::tuple<MonoTime, uint64_t, Deadline>>;
    DeadlineSet m_deadlines;
    // Entries of deadlines that went, kept for the next load's: a burst of requests sets and clears
    // two deadlines each without asking the allocator.
    std::vector<DeadlineSet::node_type> m_spareDeadlines;
    std::shared_ptr<Timer> m_deadlineTimer; // armed no later than the earliest deadline
    // When it is armed for, kept here: the timer's own date sits behind a lock other threads take.
    MonoTime m_deadlineTimerAt;
    bool m_tornDown{false};

    struct Report {
        URLSessionTaskPtr task;
        std::shared_ptr<URLSessionDelivery> delivery;
        std::function<void()> block;
        IfDropped ifDropped;
        bool sent{false};
    };
    std::vector<Report> m_reports; // made on the network thread, not yet handed to their deliveries
    bool m_inSocketPass{false};    // inside the run loop's pass over ready descriptors
    bool m_reportsQueued{false};   // a perform that sends m_reports is waiting in the run loop

    std::mutex m_startMutex; // guards m_starting, which any thread appends to
    std::vector<URLSessionTaskPtr> m_starting;
    std::atomic<bool> m_startsWaiting{false}; // m_starting has tasks; a hint read without the lock

    std::atomic<uint64_t> m_startPasses{0};
    std::atomic<uint64_t> m_socketsWatched{0};
    std::atomic<uint64_t> m_watchChanges{0};
    std::atomic<uint64_t> m_timersMade{0};
    std::atomic<uint64_t> m_handlesReset{0};
    std::atomic<uint64_t> m_deliveryPosts{0};
    std::atomic<uint64_t> m_deadlinesMade{0};
    std::atomic<uint64_t> m_addressesParsed{0};
};

} // namespace platform::detail
