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

TEST_F(ModelsTest, UserArchiveAndCopyKeepAllThirteenProperties) {
    auto user = UserModel::initWithDictionary(parse(kFullUser));
    ASSERT_TRUE(user);
    auto back = roundTrip(user);
    auto copy = user->copy();
    ASSERT_TRUE(back && copy);
    EXPECT_NE(copy.get(), user.get());
    for (const auto& name : UserModel::archivedPropertyNames()) {
        EXPECT_EQ(back->valueForKey(name), user->valueForKey(name)) << name;
        EXPECT_EQ(copy->valueForKey(name), user->valueForKey(name)) << name;
    }
    EXPECT_EQ(back->unreadMsg, Value(2));
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
    EXPECT_EQ(first.category_id, "c3");
    EXPECT_EQ((*categories)[1]->categoryId, "4");
}

TEST_F(ModelsTest, SecretKeyMayComeWithoutServer) {
    auto key = SecretKeyModel::initWithDictionary(parse(R"({"secretKey": "k1"})"));
    ASSERT_TRUE(key);
    EXPECT_EQ(key->secretKey, "k1");
    EXPECT_FALSE(key->server);
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
                                  R"({"chat": {"json": ["x"]}})", R"({"chat": {"json": "{"}})"}) {
        auto envelope = RoomChatModel::initWithDictionary(parse(json));
        ASSERT_TRUE(envelope) << json;
        EXPECT_FALSE(envelope->chatModel()) << json;
    }
    auto envelope = RoomChatModel::initWithDictionary(parse(R"({"chat": {"json": "not json"}})"));
    EXPECT_FALSE(envelope->chatModel());
    envelope->chat = Value("text");
    EXPECT_FALSE(envelope->chatModel());
    envelope->chat = Value(platform::ValueDictionary{{"json", Value(R"({"type": 999, "text": "later"})")}});
    auto line = envelope->chatModel();
    ASSERT_TRUE(line);
    EXPECT_EQ(line->text(), "later");
}

TEST_F(ModelsTest, PresetNumbersComeFromItsTextsWithoutOverflow) {
    const struct {
        const char* resolution;
        const char* bitrate;
        double width, height;
        int64_t bitsPerSecond;
    } cases[] = {
        {"1280x720", "800", 1280, 720, 800000},
        {"640", "5000000", 640, 0, int64_t{5000000000}}, // past 32 bits once in bits per second
        {"", "99999999999999999999999", 0, 0, INT64_MAX},
        {"", "-99999999999999999999999", 0, 0, INT64_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bitrate);
        ResolutionDataModel preset;
        preset.resolution = c.resolution;
        preset.bitrate = c.bitrate;
        EXPECT_EQ(preset.resolutionWidth(), c.width);
        EXPECT_EQ(preset.resolutionHeight(), c.height);
        EXPECT_EQ(preset.bitrateValue(), c.bitsPerSecond);
    }
    ResolutionDataModel empty;
    EXPECT_EQ(empty.bitrateValue(), 0);
    EXPECT_EQ(empty.resolutionWidth(), 0.0);
    // Filled from a dictionary: a number becomes its text, other keys are ignored; a copy is its own.
    auto filled = std::make_shared<ResolutionDataModel>();
    filled->setValuesForKeysWithDictionary(parse(R"({"title": "HD", "bitrate": 1000, "codec": "h264"})"));
    auto copy = filled->copy();
    copy->title = "x";
    EXPECT_EQ(filled->title, "HD");
    EXPECT_EQ(copy->bitrate, "1000");
}

} // namespace
