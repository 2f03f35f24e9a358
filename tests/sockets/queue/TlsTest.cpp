// TLS over the socket's own descriptor: the upgrade queued behind plain requests, trust decided by the
// delegate, the engine's own verification, bulk transfer, and settings the engine refuses. Certificates
// are made when the tests run.
#include "platform/security/TlsSettingsKeys.h"
#include "sockets/common/SocketErrors.h"
#include "tests/sockets/queue/TlsTestSupport.h"

#include <gtest/gtest.h>

using namespace queuesockettest;
using platform::Data;
using platform::Value;

namespace {

// A stream unlike pattern()'s at every offset, for the other direction.
std::string otherPattern(size_t length) {
    return pattern(length + 1).substr(1);
}

Value serverSettings() {
    return serverTlsSettings(testPki().server);
}

// Both ends secured; the client judged the chain itself (the server is never asked).
TlsPair securedPair() {
    auto pair = connectTlsPair(std::make_shared<TrustEvaluatingDelegate>());
    if (!pair.server || !pair.client)
        return pair;
    pair.server->startTLS(serverSettings());
    Value settings = manualTrustSettings();
    settings.mutableDictionary()->set(QueueSocketSSLProtocolVersionMin, 0); // 0 keeps the default
    pair.client->startTLS(settings);
    if (!pair.clientDelegate->waitFor(EventKind::Secure) || !pair.serverDelegate->waitFor(EventKind::Secure))
        pair.client = nullptr;
    return pair;
}

} // namespace

TEST(TlsTest, ReadsAndWritesQueuedBeforeTheUpgradeCompleteInPlainTextFirst) {
    auto pair = connectTlsPair(std::make_shared<TrustEvaluatingDelegate>());
    ASSERT_TRUE(pair.server && pair.client);

    // Server: a plain line in, two plain replies out, then TLS.
    pair.server->readDataToData(QueueSocket::LFData(), -1, 100);
    pair.server->writeData(Data(std::string_view("hello")), -1, 101);
    pair.server->writeData(Data(std::string_view("world")), -1, 102);
    pair.server->startTLS(serverSettings());
    // Client: two plain reads and a plain write queued before the upgrade; its handshake follows the
    // line at once, possibly in the same arrival as far as the server can tell.
    pair.client->readDataToLength(5, -1, 1);
    pair.client->readDataToLength(5, -1, 2);
    pair.client->writeData(Data(std::string_view("ping\n")), -1, 3);
    pair.client->startTLS(manualTrustSettings());

    ASSERT_TRUE(pair.clientDelegate->waitFor(EventKind::Secure));
    ASSERT_TRUE(pair.serverDelegate->waitFor(EventKind::Secure));
    std::vector<EventKind> order;
    for (const auto& event : pair.clientDelegate->events())
        if (event.kind == EventKind::Read || event.kind == EventKind::Write ||
            event.kind == EventKind::Secure)
            order.push_back(event.kind);
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order.back(), EventKind::Secure);
    auto reads = pair.clientDelegate->eventsOf(EventKind::Read);
    EXPECT_EQ(reads[0].data.toString(), "hello");
    EXPECT_EQ(reads[1].data.toString(), "world");
    ASSERT_TRUE(pair.serverDelegate->waitFor(EventKind::Read));
    EXPECT_EQ(pair.serverDelegate->eventsOf(EventKind::Read)[0].data.toString(), "ping\n");
    EXPECT_TRUE(pair.client->isSecure());
    EXPECT_TRUE(pair.server->isSecure());

    // Everything after the upgrade is encrypted end to end.
    pair.client->writeData(Data(std::string_view("secret")), -1, 4);
    pair.server->readDataToLength(6, -1, 103);
    auto secret = pair.serverDelegate->waitFor(EventKind::Read, 2);
    ASSERT_TRUE(secret);
    EXPECT_EQ(secret->data.toString(), "secret");
    pair.disconnect();
}

TEST(TlsTest, ADelegateRefusingTheChainClosesWithPeerBadCertificate) {
    auto delegate = RecordingDelegate::create();
    delegate->setTrustAnswer(false);
    auto pair = connectTlsPair(delegate);
    ASSERT_TRUE(pair.server && pair.client);
    pair.server->startTLS(serverSettings());
    pair.client->startTLS(manualTrustSettings());

    auto disconnect = delegate->await(EventKind::Disconnect);
    EXPECT_EQ(disconnect.error->domain(), sockets::kCFStreamErrorDomainSSL);
    EXPECT_EQ(disconnect.error->code(), platform::errSSLPeerBadCert);
    EXPECT_EQ(delegate->count(EventKind::Secure), 0u);
    // The server's handshake cannot finish either.
    auto serverDisconnect = pair.serverDelegate->await(EventKind::Disconnect);
    EXPECT_TRUE(serverDisconnect.error);
    EXPECT_EQ(pair.serverDelegate->count(EventKind::Secure), 0u);
    pair.disconnect();
}

