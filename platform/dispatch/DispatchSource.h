#pragma once
// Event sources whose handlers run on a target queue: a descriptor becoming readable or writable, or a
// timer in platform::Clock time. Idle pool workers watch the descriptors, the manager thread the timers;
// handlers only ever run on the queue. Promises: a source is created suspended (resume it once to start);
// suspend/resume nest, and resuming more than suspending aborts. One event handler at a time per source;
// events that arrive meanwhile are merged (descriptors are level-triggered: looked at again after the
// handler, on the target queue, and handled again there while still ready; timer fires add up in data()).
// After cancel() no event handler starts; the cancel handler runs once on the target queue, after the last
// event handler has returned, and only while the source is resumed. A descriptor's registration is gone when
// cancel() returns, so the cancel handler may close it. Ownership: a resumed source keeps itself alive until
// its cancel handler has been queued; the handlers are released then. Without a cancel handler nothing is
// queued: the call that finishes the cancellation (cancel, resume, or the last event handler's return)
// releases the source and its event handler itself. Thread-safe.

#include "platform/foundation/Clock.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>

namespace platform {

class DispatchQueue;
class Timer;

enum class DispatchSourceType { Read, Write, Timer };

class DispatchSource : public std::enable_shared_from_this<DispatchSource> {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    using Handler = std::function<void()>;

    // data() of a read source on a listening socket: the pending connection count is not known.
    static constexpr uint64_t manyConnections = std::numeric_limits<int64_t>::max();

    // The type's factory below; `handle` is the descriptor (ignored for timers).
    static std::shared_ptr<DispatchSource> create(DispatchSourceType type, int handle,
                                                  std::shared_ptr<DispatchQueue> queue);
    // data(): bytes readable (0 at end of stream), or manyConnections on a socket listening when the
    // source was first resumed. A wake-up whose bytes another read took first is not an event.
    static std::shared_ptr<DispatchSource> createRead(int fd, std::shared_ptr<DispatchQueue> queue);
    // data(): an estimate of the bytes that can be written without blocking (at least 1).
    static std::shared_ptr<DispatchSource> createWrite(int fd, std::shared_ptr<DispatchQueue> queue);
    // data(): the number of fires since the handler last ran. Unarmed until setTimer.
    static std::shared_ptr<DispatchSource> createTimer(std::shared_ptr<DispatchQueue> queue);

    DispatchSource(PrivateTag, DispatchSourceType type, int fd, std::shared_ptr<DispatchQueue> queue);
    ~DispatchSource();

    DispatchSourceType type() const { return m_type; }
    int handle() const { return m_fd; }
    // The value for the event handler now running (see the factories).
    uint64_t data() const;

    void setEventHandler(Handler handler);
    void setCancelHandler(Handler handler);

    // Timers: first fire at `start`, then every `interval`; a zero or Duration::max() interval fires once.
    // Replaces any earlier setting, also from the timer's own handler. start == forever disarms.
    // Leeway is accepted for the platform's signature and not used.
    void setTimer(MonoTime start, Duration interval, Duration leeway = Duration::zero());

    void resume();
    void suspend();
    void cancel();
    bool isCancelled() const;

private:
    void activateLocked();
    void armTimerLocked();
    bool isIdleLocked() const;
    void settleLocked(bool afterHandler = false);
    void armLocked();
    bool watchLocked();
    bool deliverIfReadyLocked();
    uint32_t epollEvents() const;
    std::optional<uint64_t> readyNow() const;
    void deliverLocked();
    // What a cancellation finished without a cancel handler lets go of; its owner holds it past the
    // lock, so the source (maybe its last reference) and the handler's captures go after the unlock.
    struct Released {
        std::shared_ptr<DispatchSource> self;
        std::shared_ptr<Handler> eventHandler;
    };
    void maybeFinishCancelLocked(Released& released);
    void descriptorReady();
    void timerFired(uint64_t generation);
    void runEventHandler();
    void runCancelHandler();
    std::optional<uint64_t> measure() const;
    std::optional<uint64_t> endOrNothing() const;
    bool nothingToReadNow() const;
    bool refusedCountForListening() const;

    const DispatchSourceType m_type;
    const int m_fd;
    const std::shared_ptr<DispatchQueue> m_queue;
    mutable std::mutex m_mutex;
    std::shared_ptr<Handler> m_eventHandler;
    Handler m_cancelHandler;
    int m_suspendCount{1};
    bool m_activated{false};
    // Asked once, the first time the descriptor refuses a read count (as a listening socket does): a
    // connected socket, the common case, is never asked. A descriptor does not start listening later.
    mutable bool m_listening{false};
    mutable bool m_listeningKnown{false};
    bool m_cancelled{false};
    bool m_registrationGone{true};
    bool m_cancelQueued{false};
    bool m_handlerQueued{false};
    bool m_handlerRunning{false};
    bool m_hasEvent{false};
    uint64_t m_pendingData{0};
    uint64_t m_currentData{0};
    std::shared_ptr<DispatchSource> m_self;
    uint64_t m_watchToken{0}; // the descriptor's registration with the manager; 0 when none
    int m_watchedFd{-1};      // the descriptor registered: m_fd, or the manager's duplicate of it
    bool m_armed{false};
    bool m_alwaysReady{false};  // a descriptor epoll refuses (a regular file)
    bool m_watchRefused{false}; // the manager would not watch the descriptor (m_alwaysReady, or not one)
    std::shared_ptr<Timer> m_timer;
    MonoTime m_timerStart{MonoTime::max()};
    Duration m_timerInterval{Duration::zero()};
    MonoTime m_nextFire{MonoTime::max()};
    uint64_t m_timerGeneration{0};
};

} // namespace platform
