#pragma once
// Many-listener broadcasts within the process: a poster names a notification, observers registered for
// that name (or for every name), and optionally for one sending object, are called.
//
// Promises: delivery is synchronous, on the posting thread, in registration order; post() returns when
// every observer has run. Posting, adding and removing are safe from any thread and from inside an
// observer (a nested post is delivered in full before the outer one continues). An observer removed
// while a post is under way is not called later in that post; one added during a post is first called
// by the next post. Observer objects are held weakly: one that has been destroyed is skipped, never
// called. Not promised: any order between posts made concurrently on different threads, or that an
// observer removed on one thread is not running at that moment on another.
//
//     center.addObserver(self, kName, nullptr, [weak = std::weak_ptr(self)](const Notification& note) {
//         if (auto strong = weak.lock())
//             strong->nameChanged(note);
//     });
//     ...
//     center.removeObserver(this); // in the destructor too: the weak pointer has expired, `this` has not
//
// Delivery on a queue (the platform's queue-taking addObserverForName) belongs with dispatch: it will be
// an overload of addObserverForName that takes the queue before the block and wraps the block so it
// is enqueued there. The registration, removal and matching below stay as they are.

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace platform {

// A posted notification: its name, the object that sent it (held for the length of the post), and
// a user-info dictionary (nil when none).
class Notification {
public:
    Notification(std::string name, ObjectPtr object = nullptr, Value userInfo = {})
        : m_name(std::move(name))
        , m_object(std::move(object))
        , m_userInfo(std::move(userInfo)) {}

    const std::string& name() const { return m_name; }
    const ObjectPtr& object() const { return m_object; }
    const Value& userInfo() const { return m_userInfo; }

private:
    std::string m_name;
    ObjectPtr m_object;
    Value m_userInfo;
};

// What addObserverForName returns: the center keeps it until it is passed to removeObserver.
class NotificationObserverToken final : public Object {};
using NotificationObserver = std::shared_ptr<NotificationObserverToken>;

class NotificationCenter {
public:
    using Block = std::function<void(const Notification&)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The process-wide center. It is never destroyed, so observers may still remove themselves
    // while static objects are torn down at exit.
    static NotificationCenter& defaultCenter();

    // Calls `block` for notifications named `name` (every name when empty) sent by `object` (any
    // sender when null), as long as `observer` lives. The observer identifies the registration for
    // removeObserver; it is not kept alive by the center.
    template <typename T>
    void addObserver(const std::shared_ptr<T>& observer, std::string_view name, const ObjectPtr& object,
                     Block block) {
        addRegistration(identityOf(observer.get()), std::weak_ptr<const void>(observer), true, name, object,
                        std::move(block));
    }

    // Calls `block` for matching notifications until the returned token is removed. The center keeps
    // the registration (and the token) alive until then.
    NotificationObserver addObserverForName(std::string_view name, const ObjectPtr& object, Block block);

    // Every registration of the observer (or token), or only those for `name` (every name when empty)
    // and `object` (every sender when null). Accepts the observer or `this` from within it.
    template <typename T>
    void removeObserver(const T* observer, std::string_view name = {}, const ObjectPtr& object = nullptr) {
        removeRegistrations(identityOf(observer), name, object.get());
    }
    template <typename T>
    void removeObserver(const std::shared_ptr<T>& observer, std::string_view name = {},
                        const ObjectPtr& object = nullptr) {
        removeObserver(observer.get(), name, object);
    }

    void postNotification(const Notification& notification);
    void postNotificationName(std::string name, ObjectPtr object = nullptr, Value userInfo = {});

private:
    struct Registration;

    // Registrations are matched by the address of the observer's Object part when it has one, so an
    // observer registered through its own class can be removed through an ObjectPtr, and the reverse.
    template <typename T> static const void* identityOf(const T* observer) {
        if constexpr (std::is_base_of_v<Object, T>)
            return static_cast<const Object*>(observer);
        else
            return static_cast<const void*>(observer);
    }

    void addRegistration(const void* identity, std::weak_ptr<const void> weakObserver, bool weak,
                         std::string_view name, const ObjectPtr& object, Block block,
                         ObjectPtr keptObserver = nullptr);
    void removeRegistrations(const void* identity, std::string_view name, const Object* object);

    std::mutex m_mutex;
    std::vector<std::shared_ptr<Registration>> m_registrations;
};

} // namespace platform
