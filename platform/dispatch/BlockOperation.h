#pragma once
// An operation that runs its blocks, in the order added, on the thread that starts it; it finishes
// when all have returned. Blocks added after it started are not run.

#include "platform/dispatch/Operation.h"

namespace platform {

class BlockOperation : public Operation {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    using Block = std::function<void()>;

    static std::shared_ptr<BlockOperation> blockOperationWithBlock(Block block);
    explicit BlockOperation(PrivateTag) {}

    void addExecutionBlock(Block block);
    void main() override;

private:
    std::mutex m_blocksMutex;
    std::vector<Block> m_blocks;
};

} // namespace platform
