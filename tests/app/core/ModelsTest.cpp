// The service's data models: key mapping, placeholders, archives and the preset's numbers.

#include "app/core/ServiceModels.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"

#include <gtest/gtest.h>

namespace {

using platform::Value;

Value parse(std::string_view json) {
    return platform::JSONSerialization::JSONObjectWithData(platform::Data(json));
}

template <typename T> std::shared_ptr<T> roundTrip(const std::shared_ptr<T>& object) {
    auto bytes = platform::KeyedArchiver::archivedDataWithRootObject(object);
    return std::dynamic_pointer_cast<T>(platform::KeyedUnarchiver::unarchiveObjectWithData(bytes));
}

class ModelsTest : public testing::Test {
protected:
    void SetUp() override { registerServiceModels(); }
};

constexpr std::string_view kFullUser = R"({"avatar": "http://127.0.0.1/a.png", "email": "a@b.c",
    "mobile": "13800000000", "nick": "ann", "id": 42, "isAnchor": 1, "money": 7, "neiku": 0,
    "nextRankScore": 100, "rank": 3, "score": 55, "superAdmin": 0, "unreadMsg": 2})";

TEST_F(ModelsTest, UserIdComesFromTheJsonIdAndExportsUnderIt) {
    auto user = UserModel::initWithDictionary(parse(R"({"id": 42, "nick": "ann"})"));
    ASSERT_TRUE(user);
    EXPECT_EQ(user->uid, Value(42));
    EXPECT_EQ(user->uidText(), "42");
    Value exported = user->toDictionary();
    EXPECT_EQ(exported["id"], Value(42));
    EXPECT_TRUE(exported["uid"].isNil());
    EXPECT_FALSE(UserModel::initWithDictionary(parse(R"({"nick": "ann", "id": null})"))->uidText());
}

TEST_F(ModelsTest, UserArchiveKeepsAllThirteenProperties) {
    auto user = UserModel::initWithDictionary(parse(kFullUser));
    ASSERT_TRUE(user);
    auto back = roundTrip(user);
    ASSERT_TRUE(back);
    for (const auto& name : UserModel::archivedPropertyNames())
        EXPECT_EQ(back->valueForKey(name), user->valueForKey(name)) << name;
    EXPECT_EQ(back->nick, "ann");
    EXPECT_EQ(back->unreadMsg, Value(2));
}

TEST_F(ModelsTest, UserCopyIsIndependentAndComplete) {
    auto user = UserModel::initWithDictionary(parse(kFullUser));
    auto copy = user->copy();
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.get(), user.get());
    for (const auto& name : UserModel::archivedPropertyNames())
        EXPECT_EQ(copy->valueForKey(name), user->valueForKey(name)) << name;
    copy->nick = "bob";
    EXPECT_EQ(user->nick, "ann");
}

TEST_F(ModelsTest, RoomTitleAndCategoryNameAnswerAndKeepTheirPlaceholders) {
    auto room = RoomModel::initWithDictionary(parse(R"({"uid": "42", "view": "12"})"));
    ASSERT_TRUE(room);
    // Export carries the placeholders even before anything read them.
    Value exported = room->toDictionary();
    EXPECT_EQ(exported["title"], Value("点击来输入房间名"));
    EXPECT_EQ(exported["categoryName"], Value("点击选择房间类别"));
    EXPECT_EQ(room->title(), "点击来输入房间名");
    EXPECT_EQ(room->categoryName(), "点击选择房间类别");
    auto back = roundTrip(room);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->title(), "点击来输入房间名");
}

TEST_F(ModelsTest, CategoryIdAndNameComeThroughTheMapperAndNameKeepsItsOwnKey) {
    auto categories = CategoryListModel::arrayOfModelsFromDictionaries(
        parse(R"([{"id": "3", "name": "Games", "thumb": "t.png", "category_id": "c3"},
                  {"id": 4, "name": "Music"}])"));
    ASSERT_TRUE(categories);
    ASSERT_EQ(categories->size(), 2u);
    const auto& first = *(*categories)[0];
    EXPECT_EQ(first.categoryId, "3");
    EXPECT_EQ(first.categoryName, "Games");
    EXPECT_EQ(first.name, "Games");
    EXPECT_EQ(first.thumb, "t.png");
    EXPECT_EQ(first.category_id, "c3");
    EXPECT_EQ((*categories)[1]->categoryId, "4");
}

TEST_F(ModelsTest, SecretKeyMayComeWithoutServer) {
    auto key = SecretKeyModel::initWithDictionary(parse(R"({"secretKey": "k1"})"));
    ASSERT_TRUE(key);
    EXPECT_EQ(key->secretKey, "k1");
    EXPECT_FALSE(key->server);
    auto back = roundTrip(key);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->secretKey, "k1");
}

