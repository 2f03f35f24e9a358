#include "platform/net/ReachabilityHandle.h"

#include "platform/dispatch/DispatchQueue.h"

#include <mutex>
#include <optional>
#include <utility>

namespace platform {

struct ReachabilityHandle::Watch : std::enable_shared_from_this<Watch> {
    std::mutex mutex;
    std::weak_ptr<ReachabilityHandle> handle;
    ReachabilityTarget target;
    Callback callback;
    std::shared_ptr<DispatchQueue> queue;
    std::shared_ptr<ReachabilityProvider> provider; // while watching
    uint64_t observerId{0};
    uint64_t generation{0}; // bumped by every start and stop, so stale work recognises itself
    bool evaluationQueued{false};
    std::optional<ReachabilityFlags> delivered;

    bool watchingLocked() const { return provider != nullptr; }

    // Called with the lock held; hands back what to release (or remove) after unlocking.
    struct Detached {
        std::shared_ptr<ReachabilityProvider> provider;
        uint64_t observerId{0};
        void finish() {
            if (provider && observerId)
                provider->removeChangeObserver(observerId);
        }
    };

    Detached stopLocked() {
        Detached detached;
        if (!watchingLocked())
            return detached;
        ++generation;
        detached.provider = std::exchange(provider, nullptr);
        detached.observerId = std::exchange(observerId, 0);
        evaluationQueued = false;
        delivered.reset();
        return detached;
    }

    // Starts watching when both a callback and a queue are set. The observer is added after the lock
    // is let go (a provider may call it at once); it then queues the first evaluation itself.
    void update(std::unique_lock<std::mutex>& lock) {
        bool wanted = callback && queue;
        if (wanted == watchingLocked())
            return;
        if (!wanted) {
            auto detached = stopLocked();
            lock.unlock();
            detached.finish();
            lock.lock();
            return;
        }
        provider = ReachabilityProvider::current();
        uint64_t started = ++generation;
        auto chosen = provider;
        std::weak_ptr<Watch> weak = weak_from_this();
        lock.unlock();
        uint64_t id = chosen->addChangeObserver([weak, started] {
            if (auto watch = weak.lock())
                watch->changed(started);
        });
        lock.lock();
        if (generation != started) {
            // Stopped (or restarted) meanwhile: this registration is nobody's.
            lock.unlock();
            chosen->removeChangeObserver(id);
            lock.lock();
            return;
        }
        observerId = id;
        queueEvaluationLocked();
    }

    void changed(uint64_t started) {
        std::lock_guard lock(mutex);
        if (generation == started && watchingLocked())
            queueEvaluationLocked();
    }

    void queueEvaluationLocked() {
        if (evaluationQueued)
            return;
        evaluationQueued = true;
        std::weak_ptr<Watch> weak = weak_from_this();
        uint64_t started = generation;
        queue->async([weak, started] {
            if (auto watch = weak.lock())
                watch->evaluate(started);
        });
    }

    // On the handle's queue.
    void evaluate(uint64_t started) {
        std::shared_ptr<ReachabilityProvider> chosen;
        ReachabilityTarget what;
        {
            std::lock_guard lock(mutex);
            if (generation != started)
                return;
            evaluationQueued = false;
            chosen = provider;
            what = target;
        }
        ReachabilityFlags flags = chosen->flagsForTarget(what).value_or(0);
        Callback call;
        std::shared_ptr<ReachabilityHandle> owner;
        {
            std::lock_guard lock(mutex);
            if (generation != started || (delivered && *delivered == flags))
                return;
            owner = handle.lock();
            if (!owner)
                return;
            delivered = flags;
            call = callback;
        }
        if (call)
            call(*owner, flags);
    }
};

std::shared_ptr<ReachabilityHandle> ReachabilityHandle::createWithName(std::string_view name) {
    if (name.empty())
        return nullptr;
    auto handle =
        std::make_shared<ReachabilityHandle>(PrivateTag{}, ReachabilityTarget::forName(std::string(name)));
    handle->m_watch->handle = handle;
    return handle;
}

std::shared_ptr<ReachabilityHandle> ReachabilityHandle::createWithAddress(const sockaddr* address,
                                                                          socklen_t length) {
    auto target = ReachabilityTarget::forAddress(address, length);
    if (!target)
        return nullptr;
    auto handle = std::make_shared<ReachabilityHandle>(PrivateTag{}, std::move(*target));
    handle->m_watch->handle = handle;
    return handle;
}

ReachabilityHandle::ReachabilityHandle(PrivateTag, ReachabilityTarget target)
    : m_target(std::move(target))
    , m_watch(std::make_shared<Watch>()) {
    m_watch->target = m_target;
}

ReachabilityHandle::~ReachabilityHandle() {
    Watch::Detached detached;
    Callback callback;
    std::shared_ptr<DispatchQueue> queue;
    {
        std::lock_guard lock(m_watch->mutex);
        detached = m_watch->stopLocked();
        callback = std::move(m_watch->callback);
        queue = std::move(m_watch->queue);
    }
    detached.finish();
}

const ReachabilityTarget& ReachabilityHandle::target() const {
    return m_target;
}

bool ReachabilityHandle::getFlags(ReachabilityFlags* flags) const {
    auto read = ReachabilityProvider::current()->flagsForTarget(m_target);
    if (flags)
        *flags = read.value_or(0);
    return read.has_value();
}

bool ReachabilityHandle::setCallback(Callback callback) {
    Callback previous;
    std::unique_lock lock(m_watch->mutex);
    previous = std::exchange(m_watch->callback, std::move(callback));
    m_watch->update(lock);
    return true;
}

bool ReachabilityHandle::setDispatchQueue(std::shared_ptr<DispatchQueue> queue) {
    std::shared_ptr<DispatchQueue> previous;
    std::unique_lock lock(m_watch->mutex);
    previous = std::exchange(m_watch->queue, std::move(queue));
    m_watch->update(lock);
    return true;
}

std::string ReachabilityHandle::description() const {
    return "<ReachabilityHandle " + m_target.description() + ">";
}

} // namespace platform
