#include "ModelFixtures.h"
#include "platform/foundation/Exception.h"

#include "json/MappedModelArray.h"
#include "json/ValueTransformer.h"
#include <cstdlib>
#include <fmt/format.h>
#include <gtest/gtest.h>

using fixtures::MTChat;
using fixtures::MTRoom;
using fixtures::MTUser;
using fixtures::parseJSON;
using fixtures::sameValue;
using platform::Value;

namespace {

class Account : public MappedModel {
    MAPPED_MODEL(Account)
public:
    std::optional<std::string> userName;
    std::optional<std::string> note;
    std::optional<std::string> title;
    Value created;
    Value link;
    bool active{false};
    int64_t visits{0};
    static std::shared_ptr<KeyMapper> keyMapper() {
        return std::make_shared<KeyMapper>(platform::ValueDictionary{{"user.name", "userName"}});
    }
    Value JSONObjectForVisits() const { return Value(fmt::format("{} visits", visits)); }
};

void registerAccount() {
    MappedModel::registerModel<Account>("Account",
                                        {
                                            MAPPED_PROPERTY(Account, userName, "@\"NSString\""),
                                            MAPPED_PROPERTY(Account, note, "@\"NSString<Optional>\""),
                                            MAPPED_PROPERTY(Account, title, "@\"NSString\""),
                                            MAPPED_PROPERTY(Account, created, "@\"NSDate<Optional>\""),
                                            MAPPED_PROPERTY(Account, link, "@\"NSURL<Optional>\""),
                                            MAPPED_PROPERTY_ATTRIBUTES(Account, active, "Tc,N,V_active"),
                                            MAPPED_PROPERTY(Account, visits, "q"),
                                        },
                                        {MAPPED_GETTER(Account, JSONObjectForVisits)});
}

class ModelExport : public ::testing::Test {
protected:
    void SetUp() override {
        // The date formatters take the local zone when first used.
        setenv("TZ", "CST-8", 1);
        fixtures::registerModelFixtures();
        registerAccount();
    }
};

TEST_F(ModelExport, KeyPathsNestOptionalNilIsOmittedRequiredNilIsNull) {
    auto account = std::make_shared<Account>();
    account->userName = "ann";
    account->active = true;
    account->visits = 3;
    Value exported = account->toDictionary();
    EXPECT_TRUE(sameValue(
        exported,
        parseJSON(R"({"user": {"name": "ann"}, "title": null, "active": true, "visits": "3 visits"})")));
    EXPECT_FALSE(exported.dictionary()->contains("note"));
}

TEST_F(ModelExport, DatesExportInTheLocalZoneWithAFourDigitOffsetAndUrlsAsText) {
    auto account = Account::initWithDictionary(
        parseJSON(R"({"user": {"name": "a"}, "title": "t", "active": 0, "visits": 1,
                      "created": "2023-11-14T22:13:20+00:00", "link": "http://127.0.0.1/x"})"));
    ASSERT_TRUE(account);
    Value exported = account->toDictionary();
    // The formatters are made once per process, in the local zone of that moment (this test's own
    // process under ctest, where the zone is the one SetUp chose).
    auto zone = ValueTransformer::exportDateFormatter().timeZone();
    if (zone && zone->secondsFromGMTForDate(platform::Date(1700000000)) == 8 * 3600) {
        EXPECT_EQ(exported["created"], Value("2023-11-15T06:13:20+0800"));
    }
    EXPECT_EQ(exported["link"], Value("http://127.0.0.1/x"));
    EXPECT_EQ(exported["active"], Value(false));
    auto again = Account::initWithDictionary(exported);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->created, account->created);
}

