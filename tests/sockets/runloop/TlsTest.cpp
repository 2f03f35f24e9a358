#include "platform/security/TlsSettingsKeys.h"
#include "tests/sockets/runloop/RunLoopTestSupport.h"
#include "tests/support/TlsTestPki.h"

using namespace runloopsockettest;
using liveapp::test::serverTlsSettings;
using liveapp::test::testPki;

namespace {

// A listener whose accepted socket is the server end, and a client connected to it; both on this thread.
class RunLoopSocketTls : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
        ASSERT_TRUE(client->connectToHost("127.0.0.1", listener->localPort()));
        ASSERT_TRUE(serverSide->waitFor(Ev::Connect) && clientSide->waitFor(Ev::Connect));
        server = serverSide->accepted.at(0);
    }
    void TearDown() override { serverSide->accepted.clear(); }

    static platform::Value clientSettings(bool validates) {
        auto settings = platform::Value::dictionary({{platform::kCFStreamSSLPeerName, "localhost"}});
        if (!validates)
            settings.mutableDictionary()->set(platform::kCFStreamSSLValidatesCertificateChain, false);
        return settings;
    }

    std::shared_ptr<Recorder> serverSide{std::make_shared<Recorder>()};
    std::shared_ptr<Recorder> clientSide{std::make_shared<Recorder>()};
    RunLoopSocketPtr listener{RunLoopSocket::create(serverSide)};
    RunLoopSocketPtr client{RunLoopSocket::create(clientSide)};
    RunLoopSocketPtr server;
};

} // namespace

// Requests queued before startTLS go out in the clear; those after it wait for onSocketDidSecure.
TEST_F(RunLoopSocketTls, TheMarkerSplitsTheQueuesIntoPlainAndSecureRequests) {
    client->writeData(platform::Data("plain|"), -1, 1);
    client->startTLS(clientSettings(false));
    client->writeData(platform::Data("secret"), -1, 2);
    server->readDataToData(platform::Data("|"), -1, 1);
    server->startTLS(serverTlsSettings(testPki().server));
    server->readDataToLength(6, -1, 2);
    ASSERT_TRUE(serverSide->waitFor(Ev::Read, 2));
    EXPECT_EQ(serverSide->kinds(),
              (std::vector<Ev>{Ev::Accept, Ev::Connect, Ev::Read, Ev::Secure, Ev::Read}));
    EXPECT_EQ(serverSide->last(Ev::Read)->data, "secret");
    EXPECT_EQ(clientSide->kinds(), (std::vector<Ev>{Ev::Connect, Ev::Write, Ev::Secure, Ev::Write}));
}

TEST_F(RunLoopSocketTls, AnUntrustedServerEndsTheConnectionWithTheTlsError) {
    client->startTLS(clientSettings(true));
    server->startTLS(serverTlsSettings(testPki().selfSigned));
    ASSERT_TRUE(clientSide->waitFor(Ev::Disconnect));
    EXPECT_EQ(clientSide->count(Ev::Secure), 0u);
    auto error = clientSide->last(Ev::WillDisconnect)->error;
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "kCFStreamErrorDomainSSL");
}
