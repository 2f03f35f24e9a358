#include "tests/sockets/queue/TlsTestSupport.h"

#include "platform/security/TlsSettingsKeys.h"

namespace queuesockettest {

void TrustEvaluatingDelegate::socketDidReceiveTrust(const QueueSocketPtr& sock,
                                                    const platform::TlsTrustPtr& trust,
                                                    std::function<void(bool)> completionHandler) {
    RecordingDelegate::socketDidReceiveTrust(sock, trust, completionHandler);
    trust->setAnchorCertificates({testPki().root.certificate});
    platform::SecTrustResultType result = trust->evaluate();
    {
        std::lock_guard lock(m_statusMutex);
        m_lastFailureStatus = trust->failureStatus();
    }
    completionHandler(result == platform::kSecTrustResultUnspecified ||
                      result == platform::kSecTrustResultProceed);
}

platform::OSStatus TrustEvaluatingDelegate::lastFailureStatus() const {
    std::lock_guard lock(m_statusMutex);
    return m_lastFailureStatus;
}

void TlsPair::disconnect() {
    if (client)
        client->disconnect();
    if (server)
        server->disconnect();
    if (listener)
        listener->disconnect();
}

TlsPair connectTlsPair(std::shared_ptr<RecordingDelegate> clientDelegate) {
    TlsPair pair;
    pair.serverDelegate = RecordingDelegate::create();
    pair.serverQueue = platform::DispatchQueue::create("test.tls.server");
    pair.listener = QueueSocket::create(pair.serverDelegate, pair.serverQueue);
    if (!pair.listener->acceptOnInterface(std::string("127.0.0.1"), 0))
        return pair;
    uint16_t port = pair.listener->localPort();

    pair.clientDelegate = clientDelegate ? std::move(clientDelegate) : RecordingDelegate::create();
    pair.clientQueue = platform::DispatchQueue::create("test.tls.client");
    pair.client = QueueSocket::create(pair.clientDelegate, pair.clientQueue);
    if (!pair.client->connectToHost("127.0.0.1", port)) {
        pair.client = nullptr;
        return pair;
    }
    auto accepted = pair.serverDelegate->waitFor(EventKind::Accept);
    if (!accepted || !pair.clientDelegate->waitFor(EventKind::ConnectToHost)) {
        pair.client = nullptr;
        return pair;
    }
    pair.server = accepted->newSocket;
    return pair;
}

platform::Value manualTrustSettings(const std::string& peerName) {
    return platform::Value::dictionary({
        {QueueSocketManuallyEvaluateTrust, true},
        {platform::kCFStreamSSLPeerName, peerName},
    });
}

} // namespace queuesockettest
