#include "platform/foundation/NotificationCenter.h"

#include <algorithm>
#include <atomic>
#include <new>

namespace platform {

struct NotificationCenter::Registration {
    const void* identity{nullptr};
    std::weak_ptr<const void> observer;
    bool weak{false};
    ObjectPtr kept; // the token of a block registration, so its address is not reused while registered
    std::string name;
    const Object* objectIdentity{nullptr};
    std::weak_ptr<Object> object;
    Block block;
    std::atomic<bool> removed{false};

    bool matches(const Notification& note) const {
        if (!name.empty() && name != note.name())
            return false;
        if (!objectIdentity)
            return true;
        // Same address and same owner: a new object made where a destroyed sender lived is not that sender.
        return note.object().get() == objectIdentity && !object.owner_before(note.object()) &&
               !note.object().owner_before(object);
    }

    // A registration whose observer or sender has gone can never be called again.
    bool isDead() const { return (weak && observer.expired()) || (objectIdentity && object.expired()); }
};

NotificationCenter::NotificationCenter() = default;
NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
    alignas(NotificationCenter) static unsigned char storage[sizeof(NotificationCenter)];
    static NotificationCenter* center = ::new (static_cast<void*>(storage)) NotificationCenter();
    return *center;
}

NotificationObserver NotificationCenter::addObserverForName(std::string_view name, const ObjectPtr& object,
                                                            Block block) {
    auto token = std::make_shared<NotificationObserverToken>();
    addRegistration(identityOf(token.get()), {}, false, name, object, std::move(block), token);
    return token;
}

void NotificationCenter::addRegistration(const void* identity, std::weak_ptr<const void> weakObserver,
                                         bool weak, std::string_view name, const ObjectPtr& object,
                                         Block block, ObjectPtr keptObserver) {
    auto registration = std::make_shared<Registration>();
    registration->identity = identity;
    registration->observer = std::move(weakObserver);
    registration->weak = weak;
    registration->kept = std::move(keptObserver);
    registration->name = std::string(name);
    registration->objectIdentity = object.get();
    registration->object = object;
    registration->block = std::move(block);

    // Blocks of pruned registrations may own objects whose destructors call back into the center, so
    // they are released only after the lock is let go.
    std::vector<std::shared_ptr<Registration>> released;
    std::lock_guard lock(m_mutex);
    auto dead = std::stable_partition(m_registrations.begin(), m_registrations.end(),
                                      [](const auto& r) { return !r->isDead(); });
    for (auto it = dead; it != m_registrations.end(); ++it) {
        (*it)->removed.store(true, std::memory_order_release);
        released.push_back(std::move(*it));
    }
    m_registrations.erase(dead, m_registrations.end());
    m_registrations.push_back(std::move(registration));
}

void NotificationCenter::removeRegistrations(const void* identity, std::string_view name,
                                             const Object* object) {
    if (!identity)
        return;
    std::vector<std::shared_ptr<Registration>> released;
    std::lock_guard lock(m_mutex);
    std::erase_if(m_registrations, [&](std::shared_ptr<Registration>& r) {
        if (r->identity != identity || (!name.empty() && r->name != name) ||
            (object && r->objectIdentity != object))
            return false;
        r->removed.store(true, std::memory_order_release);
        released.push_back(std::move(r));
        return true;
    });
}

void NotificationCenter::postNotification(const Notification& notification) {
    std::vector<std::shared_ptr<Registration>> matching;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& registration : m_registrations) {
            if (registration->matches(notification))
                matching.push_back(registration);
        }
    }
    for (const auto& registration : matching) {
        if (registration->removed.load(std::memory_order_acquire) || !registration->block)
            continue;
        // The observer is kept alive while its block runs, so it cannot be destroyed halfway through.
        std::shared_ptr<const void> observer;
        if (registration->weak) {
            observer = registration->observer.lock();
            if (!observer)
                continue;
        }
        registration->block(notification);
    }
}

void NotificationCenter::postNotificationName(std::string name, ObjectPtr object, Value userInfo) {
    postNotification(Notification(std::move(name), std::move(object), std::move(userInfo)));
}

} // namespace platform
