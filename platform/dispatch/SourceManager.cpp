#include "platform/dispatch/SourceManager.h"

#include "platform/foundation/Fatal.h"
#include "platform/foundation/Immortal.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/Timer.h"

#include <atomic>
#include <cstdlib>

namespace platform::detail {

SourceManager& SourceManager::shared() {
    static Immortal<SourceManager> manager;
    return manager.get();
}

namespace {
std::atomic<bool> g_started{false};

// The manager's loop reads the clock until it has stopped, so at exit it must stop before the system
// clock (a function-local static) is destroyed. Exit handlers and static destructors run in reverse
// order of registration, so this one is registered while statics are initialised, just after making
// sure the system clock exists: later installs of a test clock cannot reorder the two.
const bool g_exitHandlerRegistered = [] {
    Clock::current();
    std::atexit([] {
        if (g_started.load())
            SourceManager::shared().stop();
    });
    return true;
}();
} // namespace

SourceManager::SourceManager()
    : m_thread(Thread::detachNewThread("dispatch-manager"))
    , m_loop(m_thread->runLoop()) {
    if (!m_loop)
        fatalError("dispatch: the source manager thread has no run loop");
    g_started = true;
}

void SourceManager::stop() {
    m_thread->cancel();
    if (!m_thread->isFinished() && !m_loop->isCurrent())
        m_thread->join();
}

void SourceManager::after(MonoTime deadline, std::function<void()> fire) {
    auto timer =
        Timer::create(deadline, Duration::zero(), false, [fire = std::move(fire)](Timer&) { fire(); });
    m_loop->addTimer(timer, RunLoop::defaultMode);
}

} // namespace platform::detail
