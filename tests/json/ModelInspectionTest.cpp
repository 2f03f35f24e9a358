#include "ModelFixtures.h"
#include "platform/foundation/Exception.h"

#include <gtest/gtest.h>

using platform::Value;

namespace {

using Kind = MappedModelClassProperty::Kind;

class InspectedModel : public MappedModel {
    MAPPED_MODEL(InspectedModel)
public:
    Value chats, extra, readOnly, skipped, callback, hidden, hooked, retyped, text, mutableText, index, lazy;
    bool flag{false};
    bool boolean{false};
    int64_t count{0};
    uint64_t size{0};
    uint32_t small{0};
    double ratio{0};
    float scale{0};
    Value point;

    static bool propertyIsOptional(std::string_view name) { return name == "hooked"; }
    static bool propertyIsIgnored(std::string_view name) { return name == "hidden"; }
    static std::optional<std::string> protocolForArrayProperty(std::string_view name) {
        return name == "retyped" ? std::optional<std::string>("MTUser") : std::nullopt;
    }
};

void registerInspectedModel() {
    MappedModel::registerModel<InspectedModel>(
        "InspectedModel", {
                              MAPPED_PROPERTY(InspectedModel, chats, "@\"NSArray<MTChat><Optional>\""),
                              MAPPED_PROPERTY(InspectedModel, extra, "@\"<Optional>\""),
                              MAPPED_READONLY_PROPERTY(InspectedModel, readOnly, "@\"NSString\""),
                              MAPPED_PROPERTY(InspectedModel, skipped, "@\"NSString<Ignore>\""),
                              MAPPED_PROPERTY_ATTRIBUTES(InspectedModel, callback, "T@?,C,N,V_callback"),
                              MAPPED_PROPERTY(InspectedModel, hidden, "@\"NSString\""),
                              MAPPED_PROPERTY(InspectedModel, hooked, "@\"NSString\""),
                              MAPPED_PROPERTY(InspectedModel, retyped, "@\"NSArray<MTChat>\""),
                              MAPPED_PROPERTY(InspectedModel, text, "@\"NSString\""),
                              MAPPED_PROPERTY(InspectedModel, mutableText, "@\"NSMutableString\""),
                              MAPPED_PROPERTY(InspectedModel, index, "@\"NSNumber<Index>\""),
                              MAPPED_PROPERTY(InspectedModel, lazy, "@\"NSArray<MTChat><ConvertOnDemand>\""),
                              MAPPED_PROPERTY_ATTRIBUTES(InspectedModel, flag, "Tc,N,V_flag"),
                              MAPPED_PROPERTY(InspectedModel, boolean, "B"),
                              MAPPED_PROPERTY(InspectedModel, count, "q"),
                              MAPPED_PROPERTY(InspectedModel, size, "Q"),
                              MAPPED_PROPERTY(InspectedModel, small, "I"),
                              MAPPED_PROPERTY(InspectedModel, ratio, "d"),
                              MAPPED_PROPERTY(InspectedModel, scale, "f"),
                              MAPPED_PROPERTY(InspectedModel, point, "{CGPoint=dd}"),
                          });
}

class ModelInspection : public ::testing::Test {
protected:
    void SetUp() override {
        fixtures::registerModelFixtures();
        registerInspectedModel();
    }

