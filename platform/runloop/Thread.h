#pragma once
// A named thread with its own run loop. Its body runs once start() is called; the default body runs
// the thread's loop in the default mode until cancel(). A custom body that wants performs runs the
// loop itself (runUntilCancelled() does that).
//
// Promises: start, cancel, perform and the state queries are safe from any thread. cancel() sets
// isCancelled and stops the thread's loop; it does not interrupt a body that never looks. When a
// thread ends, its loop drops what is still queued (a waiting perform then returns false).
// The Thread object stays alive while its thread runs.

#include "platform/runloop/RunLoop.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace platform {

class Thread : public std::enable_shared_from_this<Thread> {
public:
    // Not started. An empty body means "run the loop until cancelled".
    static std::shared_ptr<Thread> create(std::string name, std::function<void()> body = {});
    // Created and started.
    static std::shared_ptr<Thread> detachNewThread(std::string name, std::function<void()> body = {});

    // The calling thread's Thread: the one it was started as, the main thread's, or one made on
    // first use for a thread started otherwise (which cannot be started or joined).
    static std::shared_ptr<Thread> current();
    static std::shared_ptr<Thread> mainThread();
    static bool isMainThread();

    // Runs the calling thread's loop in the default mode until its Thread is cancelled.
    static void runUntilCancelled();

    void start(); // once; a second call does nothing
    void cancel();
    bool isCancelled() const;
    bool isExecuting() const;
    bool isFinished() const;
    const std::string& name() const { return m_name; }

    // The thread's run loop; after start() it blocks until the thread has made its loop.
    // Null before start().
    std::shared_ptr<RunLoop> runLoop() const;

    // Runs `block` on the thread's loop in one of `modes`. With waitUntilDone, returns when it has run
    // (at once, directly, when called on the thread itself). Returns false when the block was
    // dropped: the thread was not started, has ended, or ended before running it.
    bool perform(std::function<void()> block, bool waitUntilDone = false,
                 std::vector<RunLoopMode> modes = {RunLoop::commonModes});

    // Waits until the thread has ended. Not from the thread itself; does nothing if never started.
    void join();

private:
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    Thread(PrivateTag, std::string name, std::function<void()> body);

private:
    void main();

    const std::string m_name;
    std::function<void()> m_body;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_started{false};
    bool m_cancelled{false};
    bool m_executing{false};
    bool m_finished{false};
    bool m_adopted{false}; // stands for a thread it did not start
    std::shared_ptr<RunLoop> m_runLoop;
};

} // namespace platform
