#include "imagecache/WebImageCombinedOperation.h"

void WebImageCombinedOperation::cancel() {
    std::shared_ptr<platform::Operation> cacheOperation;
    WebImageNoParamsBlock cancelBlock;
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        cacheOperation = std::move(m_cacheOperation);
        cancelBlock = std::move(m_cancelBlock);
        m_cacheOperation = nullptr;
        m_cancelBlock = nullptr;
    }
    if (cacheOperation)
        cacheOperation->cancel();
    if (cancelBlock)
        cancelBlock();
}

WebImageNoParamsBlock WebImageCombinedOperation::cancelBlock() const {
    std::lock_guard lock(m_mutex);
    return m_cancelBlock;
}

void WebImageCombinedOperation::setCancelBlock(WebImageNoParamsBlock block) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_cancelled) {
            m_cancelBlock = std::move(block);
            return;
        }
    }
    if (block)
        block();
}

std::shared_ptr<platform::Operation> WebImageCombinedOperation::cacheOperation() const {
    std::lock_guard lock(m_mutex);
    return m_cacheOperation;
}

void WebImageCombinedOperation::setCacheOperation(std::shared_ptr<platform::Operation> operation) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_cancelled) {
            m_cacheOperation = std::move(operation);
            return;
        }
    }
    if (operation)
        operation->cancel();
}
