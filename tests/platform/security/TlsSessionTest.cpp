#include "TestPki.h"
#include "TlsTestTransport.h"
#include "platform/security/TlsContext.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace platform;
using namespace securitytest;

namespace {

ConnectedPair connectedPair() {
    auto pair = makePair();
    auto [c, s] = pumpHandshake(*pair.client, *pair.server);
    EXPECT_EQ(c, noErr) << securityStatusName(c);
    EXPECT_EQ(s, noErr) << securityStatusName(s);
    return pair;
}

} // namespace

TEST(TlsClose, PeersCloseIsGracefulAfterTheDataBeforeIt) {
    auto pair = connectedPair();
    size_t taken = 0;
    ASSERT_EQ(pair.server->write("last words", 10, &taken), noErr);
    ASSERT_EQ(pair.server->close(), noErr);
    EXPECT_EQ(pair.server->sessionState(), SSLSessionState::Closed);

    char buffer[64];
    size_t got = 0;
    EXPECT_EQ(pair.client->read(buffer, sizeof buffer, &got), errSSLClosedGraceful);
    EXPECT_EQ(std::string(buffer, got), "last words");
    EXPECT_EQ(pair.client->read(buffer, sizeof buffer, &got), errSSLClosedGraceful);
    EXPECT_EQ(got, 0u);
    // Our own side is still open for writing until we close it.
    EXPECT_EQ(pair.client->write("bye", 3, &taken), noErr);
    EXPECT_EQ(pair.server->read(buffer, sizeof buffer, &got), errSSLClosedGraceful);
    EXPECT_EQ(pair.server->write("x", 1, &taken), errSSLClosedGraceful);
}

TEST(TlsClose, ATransportThatEndsWithoutTheTlsCloseIsAnAbort) {
    auto pair = connectedPair();
    size_t taken = 0;
    ASSERT_EQ(pair.server->write("partial", 7, &taken), noErr);
    pair.link.toClient->writerClosed = true;

    char buffer[64];
    size_t got = 0;
    EXPECT_EQ(pair.client->read(buffer, sizeof buffer, &got), errSSLClosedAbort);
    EXPECT_EQ(std::string(buffer, got), "partial");
    EXPECT_EQ(pair.client->sessionState(), SSLSessionState::Aborted);
    // The failure sticks.
    EXPECT_EQ(pair.client->read(buffer, sizeof buffer, &got), errSSLClosedAbort);
    EXPECT_EQ(pair.client->write("x", 1, &taken), errSSLClosedAbort);
    EXPECT_EQ(pair.client->close(), noErr);
}

TEST(TlsClose, ATransportReportingAGracefulEndIsStillAnAbort) {
    // A read side that says "graceful" when its bytes end.
    auto fresh = TlsContext::create(TlsRole::Client);
    ASSERT_EQ(fresh->setIOFuncs(
                  [](void*, size_t* length) {
                      *length = 0;
                      return errSSLClosedGraceful;
                  },
                  [](const void*, size_t*) { return noErr; }),
              noErr);
    EXPECT_EQ(fresh->handshake(), errSSLClosedAbort);
}

TEST(TlsClose, CloseThatCannotBeWrittenYetAsksToBeCalledAgain) {
    auto pair = connectedPair();
    pair.link.toServer->capacity = 0;
    EXPECT_EQ(pair.client->close(), errSSLWouldBlock);
    pair.link.toServer->capacity = SIZE_MAX;
    EXPECT_EQ(pair.client->close(), noErr);
    char buffer[8];
    size_t got = 0;
    EXPECT_EQ(pair.server->read(buffer, sizeof buffer, &got), errSSLClosedGraceful);
}

TEST(TlsRead, BufferedReadSizeCountsDecryptedBytesTheTransportNoLongerHolds) {
    auto pair = connectedPair();
    std::string record(1000, 'r');
    size_t taken = 0;
    ASSERT_EQ(pair.server->write(record.data(), record.size(), &taken), noErr);

    char buffer[1000];
    size_t got = 0;
    ASSERT_EQ(pair.client->read(buffer, 10, &got), noErr);
    EXPECT_EQ(got, 10u);
    EXPECT_EQ(pair.client->bufferedReadSize(), 990u);
    EXPECT_TRUE(pair.link.toClient->bytes.empty());

    size_t readsBefore = pair.link.toClient->reads;
    ASSERT_EQ(pair.client->read(buffer, 990, &got), noErr);
    EXPECT_EQ(got, 990u);
    EXPECT_EQ(pair.link.toClient->reads, readsBefore); // served without the transport
    EXPECT_EQ(pair.client->bufferedReadSize(), 0u);
}

