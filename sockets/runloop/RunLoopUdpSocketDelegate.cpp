#include "sockets/runloop/RunLoopUdpSocketDelegate.h"

void RunLoopUdpSocketDelegate::onUdpSocketDidSendDataWithTag(const RunLoopUdpSocketPtr&, int64_t) {}

void RunLoopUdpSocketDelegate::onUdpSocketDidNotSendDataWithTag(const RunLoopUdpSocketPtr&, int64_t,
                                                                const platform::ErrorPtr&) {}

bool RunLoopUdpSocketDelegate::onUdpSocketDidReceiveData(const RunLoopUdpSocketPtr&, const platform::Data&,
                                                         int64_t, const std::optional<std::string>&,
                                                         uint16_t) {
    return true;
}

void RunLoopUdpSocketDelegate::onUdpSocketDidNotReceiveDataWithTag(const RunLoopUdpSocketPtr&, int64_t,
                                                                   const platform::ErrorPtr&) {}

void RunLoopUdpSocketDelegate::onUdpSocketDidClose(const RunLoopUdpSocketPtr&) {}
