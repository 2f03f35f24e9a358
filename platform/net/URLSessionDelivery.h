#pragma once
// Where a session's delegate calls and completion handlers run: a serial queue (the session's own,
// targeting the delegate queue the caller chose) or the run loop of the thread that resumed a task.
// Blocks posted to one delivery run one at a time, in the order posted. Thread-safe.

#include "platform/dispatch/DispatchQueue.h"
#include "platform/runloop/RunLoop.h"

#include <functional>
#include <memory>
#include <vector>

namespace platform::detail {

class URLSessionDelivery {
public:
    static std::shared_ptr<URLSessionDelivery> onQueue(std::shared_ptr<DispatchQueue> serialQueue);
    static std::shared_ptr<URLSessionDelivery> onRunLoop(std::shared_ptr<RunLoop> loop,
                                                         std::vector<RunLoopMode> modes);

    // False when the block was dropped because the run loop's thread has ended.
    bool post(std::function<void()> block) const;

private:
    std::shared_ptr<DispatchQueue> m_queue;
    std::shared_ptr<RunLoop> m_loop;
    std::vector<RunLoopMode> m_modes;
};

} // namespace platform::detail
