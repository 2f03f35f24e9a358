#pragma once
// The delegate protocol of RunLoopSocket. Every method is optional: the socket calls one only when
// respondsTo(selector) answers true for its selector text ("onSocket:didReadData:withTag:"); the
// bodies here do nothing, and the questions answer "none", YES and "do not extend". Calls are made
// synchronously on the socket's run-loop thread; `sock` is null only in the onSocketDidDisconnect
// sent while the socket is being destroyed.

#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/runloop/RunLoop.h"
#include "sockets/common/SharedBytes.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class RunLoopSocket;
using RunLoopSocketPtr = std::shared_ptr<RunLoopSocket>;

class RunLoopSocketDelegate : public platform::Object {
public:
    // onSocket:didAcceptNewSocket: — the delegate must keep newSocket.
    virtual void onSocketDidAcceptNewSocket(const RunLoopSocketPtr& sock, const RunLoopSocketPtr& newSocket);
    // onSocket:wantsRunLoopForNewSocket: — null means the listening thread's run loop.
    virtual std::shared_ptr<platform::RunLoop>
    onSocketWantsRunLoopForNewSocket(const RunLoopSocketPtr& sock, const RunLoopSocketPtr& newSocket);
    // onSocketWillConnect: — NO cancels the connection.
    virtual bool onSocketWillConnect(const RunLoopSocketPtr& sock);
    // onSocket:didConnectToHost:port:
    virtual void onSocketDidConnectToHost(const RunLoopSocketPtr& sock,
                                          const std::optional<std::string>& host, uint16_t port);
    // onSocket:didReadData:withTag:
    virtual void onSocketDidReadData(const RunLoopSocketPtr& sock, const sockets::SharedBytes& data,
                                     int64_t tag);
    // onSocket:didReadPartialDataOfLength:tag:
    virtual void onSocketDidReadPartialDataOfLength(const RunLoopSocketPtr& sock, uint64_t partialLength,
                                                    int64_t tag);
    // onSocket:didWriteDataWithTag:
    virtual void onSocketDidWriteDataWithTag(const RunLoopSocketPtr& sock, int64_t tag);
    // onSocket:didWritePartialDataOfLength:tag:
    virtual void onSocketDidWritePartialDataOfLength(const RunLoopSocketPtr& sock, uint64_t partialLength,
                                                     int64_t tag);
    // onSocket:shouldTimeoutReadWithTag:elapsed:bytesDone: — seconds more; 0 or less times out now.
    virtual double onSocketShouldTimeoutReadWithTag(const RunLoopSocketPtr& sock, int64_t tag, double elapsed,
                                                    uint64_t length);
    // onSocket:shouldTimeoutWriteWithTag:elapsed:bytesDone:
    virtual double onSocketShouldTimeoutWriteWithTag(const RunLoopSocketPtr& sock, int64_t tag,
                                                     double elapsed, uint64_t length);
    // onSocketDidSecure:
    virtual void onSocketDidSecure(const RunLoopSocketPtr& sock);
    // onSocket:willDisconnectWithError: — unreadData() answers only during this call.
    virtual void onSocketWillDisconnectWithError(const RunLoopSocketPtr& sock, const platform::ErrorPtr& err);
    // onSocketDidDisconnect:
    virtual void onSocketDidDisconnect(const RunLoopSocketPtr& sock);
};

using RunLoopSocketDelegatePtr = std::shared_ptr<RunLoopSocketDelegate>;