TEST_F(ModelsTest, EnvelopeReadsItsLineOnceAndKeepsIt) {
    auto envelope = RoomChatModel::initWithDictionary(parse(
        R"({"rid": "42", "os": 1, "pid": 7,
            "chat": {"json": "{\"type\": 0, \"text\": \"hi\", \"user\": {\"id\": 5, \"nick\": \"N\"}}"}})"));
    ASSERT_TRUE(envelope);
    auto line = envelope->chatModel();
    ASSERT_TRUE(line);
    EXPECT_EQ(line->text(), "hi");
    ASSERT_TRUE(line->user);
    EXPECT_EQ(line->user->uidText(), "5");
    EXPECT_EQ(envelope->chatModel().get(), line.get());
}

TEST_F(ModelsTest, EnvelopeWithoutReadableLineAnswersNothingAndTriesAgain) {
    for (std::string_view json : {R"({"rid": "1"})", R"({"chat": {"json": 17}})",
                                  R"({"chat": {"json": ["x"]}})", R"({"chat": {"json": "not json"}})"}) {
        auto envelope = RoomChatModel::initWithDictionary(parse(json));
        ASSERT_TRUE(envelope) << json;
        EXPECT_FALSE(envelope->chatModel()) << json;
    }
    RoomChatModel notADictionary;
    notADictionary.chat = Value("text");
    EXPECT_FALSE(notADictionary.chatModel());
    auto envelope = RoomChatModel::initWithDictionary(parse(R"({"chat": {"json": "{"}})"));
    ASSERT_TRUE(envelope);
    EXPECT_FALSE(envelope->chatModel());
    envelope->chat = Value(platform::ValueDictionary{{"json", Value(R"({"type": 999, "text": "later"})")}});
    auto line = envelope->chatModel();
    ASSERT_TRUE(line);
    EXPECT_EQ(line->text(), "later");
}

TEST_F(ModelsTest, PresetNumbersComeFromItsTexts) {
    ResolutionDataModel preset;
    preset.resolution = "1280x720";
    preset.bitrate = "800";
    preset.frameRate = "25";
    EXPECT_DOUBLE_EQ(preset.resolutionWidth(), 1280.0);
    EXPECT_DOUBLE_EQ(preset.resolutionHeight(), 720.0);
    EXPECT_EQ(preset.bitrateValue(), 800000);
    EXPECT_EQ(preset.frameRateValue(), 25);
}

TEST_F(ModelsTest, PresetBitrateDoesNotOverflowForLargeTexts) {
    ResolutionDataModel preset;
    preset.bitrate = "5000000"; // 5 Gbit/s: past 32 bits once in bits per second
    EXPECT_EQ(preset.bitrateValue(), int64_t{5000000000});
    preset.bitrate = "99999999999999999999999";
    EXPECT_EQ(preset.bitrateValue(), INT64_MAX);
    preset.bitrate = "-99999999999999999999999";
    EXPECT_EQ(preset.bitrateValue(), INT64_MIN);
}

TEST_F(ModelsTest, PresetWithoutSeparatorOrTextsGivesZeros) {
    ResolutionDataModel preset;
    EXPECT_EQ(preset.resolutionWidth(), 0.0);
    EXPECT_EQ(preset.resolutionHeight(), 0.0);
    EXPECT_EQ(preset.bitrateValue(), 0);
    preset.resolution = "640";
    EXPECT_EQ(preset.resolutionWidth(), 640.0);
    EXPECT_EQ(preset.resolutionHeight(), 0.0);
}

TEST_F(ModelsTest, PresetFillsFromADictionaryIgnoringOtherKeys) {
    ResolutionDataModel preset;
    preset.setValuesForKeysWithDictionary(parse(
        R"({"title": "HD", "bitrate": 1000, "resolution": "540x960", "frameRate": "25", "codec": "h264"})"));
    EXPECT_EQ(preset.title, "HD");
    EXPECT_EQ(preset.bitrate, "1000");
    EXPECT_EQ(preset.resolution, "540x960");
    EXPECT_EQ(preset.frameRate, "25");
}

TEST_F(ModelsTest, PresetArchivesUnderItsFourKeysAndCopies) {
    auto preset = std::make_shared<ResolutionDataModel>();
    preset->title = "超清";
    preset->bitrate = "1800";
    preset->resolution = "720x1280";
    preset->frameRate = "25";
    auto back = roundTrip(preset);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->title, "超清");
    EXPECT_EQ(back->bitrate, "1800");
    EXPECT_EQ(back->resolution, "720x1280");
    EXPECT_EQ(back->frameRate, "25");
    auto copy = preset->copy();
    copy->title = "x";
    EXPECT_EQ(preset->title, "超清");
    EXPECT_EQ(copy->resolution, "720x1280");
}

} // namespace
