// HTTPS: certificates are verified by default, so a self-signed server is refused with the
// platform's untrusted-certificate error, unless the caller asks otherwise: the configuration's
// switch, or a delegate that accepts the server trust it is shown.

#include "tests/platform/net/URLSessionTestSupport.h"
#include "tests/platform/net/URLSessionTlsServer.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;

namespace {

class URLSessionTlsTest : public testing::Test {
protected:
    void TearDown() override { finishAndWait(session, delegate); }

    TlsServer server{"secure hello"};
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    URLSessionPtr session = URLSession::sessionWithConfiguration(isolatedConfiguration(), delegate, nullptr);
};

TEST_F(URLSessionTlsTest, SelfSignedServerIsRefusedByDefaultUnlessTheConfigurationAcceptsAny) {
    Completion refused, accepted;
    URLSession::sessionWithConfiguration(isolatedConfiguration())
        ->dataTaskWithURL(URL::create(server.url("/")), refused.handler())
        ->resume();
    ASSERT_TRUE(refused.wait());
    EXPECT_EQ(refused.errorCode(), NSURLErrorServerCertificateUntrusted);
    EXPECT_EQ(server.answered(), 0);

    auto configuration = isolatedConfiguration();
    configuration.setAllowsInvalidCertificates(true);
    URLSession::sessionWithConfiguration(configuration)
        ->dataTaskWithURL(URL::create(server.url("/")), accepted.handler())
        ->resume();
    ASSERT_TRUE(accepted.wait());
    EXPECT_EQ(accepted.errorCode(), 0);
    EXPECT_EQ(accepted.status(), 200);
    EXPECT_EQ(accepted.body(), "secure hello");
}

TEST_F(URLSessionTlsTest, DelegateThatAcceptsTheServerTrustGetsTheReply) {
    delegate->onChallenge = [](const URLAuthenticationChallengePtr& challenge,
                               URLSessionChallengeHandler handler) {
        handler(NSURLSessionAuthChallengeUseCredential,
                URLCredential::credentialForTrust(challenge->protectionSpace()->serverTrust()));
    };
    session->dataTaskWithURL(URL::create(server.url("/img")))->resume();
    ASSERT_TRUE(delegate->waitForCompletion());
    EXPECT_FALSE(delegate->events().back().error);
    EXPECT_EQ(delegate->body(), "secure hello");
    auto challenge = delegate->events().front().challenge;
    ASSERT_TRUE(challenge);
    EXPECT_EQ(challenge->protectionSpace()->authenticationMethod(), NSURLAuthenticationMethodServerTrust);
    ASSERT_TRUE(challenge->protectionSpace()->serverTrust());
    EXPECT_EQ(challenge->protectionSpace()->serverTrust()->host(), "127.0.0.1");
    EXPECT_EQ(challenge->protectionSpace()->protocol(), NSURLProtectionSpaceHTTPS);
}

TEST_F(URLSessionTlsTest, DefaultHandlingRefusesAndCancellingCancels) {
    session->dataTaskWithURL(URL::create(server.url("/")))->resume();
    ASSERT_TRUE(delegate->waitForCompletion());
    EXPECT_EQ(delegate->events().back().error->code(), NSURLErrorServerCertificateUntrusted);

    auto cancelling = std::make_shared<RecordingDelegate>();
    cancelling->onChallenge = [](const URLAuthenticationChallengePtr&, URLSessionChallengeHandler handler) {
        handler(NSURLSessionAuthChallengeCancelAuthenticationChallenge, nullptr);
    };
    auto other = URLSession::sessionWithConfiguration(isolatedConfiguration(), cancelling, nullptr);
    other->dataTaskWithURL(URL::create(server.url("/")))->resume();
    ASSERT_TRUE(cancelling->waitForCompletion());
    EXPECT_EQ(cancelling->events().back().error->code(), NSURLErrorCancelled);
    finishAndWait(other, cancelling);
}

TEST_F(URLSessionTlsTest, CredentialWithoutATrustDoesNotAcceptTheServer) {
    delegate->onChallenge = [](const URLAuthenticationChallengePtr&, URLSessionChallengeHandler handler) {
        handler(NSURLSessionAuthChallengeUseCredential,
                URLCredential::credentialWithUser("user", "secret", NSURLCredentialPersistenceNone));
    };
    session->dataTaskWithURL(URL::create(server.url("/")))->resume();
    ASSERT_TRUE(delegate->waitForCompletion());
    EXPECT_EQ(delegate->events().back().error->code(), NSURLErrorServerCertificateUntrusted);
    EXPECT_EQ(server.answered(), 0);
}

} // namespace
