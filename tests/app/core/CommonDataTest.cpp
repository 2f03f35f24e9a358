// The application state: the shared instance, the user-default helpers, the beauty levels, the
// first-live flag, the live parameters and presets, and the stream key's failure counting.

#include "app/core/AppConfiguration.h"
#include "tests/app/core/CommonDataFixture.h"
#include "tests/support/MainLoop.h"
#include "tests/peers/ServiceStub.h"

#include <cstdlib>

namespace liveapp::test {
namespace {

using platform::Value;

class CommonDataTest : public CommonDataFixture {};

TEST_F(CommonDataTest, BeautyLevelsAreZeroUntilSetThenReadBack) {
    EXPECT_EQ(data()->bright(), 0.0);
    EXPECT_EQ(data()->smooth(), 0.0);
    EXPECT_EQ(data()->pink(), 0.0);
    data()->setBeatyEffect(0.5f, 0.25f, 0.75f);
    relaunch();
    EXPECT_DOUBLE_EQ(data()->bright(), 0.5);
    EXPECT_DOUBLE_EQ(data()->smooth(), 0.25);
    EXPECT_DOUBLE_EQ(data()->pink(), 0.75);
    auto stored = data()->userDefaults()->dictionaryForKey("beatyEffect");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), 3u);
    EXPECT_TRUE(stored->get("bright").isNumber());
}

TEST_F(CommonDataTest, DefaultsHelpersStoreAndSynchroniseAtOnce) {
    EXPECT_FALSE(data()->havingDataForKey("k"));
    data()->setStringObject(Value("v"), "k");
    data()->setIntegerValue(int64_t{1} << 40, "n");
    data()->setBoolValue(true, "b");
    // Another reader of the same file sees the writes without any further synchronisation.
    auto other = platform::UserDefaults::create(data()->userDefaults()->file());
    EXPECT_EQ(other->stringForKey("k"), "v");
    EXPECT_EQ(other->integerForKey("n"), int64_t{1} << 40);
    EXPECT_TRUE(other->boolForKey("b"));
    EXPECT_TRUE(data()->havingDataForKey("k"));
    EXPECT_EQ(data()->stringObjectForKey("k"), Value("v"));
    EXPECT_EQ(data()->integerValueForKey("n"), int64_t{1} << 40);
    EXPECT_TRUE(data()->boolValueForKey("b"));
}

TEST_F(CommonDataTest, FirstLiveIsPerUserUntilSaved) {
    data()->setLoginUser(userWithId(42));
    EXPECT_TRUE(data()->isFirstTimeLive());
    data()->saveFirstTimeLive();
    EXPECT_FALSE(data()->isFirstTimeLive());
    EXPECT_TRUE(data()->boolValueForKey("User_42"));

    data()->setLoginUser(userWithId(43));
    EXPECT_TRUE(data()->isFirstTimeLive());

    relaunch();
    data()->setLoginUser(userWithId(42));
    EXPECT_FALSE(data()->isFirstTimeLive());
}

TEST_F(CommonDataTest, FirstLiveWithoutUserIdAnswersYesAndSavesNothing) {
    data()->saveFirstTimeLive();
    EXPECT_TRUE(data()->isFirstTimeLive());
    auto anonymous = std::make_shared<UserModel>();
    anonymous->nick = "no id";
    data()->setLoginUser(anonymous);
    data()->saveFirstTimeLive();
    EXPECT_TRUE(data()->isFirstTimeLive());
    EXPECT_FALSE(data()->havingDataForKey("User_(null)"));
    EXPECT_FALSE(data()->havingDataForKey("User_"));
    EXPECT_TRUE(data()->userDefaults()->dictionaryRepresentation().empty());
}

TEST_F(CommonDataTest, LiveParametersComeFromTheResources) {
    EXPECT_FALSE(data()->isAlwaysLogin());
    EXPECT_FALSE(data()->shouldSkipCellphoneIdentifying());
    EXPECT_FLOAT_EQ(data()->liveRoomRefreshingInterval(), 5.0f);
    EXPECT_TRUE(data()->configDictionary().isDictionary());
}

TEST_F(CommonDataTest, PresetsAreTheThreeOfTheResourcesInOrder) {
    const struct {
        const char* title;
        double width, height;
        int64_t bitrate, frameRate;
    } expected[] = {
        {"标清", 360, 640, 600000, 20}, {"高清", 540, 960, 1000000, 25}, {"超清", 720, 1280, 1800000, 25}};
    const auto& presets = data()->resolutionDataSource();
    ASSERT_EQ(presets.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(presets[i]->title, expected[i].title);
        EXPECT_EQ(presets[i]->resolutionWidth(), expected[i].width) << i;
        EXPECT_EQ(presets[i]->resolutionHeight(), expected[i].height) << i;
        EXPECT_EQ(presets[i]->bitrateValue(), expected[i].bitrate) << i;
        EXPECT_EQ(presets[i]->frameRateValue(), expected[i].frameRate) << i;
    }
    // Read once: the same objects on every call.
    EXPECT_EQ(data()->resolutionDataSource()[0].get(), presets[0].get());
}

