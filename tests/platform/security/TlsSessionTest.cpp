#include "TestPki.h"
#include "TlsTestTransport.h"
#include "platform/security/TlsContext.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace platform;
using namespace securitytest;

namespace {

using Received = std::pair<OSStatus, std::string>;

Received received(OSStatus status, std::string text = "") {
    return {status, std::move(text)};
}

ConnectedPair connectedPair() {
    auto pair = makePair();
    auto [c, s] = pumpHandshake(*pair.client, *pair.server);
    EXPECT_EQ(c, noErr) << securityStatusName(c);
    EXPECT_EQ(s, noErr) << securityStatusName(s);
    return pair;
}

TlsContextPtr contextWithTransport(TlsReadFunction read, TlsWriteFunction write) {
    auto context = TlsContext::create(TlsRole::Client);
    EXPECT_EQ(context->setIOFuncs(std::move(read), std::move(write)), noErr);
    return context;
}

} // namespace

TEST(TlsClose, PeersCloseIsGracefulAfterTheDataBeforeIt) {
    auto pair = connectedPair();
    ASSERT_EQ(send(*pair.server, "last words"), noErr);
    ASSERT_EQ(pair.server->close(), noErr);
    EXPECT_EQ(pair.server->sessionState(), SSLSessionState::Closed);
    EXPECT_EQ(receive(*pair.client), received(errSSLClosedGraceful, "last words"));
    EXPECT_EQ(receive(*pair.client), received(errSSLClosedGraceful));
    // Our own side is still open for writing until we close it.
    EXPECT_EQ(send(*pair.client, "bye"), noErr);
    EXPECT_EQ(receive(*pair.server).first, errSSLClosedGraceful);
    EXPECT_EQ(send(*pair.server, "x"), errSSLClosedGraceful);
}

TEST(TlsClose, ATransportThatEndsWithoutTheTlsCloseIsAnAbortThatSticks) {
    auto pair = connectedPair();
    ASSERT_EQ(send(*pair.server, "partial"), noErr);
    pair.link.toClient->writerClosed = true;
    EXPECT_EQ(receive(*pair.client), received(errSSLClosedAbort, "partial"));
    EXPECT_EQ(pair.client->sessionState(), SSLSessionState::Aborted);
    EXPECT_EQ(receive(*pair.client).first, errSSLClosedAbort);
    EXPECT_EQ(send(*pair.client, "x"), errSSLClosedAbort);
    EXPECT_EQ(pair.client->close(), noErr);

    // A read side that says "graceful" when its bytes end is still an abort.
    auto fresh = contextWithTransport(
        [](void*, size_t* length) {
            *length = 0;
            return errSSLClosedGraceful;
        },
        [](const void*, size_t*) { return noErr; });
    EXPECT_EQ(fresh->handshake(), errSSLClosedAbort);
}

TEST(TlsClose, CloseThatCannotBeWrittenYetAsksToBeCalledAgain) {
    auto pair = connectedPair();
    pair.link.toServer->capacity = 0;
    EXPECT_EQ(pair.client->close(), errSSLWouldBlock);
    pair.link.toServer->capacity = SIZE_MAX;
    EXPECT_EQ(pair.client->close(), noErr);
    EXPECT_EQ(receive(*pair.server).first, errSSLClosedGraceful);
}

