#include "platform/security/TlsTrust.h"

#include "TestPki.h"
#include "platform/foundation/Clock.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace securitytest;

namespace {

TlsTrustPtr serverTrust(std::optional<std::string> host = "localhost") {
    auto trust =
        TlsTrust::create({pki().server.certificate, pki().intermediate.certificate}, std::move(host));
    trust->setAnchorCertificates({pki().root.certificate});
    return trust;
}

} // namespace

TEST(TlsTrustEvaluation, AChainToAnAnchorIsTrustedWithoutFurtherSay) {
    auto trust = serverTrust();
    EXPECT_EQ(trust->result(), kSecTrustResultInvalid);
    EXPECT_EQ(trust->evaluate(), kSecTrustResultUnspecified);
    EXPECT_EQ(trust->failureStatus(), noErr);
    ErrorPtr error;
    EXPECT_TRUE(trust->evaluateWithError(&error));
    EXPECT_FALSE(error);
}

TEST(TlsTrustEvaluation, WithoutAnchorsTheSystemStoreDoesNotKnowTheTestRoot) {
    auto trust = TlsTrust::create({pki().server.certificate, pki().intermediate.certificate}, "localhost");
    EXPECT_EQ(trust->evaluate(), kSecTrustResultRecoverableTrustFailure);
    EXPECT_EQ(trust->failureStatus(), errSSLXCertChainInvalid);
    // Adding the system's roots back to our anchors still trusts through our root.
    trust->setAnchorCertificates({pki().root.certificate});
    trust->setAnchorCertificatesOnly(false);
    EXPECT_EQ(trust->evaluate(), kSecTrustResultUnspecified);
}

TEST(TlsTrustEvaluation, AMissingIntermediateBreaksTheChain) {
    auto trust = TlsTrust::create({pki().server.certificate}, "localhost");
    trust->setAnchorCertificates({pki().root.certificate});
    EXPECT_EQ(trust->evaluate(), kSecTrustResultRecoverableTrustFailure);
    EXPECT_EQ(trust->failureStatus(), errSSLXCertChainInvalid);
}

TEST(TlsTrustEvaluation, HostNamesAndAddressesAreChecked) {
    EXPECT_EQ(serverTrust("localhost")->evaluate(), kSecTrustResultUnspecified);
    EXPECT_EQ(serverTrust("127.0.0.1")->evaluate(), kSecTrustResultUnspecified);
    EXPECT_EQ(serverTrust("::1")->evaluate(), kSecTrustResultUnspecified);
    EXPECT_EQ(serverTrust(std::nullopt)->evaluate(), kSecTrustResultUnspecified);
    auto wrong = serverTrust("evil.example");
    EXPECT_EQ(wrong->evaluate(), kSecTrustResultRecoverableTrustFailure);
    EXPECT_EQ(wrong->failureStatus(), errSSLHostNameMismatch);
    auto wrongAddress = serverTrust("127.0.0.2");
    EXPECT_EQ(wrongAddress->evaluate(), kSecTrustResultRecoverableTrustFailure);
    EXPECT_EQ(wrongAddress->failureStatus(), errSSLHostNameMismatch);
}

TEST(TlsTrustEvaluation, TheVerifyDateDecidesExpiry) {
    auto trust = serverTrust();
    trust->setVerifyDate(Date::now().dateByAddingTimeInterval(30 * 86400));
    EXPECT_EQ(trust->evaluate(), kSecTrustResultRecoverableTrustFailure);
    EXPECT_EQ(trust->failureStatus(), errSSLCertExpired);
    trust->setVerifyDate(Date::now().dateByAddingTimeInterval(-2 * 3600));
    EXPECT_EQ(trust->evaluate(), kSecTrustResultRecoverableTrustFailure);
    EXPECT_EQ(trust->failureStatus(), errSSLCertNotYetValid);
}

TEST(TlsTrustEvaluation, WithoutAVerifyDateTheInstalledClockDecides) {
    auto clock = std::make_shared<ManualClock>();
    Clock::install(clock);
    auto trust = serverTrust();
    EXPECT_EQ(trust->evaluate(), kSecTrustResultUnspecified);
    clock->advance(std::chrono::hours(24 * 30));
    EXPECT_EQ(trust->evaluate(), kSecTrustResultRecoverableTrustFailure);
    EXPECT_EQ(trust->failureStatus(), errSSLCertExpired);
    Clock::install(nullptr);
}

TEST(TlsTrustEvaluation, AllowancesOverrideOnlyWhatTheyName) {
    auto expired =
        TlsTrust::create({pki().expiredServer.certificate, pki().intermediate.certificate}, "localhost");
    expired->setAnchorCertificates({pki().root.certificate});
    EXPECT_EQ(expired->evaluate(), kSecTrustResultRecoverableTrustFailure);
    TlsTrustOptions options;
    options.allowsExpiredRoots = true; // the leaf is not a root
    expired->setOptions(options);
    EXPECT_EQ(expired->evaluate(), kSecTrustResultRecoverableTrustFailure);
    options.allowsExpiredCertificates = true;
    expired->setOptions(options);
    EXPECT_EQ(expired->evaluate(), kSecTrustResultUnspecified);

    auto selfSigned = TlsTrust::create({pki().selfSigned.certificate}, "localhost");
    EXPECT_EQ(selfSigned->evaluate(), kSecTrustResultRecoverableTrustFailure);
    TlsTrustOptions anyRoot;
    anyRoot.allowsAnyRoot = true;
    selfSigned->setOptions(anyRoot);
    EXPECT_EQ(selfSigned->evaluate(), kSecTrustResultUnspecified);
    // Any root is not any name.
    auto misnamed = TlsTrust::create({pki().selfSigned.certificate}, "evil.example");
    misnamed->setOptions(anyRoot);
    EXPECT_EQ(misnamed->evaluate(), kSecTrustResultRecoverableTrustFailure);
    EXPECT_EQ(misnamed->failureStatus(), errSSLHostNameMismatch);
}

TEST(TlsTrustEvaluation, AForgedSignatureIsFatal) {
    // Issued in the intermediate's name but signed with another key.
    CertificateTemplate blueprint;
    blueprint.commonName = "localhost";
    blueprint.dnsNames = {"localhost"};
    Issued impostor = pki().intermediate;
    impostor.keyPEM = pki().otherRoot.keyPEM;
    Issued forged = issue(blueprint, &impostor);
    auto trust = TlsTrust::create({forged.certificate, pki().intermediate.certificate}, "localhost");
    trust->setAnchorCertificates({pki().root.certificate});
    EXPECT_EQ(trust->evaluate(), kSecTrustResultFatalTrustFailure);
    EXPECT_EQ(trust->failureStatus(), errSSLBadCert);
    ErrorPtr error;
    EXPECT_FALSE(trust->evaluateWithError(&error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), NSOSStatusErrorDomain);
    EXPECT_EQ(error->code(), errSSLBadCert);
    EXPECT_NE(error->localizedDescription().find("localhost"), std::string::npos);
}

TEST(TlsTrustEvaluation, AnEmptyChainMakesNoTrust) {
    EXPECT_EQ(TlsTrust::create({}), nullptr);
    EXPECT_EQ(TlsTrust::create({nullptr}), nullptr);
}
