// The application state: the user-default helpers, the beauty levels, the first-live flag, the live
// parameters and presets, the stream key's failure counting, the local records a next launch reads
// back on the same home, and the RTMP push address.

#include "app/core/CommonData.h"

#include "app/core/AppConfiguration.h"
#include "app/core/ServiceModels.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/peers/ServiceStub.h"
#include "tests/support/MainLoop.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace liveapp::test {
namespace {

using platform::Value;

// A fresh application state for one test, and "a new launch" on the same home: the state and the
// user defaults forgotten, so the next use reads back what the last one stored.
class CommonDataFixture : public testing::Test {
protected:
    void SetUp() override {
        registerServiceModels();
        relaunch();
    }
    void TearDown() override {
        unsetenv(AppConfiguration::kRTMPHostVariable);
        CommonData::resetSharedInstanceForTesting();
        platform::UserDefaults::resetStandardForTesting();
    }

    static void relaunch() {
        CommonData::resetSharedInstanceForTesting();
        platform::UserDefaults::resetStandardForTesting();
    }

    static std::shared_ptr<CommonData> data() { return CommonData::sharedInstance(); }

    static std::shared_ptr<UserModel> user(std::string_view json) {
        return UserModel::initWithDictionary(
            platform::JSONSerialization::JSONObjectWithData(platform::Data(json)));
    }
    static std::shared_ptr<UserModel> userWithId(int64_t uid) {
        auto model = std::make_shared<UserModel>();
        model->uid = platform::Value(uid);
        model->nick = "anchor";
        return model;
    }
    static std::shared_ptr<SecretKeyModel> key(std::optional<std::string> secretKey,
                                               std::optional<std::string> server = std::nullopt) {
        auto model = std::make_shared<SecretKeyModel>();
        model->secretKey = std::move(secretKey);
        model->server = std::move(server);
        return model;
    }
};

using CommonDataTest = CommonDataFixture;
using PersistenceTest = CommonDataFixture;
using PushAddressTest = CommonDataFixture;

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
    data()->saveFirstTimeLive(); // nobody logged in
    data()->setLoginUser(user(R"({"nick": "no id"})"));
    data()->saveFirstTimeLive();
    EXPECT_TRUE(data()->isFirstTimeLive());
    EXPECT_TRUE(data()->userDefaults()->dictionaryRepresentation().empty());
    data()->setAppSetting(nullptr); // the setting is made on first use
    auto setting = CommonData::appSetting();
    ASSERT_TRUE(setting);
    EXPECT_EQ(CommonData::appSetting().get(), setting.get());
}

TEST_F(CommonDataTest, LiveParametersAndTheThreePresetsComeFromTheResources) {
    EXPECT_FALSE(data()->isAlwaysLogin());
    EXPECT_FALSE(data()->shouldSkipCellphoneIdentifying());
    EXPECT_FLOAT_EQ(data()->liveRoomRefreshingInterval(), 5.0f);
    const struct {
        const char* title;
        double width, height;
        int64_t bitrate, frameRate;
    } expected[] = {
        {"标清", 360, 640, 600000, 20}, {"高清", 540, 960, 1000000, 25}, {"超清", 720, 1280, 1800000, 25}};
    const auto& presets = data()->resolutionDataSource();
    ASSERT_EQ(presets.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(presets[i]->title, expected[i].title);
        EXPECT_EQ(presets[i]->resolutionWidth(), expected[i].width);
        EXPECT_EQ(presets[i]->resolutionHeight(), expected[i].height);
        EXPECT_EQ(presets[i]->bitrateValue(), expected[i].bitrate);
        EXPECT_EQ(presets[i]->frameRateValue(), expected[i].frameRate);
    }
    // Read once: the same objects on every call.
    EXPECT_EQ(data()->resolutionDataSource()[0].get(), presets[0].get());
}

