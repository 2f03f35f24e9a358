#include "TestPki.h"
#include "TlsTestTransport.h"
#include "platform/security/TlsContext.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace securitytest;

TEST(TlsHandshake, ClientAndServerAgreeOverMemoryPipesAndCarryDataBothWays) {
    auto pair = makePair();
    // One round is not enough: handshake() answers would-block until the last flight has left.
    auto [client, server] = pumpHandshake(*pair.client, *pair.server, 1);
    EXPECT_EQ(client, errSSLWouldBlock);
    EXPECT_EQ(server, errSSLWouldBlock);
    EXPECT_EQ(pair.client->sessionState(), SSLSessionState::Handshake);
    std::tie(client, server) = pumpHandshake(*pair.client, *pair.server);
    ASSERT_EQ(client, noErr) << securityStatusName(client);
    ASSERT_EQ(server, noErr) << securityStatusName(server);
    EXPECT_EQ(pair.client->sessionState(), SSLSessionState::Connected);
    EXPECT_EQ(pair.client->negotiatedProtocolVersion(), kTLSProtocol13);
    EXPECT_NE(pair.client->negotiatedCipher(), 0);
    EXPECT_EQ(pair.client->negotiatedCipher(), pair.server->negotiatedCipher());
    EXPECT_EQ(transfer(*pair.client, *pair.server, "hello from the client"), "hello from the client");
    EXPECT_EQ(transfer(*pair.server, *pair.client, "hello from the server"), "hello from the server");
}

TEST(TlsHandshake, ProgressesThroughWouldBlockWithATinyTransport) {
    auto pair = makePair();
    // Seven bytes of room and three-byte reads: every flight takes many rounds.
    for (auto& pipe : {pair.link.toServer, pair.link.toClient}) {
        pipe->capacity = 7;
        pipe->readChunk = 3;
    }
    auto [client, server] = pumpHandshake(*pair.client, *pair.server, 100000);
    ASSERT_EQ(client, noErr) << securityStatusName(client);
    ASSERT_EQ(server, noErr) << securityStatusName(server);
    EXPECT_GT(pair.link.toServer->wouldBlocks, 10u);
    EXPECT_GT(pair.link.toClient->wouldBlocks, 10u);
    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 131 + 7);
    EXPECT_EQ(transfer(*pair.client, *pair.server, big, 10000000), big);
}

TEST(TlsHandshake, ReadAndWriteDriveTheHandshakeWhenCalledFirst) {
    auto pair = makePair();
    size_t taken = 0;
    OSStatus status = errSSLWouldBlock;
    for (int i = 0; i < 100 && status == errSSLWouldBlock; ++i) {
        status = pair.client->write("early", 5, &taken);
        pair.server->handshake();
    }
    ASSERT_EQ(status, noErr) << securityStatusName(status);
    EXPECT_EQ(taken, 5u);
    char buffer[5];
    size_t got = 0;
    EXPECT_EQ(pair.server->read(buffer, 5, &got), noErr);
    EXPECT_EQ(std::string(buffer, got), "early");
}

TEST(TlsBreakOnServerAuth, PausesWithThePeersChainThenResumesAsTrusted) {
    auto client = TlsContext::create(TlsRole::Client);
    auto server = TlsContext::create(TlsRole::Server);
    MemoryLink link;
    link.connect(*client, *server);
    client->setPeerName("localhost");
    ASSERT_EQ(client->setBreakOnServerAuth(true), noErr);
    EXPECT_TRUE(client->sessionOption(kSSLSessionOptionBreakOnServerAuth));
    // A root the engine does not know: the pause must not judge the chain itself.
    server->setCertificate(pki().server.identity, {pki().intermediate.certificate});

    auto [c, s] = pumpHandshake(*client, *server);
    ASSERT_EQ(c, errSSLPeerAuthCompleted) << securityStatusName(c);
    EXPECT_EQ(s, errSSLWouldBlock);

    OSStatus copied = errSecParam;
    auto trust = client->copyPeerTrust(&copied);
    ASSERT_EQ(copied, noErr);
    ASSERT_TRUE(trust);
    ASSERT_EQ(trust->certificateCount(), 2u);
    EXPECT_EQ(trust->certificateAtIndex(0)->commonName(), "localhost");
    EXPECT_EQ(trust->certificateAtIndex(1)->commonName(), "Test Intermediate CA");
    EXPECT_EQ(trust->hostName(), "localhost");
    EXPECT_EQ(trust->evaluate(), kSecTrustResultRecoverableTrustFailure); // unknown root
    trust->setAnchorCertificates({pki().root.certificate});
    EXPECT_EQ(trust->evaluate(), kSecTrustResultUnspecified);

    std::tie(c, s) = pumpHandshake(*client, *server);
    EXPECT_EQ(c, noErr) << securityStatusName(c);
    EXPECT_EQ(s, noErr) << securityStatusName(s);
    EXPECT_EQ(transfer(*client, *server, "after the pause"), "after the pause");
}

