#include "sdk/engine/Split.h"

#include <algorithm>

namespace livecore {

void Split::setOutput(std::shared_ptr<IOutput> output) {
    std::lock_guard lock(m_mutex);
    m_outputs.clear();
    if (output)
        m_outputs.push_back(output);
}

void Split::addOutput(const std::shared_ptr<IOutput>& output) {
    std::lock_guard lock(m_mutex);
    m_outputs.push_back(output);
}

void Split::removeOutput(const std::shared_ptr<IOutput>& output) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_outputs, [&](const std::weak_ptr<IOutput>& held) {
        auto alive = held.lock();
        return !alive || alive == output;
    });
}

void Split::pushBuffer(const uint8_t* data, size_t size, IMetadata& metadata) {
    std::vector<std::shared_ptr<IOutput>> outputs;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& held : m_outputs) {
            if (auto output = held.lock())
                outputs.push_back(std::move(output));
        }
    }
    for (const auto& output : outputs)
        output->pushBuffer(data, size, metadata);
}

} // namespace livecore
