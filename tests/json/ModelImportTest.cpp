#include "ModelFixtures.h"
#include "platform/foundation/Exception.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

using fixtures::keyPathOf;
using fixtures::MTChat;
using fixtures::MTRoom;
using fixtures::MTUser;
using fixtures::parseJSON;
using fixtures::sameValue;
using platform::ErrorPtr;
using platform::Value;

namespace {

// Every kind of declaration that import converts into.
class TypedModel : public MappedModel {
    MAPPED_MODEL(TypedModel)
public:
    std::optional<std::string> text;
    Value number;
    int64_t count{0};
    double ratio{0};
    bool flag{false};
    Value date;
    Value link;
    Value price;
    Value tags;
    Value mutableText;
    Value list;
    Value anything;
    Value point;
};

void registerTypedModel() {
    MappedModel::registerModel<TypedModel>(
        "TypedModel", {
                          MAPPED_PROPERTY(TypedModel, text, "@\"NSString<Optional>\""),
                          MAPPED_PROPERTY(TypedModel, number, "@\"NSNumber<Optional>\""),
                          MAPPED_PROPERTY(TypedModel, count, "q"),
                          MAPPED_PROPERTY(TypedModel, ratio, "d"),
                          MAPPED_PROPERTY_ATTRIBUTES(TypedModel, flag, "Tc,N,V_flag"),
                          MAPPED_PROPERTY(TypedModel, date, "@\"NSDate<Optional>\""),
                          MAPPED_PROPERTY(TypedModel, link, "@\"NSURL<Optional>\""),
                          MAPPED_PROPERTY(TypedModel, price, "@\"NSDecimalNumber<Optional>\""),
                          MAPPED_PROPERTY(TypedModel, tags, "@\"NSDictionary<Optional>\""),
                          MAPPED_PROPERTY(TypedModel, mutableText, "@\"NSMutableString<Optional>\""),
                          MAPPED_PROPERTY(TypedModel, list, "@\"NSArray<Optional>\""),
                          MAPPED_PROPERTY(TypedModel, anything, "@\"<Optional>\""),
                      });
}

class SnakeModel : public MappedModel {
    MAPPED_MODEL(SnakeModel)
public:
    std::optional<std::string> firstName;
    int64_t photo2Url{0};
};

class Envelope : public MappedModel {
    MAPPED_MODEL(Envelope)
public:
    std::shared_ptr<MTChat> chat;
};

class ModelImport : public ::testing::Test {
protected:
    void SetUp() override {
        fixtures::registerModelFixtures();
        registerTypedModel();
        MappedModel::registerModel<SnakeModel>("SnakeModel",
                                               {
                                                   MAPPED_PROPERTY(SnakeModel, firstName, "@\"NSString\""),
                                                   MAPPED_PROPERTY(SnakeModel, photo2Url, "q"),
                                               });
        MappedModel::registerModel<Envelope>("Envelope", {MAPPED_PROPERTY(Envelope, chat, "@\"MTChat\"")});
        MappedModel::setGlobalKeyMapper(nullptr);
    }
    void TearDown() override { MappedModel::setGlobalKeyMapper(nullptr); }

