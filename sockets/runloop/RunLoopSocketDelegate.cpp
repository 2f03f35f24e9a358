#include "sockets/runloop/RunLoopSocketDelegate.h"

void RunLoopSocketDelegate::onSocketDidAcceptNewSocket(const RunLoopSocketPtr&, const RunLoopSocketPtr&) {}

std::shared_ptr<platform::RunLoop>
RunLoopSocketDelegate::onSocketWantsRunLoopForNewSocket(const RunLoopSocketPtr&, const RunLoopSocketPtr&) {
    return nullptr;
}

bool RunLoopSocketDelegate::onSocketWillConnect(const RunLoopSocketPtr&) {
    return true;
}

void RunLoopSocketDelegate::onSocketDidConnectToHost(const RunLoopSocketPtr&,
                                                     const std::optional<std::string>&, uint16_t) {}

void RunLoopSocketDelegate::onSocketDidReadData(const RunLoopSocketPtr&, const sockets::SharedBytes&,
                                                int64_t) {}

void RunLoopSocketDelegate::onSocketDidReadPartialDataOfLength(const RunLoopSocketPtr&, uint64_t, int64_t) {}

void RunLoopSocketDelegate::onSocketDidWriteDataWithTag(const RunLoopSocketPtr&, int64_t) {}

void RunLoopSocketDelegate::onSocketDidWritePartialDataOfLength(const RunLoopSocketPtr&, uint64_t, int64_t) {}

double RunLoopSocketDelegate::onSocketShouldTimeoutReadWithTag(const RunLoopSocketPtr&, int64_t, double,
                                                               uint64_t) {
    return 0;
}

double RunLoopSocketDelegate::onSocketShouldTimeoutWriteWithTag(const RunLoopSocketPtr&, int64_t, double,
                                                                uint64_t) {
    return 0;
}

void RunLoopSocketDelegate::onSocketDidSecure(const RunLoopSocketPtr&) {}

void RunLoopSocketDelegate::onSocketWillDisconnectWithError(const RunLoopSocketPtr&,
                                                            const platform::ErrorPtr&) {}

void RunLoopSocketDelegate::onSocketDidDisconnect(const RunLoopSocketPtr&) {}
