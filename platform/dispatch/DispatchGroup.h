#pragma once
// Tracks a set of blocks or enter/leave pairs. notify() queues a block on a queue once the group is
// empty (at once if it is empty now); wait() blocks until it is empty or the deadline (platform::Clock
// time) passes. Every notify registered before the group empties runs once for that emptying.
// Leaving more often than entering aborts. Shared; thread-safe.

#include "platform/dispatch/DispatchTime.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

class DispatchQueue;

class DispatchGroup : public std::enable_shared_from_this<DispatchGroup> {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    using Block = std::function<void()>;

    static std::shared_ptr<DispatchGroup> create();
    explicit DispatchGroup(PrivateTag) {}

    void enter();
    void leave();
    // enter(), the block on the queue, then leave().
    void async(const std::shared_ptr<DispatchQueue>& queue, Block block);
    void notify(const std::shared_ptr<DispatchQueue>& queue, Block block);
    // True when the group emptied, false when the deadline passed first.
    bool wait(MonoTime deadline = DispatchTime::forever());
    bool wait(Duration timeout) { return wait(DispatchTime::fromNow(timeout)); }

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    int64_t m_count{0};
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, Block>> m_notifications;
};

} // namespace platform
