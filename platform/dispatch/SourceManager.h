#pragma once
// What watches descriptors and clocks for dispatch: a thread whose run loop holds the timers behind
// `after` and timer sources, and one epoll set with the descriptors behind read and write sources,
// which idle pool workers watch in turn (WorkerPool::watchWhenIdle): a readiness wakes one worker,
// which goes on to run the handler it queued, instead of waking this thread to wake a worker. The
// callouts only decide and enqueue; handlers always run on their target queues.
// A descriptor's registration is one-shot: after it has reported readiness once it stays quiet until
// armed again, so a source whose handler is queued or running costs no wake-ups and the epoll set
// changes only when a source goes idle.

#include "platform/foundation/Clock.h"
#include "platform/foundation/FileDescriptor.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform {
class RunLoop;
class Thread;
} // namespace platform

struct epoll_event;

namespace platform::detail {

class SourceManager {
public:
    static SourceManager& shared();

    // The manager thread's loop; register timers and sources here in RunLoop::defaultMode.
    const std::shared_ptr<RunLoop>& loop() const { return m_loop; }
    // Calls `fire` on the manager thread once Clock::current() reaches the deadline.
    void after(MonoTime deadline, std::function<void()> fire);

    enum class Watch { Armed, AlwaysReady, Failed };
    // Registers `fd`, armed for `events` (EPOLLIN or EPOLLOUT; 0: unarmed); `ready` runs on the manager
    // watching worker (or the pool's watchdog) each time an armed registration reports. Each watch has a
    // registration of its own, so a read and a write source on one descriptor arm and report apart.
    // `*watched` is the descriptor to arm with. AlwaysReady: epoll refuses the descriptor (a regular file),
    // which is ready at any time. Failed: not a descriptor; it never reports. Thread-safe.
    Watch watch(int fd, uint32_t events, std::function<void()> ready, uint64_t* token, int* watched);
    // Arms the registration again; a descriptor already ready reports at once. Thread-safe.
    bool arm(uint64_t token, int watched, uint32_t events);
    // When it returns the registration is gone, so the owner may close the descriptor; a report the
    // watcher had already taken may still make one `ready` call, which must find its owner done.
    void unwatch(uint64_t token);

    SourceManager();
    // Ends the manager thread and drops readiness from then on (at exit, before the statics they read
    // are destroyed).
    void stop();

private:
    void descriptorsReady(const epoll_event* events, int count);

    std::shared_ptr<Thread> m_thread;
    std::shared_ptr<RunLoop> m_loop;
    FileDescriptor m_epoll;
    std::mutex m_watchMutex;
    struct Watched {
        std::shared_ptr<std::function<void()>> ready;
        int fd{-1};
        FileDescriptor duplicate; // the registration's own descriptor when another watch has `fd`
    };
    std::unordered_map<uint64_t, Watched> m_watched;
    uint64_t m_nextToken{1}; // counts up from 1: the pool keeps the highest value for its own wake
    std::atomic<bool> m_stopped{false};
};

} // namespace platform::detail
