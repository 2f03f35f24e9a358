#include "platform/security/TlsTrust.h"

#include "TestPki.h"
#include "platform/foundation/Clock.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace securitytest;

namespace {

constexpr SecTrustResultType kTrusted = kSecTrustResultUnspecified;
constexpr SecTrustResultType kRecoverable = kSecTrustResultRecoverableTrustFailure;

TlsTrustPtr trustOf(const Issued& leaf, bool withIntermediate, std::optional<std::string> host = "localhost",
                    bool anchored = true) {
    std::vector<TlsCertificatePtr> chain{leaf.certificate};
    if (withIntermediate)
        chain.push_back(pki().intermediate.certificate);
    auto trust = TlsTrust::create(std::move(chain), std::move(host));
    if (anchored)
        trust->setAnchorCertificates({pki().root.certificate});
    return trust;
}

} // namespace

TEST(TlsTrustEvaluation, ChainNameAndAllowancesDecideTheResult) {
    const auto& p = pki();
    const struct {
        const char* what;
        const Issued& leaf;
        bool withIntermediate;
        std::optional<std::string> host;
        bool anchored;
        TlsTrustOptions options;
        SecTrustResultType result;
        OSStatus failure;
    } cases[] = {
        {"anchored chain", p.server, true, "localhost", true, {}, kTrusted, noErr},
        {"IPv4 address", p.server, true, "127.0.0.1", true, {}, kTrusted, noErr},
        {"IPv6 address", p.server, true, "::1", true, {}, kTrusted, noErr},
        {"no host", p.server, true, std::nullopt, true, {}, kTrusted, noErr},
        {"wrong name", p.server, true, "evil.example", true, {}, kRecoverable, errSSLHostNameMismatch},
        {"wrong address", p.server, true, "127.0.0.2", true, {}, kRecoverable, errSSLHostNameMismatch},
        {"system store only", p.server, true, "localhost", false, {}, kRecoverable, errSSLXCertChainInvalid},
        {"missing intermediate",
         p.server,
         false,
         "localhost",
         true,
         {},
         kRecoverable,
         errSSLXCertChainInvalid},
        {"expired", p.expiredServer, true, "localhost", true, {}, kRecoverable, errSSLCertExpired},
        // The leaf is not a root: allowing expired roots does not cover it.
        {"expired roots allowed",
         p.expiredServer,
         true,
         "localhost",
         true,
         {false, true, false},
         kRecoverable,
         errSSLCertExpired},
        {"expired allowed", p.expiredServer, true, "localhost", true, {true, false, false}, kTrusted, noErr},
        {"self-signed", p.selfSigned, false, "localhost", false, {}, kRecoverable, errSSLXCertChainInvalid},
        {"any root", p.selfSigned, false, "localhost", false, {false, false, true}, kTrusted, noErr},
        {"any root is not any name",
         p.selfSigned,
         false,
         "evil.example",
         false,
         {false, false, true},
         kRecoverable,
         errSSLHostNameMismatch},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto trust = trustOf(c.leaf, c.withIntermediate, c.host, c.anchored);
        trust->setOptions(c.options);
        EXPECT_EQ(trust->result(), kSecTrustResultInvalid);
        EXPECT_EQ(trust->evaluate(), c.result);
        EXPECT_EQ(trust->failureStatus(), c.failure);
    }
    // Adding the system's roots back to our anchors still trusts through our root.
    auto both = trustOf(p.server, true);
    both->setAnchorCertificatesOnly(false);
    EXPECT_EQ(both->evaluate(), kTrusted);
    ErrorPtr error;
    EXPECT_TRUE(both->evaluateWithError(&error));
    EXPECT_FALSE(error);
}

TEST(TlsTrustEvaluation, TheVerifyDateOrElseTheInstalledClockDecidesExpiry) {
    auto trust = trustOf(pki().server, true);
    trust->setVerifyDate(Date::now().dateByAddingTimeInterval(30 * 86400));
    EXPECT_EQ(trust->evaluate(), kRecoverable);
    EXPECT_EQ(trust->failureStatus(), errSSLCertExpired);
    trust->setVerifyDate(Date::now().dateByAddingTimeInterval(-2 * 3600));
    EXPECT_EQ(trust->evaluate(), kRecoverable);
    EXPECT_EQ(trust->failureStatus(), errSSLCertNotYetValid);

    auto clock = std::make_shared<ManualClock>();
    Clock::install(clock);
    auto clocked = trustOf(pki().server, true);
    EXPECT_EQ(clocked->evaluate(), kTrusted);
    clock->advance(std::chrono::hours(24 * 30));
    EXPECT_EQ(clocked->evaluate(), kRecoverable);
    EXPECT_EQ(clocked->failureStatus(), errSSLCertExpired);
    Clock::install(nullptr);
}

TEST(TlsTrustEvaluation, AForgedSignatureIsFatalAndNoChainMakesNoTrust) {
    // Issued in the intermediate's name but signed with another key.
    CertificateTemplate blueprint;
    blueprint.commonName = "localhost";
    blueprint.dnsNames = {"localhost"};
    Issued impostor = pki().intermediate;
    impostor.keyPEM = pki().otherRoot.keyPEM;
    auto trust = trustOf(issue(blueprint, &impostor), true);
    EXPECT_EQ(trust->evaluate(), kSecTrustResultFatalTrustFailure);
    EXPECT_EQ(trust->failureStatus(), errSSLBadCert);
    ErrorPtr error;
    EXPECT_FALSE(trust->evaluateWithError(&error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), NSOSStatusErrorDomain);
    EXPECT_EQ(error->code(), errSSLBadCert);
    EXPECT_NE(error->localizedDescription().find("localhost"), std::string::npos);

    EXPECT_EQ(TlsTrust::create({}), nullptr);
    EXPECT_EQ(TlsTrust::create({nullptr}), nullptr);
}