TEST(TlsRead, AShortReadReportsTheBytesItDeliveredWithWouldBlock) {
    auto pair = connectedPair();
    size_t taken = 0;
    ASSERT_EQ(pair.server->write("abc", 3, &taken), noErr);
    char buffer[100];
    size_t got = 0;
    EXPECT_EQ(pair.client->read(buffer, sizeof buffer, &got), errSSLWouldBlock);
    EXPECT_EQ(std::string(buffer, got), "abc");
    EXPECT_EQ(pair.client->read(buffer, sizeof buffer, &got), errSSLWouldBlock);
    EXPECT_EQ(got, 0u);
}

TEST(TlsWrite, ABlockedTransportTakesTheWholeBufferAndAnEmptyWritePushesIt) {
    auto pair = connectedPair();
    pair.link.toServer->capacity = 100;
    std::string payload(5000, 'p');
    size_t taken = 0;
    EXPECT_EQ(pair.client->write(payload.data(), payload.size(), &taken), errSSLWouldBlock);
    EXPECT_EQ(taken, payload.size()); // all of it was taken; only the encrypted bytes wait

    // While bytes wait, nothing new is taken.
    EXPECT_EQ(pair.client->write("more", 4, &taken), errSSLWouldBlock);
    EXPECT_EQ(taken, 0u);

    std::string received;
    char buffer[4096];
    OSStatus pushed = errSSLWouldBlock;
    for (int i = 0; i < 10000 && (pushed != noErr || received.size() < payload.size()); ++i) {
        if (pushed != noErr)
            pushed = pair.client->write(nullptr, 0, &taken);
        size_t got = 0;
        pair.server->read(buffer, sizeof buffer, &got);
        received.append(buffer, got);
    }
    EXPECT_EQ(pushed, noErr);
    EXPECT_EQ(received, payload);
}

TEST(TlsWrite, AFailingTransportAbortsTheSession) {
    auto fresh = TlsContext::create(TlsRole::Client);
    fresh->setIOFuncs(
        [](void*, size_t* length) {
            *length = 0;
            return errSSLWouldBlock;
        },
        [](const void*, size_t* length) {
            *length = 0;
            return errSSLClosedNoNotify;
        });
    EXPECT_EQ(fresh->handshake(), errSSLClosedNoNotify);
    EXPECT_EQ(fresh->sessionState(), SSLSessionState::Aborted);
}

TEST(TlsSessionCache, ASecondConnectionWithThePeerIDResumesTheSession) {
    TlsContext::clearSessionCache();
    const Data peerID(std::string_view("localhost:443"));
    auto connectWith = [](const Data* id) {
        auto pair = makePair();
        if (id)
            pair.client->setPeerID(*id);
        auto [c, s] = pumpHandshake(*pair.client, *pair.server);
        EXPECT_EQ(c, noErr);
        EXPECT_EQ(s, noErr);
        // The session arrives after the handshake, with the first bytes the client reads.
        EXPECT_EQ(transfer(*pair.server, *pair.client, "ticket"), "ticket");
        bool resumed = pair.client->isSessionResumed();
        EXPECT_EQ(resumed, pair.server->isSessionResumed());
        return resumed;
    };
    EXPECT_FALSE(connectWith(&peerID));
    EXPECT_TRUE(connectWith(&peerID));
    const Data otherID(std::string_view("localhost:8443"));
    EXPECT_FALSE(connectWith(&otherID));
    EXPECT_FALSE(connectWith(nullptr));
    TlsContext::clearSessionCache();
    EXPECT_FALSE(connectWith(&peerID));
}

TEST(TlsSessionCache, AResumedSessionStillAnswersThePeersChain) {
    TlsContext::clearSessionCache();
    const Data peerID(std::string_view("resume-chain"));
    for (int round = 0; round < 2; ++round) {
        auto pair = makePair();
        pair.client->setPeerID(peerID);
        auto [c, s] = pumpHandshake(*pair.client, *pair.server);
        ASSERT_EQ(c, noErr);
        EXPECT_EQ(transfer(*pair.server, *pair.client, "t"), "t");
        EXPECT_EQ(pair.client->isSessionResumed(), round == 1);
        auto trust = pair.client->copyPeerTrust();
        ASSERT_TRUE(trust);
        EXPECT_EQ(trust->certificateAtIndex(0)->commonName(), "localhost");
    }
}

TEST(TlsProtocolVersion, NonOverlappingRangesAreRefusedOnBothSides) {
    auto pair = makePair();
    ASSERT_EQ(pair.client->setProtocolVersionMax(kTLSProtocol12), noErr);
    ASSERT_EQ(pair.server->setProtocolVersionMin(kTLSProtocol13), noErr);
    auto [c, s] = pumpHandshake(*pair.client, *pair.server);
    EXPECT_EQ(s, errSSLNegotiation) << securityStatusName(s);
    EXPECT_EQ(c, errSSLPeerProtocolVersion) << securityStatusName(c);
}

