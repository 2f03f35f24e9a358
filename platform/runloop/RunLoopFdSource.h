#pragma once
// Readiness of one file descriptor on a run loop: the callout runs on the loop's thread whenever the
// descriptor is readable or writable for an event that is enabled, for as long as it stays so
// (level-triggered), while the loop runs in a mode the source is added to. Hang-up and error count
// as both readable and writable, so a reader sees the end of the stream.
//
// Promises: enable, disable and invalidate are safe from any thread, including the callout. The
// descriptor's epoll registration is gone when invalidate() returns, so the owner may close it then;
// no callout that has not begun happens afterwards. The source never closes the descriptor.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace platform {

class RunLoop;

class RunLoopFdSource : public std::enable_shared_from_this<RunLoopFdSource> {
public:
    enum Event : uint32_t {
        None = 0,
        Read = 1,
        Write = 2,
    };
    // `ready` holds the enabled events that are ready, never None.
    using Callout = std::function<void(RunLoopFdSource& source, uint32_t ready)>;

    static std::shared_ptr<RunLoopFdSource> create(int fd, Callout callout, uint32_t enabled = Read);

    int fd() const { return m_fd; }
    void enable(uint32_t events);
    void disable(uint32_t events);
    uint32_t enabledEvents() const;

    void invalidate();
    bool isValid() const;

private:
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    RunLoopFdSource(PrivateTag, int fd, Callout callout, uint32_t enabled);

private:
    friend class RunLoop;

    const int m_fd;
    mutable std::mutex m_mutex;
    uint32_t m_enabled{None};
    bool m_valid{true};
    std::shared_ptr<Callout> m_callout;
    std::weak_ptr<RunLoop> m_loop;
    bool m_scheduled{false};
};

} // namespace platform
