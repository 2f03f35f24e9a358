#include "platform/security/TlsStreamSettings.h"

#include "TestPki.h"
#include "TlsTestTransport.h"
#include "platform/security/TlsSettingsKeys.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace securitytest;

namespace {

std::pair<OSStatus, OSStatus> connectWith(const Value& clientSettings, const Value& serverSettings,
                                          std::string_view host = "localhost") {
    auto client = TlsContext::create(tlsRoleForStreamSettings(clientSettings));
    auto server = TlsContext::create(tlsRoleForStreamSettings(serverSettings));
    EXPECT_EQ(client->role(), TlsRole::Client);
    EXPECT_EQ(server->role(), TlsRole::Server);
    EXPECT_EQ(applyTlsStreamSettings(*client, clientSettings, host), noErr);
    EXPECT_EQ(applyTlsStreamSettings(*server, serverSettings, host), noErr);
    MemoryLink link;
    link.connect(*client, *server);
    return pumpHandshake(*client, *server);
}

Value serverSettings(const Issued& issued) {
    return Value::dictionary(
        {{kCFStreamSSLIsServer, true},
         {kCFStreamSSLCertificates,
          Value::array({Value(issued.identity), Value(pki().intermediate.certificate)})}});
}

} // namespace

TEST(TlsStreamSettings, TheDefaultsVerifyTheChainAndTheHostConnectedTo) {
    // The test root is not in the system store, so only the allowance for any root lets this through.
    auto [c, s] = connectWith(Value::dictionary({}), serverSettings(pki().server));
    EXPECT_EQ(c, errSSLXCertChainInvalid) << securityStatusName(c);
    auto anyRoot = Value::dictionary({{kCFStreamSSLAllowsAnyRoot, true}});
    std::tie(c, s) = connectWith(anyRoot, serverSettings(pki().server));
    EXPECT_EQ(c, noErr) << securityStatusName(c);
    std::tie(c, s) = connectWith(anyRoot, serverSettings(pki().server), "elsewhere.example");
    EXPECT_EQ(c, errSSLHostNameMismatch) << securityStatusName(c);
}

TEST(TlsStreamSettings, PeerNameReplacesTheHostAndNullSkipsTheNameCheck) {
    auto named = Value::dictionary({{kCFStreamSSLAllowsAnyRoot, true}, {kCFStreamSSLPeerName, "localhost"}});
    auto [c, s] = connectWith(named, serverSettings(pki().server), "10.0.0.1");
    EXPECT_EQ(c, noErr) << securityStatusName(c);
    auto unnamed =
        Value::dictionary({{kCFStreamSSLAllowsAnyRoot, true}, {kCFStreamSSLPeerName, Value::null()}});
    std::tie(c, s) = connectWith(unnamed, serverSettings(pki().server), "elsewhere.example");
    EXPECT_EQ(c, noErr) << securityStatusName(c);
}

TEST(TlsStreamSettings, NotValidatingAcceptsAnythingAndAllowancesAcceptOnlyTheirCase) {
    auto off = Value::dictionary({{kCFStreamSSLValidatesCertificateChain, false}});
    auto [c, s] = connectWith(off, serverSettings(pki().expiredServer), "elsewhere.example");
    EXPECT_EQ(c, noErr) << securityStatusName(c);
    auto expiredOnly = Value::dictionary({{kCFStreamSSLAllowsExpiredCertificates, true}});
    std::tie(c, s) = connectWith(expiredOnly, serverSettings(pki().expiredServer));
    EXPECT_EQ(c, errSSLXCertChainInvalid) << securityStatusName(c); // the root is still unknown
    auto both =
        Value::dictionary({{kCFStreamSSLAllowsExpiredCertificates, true}, {kCFStreamSSLAllowsAnyRoot, true}});
    std::tie(c, s) = connectWith(both, serverSettings(pki().expiredServer));
    EXPECT_EQ(c, noErr) << securityStatusName(c);
}

TEST(TlsStreamSettings, WrongValuesAreRefusedNamingTheKey) {
    struct Case {
        Value settings;
        std::string key;
    };
    std::vector<Case> cases{
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
    for (const auto& test : cases) {
        auto context = TlsContext::create(TlsRole::Client);
        std::string problem;
        EXPECT_EQ(applyTlsStreamSettings(*context, test.settings, "localhost", &problem), errSecParam)
            << test.key;
        EXPECT_EQ(problem, "Invalid value for " + test.key + ".");
    }
}

TEST(TlsStreamSettings, LevelsSetTheLowestVersion) {
    auto context = TlsContext::create(TlsRole::Client);
    auto tls1 = Value::dictionary({{kCFStreamSSLLevel, kCFStreamSocketSecurityLevelTLSv1}});
    ASSERT_EQ(applyTlsStreamSettings(*context, tls1, "localhost"), noErr);
    EXPECT_EQ(context->protocolVersionMin(), kTLSProtocol1);
    EXPECT_EQ(context->protocolVersionMax(), kTLSProtocol13);
    auto negotiated = Value::dictionary({{kCFStreamSSLLevel, kCFStreamSocketSecurityLevelNegotiatedSSL}});
    EXPECT_EQ(applyTlsStreamSettings(*TlsContext::create(TlsRole::Client), negotiated, "localhost"), noErr);
}
