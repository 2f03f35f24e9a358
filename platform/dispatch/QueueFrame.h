#pragma once
// What the calling thread is running: a chain of frames, innermost first, one per queue whose block is
// under way on this thread. A block run for a sync caller also links to the caller's chain, since the
// caller's queues stay held while it waits. Both the deadlock check of sync and the lookup of
// queue-specific values read this chain.

namespace platform {
class DispatchQueue;
}

namespace platform::detail {

struct QueueFrame {
    const DispatchQueue* queue{nullptr};
    const QueueFrame* outer{nullptr};
    const QueueFrame* syncCaller{nullptr};

    // The calling thread's innermost frame; on the main thread outside any block, the main queue's.
    static const QueueFrame* current();
    // Whether `queue` is running a block somewhere up this chain (or its sync callers' chains).
    static bool holds(const QueueFrame* frame, const DispatchQueue* queue);
};

} // namespace platform::detail
