#include "platform/dispatch/DispatchGroup.h"

#include "platform/dispatch/ClockWait.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/WorkerPool.h"
#include "platform/foundation/Fatal.h"

#include <optional>

namespace platform {

std::shared_ptr<DispatchGroup> DispatchGroup::create() {
    return std::make_shared<DispatchGroup>(PrivateTag{});
}

void DispatchGroup::enter() {
    std::lock_guard lock(m_mutex);
    ++m_count;
}

void DispatchGroup::leave() {
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, Block>> ready;
    {
        std::lock_guard lock(m_mutex);
        if (m_count == 0)
            fatalError("dispatch: group left more often than entered");
        if (--m_count > 0)
            return;
        ready.swap(m_notifications);
        m_condition.notify_all();
    }
    for (auto& [queue, block] : ready)
        queue->async(std::move(block));
}

void DispatchGroup::async(const std::shared_ptr<DispatchQueue>& queue, Block block) {
    enter();
    queue->async([self = shared_from_this(), block = std::move(block)] {
        // Leave even when the block throws, though the queue then stops the process anyway.
        struct Leave {
            DispatchGroup* group;
            ~Leave() { group->leave(); }
        } leave{self.get()};
        block();
    });
}

void DispatchGroup::notify(const std::shared_ptr<DispatchQueue>& queue, Block block) {
    {
        std::lock_guard lock(m_mutex);
        if (m_count > 0) {
            m_notifications.emplace_back(queue, std::move(block));
            return;
        }
    }
    queue->async(std::move(block));
}

bool DispatchGroup::wait(MonoTime deadline) {
    {
        std::lock_guard lock(m_mutex);
        if (m_count == 0)
            return true;
    }
    detail::WorkerPool::BlockingScope blocking;
    std::optional<detail::ClockWait> clockWait;
    if (deadline != DispatchTime::forever())
        clockWait.emplace(m_mutex, m_condition);
    std::unique_lock lock(m_mutex);
    auto empty = [this] { return m_count == 0; };
    if (clockWait)
        return clockWait->waitUntil(lock, deadline, empty);
    m_condition.wait(lock, empty);
    return true;
}

} // namespace platform
