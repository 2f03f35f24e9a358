#pragma once
// WebImageCombinedOperation: one load of the image manager, which its caller may cancel. Cancelling
// marks it, cancels its cache query and runs its cancel block (which stops its download); a cancel block
// or cache query given after the cancel is run or cancelled at once instead of being kept. Any thread; the
// cancel work runs on the thread that cancels, without the operation's lock.

#include "imagecache/WebImageDownloaderTypes.h"
#include "imagecache/WebImageOperation.h"
#include "platform/dispatch/Operation.h"
#include "platform/foundation/Object.h"

#include <atomic>
#include <memory>
#include <mutex>

class WebImageCombinedOperation : public platform::Object, public WebImageOperation {
public:
    WebImageCombinedOperation() = default;

    void cancel() override;
    bool isCancelled() const { return m_cancelled; }
    void setCancelled(bool cancelled) { m_cancelled = cancelled; }

    WebImageNoParamsBlock cancelBlock() const;
    void setCancelBlock(WebImageNoParamsBlock block);
    std::shared_ptr<platform::Operation> cacheOperation() const;
    void setCacheOperation(std::shared_ptr<platform::Operation> operation);

private:
    std::atomic<bool> m_cancelled{false};
    mutable std::mutex m_mutex;
    WebImageNoParamsBlock m_cancelBlock;
    std::shared_ptr<platform::Operation> m_cacheOperation;
};
