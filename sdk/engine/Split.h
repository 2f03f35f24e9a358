#pragma once
// Hands each buffer to every output in the order they were added (the preview and the encoder get the
// same frame). Outputs are held weakly, like every downstream link.

#include "sdk/engine/IOutput.h"

#include <mutex>
#include <vector>

namespace livecore {

class Split final : public ITransform {
public:
    // Replaces every output with this one (null: none).
    void setOutput(std::shared_ptr<IOutput> output) override;
    void addOutput(const std::shared_ptr<IOutput>& output);
    void removeOutput(const std::shared_ptr<IOutput>& output);
    void pushBuffer(const uint8_t* data, size_t size, IMetadata& metadata) override;

private:
    std::mutex m_mutex;
    std::vector<std::weak_ptr<IOutput>> m_outputs;
};

} // namespace livecore