TEST(TlsTest, APeerNameTheCertificateDoesNotCarryFailsTheTrustEvaluation) {
    auto delegate = std::make_shared<TrustEvaluatingDelegate>();
    auto pair = connectTlsPair(delegate);
    ASSERT_TRUE(pair.server && pair.client);
    pair.server->startTLS(serverSettings());
    pair.client->startTLS(manualTrustSettings("chat.example.invalid"));

    auto disconnect = delegate->await(EventKind::Disconnect);
    EXPECT_EQ(disconnect.error->domain(), sockets::kCFStreamErrorDomainSSL);
    EXPECT_EQ(disconnect.error->code(), platform::errSSLPeerBadCert);
    EXPECT_EQ(delegate->lastFailureStatus(), platform::errSSLHostNameMismatch);
    auto trust = delegate->eventsOf(EventKind::Trust);
    ASSERT_EQ(trust.size(), 1u);
    EXPECT_EQ(trust[0].trust->hostName().value_or(""), "chat.example.invalid");
    pair.disconnect();
}

TEST(TlsTest, ASelfSignedServerIsRejectedByTheEnginesOwnVerification) {
    auto pair = connectTlsPair();
    ASSERT_TRUE(pair.server && pair.client);
    pair.server->startTLS(serverTlsSettings(testPki().selfSigned));
    pair.client->startTLS(Value::dictionary({{platform::kCFStreamSSLPeerName, "localhost"}}));

    auto disconnect = pair.clientDelegate->await(EventKind::Disconnect);
    ASSERT_TRUE(disconnect.error);
    EXPECT_EQ(disconnect.error->domain(), sockets::kCFStreamErrorDomainSSL);
    EXPECT_NE(disconnect.error->code(), 0);
    EXPECT_EQ(pair.clientDelegate->count(EventKind::Trust), 0u);
    EXPECT_EQ(pair.clientDelegate->count(EventKind::Secure), 0u);
    pair.disconnect();
}

TEST(TlsTest, OneMegabyteEachWayArrivesIntact) {
    auto pair = securedPair();
    ASSERT_TRUE(pair.client);
    const std::string up = pattern(1 << 20);
    const std::string down = otherPattern(1 << 20);
    pair.client->readDataToLength(down.size(), -1, 1);
    pair.server->readDataToLength(up.size(), -1, 2);
    pair.client->writeData(Data(up), -1, 3);
    pair.server->writeData(Data(down), -1, 4);

    auto clientRead = pair.clientDelegate->waitFor(EventKind::Read, 1, std::chrono::seconds(60));
    auto serverRead = pair.serverDelegate->waitFor(EventKind::Read, 1, std::chrono::seconds(60));
    ASSERT_TRUE(clientRead && serverRead);
    EXPECT_TRUE(clientRead->data.toString() == down);
    EXPECT_TRUE(serverRead->data.toString() == up);
    EXPECT_TRUE(pair.clientDelegate->waitFor(EventKind::Write));
    EXPECT_TRUE(pair.serverDelegate->waitFor(EventKind::Write));
    EXPECT_EQ(pair.clientDelegate->count(EventKind::Trust), 1u);
    EXPECT_EQ(pair.serverDelegate->count(EventKind::Trust), 0u);
    pair.disconnect();
}

TEST(TlsTest, LinesAndBytesAlreadyDecryptedServeLaterReadsWithoutNewInput) {
    auto pair = securedPair();
    ASSERT_TRUE(pair.client);
    // One write, many records' worth; after it the server sends nothing more.
    const std::string message = pattern(100000);
    pair.server->writeData(Data("one\ntwo\nthree\n" + message), -1, 1);
    ASSERT_TRUE(pair.serverDelegate->waitFor(EventKind::Write));
    size_t reads = 0;
    for (const char* line : {"one\n", "two\n", "three\n"}) {
        pair.client->readDataToData(QueueSocket::LFData(), -1, 0);
        EXPECT_EQ(pair.clientDelegate->readText(++reads), line);
    }

    // Each read is asked for only after the previous one arrived, as the chat client does: the rest of
    // the message then sits in the TLS layer or the read-ahead buffer, and no descriptor event follows.
    std::string received;
    for (int i = 0; i < 20; ++i) {
        pair.client->readDataToLength(5000, -1, i);
        received += pair.clientDelegate->readText(++reads);
    }
    EXPECT_TRUE(received == message);
    pair.disconnect();
}