TEST(TlsRead, BufferedBytesAreServedWithoutTheTransportAndShortReadsWouldBlock) {
    auto pair = connectedPair();
    ASSERT_EQ(send(*pair.server, std::string(1000, 'r')), noErr);
    EXPECT_EQ(receive(*pair.client, 10), received(noErr, std::string(10, 'r')));
    EXPECT_EQ(pair.client->bufferedReadSize(), 990u);
    EXPECT_TRUE(pair.link.toClient->bytes.empty());
    size_t readsBefore = pair.link.toClient->reads;
    EXPECT_EQ(receive(*pair.client, 990), received(noErr, std::string(990, 'r')));
    EXPECT_EQ(pair.link.toClient->reads, readsBefore);
    EXPECT_EQ(pair.client->bufferedReadSize(), 0u);

    // A short read reports the bytes it delivered with would-block.
    ASSERT_EQ(send(*pair.server, "abc"), noErr);
    EXPECT_EQ(receive(*pair.client, 100), received(errSSLWouldBlock, "abc"));
    EXPECT_EQ(receive(*pair.client, 100), received(errSSLWouldBlock));
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

    std::string arrived;
    OSStatus pushed = errSSLWouldBlock;
    for (int i = 0; i < 10000 && (pushed != noErr || arrived.size() < payload.size()); ++i) {
        if (pushed != noErr)
            pushed = pair.client->write(nullptr, 0, &taken);
        arrived += receive(*pair.server).second;
    }
    EXPECT_EQ(pushed, noErr);
    EXPECT_EQ(arrived, payload);

    // A transport that fails aborts the session.
    auto fresh = contextWithTransport(
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

TEST(TlsSessionCache, ASecondConnectionWithThePeerIDResumesTheSessionAndItsChain) {
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
        // A resumed session still answers the peer's chain.
        auto trust = pair.client->copyPeerTrust();
        EXPECT_TRUE(trust && trust->certificateAtIndex(0)->commonName() == "localhost");
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

// What each side answers when the client's settings are `client` and the server's `server`.
TEST(TlsNegotiation, VersionsAndSuitesDecideWhatIsAgreedOrRefused) {
    constexpr uint16_t kAES128 = 0x1301, kAES256 = 0x1302, kECDHE_ECDSA_AES128 = 0xC02B;
    const struct {
        const char* what;
        SSLProtocol clientMax, serverMin;
        std::vector<uint16_t> clientSuites, serverSuites;
        OSStatus client, server;
        SSLProtocol version;
        uint16_t cipher;
    } cases[] = {
        {"no common version",
         kTLSProtocol12,
         kTLSProtocol13,
         {},
         {},
         errSSLPeerProtocolVersion,
         errSSLNegotiation,
         kTLSProtocol12,
         0},
        {"1.2 at most", kTLSProtocol12, kTLSProtocol12, {}, {}, noErr, noErr, kTLSProtocol12, 0},
        {"unknown suites skipped",
         kTLSProtocol13,
         kTLSProtocol12,
         {0xFFFF, kAES256},
         {},
         noErr,
         noErr,
         kTLSProtocol13,
         kAES256},
        {"1.2 suite",
         kTLSProtocol12,
         kTLSProtocol12,
         {kECDHE_ECDSA_AES128},
         {},
         noErr,
         noErr,
         kTLSProtocol12,
         kECDHE_ECDSA_AES128},
        {"no common suite",
         kTLSProtocol13,
         kTLSProtocol12,
         {kAES128},
         {kAES256},
         errSSLPeerHandshakeFail,
         errSSLNegotiation,
         kTLSProtocol13,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto pair = makePair();
        ASSERT_EQ(pair.client->setProtocolVersionMax(c.clientMax), noErr);
        ASSERT_EQ(pair.server->setProtocolVersionMin(c.serverMin), noErr);
        if (!c.clientSuites.empty()) {
            ASSERT_EQ(pair.client->setEnabledCiphers(c.clientSuites), noErr);
        }
        if (!c.serverSuites.empty()) {
            ASSERT_EQ(pair.server->setEnabledCiphers(c.serverSuites), noErr);
        }
        auto [client, server] = pumpHandshake(*pair.client, *pair.server);
        EXPECT_EQ(client, c.client) << securityStatusName(client);
        EXPECT_EQ(server, c.server) << securityStatusName(server);
        if (client != noErr)
            continue;
        EXPECT_EQ(pair.client->negotiatedProtocolVersion(), c.version);
        EXPECT_EQ(pair.server->negotiatedProtocolVersion(), c.version);
        if (c.cipher) {
            EXPECT_EQ(pair.server->negotiatedCipher(), c.cipher);
        }
        EXPECT_EQ(transfer(*pair.client, *pair.server, "agreed"), "agreed");
    }
}

TEST(TlsNegotiation, RangesStayOrderedAndUnknownVersionsAndSuitesAreRefused) {
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

    auto before = context->enabledCiphers();
    const uint16_t unknown[] = {0xFFFF, 0xFEFE, 0x00FF};
    EXPECT_EQ(context->setEnabledCiphers(unknown), errSecParam);
    EXPECT_EQ(context->enabledCiphers(), before);
    const uint16_t one[] = {0xFFFF, 0x1302};
    ASSERT_EQ(context->setEnabledCiphers(one), noErr);
    auto enabled = context->enabledCiphers();
    for (uint16_t suite : {0x1302, 0xFFFF, 0x1301})
        EXPECT_EQ(std::count(enabled.begin(), enabled.end(), suite), suite == 0x1302) << suite;
}
