// What one import keeps for the next (where each property's value is read, the class a nested model is
// made of) never makes a later import read differently: keys come in any order, two properties may
// read one key, and a class registered again is the one the next nested model is made of.
#include "ModelFixtures.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

using fixtures::keyPathOf;
using fixtures::MTChat;
using fixtures::MTUser;
using fixtures::parseJSON;
using platform::ErrorPtr;
using platform::Value;

namespace {

class Triple : public MappedModel {
    MAPPED_MODEL(Triple)
public:
    std::optional<std::string> first;
    std::optional<std::string> second;
    Value third;
};

void registerTriple() {
    MappedModel::registerModel<Triple>("Triple",
                                       {
                                           MAPPED_PROPERTY(Triple, first, "@\"NSString<Optional>\""),
                                           MAPPED_PROPERTY(Triple, second, "@\"NSString<Optional>\""),
                                           MAPPED_PROPERTY(Triple, third, "@\"NSNumber<Optional>\""),
                                       });
}

std::string manyOtherKeys() {
    std::string keys;
    for (int index = 0; index < 20; ++index)
        keys += fmt::format(R"("other{}": {}, )", index, index);
    return keys;
}

TEST(ModelImportReuse, KeysInAnyOrderFillEveryProperty) {
    registerTriple();
    const struct {
        std::string json;
        std::optional<std::string> first, second;
        Value third;
    } cases[] = {
        {R"({"first": "a", "second": "b", "third": 3})", "a", "b", 3},
        {R"({"third": 3, "second": "b", "first": "a"})", "a", "b", 3},
        {R"({"x": 0, "second": "b", "y": 1, "first": "a", "z": 2})", "a", "b", {}},
        {R"({"first": "a", "third": 3})", "a", std::nullopt, 3},
        {R"({"third": 3, "first": "a"})", "a", std::nullopt, 3},
        {"{" + manyOtherKeys() + R"("third": 3, "second": "b", "first": "a"})", "a", "b", 3},
        {"{" + manyOtherKeys() + R"("second": "b"})", std::nullopt, "b", {}},
    };
    for (const auto& c : cases) {
        // The same class again and again, so what the first import kept serves the others.
        for (int round = 0; round < 2; ++round) {
            auto model = Triple::initWithString(c.json);
            ASSERT_TRUE(model) << c.json;
            EXPECT_EQ(model->first, c.first) << c.json;
            EXPECT_EQ(model->second, c.second) << c.json;
            EXPECT_TRUE(fixtures::sameValue(model->third, c.third)) << c.json;
        }
    }
}

class Shared : public Triple {
    MAPPED_MODEL(Shared)
public:
    static std::shared_ptr<KeyMapper> keyMapper() {
        static const auto mapper = std::make_shared<KeyMapper>(
            [](const std::string& key) { return key; },
            [](const std::string& name) { return name == "third" ? name : std::string("both"); });
        return mapper;
    }
};

TEST(ModelImportReuse, TwoPropertiesMappedToOneKeyBothReadIt) {
    registerTriple();
    MappedModel::registerModel<Shared, Triple>("Shared", {});
    for (const char* json : {R"({"both": "x", "third": 1})", R"({"third": 1, "both": "x"})"}) {
        auto model = Shared::initWithString(json);
        ASSERT_TRUE(model) << json;
        EXPECT_EQ(model->first, "x") << json;
        EXPECT_EQ(model->second, "x") << json;
    }
}

void registerChat(std::string contentAttributes) {
    MappedModel::registerModel<MTChat>("MTChat",
                                       {
                                           MAPPED_PROPERTY_ATTRIBUTES(MTChat, content, contentAttributes),
                                           MAPPED_PROPERTY(MTChat, type, "@\"NSNumber<Optional>\""),
                                           MAPPED_PROPERTY(MTChat, user, "@\"MTUser<Optional>\""),
                                       });
}

class Envelope : public MappedModel {
    MAPPED_MODEL(Envelope)
public:
    std::shared_ptr<MTChat> chat;
};

TEST(ModelImportReuse, NestedModelsAreMadeOfTheClassRegisteredLastUnderTheirName) {
    fixtures::registerModelFixtures();
    MappedModel::registerModel<Envelope>("Envelope", {MAPPED_PROPERTY(Envelope, chat, "@\"MTChat\"")});
    const Value withoutContent = parseJSON(R"({"chat": {"type": 1}})");
    ErrorPtr error;
    EXPECT_FALSE(Envelope::initWithDictionary(withoutContent, &error));
    EXPECT_EQ(keyPathOf(error), "chat");

    registerChat("T@\"NSString<Optional>\",&,N,V_content");
    auto envelope = Envelope::initWithDictionary(withoutContent);
    ASSERT_TRUE(envelope);
    ASSERT_TRUE(envelope->chat);
    EXPECT_TRUE(fixtures::sameValue(envelope->chat->type, Value(1)));

    registerChat("T@\"NSString\",&,N,V_content");
    EXPECT_FALSE(Envelope::initWithDictionary(withoutContent));
    EXPECT_FALSE(MappedModel::initWithDictionary("Envelope", withoutContent));
}

class Moderator : public MTUser {
    MAPPED_MODEL(Moderator)
};

TEST(ModelImportReuse, ModelMembersTakeTheirClassAndSubclassesButNoOtherClass) {
    fixtures::registerModelFixtures();
    MappedModel::registerModel<Moderator, MTUser>("Moderator", {});
    MTChat chat;
    ASSERT_TRUE(chat.setValueForKey(Value(std::make_shared<MTUser>()), "user"));
    EXPECT_TRUE(chat.user);
    chat.setValueForKey(Value(std::make_shared<Moderator>()), "user");
    EXPECT_TRUE(std::dynamic_pointer_cast<Moderator>(chat.user));
    chat.setValueForKey(Value(std::make_shared<MTChat>()), "user");
    EXPECT_FALSE(chat.user);

    auto imported = MTChat::initWithString(R"({"content": "hi", "user": {"id": "7"}})");
    ASSERT_TRUE(imported);
    ASSERT_TRUE(imported->user);
    EXPECT_EQ(imported->user->uid, "7");
}

} // namespace

