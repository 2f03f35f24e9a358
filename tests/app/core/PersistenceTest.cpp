// The local records: what one launch stores, the next one reads back on the same home.

#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/Paths.h"
#include "tests/app/core/CommonDataFixture.h"

#include <fstream>

namespace liveapp::test {
namespace {

using platform::Value;

class PersistenceTest : public CommonDataFixture {};

TEST_F(PersistenceTest, RecordsLiveInHiddenFilesInTheDocumentsFolder) {
    auto documents = platform::Paths::documents();
    EXPECT_EQ(CommonData::systemDocumentsFolder(), documents);
    EXPECT_EQ(data()->userPersistentFilePath(), documents / ".user.persistent");
    EXPECT_EQ(data()->roomInfoPersistentFilePath(), documents / ".room.persistent");
    EXPECT_EQ(data()->secretKeyPersistentFilePath(), documents / ".secret_key.persistent");
    EXPECT_EQ(data()->resolutionPersistentFilePath(), documents / ".resolution.persistent");
}

TEST_F(PersistenceTest, UserSurvivesARelaunch) {
    auto stored = user(R"({"id": 42, "nick": "ann", "mobile": "138", "avatar": "http://127.0.0.1/a.png"})");
    data()->setLoginUser(stored);
    relaunch();
    EXPECT_FALSE(data()->loginUser());
    data()->loadLoginUser();
    auto restored = data()->loginUser();
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->uidText(), "42");
    EXPECT_EQ(restored->nick, "ann");
    EXPECT_EQ(restored->mobile, "138");
    EXPECT_EQ(restored->avatar, "http://127.0.0.1/a.png");
}

TEST_F(PersistenceTest, LogoutLeavesNoUserForTheNextLaunch) {
    data()->setLoginUser(userWithId(42));
    data()->setLoginUser(nullptr);
    relaunch();
    data()->loadLoginUser();
    EXPECT_FALSE(data()->loginUser());
}

TEST_F(PersistenceTest, RoomSurvivesARelaunchWithItsPlaceholders) {
    auto room = std::make_shared<RoomModel>();
    room->uid = "42";
    room->categoryId = "3";
    room->view = "17";
    (void)room->title(); // the screens read it before storing, which keeps the placeholder
    data()->setRoomInfo(room);
    relaunch();
    data()->loadRoomInfo();
    auto restored = data()->roomInfo();
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->categoryId, "3");
    EXPECT_EQ(restored->view, "17");
    EXPECT_EQ(restored->title(), "点击来输入房间名");
}

TEST_F(PersistenceTest, StreamKeyArchiveReadsBackOnlyWhenAsked) {
    data()->setSecretKeyModel(key("k1", "rtmp://127.0.0.1/live"));
    relaunch();
    EXPECT_FALSE(data()->secretKeyModel());
    data()->readLocalSecretKey();
    ASSERT_TRUE(data()->secretKeyModel());
    EXPECT_EQ(data()->secretKeyModel()->secretKey, "k1");
    EXPECT_EQ(data()->secretKeyModel()->server, "rtmp://127.0.0.1/live");
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
}

TEST_F(PersistenceTest, RecordOfAnotherClassReadsAsNothing) {
    platform::KeyedArchiver::archiveRootObject(key("k"), data()->userPersistentFilePath());
    EXPECT_FALSE(data()->readLoginUser());
}

TEST_F(PersistenceTest, FirstPresetIsChosenAndArchivedOnAFreshInstall) {
    EXPECT_FALSE(std::filesystem::exists(data()->resolutionPersistentFilePath()));
    auto chosen = data()->resolutionData();
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->title, "标清");
    EXPECT_TRUE(std::filesystem::exists(data()->resolutionPersistentFilePath()));
}

TEST_F(PersistenceTest, ChosenPresetSurvivesARelaunch) {
    data()->setResolutionData(data()->resolutionDataSource()[2]);
    relaunch();
    auto chosen = data()->resolutionData();
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

} // namespace
} // namespace liveapp::test
