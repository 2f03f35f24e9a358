#pragma once
// A source that fires when someone signals it: signal() from any thread marks it and wakes its run
// loop; the loop then calls the callout once for all the signals since the last callout. What to do
// is the owner's state (a queue it drains in the callout), not the signal's.
//
// Promises: signal and invalidate are safe from any thread, including the callout. A signal that
// arrives during the callout causes another callout in a later pass. After invalidate() returns, no
// callout that has not begun happens.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace platform {

class RunLoop;

class RunLoopSignalSource : public std::enable_shared_from_this<RunLoopSignalSource> {
public:
    static std::shared_ptr<RunLoopSignalSource> create(std::function<void()> callout);

    void signal();
    void invalidate();
    bool isValid() const;

private:
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    RunLoopSignalSource(PrivateTag, std::function<void()> callout);

private:
    friend class RunLoop;

    std::atomic<bool> m_signaled{false};
    mutable std::mutex m_mutex;
    bool m_valid{true};
    std::shared_ptr<std::function<void()>> m_callout;
    std::weak_ptr<RunLoop> m_loop;
    bool m_scheduled{false};
};

} // namespace platform