TEST_F(CommonDataTest, ThreeFailuresOnlyCountTheFourthRestoresTheArchivedKey) {
    data()->secretKeyRequestSucceeded(key("live"));
    EXPECT_EQ(data()->secretKeyFailedTimes(), 0u);
    // A previous run left another key in the archive.
    platform::KeyedArchiver::archiveRootObject(key("fallback"), data()->secretKeyPersistentFilePath());

    data()->secretKeyRequestFailed();
    data()->secretKeyRequestFailed();
    data()->secretKeyRequestFailed();
    EXPECT_EQ(data()->secretKeyFailedTimes(), 3u);
    EXPECT_EQ(data()->secretKeyModel()->secretKey, "live");
    data()->secretKeyRequestFailed();
    EXPECT_EQ(data()->secretKeyFailedTimes(), 0u);
    EXPECT_EQ(data()->secretKeyModel()->secretKey, "fallback");
    // The next three only count again.
    data()->secretKeyRequestFailed();
    EXPECT_EQ(data()->secretKeyFailedTimes(), 1u);
    EXPECT_EQ(data()->secretKeyModel()->secretKey, "fallback");
}

TEST_F(CommonDataTest, KeyIsNotReadFromDiskAtLaunch) {
    data()->setSecretKeyModel(key("stored"));
    relaunch();
    EXPECT_FALSE(data()->secretKeyModel());
    EXPECT_EQ(data()->secretKeyFailedTimes(), 0u);
}

TEST_F(CommonDataTest, SuccessAtAnyTimeResetsTheCount) {
    data()->secretKeyRequestFailed();
    data()->secretKeyRequestFailed();
    data()->secretKeyRequestSucceeded(key("k"));
    EXPECT_EQ(data()->secretKeyFailedTimes(), 0u);
    EXPECT_EQ(data()->secretKeyModel()->secretKey, "k");
}

TEST_F(CommonDataTest, FourthFailureWithoutArchivedKeyKeepsTheKeyInUse) {
    data()->secretKeyRequestSucceeded(key("live"));
    std::filesystem::remove(data()->secretKeyPersistentFilePath());
    for (int i = 0; i < 4; ++i)
        data()->secretKeyRequestFailed();
    EXPECT_EQ(data()->secretKeyFailedTimes(), 0u);
    ASSERT_TRUE(data()->secretKeyModel());
    EXPECT_EQ(data()->secretKeyModel()->secretKey, "live");
}

TEST_F(CommonDataTest, SuccessWithoutKeyCountsAsFailureAndKeepsTheArchive) {
    data()->secretKeyRequestSucceeded(key("live"));
    data()->secretKeyRequestSucceeded(nullptr);
    EXPECT_EQ(data()->secretKeyFailedTimes(), 1u);
    EXPECT_EQ(data()->secretKeyModel()->secretKey, "live");
    EXPECT_EQ(data()->readSecretKey()->secretKey, "live");
}

// The stream-key request against the played service.
class StreamKeyRequestTest : public CommonDataFixture {
protected:
    void SetUp() override {
        CommonDataFixture::SetUp();
        setenv(AppConfiguration::kServiceURLVariable, stub.baseURL().c_str(), 1);
        stub.setRequiresLogin(false);
        data()->setLoginUser(userWithId(42));
    }
    void TearDown() override {
        unsetenv(AppConfiguration::kServiceURLVariable);
        CommonDataFixture::TearDown();
    }

    void requestAndWait() {
        size_t before = stub.requestsTo("room.viewSecretKey").size();
        data()->requestSecretKey();
        ASSERT_TRUE(pumpMainLoopUntil([&] { return stub.requestsTo("room.viewSecretKey").size() > before; }));
        ASSERT_TRUE(pumpMainLoopUntil([&] { return settled(); }));
    }
    bool settled() const { return m_settledCheck ? m_settledCheck() : true; }

    ServiceStub stub;
    std::function<bool()> m_settledCheck;
};

TEST_F(StreamKeyRequestTest, SuccessStoresAndArchivesTheKey) {
    stub.setSecretKey("42", Value(platform::ValueDictionary{{"secretKey", Value("abc")}}));
    m_settledCheck = [] { return CommonData::sharedInstance()->secretKeyModel() != nullptr; };
    requestAndWait();
    ASSERT_TRUE(data()->secretKeyModel());
    EXPECT_EQ(data()->secretKeyModel()->secretKey, "abc");
    relaunch();
    EXPECT_EQ(data()->readSecretKey()->secretKey, "abc");
}

TEST_F(StreamKeyRequestTest, ReplyWhoseDataDoesNotImportCountsAndKeepsTheFallback) {
    data()->setSecretKeyModel(key("archived"));
    stub.script("room.viewSecretKey", ServiceStub::success(Value("not an object")));
    m_settledCheck = [] { return CommonData::sharedInstance()->secretKeyFailedTimes() > 0; };
    requestAndWait();
    EXPECT_EQ(data()->secretKeyFailedTimes(), 1u);
    ASSERT_TRUE(data()->secretKeyModel());
    EXPECT_EQ(data()->secretKeyModel()->secretKey, "archived");
    EXPECT_EQ(data()->readSecretKey()->secretKey, "archived");
}

TEST_F(StreamKeyRequestTest, FourFailedRequestsFallBackToTheArchivedKey) {
    data()->setSecretKeyModel(key("archived"));
    relaunch(); // the key is in the archive only
    data()->setLoginUser(userWithId(42));
    stub.script("room.viewSecretKey", ServiceStub::failure(500, Value("busy")));
    for (uint64_t expected : {1u, 2u, 3u}) {
        m_settledCheck = [expected] {
            return CommonData::sharedInstance()->secretKeyFailedTimes() == expected;
        };
        requestAndWait();
    }
    EXPECT_FALSE(data()->secretKeyModel()); // not restored before the fourth
    m_settledCheck = [] { return CommonData::sharedInstance()->secretKeyFailedTimes() == 0; };
    requestAndWait();
    EXPECT_EQ(data()->secretKeyModel()->secretKey, "archived");
}

} // namespace
} // namespace liveapp::test