TEST(TlsTest, TheTrustVerdictCountsOnceAndNotAfterTheSocketClosed) {
    auto delegate = RecordingDelegate::create();
    delegate->setTrustAnswer(std::nullopt);
    auto pair = connectTlsPair(delegate);
    ASSERT_TRUE(pair.server && pair.client);
    pair.server->startTLS(serverSettings());
    pair.client->startTLS(manualTrustSettings());
    ASSERT_TRUE(delegate->waitFor(EventKind::Trust));
    auto handler = delegate->trustHandlers().at(0);
    handler(true);
    handler(true);
    handler(false); // too late: the first answer was taken
    ASSERT_TRUE(delegate->waitFor(EventKind::Secure));
    ASSERT_TRUE(pair.serverDelegate->waitFor(EventKind::Secure));
    // The extra answers have reached the socket queue, and whatever they caused the delegate queue.
    pair.client->performBlock([] {});
    pair.clientQueue->sync([] {});
    EXPECT_EQ(delegate->count(EventKind::Secure), 1u);
    EXPECT_EQ(delegate->count(EventKind::Disconnect), 0u);
    EXPECT_TRUE(pair.client->isConnected());

    pair.client->disconnect();
    handler(false);
    pair.client->performBlock([] {});
    pair.clientQueue->sync([] {});
    auto disconnects = delegate->eventsOf(EventKind::Disconnect);
    ASSERT_EQ(disconnects.size(), 1u);
    EXPECT_FALSE(disconnects[0].error);
    pair.disconnect();
}

TEST(TlsTest, ManualTrustWithoutTheTrustCallbackClosesTheSocket) {
    std::set<std::string> implemented = allSelectors();
    implemented.erase(sel::didReceiveTrust);
    auto delegate = RecordingDelegate::create(implemented);
    auto pair = connectTlsPair(delegate);
    ASSERT_TRUE(pair.server && pair.client);
    pair.server->startTLS(serverSettings());
    pair.client->startTLS(manualTrustSettings());
    EXPECT_EQ(delegate->disconnectError().substr(0, 25), "QueueSocketErrorDomain 8:");
    pair.disconnect();
}

TEST(TlsSettingsTest, SettingsTheEngineCannotUseCloseTheSocketWithTheirMessage) {
    Value manualServer = serverSettings();
    manualServer.mutableDictionary()->set(QueueSocketManuallyEvaluateTrust, true);
    const std::pair<Value, const char*> cases[] = {
        {Value::dictionary({{QueueSocketSSLCipherSuites, "all of them"}}),
         "Invalid value for QueueSocketSSLCipherSuites."},
        {Value::dictionary({{platform::kCFStreamSSLPeerName, 42}}),
         "Invalid value for kCFStreamSSLPeerName."},
        {Value::dictionary({{QueueSocketSSLPeerID, "not data"}}), "Invalid value for QueueSocketSSLPeerID."},
        {Value::dictionary({{QueueSocketSSLProtocolVersionMax, "TLS 1.3"}}),
         "Invalid value for QueueSocketSSLProtocolVersionMax."},
        // Options only the streams offer.
        {Value::dictionary({{platform::kCFStreamSSLLevel, "kCFStreamSocketSecurityLevelTLSv1"}}),
         "Security option unavailable - kCFStreamSSLLevel"},
        {Value::dictionary({{platform::kCFStreamSSLValidatesCertificateChain, false}}),
         "Security option unavailable - kCFStreamSSLValidatesCertificateChain"},
        {manualServer, "Manual trust validation is not supported for server sockets"},
        // A server without an identity in its certificates.
        {Value::dictionary(
             {{platform::kCFStreamSSLIsServer, true},
              {platform::kCFStreamSSLCertificates, Value::array({Value(testPki().server.certificate)})}}),
         "Error in SSLSetCertificate"},
    };
    for (const auto& [settings, text] : cases) {
        SCOPED_TRACE(text);
        // No handshake starts: one end is enough.
        auto pair = connectPair(AF_INET);
        ASSERT_TRUE(pair.peer);
        pair.socket->startTLS(settings);
        EXPECT_EQ(pair.delegate->disconnectError(), std::string("QueueSocketErrorDomain 8: ") + text);
    }
}

TEST(TlsSettingsTest, ASecondUpgradeRequestIsIgnored) {
    auto pair = securedPair();
    ASSERT_TRUE(pair.client);
    pair.client->startTLS(Value::dictionary({{QueueSocketSSLCipherSuites, "would fail if it ran"}}));
    pair.client->writeData(Data(std::string_view("still fine")), -1, 1);
    pair.server->readDataToLength(10, -1, 2);
    auto read = pair.serverDelegate->await(EventKind::Read);
    EXPECT_EQ(read.data.toString(), "still fine");
    EXPECT_EQ(pair.clientDelegate->count(EventKind::Disconnect), 0u);
    pair.disconnect();
}
