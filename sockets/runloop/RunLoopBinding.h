#pragma once
// Where a run-loop socket is scheduled: one run loop (none until something is attached) and a list of
// modes that is never empty. Adds and removes the socket's sources and timers in every mode of the list,
// and queues its deferred calls, each kind under a cancel key of its own, on the bound loop (on the
// calling thread's loop while none is bound, as a perform with no delay would go).
// Belongs to the socket's run-loop thread: no lock.

#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopFdSource.h"
#include "platform/runloop/Timer.h"

#include <array>
#include <functional>
#include <memory>
#include <vector>

namespace sockets {

class RunLoopBinding {
public:
    using Modes = std::vector<platform::RunLoopMode>;
    using SourcePtr = std::shared_ptr<platform::RunLoopFdSource>;
    using TimerPtr = std::shared_ptr<platform::Timer>;

    // What a socket has scheduled; absent members are skipped.
    struct Scheduled {
        std::vector<SourcePtr> sources;
        std::vector<TimerPtr> timers;
    };

    enum class Deferred { ReadDequeue, WriteDequeue, Close, DelegateClose, Count };

    ~RunLoopBinding();

    const std::shared_ptr<platform::RunLoop>& runLoop() const { return m_runLoop; }
    void bind(std::shared_ptr<platform::RunLoop> runLoop) { m_runLoop = std::move(runLoop); }
    void unbind() { m_runLoop.reset(); }

    const Modes& modes() const { return m_modes; }
    bool hasMode(const platform::RunLoopMode& mode) const;

    // In every mode of the list, or in one mode; nothing while unbound.
    void add(const Scheduled& scheduled) const;
    void remove(const Scheduled& scheduled) const;
    void add(const Scheduled& scheduled, const platform::RunLoopMode& mode) const;
    void remove(const Scheduled& scheduled, const platform::RunLoopMode& mode) const;

    // Changing the loop or the list: the caller has taken what is scheduled off the old loop or modes.
    void setModes(Modes modes) { m_modes = std::move(modes); }
    void appendMode(const platform::RunLoopMode& mode) { m_modes.push_back(mode); }
    void eraseMode(const platform::RunLoopMode& mode);

    void perform(Deferred kind, std::function<void()> block);
    void cancel(Deferred kind);
    void cancelAll();

private:
    static constexpr size_t kKinds = size_t(Deferred::Count);
    void apply(const Scheduled& scheduled, const platform::RunLoopMode& mode, bool adding) const;

    std::shared_ptr<platform::RunLoop> m_runLoop;
    Modes m_modes{platform::RunLoop::defaultMode};
    std::array<std::weak_ptr<platform::RunLoop>, kKinds> m_performedOn;
    // Their addresses are the cancel keys, one per kind, unique to this socket.
    std::array<char, kKinds> m_keys{};
};

} // namespace sockets
