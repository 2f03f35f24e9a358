#include "ModelFixtures.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"

#include <gtest/gtest.h>

using fixtures::MTChat;
using fixtures::MTRoom;
using fixtures::MTUser;
using fixtures::parseJSON;
using fixtures::sameValue;
using platform::Value;

namespace {

class VipRoom : public MTRoom {
    MAPPED_MODEL(VipRoom)
};

class ModelIdentity : public ::testing::Test {
protected:
    void SetUp() override {
        fixtures::registerModelFixtures();
        MappedModel::registerModel<VipRoom, MTRoom>("VipRoom", {});
    }
    std::shared_ptr<MTRoom> room(std::string_view json) {
        return MTRoom::initWithDictionary(parseJSON(json));
    }
};

// Archive and copy both make a new model from the export: one whose export no longer imports is nil.
TEST_F(ModelIdentity, ArchiveRoundTripAndCopyGiveTheSameExport) {
    auto original = room(R"({"roomId": 5, "title": "t", "owner": {"id": "1", "nickname": "n"},
                             "chats": [{"content": "c", "type": 2}]})");
    ASSERT_TRUE(original);
    auto archive = platform::KeyedArchiver::archivedDataWithRootObject(original);
    auto decoded =
        std::dynamic_pointer_cast<MTRoom>(platform::KeyedUnarchiver::unarchiveObjectWithData(archive));
    auto copy = original->copy();
    ASSERT_TRUE(decoded && copy);
    EXPECT_NE(decoded, original);
    EXPECT_NE(copy->owner, original->owner);
    EXPECT_TRUE(sameValue(decoded->toDictionary(), original->toDictionary()));
    EXPECT_TRUE(sameValue(copy->toDictionary(), original->toDictionary()));
    EXPECT_TRUE(MappedModel::supportsSecureCoding());

    auto chat = std::make_shared<MTChat>(); // the required content is missing, so it exports as null
    EXPECT_FALSE(chat->copy());
    EXPECT_FALSE(platform::KeyedUnarchiver::unarchiveObjectWithData(
        platform::KeyedArchiver::archivedDataWithRootObject(chat)));
}

TEST_F(ModelIdentity, WithoutIndexOnlyTheSameObjectIsEqual) {
    auto a = MTChat::initWithDictionary(parseJSON(R"({"content": "x"})"));
    auto b = MTChat::initWithDictionary(parseJSON(R"({"content": "x"})"));
    EXPECT_TRUE(a->isEqual(*a));
    EXPECT_FALSE(a->isEqual(*b));
    EXPECT_NE(a->hash(), b->hash());
    EXPECT_EQ(a->compare(*b), 0);
    auto noIndex = std::make_shared<MTRoom>(), other = std::make_shared<MTRoom>();
    EXPECT_FALSE(noIndex->isEqual(*other)); // an absent index value is never equal
    EXPECT_FALSE(noIndex->isEqual(*noIndex));
}

TEST_F(ModelIdentity, WithIndexEqualIndexValuesAreEqualWhateverElse) {
    auto a = room(R"({"roomId": 3, "title": "a"})");
    auto b = room(R"({"roomId": 3.0, "title": "b"})");
    auto c = room(R"({"roomId": 4, "title": "a"})");
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_FALSE(a->isEqual(*c));
    EXPECT_EQ(a->compare(*c), -1);
    EXPECT_EQ(c->compare(*a), 1);
    EXPECT_EQ(a->compare(*b), 0);
    EXPECT_FALSE(a->isEqual(platform::ObjectPtr()));
    auto vip = VipRoom::initWithDictionary(parseJSON(R"({"roomId": 3, "title": "a"})"));
    ASSERT_TRUE(vip); // a subclass is never equal to its superclass
    EXPECT_EQ(vip->className(), "VipRoom");
    EXPECT_FALSE(a->isEqual(*vip));
    EXPECT_FALSE(vip->isEqual(*a));
}

class Lobby : public MappedModel {
    MAPPED_MODEL(Lobby)
public:
    std::shared_ptr<MTRoom> room;
};

TEST_F(ModelIdentity, ImportKeepsANestedModelEqualByIndexAndReplacesAnother) {
    MappedModel::registerModel<Lobby>("Lobby", {MAPPED_PROPERTY(Lobby, room, "@\"MTRoom\"")});
    auto lobby = Lobby::initWithDictionary(parseJSON(R"({"room": {"roomId": 1, "title": "a"}})"));
    ASSERT_TRUE(lobby && lobby->room);
    auto first = lobby->room;
    lobby->mergeFromDictionary(parseJSON(R"({"room": {"roomId": 1, "title": "changed"}})"), true);
    EXPECT_EQ(lobby->room, first);
    EXPECT_EQ(lobby->room->title, "a");
    lobby->mergeFromDictionary(parseJSON(R"({"room": {"roomId": 2, "title": "other"}})"), true);
    EXPECT_NE(lobby->room, first);
    EXPECT_EQ(lobby->room->title, "other");
}

} // namespace
