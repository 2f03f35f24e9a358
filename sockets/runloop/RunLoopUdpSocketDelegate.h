#pragma once
// The delegate protocol of RunLoopUdpSocket. Every method is optional: the socket calls one only when
// respondsTo(selector) answers true for its selector text; the bodies here do nothing and the receive
// question answers YES. Calls are made on the socket's run-loop thread.

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class RunLoopUdpSocket;
using RunLoopUdpSocketPtr = std::shared_ptr<RunLoopUdpSocket>;

class RunLoopUdpSocketDelegate : public platform::Object {
public:
    // onUdpSocket:didSendDataWithTag:
    virtual void onUdpSocketDidSendDataWithTag(const RunLoopUdpSocketPtr& sock, int64_t tag);
    // onUdpSocket:didNotSendDataWithTag:dueToError:
    virtual void onUdpSocketDidNotSendDataWithTag(const RunLoopUdpSocketPtr& sock, int64_t tag,
                                                  const platform::ErrorPtr& error);
    // onUdpSocket:didReceiveData:withTag:fromHost:port: — NO declines the datagram: the same request
    // waits for the next one.
    virtual bool onUdpSocketDidReceiveData(const RunLoopUdpSocketPtr& sock, const platform::Data& data,
                                           int64_t tag, const std::optional<std::string>& host,
                                           uint16_t port);
    // onUdpSocket:didNotReceiveDataWithTag:dueToError:
    virtual void onUdpSocketDidNotReceiveDataWithTag(const RunLoopUdpSocketPtr& sock, int64_t tag,
                                                     const platform::ErrorPtr& error);
    // onUdpSocketDidClose: — deferred to the run loop after the close.
    virtual void onUdpSocketDidClose(const RunLoopUdpSocketPtr& sock);
};

using RunLoopUdpSocketDelegatePtr = std::shared_ptr<RunLoopUdpSocketDelegate>;
