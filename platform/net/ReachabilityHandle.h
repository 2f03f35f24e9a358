#pragma once
// A reachability handle (the platform's reachability reference): one target, its flags read on
// demand, and change callbacks on a dispatch queue. Flags come from the installed
// ReachabilityProvider.
//
// Promises: thread-safe. getFlags() may block while a name resolves (keep it off the main thread).
// With a callback and a queue both set the handle watches: the first callback comes, on the queue,
// once the first flags are known, whatever they are; later ones only when the flags differ from the
// last ones delivered. Callbacks run one at a time on a serial queue. Removing the queue (or the
// callback) stops watching: no callback starts afterwards, one already running finishes. Queued work
// holds the handle weakly; a handle that goes away stops watching.
//
//     handle->setCallback([weakOwner](ReachabilityHandle&, ReachabilityFlags flags) { ... });
//     handle->setDispatchQueue(queue);   // the first callback follows on `queue`
//     ...
//     handle->setDispatchQueue(nullptr); // stops

#include "platform/foundation/Object.h"
#include "platform/net/ReachabilityProvider.h"

#include <functional>
#include <memory>
#include <string_view>

namespace platform {

class DispatchQueue;

class ReachabilityHandle final : public Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    using Callback = std::function<void(ReachabilityHandle& handle, ReachabilityFlags flags)>;

    // Null for an empty name.
    static std::shared_ptr<ReachabilityHandle> createWithName(std::string_view name);
    // Null for a family other than IPv4 and IPv6, or a short length.
    static std::shared_ptr<ReachabilityHandle> createWithAddress(const sockaddr* address, socklen_t length);

    ReachabilityHandle(PrivateTag, ReachabilityTarget target);
    ~ReachabilityHandle() override;

    const ReachabilityTarget& target() const;

    // False (and *flags = 0) when the flags cannot be read.
    bool getFlags(ReachabilityFlags* flags) const;

    // An empty callback removes it. Always succeeds.
    bool setCallback(Callback callback);
    // Null removes the queue. Always succeeds.
    bool setDispatchQueue(std::shared_ptr<DispatchQueue> queue);

    std::string description() const override;

private:
    struct Watch; // shared with the provider's observer and the blocks queued for callbacks

    const ReachabilityTarget m_target;
    const std::shared_ptr<Watch> m_watch;
};

using ReachabilityHandlePtr = std::shared_ptr<ReachabilityHandle>;

} // namespace platform
