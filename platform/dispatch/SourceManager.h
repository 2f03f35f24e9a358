#pragma once
// The one thread that watches descriptors and clocks for dispatch: its run loop holds the timers
// behind `after` and timer sources and the descriptor sources behind read and write sources. Its
// callouts only decide and enqueue; handlers always run on their target queues.

#include "platform/foundation/Clock.h"

#include <functional>
#include <memory>

namespace platform {
class RunLoop;
class Thread;
} // namespace platform

namespace platform::detail {

class SourceManager {
public:
    static SourceManager& shared();

    // The manager thread's loop; register timers and sources here in RunLoop::defaultMode.
    const std::shared_ptr<RunLoop>& loop() const { return m_loop; }
    // Calls `fire` on the manager thread once Clock::current() reaches the deadline.
    void after(MonoTime deadline, std::function<void()> fire);

    SourceManager();
    // Ends the manager thread (at exit, before the statics it reads are destroyed).
    void stop();

private:
    std::shared_ptr<Thread> m_thread;
    std::shared_ptr<RunLoop> m_loop;
};

} // namespace platform::detail
