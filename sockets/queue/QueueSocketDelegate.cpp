#include "sockets/queue/QueueSocketDelegate.h"

std::shared_ptr<platform::DispatchQueue>
QueueSocketDelegate::newSocketQueueForConnectionFromAddress(const platform::Data&, const QueueSocketPtr&) {
    return nullptr;
}
void QueueSocketDelegate::socketDidAcceptNewSocket(const QueueSocketPtr&, const QueueSocketPtr&) {}
void QueueSocketDelegate::socketDidConnectToHost(const QueueSocketPtr&, const std::string&, uint16_t) {}
void QueueSocketDelegate::socketDidConnectToUrl(const QueueSocketPtr&, const platform::URLPtr&) {}
void QueueSocketDelegate::socketDidReadData(const QueueSocketPtr&, const sockets::SharedBytes&, int64_t) {}
void QueueSocketDelegate::socketDidReadPartialDataOfLength(const QueueSocketPtr&, uint64_t, int64_t) {}
double QueueSocketDelegate::socketShouldTimeoutReadWithTag(const QueueSocketPtr&, int64_t, double, uint64_t) {
    return 0;
}
void QueueSocketDelegate::socketDidCloseReadStream(const QueueSocketPtr&) {}
void QueueSocketDelegate::socketDidWritePartialDataOfLength(const QueueSocketPtr&, uint64_t, int64_t) {}
void QueueSocketDelegate::socketDidWriteDataWithTag(const QueueSocketPtr&, int64_t) {}
double QueueSocketDelegate::socketShouldTimeoutWriteWithTag(const QueueSocketPtr&, int64_t, double,
                                                            uint64_t) {
    return 0;
}
void QueueSocketDelegate::socketDidReceiveTrust(const QueueSocketPtr&, const platform::TlsTrustPtr&,
                                                std::function<void(bool)>) {}
void QueueSocketDelegate::socketDidSecure(const QueueSocketPtr&) {}
void QueueSocketDelegate::socketDidDisconnect(const QueueSocketPtr&, const platform::ErrorPtr&) {}
