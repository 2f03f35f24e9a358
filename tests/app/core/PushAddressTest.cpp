// The RTMP push address built from the stream key and the logged-in user.

#include "app/core/AppConfiguration.h"
#include "tests/app/core/CommonDataFixture.h"

#include <cstdlib>

namespace liveapp::test {
namespace {

class PushAddressTest : public CommonDataFixture {
protected:
    void TearDown() override {
        unsetenv(AppConfiguration::kRTMPHostVariable);
        CommonDataFixture::TearDown();
    }
};

TEST_F(PushAddressTest, KeyWithServerGivesServerSlashUserQueryKey) {
    data()->setLoginUser(userWithId(42));
    data()->setSecretKeyModel(key("k", "rtmp://127.0.0.1:1935/app"));
    EXPECT_EQ(data()->pushStreamInterface(), "rtmp://127.0.0.1:1935/app/42?key=k");
}

TEST_F(PushAddressTest, KeyAloneGoesToTheConfiguredIngestHost) {
    data()->setLoginUser(userWithId(42));
    data()->setSecretKeyModel(key("k"));
    EXPECT_EQ(data()->pushStreamInterface(), "rtmp://" + AppConfiguration::rtmpHost() + "/live/42?key=k");
    setenv(AppConfiguration::kRTMPHostVariable, "127.0.0.1:19350", 1);
    EXPECT_EQ(data()->pushStreamInterface(), "rtmp://127.0.0.1:19350/live/42?key=k");
}

TEST_F(PushAddressTest, NoKeyMeansNoAddressEvenWithAServer) {
    data()->setLoginUser(userWithId(42));
    EXPECT_FALSE(data()->pushStreamInterface());
    data()->setSecretKeyModel(key(std::nullopt, "rtmp://127.0.0.1/app"));
    EXPECT_FALSE(data()->pushStreamInterface());
}

TEST_F(PushAddressTest, NoUserIdMeansNoAddress) {
    data()->setSecretKeyModel(key("k", "rtmp://127.0.0.1/app"));
    EXPECT_FALSE(data()->pushStreamInterface());
    auto anonymous = std::make_shared<UserModel>();
    anonymous->nick = "no id";
    data()->setLoginUser(anonymous);
    EXPECT_FALSE(data()->pushStreamInterface());
}

TEST_F(PushAddressTest, FollowsTheUserWhoIsLoggedIn) {
    data()->setSecretKeyModel(key("k"));
    data()->setLoginUser(user(R"({"id": 7})"));
    EXPECT_EQ(data()->pushStreamInterface(), "rtmp://" + AppConfiguration::rtmpHost() + "/live/7?key=k");
}

} // namespace
} // namespace liveapp::test