TEST(TlsBreakOnServerAuth, ARejectedServerSeesTheConnectionEnd) {
    auto client = TlsContext::create(TlsRole::Client);
    auto server = TlsContext::create(TlsRole::Server);
    MemoryLink link;
    link.connect(*client, *server);
    client->setBreakOnServerAuth(true);
    server->setCertificate(pki().selfSigned.identity);
    auto [c, s] = pumpHandshake(*client, *server);
    ASSERT_EQ(c, errSSLPeerAuthCompleted);

    // The caller says no: it closes its context and drops the transport.
    EXPECT_EQ(client->close(), noErr);
    EXPECT_EQ(client->handshake(), errSSLClosedGraceful);
    link.toServer->writerClosed = true;
    EXPECT_EQ(server->handshake(), errSSLClosedAbort);
}

TEST(TlsConfiguration, AServerWithoutIdentityOrTransportAndBadIdentitiesAreRefused) {
    auto server = TlsContext::create(TlsRole::Server);
    EXPECT_EQ(server->handshake(), errSecParam); // no I/O functions yet
    MemoryLink link;
    auto client = TlsContext::create(TlsRole::Client);
    link.connect(*client, *server);
    EXPECT_EQ(server->handshake(), errSSLBadConfiguration);
    EXPECT_EQ(server->sessionState(), SSLSessionState::Idle);
    EXPECT_EQ(server->setCertificate(nullptr), errSecParam);
    EXPECT_EQ(server->setCertificate(pki().server.identity, {nullptr}), errSecParam);
}

TEST(TlsConfiguration, OptionsAreKeptUnknownOnesRefusedAndNothingChangesOnceStarted) {
    auto pair = makePair();
    for (auto option : {kSSLSessionOptionFalseStart, kSSLSessionOptionSendOneByteRecord,
                        kSSLSessionOptionAllowRenegotiation, kSSLSessionOptionEnableSessionTickets}) {
        EXPECT_FALSE(pair.client->sessionOption(option));
        EXPECT_EQ(pair.client->setSessionOption(option, true), noErr);
        EXPECT_TRUE(pair.client->sessionOption(option));
    }
    EXPECT_EQ(pair.client->setSessionOption(static_cast<SSLSessionOption>(42), true), errSecParam);
    EXPECT_EQ(pair.client->setSessionOption(static_cast<SSLSessionOption>(-1), true), errSecParam);

    EXPECT_EQ(pair.client->handshake(), errSSLWouldBlock);
    EXPECT_EQ(pair.client->setPeerName("x"), errSecBadReq);
    EXPECT_EQ(pair.client->setPeerID(Data(std::string_view("id"))), errSecBadReq);
    EXPECT_EQ(pair.client->setProtocolVersionMin(kTLSProtocol12), errSecBadReq);
    EXPECT_EQ(pair.client->setSessionOption(kSSLSessionOptionFalseStart, false), errSecBadReq);
    EXPECT_EQ(pair.client->setValidatesCertificateChain(false), errSecBadReq);

    auto [c, s] = pumpHandshake(*pair.client, *pair.server);
    EXPECT_EQ(c, noErr);
    EXPECT_EQ(transfer(*pair.client, *pair.server, "one-byte records are not a wire change"),
              "one-byte records are not a wire change");
}