namespace {

class Holder : public MappedModel {
    MAPPED_MODEL(Holder)
public:
    Value any;
    std::optional<std::string> text;
    std::shared_ptr<Triple> nested;
    std::optional<platform::Date> when;
    platform::URLPtr link;
    int64_t count{0};
};

} // namespace

// Import skips making a member's Value when the member tells it reads nil: that answer must be the
// getter's, for an unset member and a set one alike.
TEST(ModelImportReuse, MembersTellTheyReadNilExactlyWhenTheirGetterAnswersNil) {
    Holder unset;
    Holder set;
    set.any = Value(0);
    set.text = "";
    set.nested = std::make_shared<Triple>();
    set.when = platform::Date();
    set.link = platform::URL::create("http://127.0.0.1/");
    ASSERT_TRUE(set.link);
    const std::vector<platform::PropertyInfo> properties = {
        MAPPED_PROPERTY(Holder, any, "@\"NSNumber<Optional>\""),
        MAPPED_PROPERTY(Holder, text, "@\"NSString<Optional>\""),
        MAPPED_PROPERTY(Holder, nested, "@\"Triple<Optional>\""),
        MAPPED_PROPERTY(Holder, when, "@\"NSDate<Optional>\""),
        MAPPED_PROPERTY(Holder, link, "@\"NSURL<Optional>\""),
    };
    for (const auto& property : properties) {
        SCOPED_TRACE(property.name);
        ASSERT_TRUE(property.readsNil);
        EXPECT_TRUE(property.getter(unset).isNil());
        EXPECT_TRUE(property.readsNil(unset));
        EXPECT_FALSE(property.getter(set).isNil());
        EXPECT_FALSE(property.readsNil(set));
    }
    // A number member never reads nil, so it leaves the question to the getter.
    EXPECT_FALSE(MAPPED_PROPERTY(Holder, count, "q").readsNil);
}

// Loading into a model that already holds values: equal values stay, others replace them, and
// members that read nil take what comes.
TEST(ModelImportReuse, LoadingIntoAFilledModelReplacesChangedValuesAndFillsEmptyOnes) {
    registerTriple();
    Triple model;
    model.first = "kept";
    model.third = Value(7);
    ErrorPtr error;
    ASSERT_TRUE(model.loadFromDictionary(parseJSON(R"({"first":"kept","second":"new","third":8})"), &error));
    EXPECT_EQ(model.first, "kept");
    EXPECT_EQ(model.second, "new");
    EXPECT_EQ(model.third.int64Or(), 8);
}