    // Imports `json` into a TypedModel whose other properties are all present.
    std::shared_ptr<TypedModel> typed(std::string_view json, ErrorPtr* error = nullptr) {
        Value dictionary = parseJSON(json);
        auto* entries = dictionary.mutableDictionary();
        for (auto key : {"count", "ratio", "flag"}) {
            if (!entries->contains(key))
                entries->set(key, Value(0));
        }
        return TypedModel::initWithDictionary(dictionary, error);
    }
};

// ---- inputs and the five codes ----

// Inputs that make no model: the code and the exact text of each.
TEST_F(ModelImport, BadInputsGiveTheirCodeAndText) {
    const char* nilText = "Initializing model with nil input object.";
    const struct {
        std::optional<std::string_view> json;
        int code;
        const char* text;
    } cases[] = {
        {std::nullopt, MappedModelErrorInputIsNil, nilText},
        {R"([{"id": "1"}])", MappedModelErrorInvalidData,
         "Invalid JSON data: Attempt to initialize MappedModel object using initWithDictionary:error: "
         "but the dictionary parameter was not an 'NSDictionary'."},
        {R"({"id": )", MappedModelErrorBadJSON, "Malformed JSON. Check the MappedModel data input."},
        {R"({"type": 1})", MappedModelErrorInvalidData,
         "Invalid JSON data. Required JSON keys are missing from the input. "
         "Check the error user information."},
        {R"({"content": null})", MappedModelErrorInvalidData,
         "Invalid JSON data: Value of required model key content is null"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ErrorPtr error;
        EXPECT_FALSE(MTChat::initWithString(c.json, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), MappedModelErrorDomain);
        EXPECT_EQ(error->code(), c.code);
        EXPECT_EQ(error->localizedDescription(), c.text);
    }
    ErrorPtr error;
    EXPECT_FALSE(MTUser::initWithDictionary(Value(), &error));
    EXPECT_EQ(error->code(), MappedModelErrorInputIsNil);
    EXPECT_FALSE(MTUser::initWithData(std::nullopt, &error));
    EXPECT_EQ(error->code(), MappedModelErrorInputIsNil);
    EXPECT_FALSE(MTUser::initWithDictionary(Value())); // no out-parameter: nothing to report, no crash
    EXPECT_FALSE(
        MTChat::initWithDictionary(Value::dictionary({{"content", Value(platform::Date(5))}}), &error));
    EXPECT_EQ(error->localizedDescription(), "Invalid JSON data: Type NSDate is not allowed in JSON.");
    MTChat::initWithDictionary(parseJSON(R"({"type": 1})"), &error);
    EXPECT_EQ(error->userInfo()[kMappedModelMissingKeys], Value::array({"content"}));
    auto chat = MTChat::initWithDictionary(parseJSON(R"({"content": "x", "type": null, "user": null})"));
    ASSERT_TRUE(chat); // null for an optional is skipped
    EXPECT_TRUE(chat->type.isNil());
}

// The text is written in the encoding before the JSON reader sees it: a character the encoding lacks
// leaves nothing to read (code 5); Latin-1 bytes above 0x7F are no JSON text (code 3).
TEST_F(ModelImport, StringInAnEncodingImportsOnlyWhatTheEncodingCarries) {
    constexpr NSStringEncoding utf16 = 10; // the platform has it; this layer does not
    const struct {
        NSStringEncoding encoding;
        std::optional<std::string_view> json;
        int code; // 0: imported, with `content` equal to the text's
        const char* content;
    } cases[] = {
        {NSUTF8StringEncoding, R"({"content": "晚安 café"})", 0, "晚安 café"},
        {NSASCIIStringEncoding, R"({"content": "night"})", 0, "night"},
        {NSISOLatin1StringEncoding, R"({"content": "night"})", 0, "night"},
        {NSASCIIStringEncoding, R"({"content": "café"})", MappedModelErrorInputIsNil, nullptr},
        {NSISOLatin1StringEncoding, R"({"content": "晚安"})", MappedModelErrorInputIsNil, nullptr},
        {NSISOLatin1StringEncoding, R"({"content": "🌙"})", MappedModelErrorInputIsNil, nullptr},
        {NSISOLatin1StringEncoding, R"({"content": "café"})", MappedModelErrorBadJSON, nullptr},
        {NSISOLatin1StringEncoding, "{\"content\": \"caf\xE9\"}", MappedModelErrorInputIsNil, nullptr},
        {NSUTF8StringEncoding, "{\"content\": \"caf\xE9\"}", MappedModelErrorBadJSON, nullptr},
        {utf16, R"({"content": "night"})", MappedModelErrorInputIsNil, nullptr},
        {NSASCIIStringEncoding, std::nullopt, MappedModelErrorInputIsNil, nullptr},
        {NSUTF8StringEncoding, R"({"content": )", MappedModelErrorBadJSON, nullptr},
        {NSUTF8StringEncoding, "", MappedModelErrorBadJSON, nullptr},
        // Slices of a larger text: what follows the slice is not part of the input.
        {NSUTF8StringEncoding, std::string_view(R"({"content": "a"}} trailing)").substr(0, 16), 0, "a"},
        {NSUTF8StringEncoding, std::string_view(R"({"content": "a"})").substr(0, 15), MappedModelErrorBadJSON,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(fmt::format("{} {}", c.encoding, c.json.value_or("(absent)")));
        ErrorPtr typedError;
        auto typed = MTChat::initWithStringUsingEncoding(c.json, c.encoding, &typedError);
        ErrorPtr namedError;
        auto named = MappedModel::initWithStringUsingEncoding("MTChat", c.json, c.encoding, &namedError);
        if (c.code == 0) {
            ASSERT_TRUE(typed && named);
            EXPECT_EQ(typed->content, c.content);
            EXPECT_EQ(std::dynamic_pointer_cast<MTChat>(named)->content, c.content);
            continue;
        }
        EXPECT_FALSE(typed);
        EXPECT_FALSE(named);
        for (const ErrorPtr& error : {typedError, namedError}) {
            ASSERT_TRUE(error);
            EXPECT_EQ(error->domain(), MappedModelErrorDomain);
            EXPECT_EQ(error->code(), c.code);
        }
    }
    // The plain form is the UTF-8 one.
    EXPECT_TRUE(MTChat::initWithString(R"({"content": "晚安"})"));
    auto models =
        MTChat::arrayOfModelsFromString(std::string_view(R"([{"content": "a"}]] trailing)").substr(0, 18));
    ASSERT_TRUE(models);
    EXPECT_EQ(models->size(), 1u);
}

class PickyModel : public MappedModel {
    MAPPED_MODEL(PickyModel)
public:
    int64_t score{0};
    bool validate(ErrorPtr* error) override {
        if (score >= 0)
            return true;
        if (score == -2)
            platform::setError(error, MappedModelError::errorModelIsInvalid());
        return false;
    }
};

TEST_F(ModelImport, FailedValidationGivesNilWithTheModelsOwnErrorOrNone) {
    MappedModel::registerModel<PickyModel>("PickyModel", {MAPPED_PROPERTY(PickyModel, score, "q")});
    EXPECT_TRUE(PickyModel::initWithDictionary(parseJSON(R"({"score": 1})")));
    ErrorPtr error;
    EXPECT_FALSE(PickyModel::initWithDictionary(parseJSON(R"({"score": -1})"), &error));
    EXPECT_FALSE(error);
    EXPECT_FALSE(PickyModel::initWithDictionary(parseJSON(R"({"score": -2})"), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), MappedModelErrorModelIsInvalid);
    EXPECT_EQ(error->localizedDescription(),
              "Model does not validate. The custom validation for the input data failed.");
}

// ---- key mappers ----

TEST_F(ModelImport, DictionaryKeyMapperFeedsThePropertyAndCountsItAsPresent) {
    auto user = MTUser::initWithDictionary(parseJSON(R"({"id": "42", "nickname": "ann", "level": 3})"));
    ASSERT_TRUE(user);
    EXPECT_EQ(user->uid, "42");
    EXPECT_EQ(user->level, 3);
    EXPECT_TRUE(sameValue(user->toDictionary()["id"], Value("42")));

    ErrorPtr error;
    EXPECT_FALSE(MTUser::initWithDictionary(parseJSON(R"({"uid": "42", "level": 3})"), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->userInfo()[kMappedModelMissingKeys], Value::array({"uid"}));
}

class Profile : public MappedModel {
    MAPPED_MODEL(Profile)
public:
    std::optional<std::string> userName;
    int64_t firstSeen{0};
    static std::shared_ptr<KeyMapper> keyMapper() {
        return std::make_shared<KeyMapper>(platform::ValueDictionary{{"user.name", "userName"}});
    }
};

TEST_F(ModelImport, DottedKeyPathReadsTheNestedValueAndPresenceCountsNull) {
    MappedModel::registerModel<Profile>("Profile", {
                                                       MAPPED_PROPERTY(Profile, userName, "@\"NSString\""),
                                                       MAPPED_PROPERTY(Profile, firstSeen, "q"),
                                                   });
    auto profile = Profile::initWithDictionary(parseJSON(R"({"user": {"name": "bob"}, "firstSeen": 9})"));
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->userName, "bob");

    ErrorPtr error;
    EXPECT_FALSE(Profile::initWithDictionary(parseJSON(R"({"user": "flat", "firstSeen": 1})"), &error));
    EXPECT_EQ(error->userInfo()[kMappedModelMissingKeys], Value::array({"userName"}));

    // Present (null), so the check passes and the import reports the null.
    EXPECT_FALSE(
        Profile::initWithDictionary(parseJSON(R"({"user": {"name": null}, "firstSeen": 1})"), &error));
    EXPECT_EQ(keyPathOf(error), "userName");
}

// Each global mapper set is the one the next import follows, however many came before it; the global
// mapper applies when the class has none.
TEST_F(ModelImport, EveryNewGlobalKeyMapperTakesEffectAtTheNextImport) {
    MappedModel::setGlobalKeyMapper(KeyMapper::mapperFromUnderscoreCaseToCamelCase());
    auto snake = SnakeModel::initWithDictionary(parseJSON(R"({"first_name": "ann", "photo_2_url": 5})"));
    ASSERT_TRUE(snake); // the global mapper applies when the class has none, both ways
    EXPECT_EQ(snake->photo2Url, 5);
    EXPECT_TRUE(sameValue(snake->toDictionary(), parseJSON(R"({"first_name": "ann", "photo_2_url": 5})")));
    for (int round = 0; round < 12; ++round) {
        std::string key = fmt::format("name{}", round);
        MappedModel::setGlobalKeyMapper(
            std::make_shared<KeyMapper>(platform::ValueDictionary{{key, "firstName"}}));
        auto model = SnakeModel::initWithDictionary(
            parseJSON(fmt::format(R"({{"{}": "ann{}", "photo2Url": {}}})", key, round, round)));
        ASSERT_TRUE(model) << round;
        EXPECT_EQ(model->firstName, fmt::format("ann{}", round));
        EXPECT_EQ(model->photo2Url, round);
        EXPECT_FALSE(SnakeModel::initWithDictionary(parseJSON(R"({"name0": "old", "photo2Url": 1})")) &&
                     round > 0)
            << "round " << round << " still follows the first mapper";
    }
    MappedModel::setGlobalKeyMapper(nullptr);
    auto plain = SnakeModel::initWithDictionary(parseJSON(R"({"firstName": "dan", "photo2Url": 1})"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->firstName, "dan");
}

TEST_F(ModelImport, MapperWithoutFunctionsLeavesNamesAsTheyAre) {
    class NoFunctions : public SnakeModel {
        MAPPED_MODEL(NoFunctions)
    public:
        static std::shared_ptr<KeyMapper> keyMapper() {
            return std::make_shared<KeyMapper>(nullptr, nullptr);
        }
    };
    MappedModel::registerModel<NoFunctions, SnakeModel>("NoFunctions", {});
    auto model = NoFunctions::initWithDictionary(parseJSON(R"({"firstName": "x", "photo2Url": 1})"));
    ASSERT_TRUE(model);
    EXPECT_EQ(model->firstName, "x");
    EXPECT_TRUE(model->classKeyMapper());
}

// ---- conversions ----

// Each declared type gets its conversion: numbers and texts both ways (exact, not rounded through
// float), a char-coded BOOL from "YES", URL, decimal, an empty array for a dictionary, mutable text.
TEST_F(ModelImport, ValuesConvertToTheDeclaredTypes) {
    auto model = typed(R"({"text": 12.5, "number": "16777217", "count": "7", "ratio": "0.25", "flag": "YES",
        "link": "http://127.0.0.1/a?b=1", "price": "10.25", "tags": [], "mutableText": "m"})");
    ASSERT_TRUE(model);
    EXPECT_EQ(model->text, "12.5");
    EXPECT_EQ(model->number.int64Or(0), 16777217);
    EXPECT_EQ(model->count, 7);
    EXPECT_EQ(model->ratio, 0.25);
    EXPECT_TRUE(model->flag);
    ASSERT_TRUE(model->link.url());
    EXPECT_EQ(model->link.url()->absoluteString(), "http://127.0.0.1/a?b=1");
    ASSERT_TRUE(model->price.isNumber());
    EXPECT_EQ(model->price.number()->kind(), platform::Number::Kind::Decimal);
    EXPECT_EQ(model->price.number()->doubleValue(), 10.25);
    EXPECT_EQ(model->tags, Value(platform::ValueDictionary{}));
    EXPECT_EQ(model->mutableText, Value("m"));
    EXPECT_FALSE(typed(R"({"flag": "no"})")->flag);
}

TEST_F(ModelImport, DatesImportWithAndWithoutColonsAndFromSeconds) {
    auto withColons = typed(R"({"date": "2023-11-15T06:13:20+08:00"})");
    auto without = typed(R"({"date": "2023-11-15T061320+0800"})");
    auto seconds = typed(R"({"date": 1700000000})");
    auto utc = typed(R"({"date": "2023-11-14T22:13:20Z"})");
    ASSERT_TRUE(withColons && without && seconds && utc);
    ASSERT_TRUE(withColons->date.isDate());
    EXPECT_EQ(withColons->date.date()->timeIntervalSince1970(), 1700000000);
    EXPECT_EQ(withColons->date, without->date);
    EXPECT_EQ(seconds->date, withColons->date);
    EXPECT_EQ(utc->date, withColons->date);
}

// ---- values of the wrong kind: errors, never crashes ----

struct Mismatch {
    const char* json;
    const char* keyPath;
};

TEST_F(ModelImport, WrongKindsAreTypeMismatchErrorsWithTheKeyPath) {
    const Mismatch cases[] = {
        {R"({"text": [1]})", "text"},     {R"({"text": {"a": 1}})", "text"},
        {R"({"number": [1]})", "number"}, {R"({"number": {"a": 1}})", "number"},
        {R"({"count": [1]})", "count"},   {R"({"ratio": {"a": 1}})", "ratio"},
        {R"({"flag": [true]})", "flag"},  {R"({"price": 10})", "price"},
        {R"({"tags": [1, 2]})", "tags"},  {R"({"list": "abc"})", "list"},
        {R"({"date": [1]})", "date"},     {R"({"link": {"u": 1}})", "link"},
    };
    for (const auto& c : cases) {
        ErrorPtr error;
        EXPECT_FALSE(typed(c.json, &error)) << c.json;
        ASSERT_TRUE(error) << c.json;
        EXPECT_EQ(error->code(), MappedModelErrorInvalidData) << c.json;
        EXPECT_TRUE(error->userInfo()[kMappedModelTypeMismatch].isString()) << c.json;
        EXPECT_EQ(keyPathOf(error), c.keyPath) << c.json;
    }
}

// Merging skips what is absent, null, of the wrong kind or a nested model that fails; without key
// mapping it ignores the class's mapper.
TEST_F(ModelImport, MergeSkipsWhatDoesNotFit) {
    auto model = typed(R"({"text": "keep", "count": 3})");
    ASSERT_TRUE(model);
    ErrorPtr error;
    EXPECT_TRUE(model->mergeFromDictionary(
        parseJSON(R"({"text": [1], "count": {"x": 1}, "price": 5, "ratio": 2})"), true, &error));
    EXPECT_FALSE(error);
    EXPECT_EQ(model->text, "keep");
    EXPECT_EQ(model->count, 3);
    EXPECT_EQ(model->ratio, 2);
    auto room = MTRoom::initWithDictionary(parseJSON(R"({"roomId": 1, "title": "t", "owner": {"id": "o"}})"));
    ASSERT_TRUE(room);
    EXPECT_TRUE(room->mergeFromDictionary(
        parseJSON(R"({"title": null, "owner": {"nickname": "n"}, "roomId": 2})"), true, &error));
    EXPECT_EQ(room->title, "t");
    ASSERT_TRUE(room->owner);
    EXPECT_EQ(room->owner->uid, "o");
    EXPECT_EQ(room->roomId, Value(2));
    auto user = MTUser::initWithDictionary(parseJSON(R"({"id": "1"})"));
    ASSERT_TRUE(user);
    user->mergeFromDictionary(parseJSON(R"({"id": "2", "uid": "3"})"), false);
    EXPECT_EQ(user->uid, "3");
    user->mergeFromDictionary(parseJSON(R"({"id": "4", "uid": "5"})"), true);
    EXPECT_EQ(user->uid, "4");
}

class PointModel : public MappedModel {
    MAPPED_MODEL(PointModel)
public:
    Value point;
};
class BlobModel : public MappedModel {
    MAPPED_MODEL(BlobModel)
public:
    Value blob;
};
class ItemsModel : public MappedModel {
    MAPPED_MODEL(ItemsModel)
public:
    Value items;
};

TEST_F(ModelImport, DeclarationMistakesRaiseNamedExceptions) {
    MappedModel::registerModel<PointModel>("PointModel",
                                           {MAPPED_PROPERTY(PointModel, point, "{CGPoint=dd}")});
    MappedModel::registerModel<BlobModel>("BlobModel", {MAPPED_PROPERTY(BlobModel, blob, "@\"NSData\"")});
    MappedModel::registerModel<ItemsModel>("ItemsModel",
                                           {MAPPED_PROPERTY(ItemsModel, items, "@\"NSArray<NoSuchClass>\"")});
    EXPECT_EQ(fixtures::raised([] { PointModel::initWithDictionary(parseJSON(R"({"point": "1,2"})")); }),
              "Type not allowed: CGPoint type not supported for PointModel.point");
    EXPECT_THROW(BlobModel::initWithDictionary(parseJSON(R"({"blob": "AAAA"})")), platform::Exception);
    EXPECT_EQ(
        fixtures::raised([] { ItemsModel::initWithDictionary(parseJSON(R"({"items": [{}]})")); }),
        "Bad property protocol declaration: <NoSuchClass> is not allowed MappedModel property protocol, "
        "and not a MappedModel class.");
    // A protocol naming no class only matters for arrays; other values pass as they are.
    auto items = ItemsModel::initWithDictionary(parseJSON(R"({"items": {"a": 1}})"), nullptr);
    EXPECT_FALSE(items); // a dictionary is still not an array
}

// ---- nested models and their error paths ----

// Where an import fails: the key path of the error, through nested models, arrays and dictionaries.
TEST_F(ModelImport, ErrorKeyPathsNameTheInputIndexesKeysAndProperties) {
    const struct {
        const char* className;
        const char* json;
        const char* keyPath;
    } cases[] = {
        {"MTChat", R"({"content": null})", "content"},
        {"MTRoom",
         R"({"roomId": 1, "title": "t", "chats": [{"content": "a"}, {"content": "b"}, {"content": null}]})",
         "chats[2].content"},
        {"MTChat", R"([{"content": "a"}, "not a dictionary", {"content": null}])", "[2].content"},
        {"MTChat", R"([{"content": "a"}, [{}, {"content": 1}]])", "[1][0]"},
        {"Envelope", R"({"chat": {"content": "x", "user": {"id": "u"}, "type": [1]}})", "chat.type"},
        {"Envelope", R"({"chat": "text"})", "chat"},
        {"MTRoom", R"({"roomId": 1, "title": "t", "members": {"k": {}}})", "members.k"},
        {"MTRoom", R"({"roomId": 1, "title": "t", "chats": {"a": 1}})", "chats"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        ErrorPtr error;
        if (c.json[0] == '[')
            EXPECT_TRUE(MappedModel::arrayOfModelsFromString(c.className, c.json, &error).isNil());
        else
            EXPECT_FALSE(MappedModel::initWithString(c.className, c.json, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), MappedModelErrorInvalidData);
        EXPECT_EQ(keyPathOf(error), c.keyPath);
    }
    ErrorPtr error;
    MTRoom::initWithDictionary(parseJSON(R"({"roomId": 1, "title": "t", "members": [1]})"), &error);
    EXPECT_EQ(
        error->userInfo()[kMappedModelTypeMismatch],
        Value("Property 'members' is declared as NSDictionary<MTUser>* but the corresponding JSON value is "
              "not a JSON Object."));
    MTRoom::initWithDictionary(parseJSON(R"({"roomId": 1, "title": "t", "chats": {"a": 1}})"), &error);
    EXPECT_EQ(
        error->userInfo()[kMappedModelTypeMismatch],
        Value("Property 'chats' is declared as NSArray<MTChat>* but the corresponding JSON value is not a "
              "JSON Array."));
}

TEST_F(ModelImport, OptionalNestedFailuresAreSkippedAndArraysOfArraysFlatten) {
    auto room = MTRoom::initWithDictionary(
        parseJSON(R"({"roomId": 1, "title": "t", "chats": [{"content": "a", "user": {"id": null}}]})"));
    ASSERT_TRUE(room);
    ASSERT_EQ(room->chats.size(), 1u);
    EXPECT_FALSE(room->chats[0]->user);
    auto chats =
        MTChat::arrayOfModelsFromDictionaries(parseJSON(R"([{"content": "a"}, [{"content": "b"}], 4])"));
    ASSERT_TRUE(chats);
    ASSERT_EQ(chats->size(), 2u);
    EXPECT_EQ((*chats)[1]->content, "b");
    EXPECT_FALSE(MTChat::arrayOfModelsFromDictionaries(Value::null()));
    auto ok = Envelope::initWithDictionary(parseJSON(R"({"chat": {"content": "x"}})"));
    ASSERT_TRUE(ok && ok->chat);
    EXPECT_EQ(ok->chat->content, "x");
}

TEST_F(ModelImport, ArraysFromTextReportTheParsersErrorAndIgnoreOtherTopLevels) {
    ErrorPtr error;
    EXPECT_FALSE(MTChat::arrayOfModelsFromString(R"([{"content": )", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), platform::NSCocoaErrorDomain);
    error = nullptr;
    EXPECT_FALSE(MTChat::arrayOfModelsFromString(R"({"content": "a"})", &error));
    EXPECT_FALSE(error);
    auto chats = MTChat::arrayOfModelsFromString(R"([{"content": "a"}])");
    ASSERT_TRUE(chats);
    EXPECT_EQ(chats->size(), 1u);
}

// ---- custom setters and merging ----

class SetterModel : public MappedModel {
    MAPPED_MODEL(SetterModel)
public:
    std::optional<std::string> title;
    int calls{0};
    void setTitleWithNSString(const Value& value) { title = "[" + value.stringOr() + "]", ++calls; }
};

// A custom setter for the source's class is used (none for a number: the plain conversion); methods
// declared without a function are skipped, not called.
TEST_F(ModelImport, CustomSettersForTheSourceClassAreUsedAndEmptyOnesSkipped) {
    MappedModel::registerModel<SetterModel>("SetterModel",
                                            {MAPPED_PROPERTY(SetterModel, title, "@\"NSString\"")},
                                            {MAPPED_SETTER(SetterModel, setTitleWithNSString)});
    auto model = SetterModel::initWithDictionary(parseJSON(R"({"title": "a"})"));
    auto numbered = SetterModel::initWithDictionary(parseJSON(R"({"title": 5})"));
    ASSERT_TRUE(model && numbered);
    EXPECT_EQ(model->title, "[a]");
    EXPECT_TRUE(model->respondsTo("setTitleWithNSString:"));
    EXPECT_EQ(numbered->title, "5");
    EXPECT_EQ(numbered->calls, 0);

    MappedModelMethod emptySetter, emptyGetter;
    emptySetter.selector = "setTitleWithNSString:";
    emptyGetter.selector = "JSONObjectForTitle";
    MappedModel::registerModel<SetterModel>(
        "SetterModel", {MAPPED_PROPERTY(SetterModel, title, "@\"NSString\"")}, {emptySetter, emptyGetter});
    model = SetterModel::initWithDictionary(parseJSON(R"({"title": "a"})"));
    ASSERT_TRUE(model);
    EXPECT_EQ(model->title, "a");
    EXPECT_FALSE(model->respondsTo("setTitleWithNSString:"));
    EXPECT_TRUE(sameValue(model->toDictionary(), parseJSON(R"({"title": "a"})")));
}

} // namespace
