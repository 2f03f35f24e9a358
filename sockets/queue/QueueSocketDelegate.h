#pragma once
// QueueSocketDelegate: what a QueueSocket reports, as an interface whose every method is optional.
// The socket calls a method only when respondsTo(selector) answers true for its selector text
// ("socket:didReadData:withTag:"); the bodies here do nothing (the two questions answer "none" and
// "time out now"). Calls arrive on the socket's delegate queue; the socket holds its delegate weakly.

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"
#include "platform/security/TlsTrust.h"
#include "sockets/common/SharedBytes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QueueSocket;
class QueueSocketDelegate;
using QueueSocketPtr = std::shared_ptr<QueueSocket>;
using QueueSocketDelegatePtr = std::shared_ptr<QueueSocketDelegate>;

class QueueSocketDelegate : public platform::Object {
public:
    // newSocketQueueForConnectionFromAddress:onSocket: — the queue for an accepted socket, or null for
    // a queue of its own. Asked right before socketDidAcceptNewSocket, in the same delegate-queue block.
    virtual std::shared_ptr<platform::DispatchQueue>
    newSocketQueueForConnectionFromAddress(const platform::Data& address, const QueueSocketPtr& sock);
    // socket:didAcceptNewSocket: — the receiver must keep newSocket.
    virtual void socketDidAcceptNewSocket(const QueueSocketPtr& sock, const QueueSocketPtr& newSocket);
    // socket:didConnectToHost:port:
    virtual void socketDidConnectToHost(const QueueSocketPtr& sock, const std::string& host, uint16_t port);
    // socket:didConnectToUrl:
    virtual void socketDidConnectToUrl(const QueueSocketPtr& sock, const platform::URLPtr& url);
    // socket:didReadData:withTag:
    virtual void socketDidReadData(const QueueSocketPtr& sock, const sockets::SharedBytes& data, int64_t tag);
    // socket:didReadPartialDataOfLength:tag:
    virtual void socketDidReadPartialDataOfLength(const QueueSocketPtr& sock, uint64_t partialLength,
                                                  int64_t tag);
    // socket:shouldTimeoutReadWithTag:elapsed:bytesDone: — seconds to extend; 0 or less times out now.
    virtual double socketShouldTimeoutReadWithTag(const QueueSocketPtr& sock, int64_t tag, double elapsed,
                                                  uint64_t length);
    // socketDidCloseReadStream:
    virtual void socketDidCloseReadStream(const QueueSocketPtr& sock);
    // socket:didWritePartialDataOfLength:tag:
    virtual void socketDidWritePartialDataOfLength(const QueueSocketPtr& sock, uint64_t partialLength,
                                                   int64_t tag);
    // socket:didWriteDataWithTag:
    virtual void socketDidWriteDataWithTag(const QueueSocketPtr& sock, int64_t tag);
    // socket:shouldTimeoutWriteWithTag:elapsed:bytesDone:
    virtual double socketShouldTimeoutWriteWithTag(const QueueSocketPtr& sock, int64_t tag, double elapsed,
                                                   uint64_t length);
    // socket:didReceiveTrust:completionHandler: — call the handler once, from any thread, with the verdict.
    virtual void socketDidReceiveTrust(const QueueSocketPtr& sock, const platform::TlsTrustPtr& trust,
                                       std::function<void(bool shouldTrustPeer)> completionHandler);
    // socketDidSecure:
    virtual void socketDidSecure(const QueueSocketPtr& sock);
    // socketDidDisconnect:withError: — sock is null while the socket is being destroyed; err is null
    // for a requested close.
    virtual void socketDidDisconnect(const QueueSocketPtr& sock, const platform::ErrorPtr& err);
};