TEST_F(CommonDataTest, ThreeFailuresOnlyCountTheFourthRestoresTheArchivedKey) {
    data()->secretKeyRequestFailed();
    data()->secretKeyRequestSucceeded(key("live")); // a success at any time resets the count
    EXPECT_EQ(data()->secretKeyFailedTimes(), 0u);
    // A previous run left another key in the archive.
    platform::KeyedArchiver::archiveRootObject(key("fallback"), data()->secretKeyPersistentFilePath());
    for (int i = 0; i < 3; ++i)
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

TEST_F(CommonDataTest, SuccessWithoutKeyCountsAsFailureAndNoArchiveKeepsTheKeyInUse) {
    data()->secretKeyRequestSucceeded(key("live"));
    data()->secretKeyRequestSucceeded(nullptr);
    EXPECT_EQ(data()->secretKeyFailedTimes(), 1u);
    EXPECT_EQ(data()->readSecretKey()->secretKey, "live");
    std::filesystem::remove(data()->secretKeyPersistentFilePath());
    for (int i = 0; i < 3; ++i)
        data()->secretKeyRequestFailed();
    EXPECT_EQ(data()->secretKeyFailedTimes(), 0u);
    ASSERT_TRUE(data()->secretKeyModel());
    EXPECT_EQ(data()->secretKeyModel()->secretKey, "live");
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

    void requestUntil(const std::function<bool()>& settled) {
        data()->requestSecretKey();
        ASSERT_TRUE(pumpMainLoopUntil([&] { return !stub.requestsTo("room.viewSecretKey").empty(); }));
        ASSERT_TRUE(pumpMainLoopUntil(settled));
    }

    ServiceStub stub;
};

TEST_F(StreamKeyRequestTest, SuccessStoresAndArchivesTheKey) {
    stub.setSecretKey("42", Value(platform::ValueDictionary{{"secretKey", Value("abc")}}));
    requestUntil([] { return CommonData::sharedInstance()->secretKeyModel() != nullptr; });
    EXPECT_EQ(data()->secretKeyModel()->secretKey, "abc");
    relaunch();
    EXPECT_EQ(data()->readSecretKey()->secretKey, "abc");
}

TEST_F(StreamKeyRequestTest, ReplyWhoseDataDoesNotImportCountsAndKeepsTheFallback) {
    data()->setSecretKeyModel(key("archived"));
    stub.script("room.viewSecretKey", ServiceStub::success(Value("not an object")));
    requestUntil([] { return CommonData::sharedInstance()->secretKeyFailedTimes() > 0; });
    EXPECT_EQ(data()->secretKeyFailedTimes(), 1u);
    ASSERT_TRUE(data()->secretKeyModel());
    EXPECT_EQ(data()->secretKeyModel()->secretKey, "archived");
    EXPECT_EQ(data()->readSecretKey()->secretKey, "archived");
}

TEST_F(PersistenceTest, RecordsLiveInHiddenFilesInTheDocumentsFolder) {
    auto documents = platform::Paths::documents();
    EXPECT_EQ(CommonData::systemDocumentsFolder(), documents);
    EXPECT_EQ(data()->userPersistentFilePath(), documents / ".user.persistent");
    EXPECT_EQ(data()->roomInfoPersistentFilePath(), documents / ".room.persistent");
    EXPECT_EQ(data()->secretKeyPersistentFilePath(), documents / ".secret_key.persistent");
    EXPECT_EQ(data()->resolutionPersistentFilePath(), documents / ".resolution.persistent");
}

// User, room (with the placeholder the screens read before storing) and stream key survive a
// relaunch; the key is read back only when asked; logging out leaves no user for the next launch.
TEST_F(PersistenceTest, RecordsSurviveARelaunch) {
    data()->setLoginUser(
        user(R"({"id": 42, "nick": "ann", "mobile": "138", "avatar": "http://127.0.0.1/a.png"})"));
    auto room = std::make_shared<RoomModel>();
    room->categoryId = "3";
    room->view = "17";
    (void)room->title();
    data()->setRoomInfo(room);
    data()->setSecretKeyModel(key("k1", "rtmp://127.0.0.1/live"));
    relaunch();
    EXPECT_FALSE(data()->loginUser());
    EXPECT_FALSE(data()->secretKeyModel());
    data()->loadLoginUser();
    data()->loadRoomInfo();
    data()->readLocalSecretKey();
    auto restored = data()->loginUser();
    ASSERT_TRUE(restored && data()->roomInfo() && data()->secretKeyModel());
    EXPECT_EQ(restored->uidText(), "42");
    EXPECT_EQ(restored->nick, "ann");
    EXPECT_EQ(restored->mobile, "138");
    EXPECT_EQ(restored->avatar, "http://127.0.0.1/a.png");
    EXPECT_EQ(data()->roomInfo()->categoryId, "3");
    EXPECT_EQ(data()->roomInfo()->view, "17");
    EXPECT_EQ(data()->roomInfo()->title(), "点击来输入房间名");
    EXPECT_EQ(data()->secretKeyModel()->secretKey, "k1");
    EXPECT_EQ(data()->secretKeyModel()->server, "rtmp://127.0.0.1/live");
    data()->setLoginUser(nullptr);
    relaunch();
    data()->loadLoginUser();
    EXPECT_FALSE(data()->loginUser());
}

TEST_F(PersistenceTest, MissingOrDamagedRecordsReadAsNothing) {
    EXPECT_FALSE(data()->readLoginUser());
    EXPECT_FALSE(data()->readRoomInfo());
    EXPECT_FALSE(data()->readSecretKey());
    for (const auto& path : {data()->userPersistentFilePath(), data()->roomInfoPersistentFilePath(),
                             data()->secretKeyPersistentFilePath()}) {
        std::ofstream(path, std::ios::binary) << "LVKA not really an archive";
    }
    EXPECT_FALSE(data()->readLoginUser());
    EXPECT_FALSE(data()->readRoomInfo());
    EXPECT_FALSE(data()->readSecretKey());
    data()->loadLoginUser();
    EXPECT_FALSE(data()->loginUser());
    // A record of another class.
    platform::KeyedArchiver::archiveRootObject(key("k"), data()->userPersistentFilePath());
    EXPECT_FALSE(data()->readLoginUser());
}

TEST_F(PersistenceTest, FirstPresetIsChosenOnAFreshInstallAndTheChoiceSurvivesARelaunch) {
    EXPECT_FALSE(std::filesystem::exists(data()->resolutionPersistentFilePath()));
    auto chosen = data()->resolutionData();
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->title, "标清");
    EXPECT_TRUE(std::filesystem::exists(data()->resolutionPersistentFilePath()));
    data()->setResolutionData(data()->resolutionDataSource()[2]);
    relaunch();
    chosen = data()->resolutionData();
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->title, "超清");
    EXPECT_EQ(chosen->resolution, "720x1280");
    EXPECT_EQ(chosen->bitrateValue(), 1800000);
}

TEST_F(PersistenceTest, NoPresetsAndNoChoiceAnswerNothing) {
    auto resources = platform::Paths::home() / "empty-resources";
    std::filesystem::create_directories(resources);
    platform::Paths::setResources(resources);
    EXPECT_TRUE(data()->resolutionDataSource().empty());
    EXPECT_FALSE(data()->resolutionData());
    EXPECT_FALSE(data()->isAlwaysLogin());
    EXPECT_EQ(data()->liveRoomRefreshingInterval(), 0.0f);
    platform::Paths::setResources({});
}

TEST_F(PushAddressTest, ServerSlashUserQueryKeyOrTheConfiguredIngestHost) {
    data()->setLoginUser(userWithId(42));
    EXPECT_FALSE(data()->pushStreamInterface()); // no key
    data()->setSecretKeyModel(key(std::nullopt, "rtmp://127.0.0.1/app"));
    EXPECT_FALSE(data()->pushStreamInterface()); // no key, even with a server
    data()->setSecretKeyModel(key("k", "rtmp://127.0.0.1:1935/app"));
    EXPECT_EQ(data()->pushStreamInterface(), "rtmp://127.0.0.1:1935/app/42?key=k");
    data()->setSecretKeyModel(key("k"));
    EXPECT_EQ(data()->pushStreamInterface(), "rtmp://" + AppConfiguration::rtmpHost() + "/live/42?key=k");
    setenv(AppConfiguration::kRTMPHostVariable, "127.0.0.1:19350", 1);
    EXPECT_EQ(data()->pushStreamInterface(), "rtmp://127.0.0.1:19350/live/42?key=k");
    data()->setLoginUser(user(R"({"id": 7})")); // follows the user who is logged in
    EXPECT_EQ(data()->pushStreamInterface(), "rtmp://127.0.0.1:19350/live/7?key=k");
    data()->setLoginUser(user(R"({"nick": "no id"})")); // no user id, no address
    EXPECT_FALSE(data()->pushStreamInterface());
    data()->setLoginUser(nullptr);
    EXPECT_FALSE(data()->pushStreamInterface());
}

} // namespace
} // namespace liveapp::test
