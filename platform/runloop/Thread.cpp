#include "platform/runloop/Thread.h"

#include "platform/foundation/Fatal.h"
#include "platform/foundation/Futex.h"
#include "platform/runloop/RunLoopInternals.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <thread>

namespace platform {

namespace {

thread_local std::shared_ptr<Thread> t_currentThread;

// What a waiting perform waits for. The queued block owns the only Completion; when the block is
// destroyed, run or dropped unrun by a loop whose thread ended, the waiter is released either way.
constexpr uint32_t kRan = 1;

struct Completion {
    // Shared with the waiter, so the word outlives the wake even when the waiter returns first.
    std::shared_ptr<ReleaseWord> wait;
    ~Completion() { wait->release(); }
};

} // namespace

std::shared_ptr<Thread> Thread::create(std::string name, std::function<void()> body) {
    return std::make_shared<Thread>(PrivateTag{}, std::move(name), std::move(body));
}

std::shared_ptr<Thread> Thread::detachNewThread(std::string name, std::function<void()> body) {
    auto thread = create(std::move(name), std::move(body));
    thread->start();
    return thread;
}

Thread::Thread(PrivateTag, std::string name, std::function<void()> body)
    : m_name(std::move(name))
    , m_body(std::move(body)) {}

std::shared_ptr<Thread> Thread::current() {
    if (t_currentThread)
        return t_currentThread;
    if (RunLoop::isMainThread()) {
        t_currentThread = mainThread();
    } else {
        auto adopted = create({});
        adopted->m_adopted = true;
        adopted->m_started = true;
        adopted->m_executing = true;
        adopted->m_runLoop = RunLoop::current();
        t_currentThread = adopted;
    }
    return t_currentThread;
}

std::shared_ptr<Thread> Thread::mainThread() {
    static const std::shared_ptr<Thread> main = [] {
        auto thread = create("main");
        thread->m_adopted = true;
        thread->m_started = true;
        thread->m_executing = true;
        thread->m_runLoop = RunLoop::main();
        return thread;
    }();
    return main;
}

bool Thread::isMainThread() {
    return RunLoop::isMainThread();
}

void Thread::runUntilCancelled() {
    auto thread = current();
    auto loop = RunLoop::current();
    while (!thread->isCancelled())
        loop->run();
}

void Thread::start() {
    {
        std::lock_guard lock(m_mutex);
        if (m_started || m_adopted)
            return;
        m_started = true;
    }
    // The thread holds its Thread until it ends, so a started Thread never dies under its body.
    std::thread([self = shared_from_this()] { self->main(); }).detach();
}

void Thread::main() {
    t_currentThread = shared_from_this();
    // The kernel keeps 15 bytes of a thread's name; the rest is only for our own logs.
    pthread_setname_np(pthread_self(), m_name.substr(0, 15).c_str());
    auto loop = RunLoop::current();
    {
        std::lock_guard lock(m_mutex);
        m_runLoop = loop;
        m_executing = true;
    }
    m_changed.notify_all();

    if (m_body)
        m_body();
    else
        runUntilCancelled();

    // Drop what is still queued now rather than at thread exit, so that a waiting perform returns and
    // everything the thread's work captured is gone by the time join() returns.
    loop->teardown();
    auto body = std::move(m_body);
    body = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_executing = false;
        m_finished = true;
    }
    m_changed.notify_all();
    t_currentThread.reset();
}

void Thread::cancel() {
    std::shared_ptr<RunLoop> loop;
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        loop = m_runLoop;
    }
    if (loop)
        loop->stop();
}

bool Thread::isCancelled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

bool Thread::isExecuting() const {
    std::lock_guard lock(m_mutex);
    return m_executing;
}

bool Thread::isFinished() const {
    std::lock_guard lock(m_mutex);
    return m_finished;
}

std::shared_ptr<RunLoop> Thread::runLoop() const {
    std::unique_lock lock(m_mutex);
    if (!m_started)
        return nullptr;
    m_changed.wait(lock, [this] { return m_runLoop != nullptr; });
    return m_runLoop;
}

bool Thread::perform(std::function<void()> block, bool waitUntilDone, std::vector<RunLoopMode> modes) {
    auto loop = runLoop();
    if (!loop)
        return false;
    if (!waitUntilDone)
        return loop->performBlock(std::move(block), std::move(modes));
    if (loop->isCurrent()) {
        // Waiting on itself would never end; the thread runs the block in place instead.
        if (block)
            block();
        return true;
    }
    auto wait = std::make_shared<ReleaseWord>();
    auto completion = std::make_shared<Completion>();
    completion->wait = wait;
    bool queued = loop->performBlock(
        [block = std::move(block), completion = std::move(completion)] {
            if (block)
                block();
            completion->wait->mark(kRan);
        },
        std::move(modes));
    if (!queued)
        return false;
    // A loop that lingers after performs answers trades within microseconds: its waiter looks as long.
    return wait->await(loop->m_internals->waiterLookPauses()) & kRan;
}

void Thread::join() {
    std::unique_lock lock(m_mutex);
    if (!m_started || m_adopted)
        return;
    if (t_currentThread.get() == this) {
        fatalError("Thread: join() called by the thread \"" + m_name + "\" on itself");
    }
    m_changed.wait(lock, [this] { return m_finished; });
}

} // namespace platform