TEST_F(ModelExport, ModelsAndArraysOfModelsExportAsDictionaries) {
    auto room = MTRoom::initWithDictionary(parseJSON(R"({"roomId": 1, "title": "t", "owner": {"id": "7"},
        "chats": [{"content": "a", "user": {"id": "8", "level": 2}}], "members": {"m": {"id": "9"}}})"));
    ASSERT_TRUE(room);
    EXPECT_TRUE(sameValue(room->toDictionary(),
                          parseJSON(R"({"roomId": 1, "title": "t", "owner": {"id": "7", "level": 0},
        "chats": [{"content": "a", "user": {"id": "8", "level": 2}}], "members": {"m": {"id": "9", "level": 0}}})")));
}

TEST_F(ModelExport, ArrayElementsThatAreNotModelsExportUnchanged) {
    class Feed : public MappedModel {
        MAPPED_MODEL(Feed)
    public:
        Value items;
    };
    MappedModel::registerModel<Feed>("Feed", {MAPPED_PROPERTY(Feed, items, "@\"NSArray<MTUser>\"")});
    auto feed = std::make_shared<Feed>();
    auto user = MTUser::initWithDictionary(parseJSON(R"({"id": "7"})"));
    feed->items = Value::array({Value(user), Value("plain")});
    EXPECT_TRUE(sameValue(feed->toDictionary()["items"], parseJSON(R"([{"id": "7", "level": 0}, "plain"])")));
}

TEST_F(ModelExport, SelectedKeysAndArraysOfModels) {
    auto user = MTUser::initWithDictionary(parseJSON(R"({"id": "1", "nickname": "n", "level": 4})"));
    ASSERT_TRUE(user);
    EXPECT_EQ(user->toJSONStringWithKeys({"nickname"}), R"({"nickname":"n"})");
    auto users = MTUser::arrayOfModelsFromDictionaries(parseJSON(R"([{"id": "1"}, {"id": "2"}])"));
    ASSERT_TRUE(users);
    EXPECT_TRUE(sameValue(MappedModel::arrayOfDictionariesFromModels(*users),
                          parseJSON(R"([{"id": "1", "level": 0}, {"id": "2", "level": 0}])")));
    EXPECT_TRUE(sameValue(
        MappedModel::arrayOfDictionariesFromModels(
            MappedModel::arrayOfModelsFromDictionaries("MTUser", parseJSON(R"([{"id": "3"}])")), {"uid"}),
        parseJSON(R"([{"id": "3"}])")));
    EXPECT_TRUE(MappedModel::arrayOfDictionariesFromModels(Value::null()).isNil());
    EXPECT_TRUE(MappedModel::arrayOfDictionariesFromModels(Value::array({"not a model"})).isNil());
}

TEST_F(ModelExport, ImportedLazyArrayExportsEveryElement) {
    class LazyRoom : public MappedModel {
        MAPPED_MODEL(LazyRoom)
    public:
        Value chats;
    };
    MappedModel::registerModel<LazyRoom>(
        "LazyRoom", {MAPPED_PROPERTY(LazyRoom, chats, "@\"NSArray<MTChat><ConvertOnDemand>\"")});
    auto room = LazyRoom::initWithDictionary(parseJSON(R"({"chats": [{"content": "a"}, {"content": "b"}]})"));
    ASSERT_TRUE(room);
    auto lazy = room->chats.objectAs<MappedModelArray>();
    ASSERT_TRUE(lazy);
    EXPECT_EQ(lazy->count(), 2u);
    EXPECT_EQ(room->toJSONString(), R"({"chats":[{"content":"a"},{"content":"b"}]})");
}

TEST_F(ModelExport, MissingReverseConversionRaisesAndTheJSONFormsGiveNothing) {
    class Blob : public MappedModel {
        MAPPED_MODEL(Blob)
    public:
        Value bytes;
    };
    MappedModel::registerModel<Blob>("Blob", {MAPPED_PROPERTY(Blob, bytes, "@\"NSData\"")});
    auto blob = std::make_shared<Blob>();
    blob->bytes = Value(platform::Data(std::string_view("ab")));
    EXPECT_EQ(fixtures::raised([&] { blob->toDictionary(); }),
              "Value transformer not found: [ValueTransformer __JSONObjectFromNSData:] not found");
    EXPECT_FALSE(blob->toJSONString());
    EXPECT_FALSE(blob->toJSONData());
    blob->bytes = Value();
    EXPECT_EQ(blob->toJSONString(), R"({"bytes":null})");
}

// ---- description ----

// Every property, nil ones too, with continuation lines indented; texts from 61 characters on are
// cut at 59.
TEST_F(ModelExport, DescriptionListsEveryPropertyAndCutsLongTexts) {
    auto chat = std::make_shared<MTChat>();
    chat->content = "a\nb";
    std::string text = chat->description();
    EXPECT_TRUE(text.starts_with("<MTChat> \n")) << text;
    EXPECT_TRUE(text.ends_with("</MTChat>")) << text;
    EXPECT_NE(text.find("   [content]: a\n   b\n"), std::string::npos) << text;
    EXPECT_NE(text.find("   [user]: <nil>\n"), std::string::npos) << text;
    EXPECT_NE(text.find("   [type]: <nil>\n"), std::string::npos) << text;
    std::string sixty(60, 'x');
    chat->content = sixty;
    EXPECT_NE(chat->description().find("[content]: " + sixty + "\n"), std::string::npos);
    chat->content = std::string(61, 'y');
    EXPECT_NE(chat->description().find("[content]: " + std::string(59, 'y') + "...\n"), std::string::npos);
}

} // namespace
