#include "platform/security/TlsStreamSettings.h"

#include "TestPki.h"
#include "TlsTestTransport.h"
#include "platform/security/TlsSettingsKeys.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace securitytest;

// The client's verdict on the server's chain and name under its settings, and what its alert makes of
// the server's side (anyError: the server fails, whatever the code).
TEST(TlsStreamSettings, VerificationFollowsTheSettingsAndTheHostConnectedTo) {
    constexpr OSStatus anyError = 1;
    const auto& p = pki();
    const Value anyRoot = Value::dictionary({{kCFStreamSSLAllowsAnyRoot, true}});
    const Value expiredOnly = Value::dictionary({{kCFStreamSSLAllowsExpiredCertificates, true}});
    const struct {
        const char* what;
        Value settings;
        const Issued& leaf;
        const char* host;
        OSStatus client, server;
    } cases[] = {
        // The test root is not in the system store, so only the allowance for any root lets these through.
        {"defaults", Value::dictionary({}), p.server, "localhost", errSSLXCertChainInvalid, anyError},
        {"self-signed", Value::dictionary({}), p.selfSigned, "localhost", errSSLXCertChainInvalid,
         errSSLPeerUnknownCA},
        {"any root", anyRoot, p.server, "localhost", noErr, noErr},
        {"IP address host", anyRoot, p.server, "127.0.0.1", noErr, noErr},
        {"wrong host", anyRoot, p.server, "elsewhere.example", errSSLHostNameMismatch, anyError},
        {"peer name replaces the host",
         Value::dictionary({{kCFStreamSSLAllowsAnyRoot, true}, {kCFStreamSSLPeerName, "localhost"}}),
         p.server, "10.0.0.1", noErr, noErr},
        {"null peer name skips the name check",
         Value::dictionary({{kCFStreamSSLAllowsAnyRoot, true}, {kCFStreamSSLPeerName, Value::null()}}),
         p.server, "elsewhere.example", noErr, noErr},
        {"not validating", Value::dictionary({{kCFStreamSSLValidatesCertificateChain, false}}),
         p.expiredServer, "elsewhere.example", noErr, noErr},
        {"expired", anyRoot, p.expiredServer, "localhost", errSSLCertExpired, anyError},
        {"expired allowed, root unknown", expiredOnly, p.expiredServer, "localhost", errSSLXCertChainInvalid,
         anyError},
        {"expired allowed, any root",
         Value::dictionary(
             {{kCFStreamSSLAllowsExpiredCertificates, true}, {kCFStreamSSLAllowsAnyRoot, true}}),
         p.expiredServer, "localhost", noErr, noErr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Value serverSettings =
            Value::dictionary({{kCFStreamSSLIsServer, true},
                               {kCFStreamSSLCertificates,
                                Value::array({Value(c.leaf.identity), Value(p.intermediate.certificate)})}});
        auto client = TlsContext::create(tlsRoleForStreamSettings(c.settings));
        auto server = TlsContext::create(tlsRoleForStreamSettings(serverSettings));
        ASSERT_EQ(client->role(), TlsRole::Client);
        ASSERT_EQ(server->role(), TlsRole::Server);
        ASSERT_EQ(applyTlsStreamSettings(*client, c.settings, c.host), noErr);
        ASSERT_EQ(applyTlsStreamSettings(*server, serverSettings, c.host), noErr);
        MemoryLink link;
        link.connect(*client, *server);
        auto [clientStatus, serverStatus] = pumpHandshake(*client, *server);
        EXPECT_EQ(clientStatus, c.client) << securityStatusName(clientStatus);
        if (c.server == anyError) {
            EXPECT_NE(serverStatus, noErr);
        } else {
            EXPECT_EQ(serverStatus, c.server) << securityStatusName(serverStatus);
        }
        if (c.client != noErr) {
            EXPECT_EQ(client->sessionState(), SSLSessionState::Aborted);
        }
    }
}

TEST(TlsStreamSettings, WrongValuesAreRefusedNamingTheKeyAndLevelsSetTheLowestVersion) {
    const std::pair<Value, std::string> cases[] = {
        {Value::dictionary({{kCFStreamSSLPeerName, 5}}), kCFStreamSSLPeerName},
        {Value::dictionary({{kCFStreamSSLCertificates, "x"}}), kCFStreamSSLCertificates},
        {Value::dictionary({{kCFStreamSSLCertificates, Value::array({Value(pki().server.certificate)})}}),
         kCFStreamSSLCertificates},
        {Value::dictionary({{kCFStreamSSLValidatesCertificateChain, "no"}}),
         kCFStreamSSLValidatesCertificateChain},
        {Value::dictionary({{kCFStreamSSLAllowsAnyRoot, Value::array({})}}), kCFStreamSSLAllowsAnyRoot},
        {Value::dictionary({{kCFStreamSSLLevel, kCFStreamSocketSecurityLevelSSLv2}}), kCFStreamSSLLevel},
        {Value::dictionary({{kCFStreamSSLLevel, kCFStreamSocketSecurityLevelNone}}), kCFStreamSSLLevel},
        {Value::dictionary({{kCFStreamSSLLevel, 3}}), kCFStreamSSLLevel},
    };
    for (const auto& [settings, key] : cases) {
        SCOPED_TRACE(key);
        std::string problem;
        EXPECT_EQ(
            applyTlsStreamSettings(*TlsContext::create(TlsRole::Client), settings, "localhost", &problem),
            errSecParam);
        EXPECT_EQ(problem, "Invalid value for " + key + ".");
    }

    auto context = TlsContext::create(TlsRole::Client);
    auto tls1 = Value::dictionary({{kCFStreamSSLLevel, kCFStreamSocketSecurityLevelTLSv1}});
    ASSERT_EQ(applyTlsStreamSettings(*context, tls1, "localhost"), noErr);
    EXPECT_EQ(context->protocolVersionMin(), kTLSProtocol1);
    EXPECT_EQ(context->protocolVersionMax(), kTLSProtocol13);
    auto negotiated = Value::dictionary({{kCFStreamSSLLevel, kCFStreamSocketSecurityLevelNegotiatedSSL}});
    EXPECT_EQ(applyTlsStreamSettings(*TlsContext::create(TlsRole::Client), negotiated, "localhost"), noErr);
}
