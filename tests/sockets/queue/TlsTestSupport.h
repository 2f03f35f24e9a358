#pragma once
// Two QueueSockets joined over loopback for the TLS tests: a listening socket whose accepted connection
// is the server end, and a client end connected to it. Each end has its own recording delegate and
// serial delegate queue.

#include "platform/security/TlsTrust.h"
#include "tests/sockets/queue/SocketTestSupport.h"
#include "tests/support/TlsTestPki.h"

#include <memory>
#include <mutex>

namespace queuesockettest {

using liveapp::test::serverTlsSettings;
using liveapp::test::TestCredential;
using liveapp::test::testPki;

// Judges the server's chain as an application would: against the test root, with the trust's own peer
// name, and answers the socket with the verdict. Remembers the evaluation's failure status.
class TrustEvaluatingDelegate : public RecordingDelegate {
public:
    TrustEvaluatingDelegate() { setTrustAnswer(std::nullopt); }

    void socketDidReceiveTrust(const QueueSocketPtr& sock, const platform::TlsTrustPtr& trust,
                               std::function<void(bool)> completionHandler) override;

    platform::OSStatus lastFailureStatus() const;

private:
    mutable std::mutex m_statusMutex;
    platform::OSStatus m_lastFailureStatus{platform::noErr};
};

struct TlsPair {
    std::shared_ptr<RecordingDelegate> serverDelegate; // the listener's, inherited by the accepted socket
    std::shared_ptr<platform::DispatchQueue> serverQueue;
    QueueSocketPtr listener;
    QueueSocketPtr server;
    std::shared_ptr<RecordingDelegate> clientDelegate;
    std::shared_ptr<platform::DispatchQueue> clientQueue;
    QueueSocketPtr client;

    void disconnect();
};

// Null `server` or `client` on failure. A null client delegate gets a plain RecordingDelegate.
TlsPair connectTlsPair(std::shared_ptr<RecordingDelegate> clientDelegate = nullptr);

// Client settings that let the delegate judge the chain.
platform::Value manualTrustSettings(const std::string& peerName = "localhost");

} // namespace queuesockettest
