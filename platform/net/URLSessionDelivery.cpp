#include "platform/net/URLSessionDelivery.h"

namespace platform::detail {

std::shared_ptr<URLSessionDelivery> URLSessionDelivery::onQueue(std::shared_ptr<DispatchQueue> serialQueue) {
    auto delivery = std::make_shared<URLSessionDelivery>();
    delivery->m_queue = std::move(serialQueue);
    return delivery;
}

std::shared_ptr<URLSessionDelivery> URLSessionDelivery::onRunLoop(std::shared_ptr<RunLoop> loop,
                                                                  std::vector<RunLoopMode> modes) {
    auto delivery = std::make_shared<URLSessionDelivery>();
    delivery->m_loop = std::move(loop);
    delivery->m_modes = modes.empty() ? std::vector<RunLoopMode>{RunLoop::commonModes} : std::move(modes);
    return delivery;
}

bool URLSessionDelivery::post(std::function<void()> block) const {
    if (m_queue) {
        m_queue->async(std::move(block));
        return true;
    }
    return m_loop->performBlock(std::move(block), m_modes);
}

} // namespace platform::detail