TEST(TlsProtocolVersion, AMaximumOfTls12NegotiatesTls12) {
    auto pair = makePair();
    ASSERT_EQ(pair.client->setProtocolVersionMax(kTLSProtocol12), noErr);
    auto [c, s] = pumpHandshake(*pair.client, *pair.server);
    ASSERT_EQ(c, noErr);
    EXPECT_EQ(pair.client->negotiatedProtocolVersion(), kTLSProtocol12);
    EXPECT_EQ(pair.server->negotiatedProtocolVersion(), kTLSProtocol12);
    EXPECT_EQ(transfer(*pair.client, *pair.server, "twelve"), "twelve");
}

TEST(TlsProtocolVersion, RangesStayOrderedAndUnknownVersionsAreRefused) {
    auto context = TlsContext::create(TlsRole::Client);
    ASSERT_EQ(context->setProtocolVersionMax(kTLSProtocol12), noErr);
    ASSERT_EQ(context->setProtocolVersionMin(kTLSProtocol13), noErr);
    EXPECT_EQ(context->protocolVersionMin(), kTLSProtocol13);
    EXPECT_EQ(context->protocolVersionMax(), kTLSProtocol13);
    ASSERT_EQ(context->setProtocolVersionMax(kTLSProtocol12), noErr);
    EXPECT_EQ(context->protocolVersionMin(), kTLSProtocol12);
    EXPECT_EQ(context->setProtocolVersionMin(kDTLSProtocol1), errSecParam);
    EXPECT_EQ(context->setProtocolVersionMax(kSSLProtocolUnknown), errSecParam);
    EXPECT_EQ(context->setProtocolVersionMax(kTLSProtocolMaxSupported), noErr);
    EXPECT_EQ(context->protocolVersionMax(), kTLSProtocol13);
}

TEST(TlsCiphers, TheEnabledSuiteIsTheOneNegotiated) {
    constexpr uint16_t kTLS_AES_256_GCM_SHA384 = 0x1302;
    constexpr uint16_t kTLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256 = 0xC02B;
    {
        auto pair = makePair();
        const uint16_t suites[] = {0xFFFF, kTLS_AES_256_GCM_SHA384};
        ASSERT_EQ(pair.client->setEnabledCiphers(suites), noErr);
        auto enabled = pair.client->enabledCiphers();
        EXPECT_EQ(std::count(enabled.begin(), enabled.end(), kTLS_AES_256_GCM_SHA384), 1);
        EXPECT_EQ(std::count(enabled.begin(), enabled.end(), 0xFFFF), 0);
        EXPECT_EQ(std::count(enabled.begin(), enabled.end(), 0x1301), 0);
        auto [c, s] = pumpHandshake(*pair.client, *pair.server);
        ASSERT_EQ(c, noErr) << securityStatusName(c);
        EXPECT_EQ(pair.client->negotiatedCipher(), kTLS_AES_256_GCM_SHA384);
    }
    {
        auto pair = makePair();
        const uint16_t suites[] = {kTLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256};
        ASSERT_EQ(pair.client->setEnabledCiphers(suites), noErr);
        ASSERT_EQ(pair.client->setProtocolVersionMax(kTLSProtocol12), noErr);
        auto [c, s] = pumpHandshake(*pair.client, *pair.server);
        ASSERT_EQ(c, noErr) << securityStatusName(c);
        EXPECT_EQ(pair.server->negotiatedCipher(), kTLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256);
    }
}

TEST(TlsCiphers, OnlyUnknownSuitesAreRefusedAndChangeNothing) {
    auto context = TlsContext::create(TlsRole::Client);
    auto before = context->enabledCiphers();
    const uint16_t unknown[] = {0xFFFF, 0xFEFE, 0x00FF};
    EXPECT_EQ(context->setEnabledCiphers(unknown), errSecParam);
    EXPECT_EQ(context->enabledCiphers(), before);
}

TEST(TlsCiphers, SuitesNoPeerSharesFailTheNegotiation) {
    auto pair = makePair();
    const uint16_t clientSuites[] = {0x1301};
    const uint16_t serverSuites[] = {0x1302};
    pair.client->setEnabledCiphers(clientSuites);
    pair.server->setEnabledCiphers(serverSuites);
    auto [c, s] = pumpHandshake(*pair.client, *pair.server);
    EXPECT_EQ(s, errSSLNegotiation) << securityStatusName(s);
    EXPECT_EQ(c, errSSLPeerHandshakeFail) << securityStatusName(c);
}
