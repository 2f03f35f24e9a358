#pragma once
// The network thread every session shares: one libcurl multi handle driven by the thread's run loop
// (curl's sockets are run-loop descriptor sources, curl's timer a timerfd), and the loads of the
// tasks under way. Made on first use; torn down at process exit (the thread is joined, transfers are
// dropped without reports) so nothing outlives the statics it uses.
//
// Promises: start, cancel and post are safe from any thread; everything they cause runs on the
// network thread. The loads and curl are touched only there.

#include "platform/net/URLSessionTask.h"
#include "platform/runloop/RunLoopFdSource.h"
#include "platform/runloop/Thread.h"

#include <curl/curl.h>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace platform::detail {

class URLSessionLoad;

class URLSessionEngine {
public:
    static URLSessionEngine& shared();

    void start(const URLSessionTaskPtr& task);
    void cancel(uint64_t taskIdentifier);
    // Runs `work` on the network thread with the load of that task, if it is still under way.
    void withLoad(uint64_t taskIdentifier, std::function<void(URLSessionLoad&)> work);
    // Runs `work` on the network thread. False when the engine has been torn down.
    bool post(std::function<void()> work);

    // For loads, on the network thread.
    std::shared_ptr<RunLoop> runLoop() const { return m_loop; }
    bool addTransfer(CURL* easy);
    void removeTransfer(CURL* easy);
    void loadEnded(uint64_t taskIdentifier); // the load is destroyed once the current callout returns
    // Easy handles outlive their transfers: a reset handle is ready sooner than a new one.
    CURL* takeEasy();
    void recycleEasy(CURL* easy);

    URLSessionEngine();
    URLSessionEngine(const URLSessionEngine&) = delete;
    URLSessionEngine& operator=(const URLSessionEngine&) = delete;

private:
    // Marks work of the engine on the network thread; the outermost one, as it ends, runs what curl
    // asked to run "now" and lets go of the loads that ended, without a trip through the run loop.
    class Callout;

    void setUp();
    void tearDown();
    void socketAction(int fd, int mask);
    void readCompleted();
    void flushLoads();
    void calloutEnded();
    static int socketCallback(CURL* easy, int fd, int what, void* engine, void* socketData);
    static int timerCallback(CURLM* multi, long timeoutMs, void* engine);
    void armTimer(long timeoutMs); // negative: disarmed

    std::shared_ptr<Thread> m_thread;
    std::shared_ptr<RunLoop> m_loop;
    CURLM* m_multi{nullptr};
    int m_timerFd{-1};
    std::shared_ptr<RunLoopFdSource> m_timerSource;
    std::unordered_map<int, std::shared_ptr<RunLoopFdSource>> m_sockets;
    std::unordered_map<uint64_t, std::unique_ptr<URLSessionLoad>> m_loads;
    std::vector<CURL*> m_idleEasy;
    int m_callouts{0};
    bool m_timeoutDue{false}; // curl's timer ran out at once, inside a callout
    bool m_timerArmed{false};
    std::vector<uint64_t> m_endedLoads;
    bool m_tornDown{false};
};

} // namespace platform::detail
