#include "imagecache/MainThread.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/runloop/RunLoop.h"

namespace imagecache::detail {

void onMainQueue(std::function<void()> block) {
    if (block)
        platform::DispatchQueue::main()->async(std::move(block));
}

void onMainThread(std::function<void()> block) {
    if (block && platform::RunLoop::isMainThread())
        block();
    else
        onMainQueue(std::move(block));
}

void onMainThreadAndWait(const std::function<void()>& block) {
    if (!block)
        return;
    if (platform::RunLoop::isMainThread())
        block();
    else
        platform::DispatchQueue::main()->sync(block);
}

} // namespace imagecache::detail