    static auto property(std::string_view name) { return fixtures::propertyOf("InspectedModel", name); }
};

// What each declaration reads as: class, protocol, struct, kind and marks (o optional, i index,
// m mutable, d convert on demand, j standard JSON type).
TEST_F(ModelInspection, DeclarationsReadAsClassProtocolStructKindAndMarks) {
    const struct {
        const char* name;
        std::optional<std::string> type, protocol, structName;
        Kind kind;
        std::string marks;
    } cases[] = {
        {"chats", "NSArray", "MTChat", {}, Kind::Object, "oj"},
        {"extra", {}, {}, {}, Kind::Untyped, "o"},
        {"hooked", "NSString", {}, {}, Kind::Object, "oj"},
        {"text", "NSString", {}, {}, Kind::Object, "j"},
        {"retyped", "NSArray", "MTUser", {}, Kind::Object, "j"},
        {"index", "NSNumber", {}, {}, Kind::Object, "ij"},
        {"mutableText", "NSMutableString", {}, {}, Kind::Object, "mj"},
        {"lazy", "NSArray", "MTChat", {}, Kind::Object, "dj"},
        {"flag", {}, {}, "BOOL", Kind::Struct, ""},
        {"point", {}, {}, "CGPoint", Kind::Struct, ""},
        {"boolean", {}, {}, {}, Kind::Primitive, ""},
        {"count", {}, {}, {}, Kind::Primitive, ""},
        {"size", {}, {}, {}, Kind::Primitive, ""},
        {"small", {}, {}, {}, Kind::Primitive, ""},
        {"ratio", {}, {}, {}, Kind::Primitive, ""},
        {"scale", {}, {}, {}, Kind::Primitive, ""},
    };
    for (const auto& c : cases) {
        auto record = property(c.name);
        ASSERT_TRUE(record) << c.name;
        std::string marks = std::string(record->isOptional ? "o" : "") + (record->isIndex ? "i" : "") +
                            (record->isMutable ? "m" : "") + (record->convertsOnDemand ? "d" : "") +
                            (record->isStandardJSONType ? "j" : "");
        EXPECT_EQ(record->type, c.type) << c.name;
        EXPECT_EQ(record->protocol, c.protocol) << c.name;
        EXPECT_EQ(record->structName, c.structName) << c.name;
        EXPECT_EQ(record->kind, c.kind) << c.name;
        EXPECT_EQ(marks, c.marks) << c.name;
    }
    // Read-only, ignored, block and hook-ignored properties are not mapped.
    for (auto name : {"readOnly", "skipped", "callback", "hidden"})
        EXPECT_FALSE(property(name)) << name;
    EXPECT_EQ(MappedModel::indexPropertyNameOfClass("InspectedModel"), "index");
}

TEST_F(ModelInspection, RequiredNamesAreEveryPropertyNotOptionalAndTheBaseHasNone) {
    auto model = std::make_shared<InspectedModel>();
    auto required = model->requiredPropertyNames();
    EXPECT_NE(std::find(required.begin(), required.end(), "text"), required.end());
    EXPECT_EQ(std::find(required.begin(), required.end(), "chats"), required.end());
    EXPECT_EQ(std::find(required.begin(), required.end(), "hooked"), required.end());
    EXPECT_TRUE(MappedModel::propertiesOfClass("MappedModel").empty());
    EXPECT_TRUE(std::make_shared<MappedModel>()->properties().empty());
    EXPECT_TRUE(MappedModel::isMappedModelSubClass("MappedModel"));
    EXPECT_TRUE(MappedModel::isMappedModelSubClass("MTUser"));
    EXPECT_FALSE(MappedModel::isMappedModelSubClass("NSString"));
}

// ---- unsupported declarations ----

class UnsignedCharModel : public MappedModel {
    MAPPED_MODEL(UnsignedCharModel)
public:
    uint8_t octet{0};
};
class BareObjectModel : public MappedModel {
    MAPPED_MODEL(BareObjectModel)
public:
    Value any;
};

// Unsigned char raises on every use, because nothing is cached; unsigned short and a bare id neither.
TEST(ModelInspectionFailure, UnsupportedPrimitivesAndBareIdRaise) {
    MappedModel::registerModel<UnsignedCharModel>("UnsignedCharModel",
                                                  {MAPPED_PROPERTY(UnsignedCharModel, octet, "C")});
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_EQ(fixtures::raised([] { UnsignedCharModel::initWithDictionary(Value::dictionary({})); }),
                  "MappedModelProperty type not allowed: Property type of UnsignedCharModel.octet is not "
                  "supported by MappedModel.");
    MappedModel::registerModel<UnsignedCharModel>("UnsignedCharModel",
                                                  {MAPPED_PROPERTY(UnsignedCharModel, octet, "S")});
    EXPECT_THROW(MappedModel::propertiesOfClass("UnsignedCharModel"), platform::Exception);
    MappedModel::registerModel<BareObjectModel>("BareObjectModel",
                                                {MAPPED_PROPERTY(BareObjectModel, any, "@")});
    EXPECT_THROW(MappedModel::propertiesOfClass("BareObjectModel"), platform::Exception);
}

// ---- subclasses ----

class BaseItem : public MappedModel {
    MAPPED_MODEL(BaseItem)
public:
    std::optional<std::string> name;
    int64_t rank{0};
};
class DerivedItem : public BaseItem {
    MAPPED_MODEL(DerivedItem)
public:
    std::optional<std::string> note;
};

TEST(ModelInspectionSubclass, SubclassDeclarationOfANameWinsAndInheritedPropertiesStay) {
    MappedModel::registerModel<BaseItem>("BaseItem", {
                                                         MAPPED_PROPERTY(BaseItem, name, "@\"NSString\""),
                                                         MAPPED_PROPERTY(BaseItem, rank, "q"),
                                                     });
    MappedModel::registerModel<DerivedItem, BaseItem>(
        "DerivedItem", {
                           MAPPED_PROPERTY(DerivedItem, name, "@\"NSString<Optional>\""),
                           MAPPED_PROPERTY(DerivedItem, note, "@\"NSString<Optional>\""),
                       });
    EXPECT_EQ(MappedModel::propertiesOfClass("DerivedItem").size(), 3u);
    EXPECT_TRUE(fixtures::propertyOf("DerivedItem", "name")->isOptional);
    auto item = DerivedItem::initWithDictionary(fixtures::parseJSON(R"({"rank": 4})"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->rank, 4);
    EXPECT_FALSE(item->name);
    EXPECT_FALSE(BaseItem::initWithDictionary(fixtures::parseJSON(R"({"rank": 4})")));
}

// ---- record description ----

class DescribedModel : public MappedModel {
    MAPPED_MODEL(DescribedModel)
public:
    std::optional<std::string> title;
    Value chats;
    int64_t count{0};
    bool flag{false};
    void setTitleWithNSNumber(const Value& value) { title = "#" + value.number()->stringValue(); }
    Value JSONObjectForCount() const { return Value(count * 10); }
};

TEST(ModelPropertyDescription, ReadsTypeProtocolNameAndFlagsWithMemos) {
    fixtures::registerModelFixtures();
    MappedModel::registerModel<DescribedModel>(
        "DescribedModel",
        {
            MAPPED_PROPERTY(DescribedModel, title, "@\"NSMutableString<Index>\""),
            MAPPED_PROPERTY(DescribedModel, chats, "@\"NSArray<MTChat><Optional><ConvertOnDemand>\""),
            MAPPED_PROPERTY(DescribedModel, count, "q"),
            MAPPED_PROPERTY_ATTRIBUTES(DescribedModel, flag, "Tc,N,V_flag"),
        },
        {MAPPED_SETTER(DescribedModel, setTitleWithNSNumber),
         MAPPED_GETTER(DescribedModel, JSONObjectForCount)});

    auto find = [](std::string_view name) { return fixtures::propertyOf("DescribedModel", name); };
    EXPECT_EQ(find("chats")->description(),
              "@property NSArray*<MTChat> chats (Optional, ConvertOnDemand, Standard JSON type)");
    EXPECT_EQ(find("count")->description(), "@property primitive count ");
    EXPECT_EQ(find("flag")->description(), "@property BOOL flag ");

    auto model =
        DescribedModel::initWithDictionary(fixtures::parseJSON(R"({"title": 12, "count": 2, "flag": 1})"));
    ASSERT_TRUE(model);
    EXPECT_EQ(model->title, "#12");
    EXPECT_EQ(find("title")->description(), "@property NSMutableString* title (Index, Mutable, Standard JSON "
                                            "type, Setters = [setTitleWithNSNumber:])");
    model->toDictionary();
    EXPECT_EQ(find("count")->description(),
              "@property primitive count (Getter = JSONObjectForCount, Setters = [])");
}

} // namespace
