#include "platform/dispatch/BlockOperation.h"

namespace platform {

std::shared_ptr<BlockOperation> BlockOperation::blockOperationWithBlock(Block block) {
    auto operation = std::make_shared<BlockOperation>(PrivateTag{});
    operation->addExecutionBlock(std::move(block));
    return operation;
}

void BlockOperation::addExecutionBlock(Block block) {
    if (!block || isExecuting() || isFinished())
        return;
    std::lock_guard lock(m_blocksMutex);
    m_blocks.push_back(std::move(block));
}

void BlockOperation::main() {
    std::vector<Block> blocks;
    {
        std::lock_guard lock(m_blocksMutex);
        blocks.swap(m_blocks);
    }
    for (auto& block : blocks)
        block();
}

} // namespace platform
