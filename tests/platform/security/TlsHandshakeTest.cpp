#include "TestPki.h"
#include "TlsTestTransport.h"
#include "platform/security/TlsContext.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace securitytest;

TEST(TlsHandshake, ClientAndServerAgreeOverMemoryPipesAndCarryDataBothWays) {
    auto pair = makePair();
    auto [client, server] = pumpHandshake(*pair.client, *pair.server);
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
    pair.link.toServer->capacity = 7;
    pair.link.toClient->capacity = 7;
    pair.link.toServer->readChunk = 3;
    pair.link.toClient->readChunk = 3;
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

TEST(TlsHandshake, HandshakeReturnsWouldBlockUntilTheLastFlightHasLeft) {
    auto pair = makePair();
    auto [client, server] = pumpHandshake(*pair.client, *pair.server, 1);
    EXPECT_EQ(client, errSSLWouldBlock);
    EXPECT_EQ(server, errSSLWouldBlock);
    EXPECT_EQ(pair.client->sessionState(), SSLSessionState::Handshake);
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

// The client's verdict on the server's chain and name, and what its alert makes of the server's side
// (anyError: the server fails, whatever the code).
TEST(TlsVerification, ClientVerdictFollowsChainNameExpiryAndSettings) {
    constexpr OSStatus anyError = 1;
    const auto& p = pki();
    const struct {
        const char* what;
        const Issued& leaf;
        bool withIntermediate;
        const char* peerName;
        const Issued* root; // null: the system's roots
        bool validates, allowsExpired;
        OSStatus client, server;
    } cases[] = {
        {"self-signed", p.selfSigned, false, "localhost", nullptr, true, false, errSSLXCertChainInvalid,
         errSSLPeerUnknownCA},
        {"untrusted root", p.server, true, "localhost", &p.otherRoot, true, false, errSSLXCertChainInvalid,
         anyError},
        {"not validating", p.selfSigned, false, "some.other.name", nullptr, false, false, noErr, noErr},
        {"wrong name", p.server, true, "www.example.test", &p.root, true, false, errSSLHostNameMismatch,
         anyError},
        {"IP address name", p.server, true, "127.0.0.1", &p.root, true, false, noErr, noErr},
        {"expired", p.expiredServer, true, "localhost", &p.root, true, false, errSSLCertExpired, anyError},
        {"expired allowed", p.expiredServer, true, "localhost", &p.root, true, true, noErr, noErr},
    };
    for (const auto& c : cases) {
        auto client = TlsContext::create(TlsRole::Client);
        auto server = TlsContext::create(TlsRole::Server);
        MemoryLink link;
        link.connect(*client, *server);
        client->setPeerName(c.peerName);
        if (c.root)
            client->setTrustedRoots({c.root->certificate});
        ASSERT_EQ(client->setValidatesCertificateChain(c.validates), noErr);
        TlsTrustOptions options;
        options.allowsExpiredCertificates = c.allowsExpired;
        client->setTrustOptions(options);
        if (c.withIntermediate)
            server->setCertificate(c.leaf.identity, {p.intermediate.certificate});
        else
            server->setCertificate(c.leaf.identity);
        auto [clientStatus, serverStatus] = pumpHandshake(*client, *server);
        EXPECT_EQ(clientStatus, c.client) << c.what << ": " << securityStatusName(clientStatus);
        if (c.server == anyError) {
            EXPECT_NE(serverStatus, noErr) << c.what;
        } else {
            EXPECT_EQ(serverStatus, c.server) << c.what << ": " << securityStatusName(serverStatus);
        }
        if (c.client != noErr) {
            EXPECT_EQ(client->sessionState(), SSLSessionState::Aborted) << c.what;
        }
    }
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

TEST(TlsConfiguration, ServerWithoutIdentityAndContextWithoutTransportAreRefused) {
    auto server = TlsContext::create(TlsRole::Server);
    EXPECT_EQ(server->handshake(), errSecParam); // no I/O functions yet
    MemoryLink link;
    auto client = TlsContext::create(TlsRole::Client);
    link.connect(*client, *server);
    EXPECT_EQ(server->handshake(), errSSLBadConfiguration);
    EXPECT_EQ(server->sessionState(), SSLSessionState::Idle);
}

TEST(TlsConfiguration, SettersAreRefusedOnceTheHandshakeHasStarted) {
    auto pair = makePair();
    EXPECT_EQ(pair.client->handshake(), errSSLWouldBlock);
    EXPECT_EQ(pair.client->setPeerName("x"), errSecBadReq);
    EXPECT_EQ(pair.client->setPeerID(Data(std::string_view("id"))), errSecBadReq);
    EXPECT_EQ(pair.client->setProtocolVersionMin(kTLSProtocol12), errSecBadReq);
    EXPECT_EQ(pair.client->setSessionOption(kSSLSessionOptionFalseStart, true), errSecBadReq);
    EXPECT_EQ(pair.client->setValidatesCertificateChain(false), errSecBadReq);
}

TEST(TlsConfiguration, OptionsWithoutACounterpartAreKeptAndUnknownOnesRefused) {
    auto pair = makePair();
    for (auto option : {kSSLSessionOptionFalseStart, kSSLSessionOptionSendOneByteRecord,
                        kSSLSessionOptionAllowRenegotiation, kSSLSessionOptionEnableSessionTickets}) {
        EXPECT_FALSE(pair.client->sessionOption(option));
        EXPECT_EQ(pair.client->setSessionOption(option, true), noErr);
        EXPECT_TRUE(pair.client->sessionOption(option));
    }
    EXPECT_EQ(pair.client->setSessionOption(static_cast<SSLSessionOption>(42), true), errSecParam);
    EXPECT_EQ(pair.client->setSessionOption(static_cast<SSLSessionOption>(-1), true), errSecParam);
    auto [c, s] = pumpHandshake(*pair.client, *pair.server);
    EXPECT_EQ(c, noErr);
    EXPECT_EQ(transfer(*pair.client, *pair.server, "one-byte records are not a wire change"),
              "one-byte records are not a wire change");
}

TEST(TlsConfiguration, AMismatchedIdentityAndANullOneAreRefused) {
    auto server = TlsContext::create(TlsRole::Server);
    EXPECT_EQ(server->setCertificate(nullptr), errSecParam);
    EXPECT_EQ(server->setCertificate(pki().server.identity, {nullptr}), errSecParam);
}
