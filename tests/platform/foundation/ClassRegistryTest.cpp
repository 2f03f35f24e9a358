#include "platform/foundation/ClassRegistry.h"

#include "platform/foundation/Value.h"

#include <gtest/gtest.h>
#include <thread>

using platform::ClassInfo;
using platform::ClassRegistry;
using platform::Object;
using platform::PropertyInfo;
using platform::Value;

namespace {

struct Base : Object {};
struct Model : Base {
    std::string title;
};
struct Other : Object {};
struct NeedsArguments : Object {
    explicit NeedsArguments(int) {}
};

// Takes out, when a test ends, every class name the test registered.
class Registrations : public testing::Test {
protected:
    template <typename T>
    void add(std::string name, std::string superclass, std::vector<std::string> protocols = {},
             std::vector<PropertyInfo> properties = {}) {
        m_names.push_back(name);
        registry().registerClass<T>(std::move(name), std::move(superclass), std::move(protocols),
                                    std::move(properties));
    }
    void TearDown() override {
        for (const auto& name : m_names)
            registry().unregisterClass(name);
    }
    static ClassRegistry& registry() { return ClassRegistry::shared(); }

private:
    std::vector<std::string> m_names;
};

} // namespace

TEST_F(Registrations, CreatesObjectsByNameThroughTheFactory) {
    add<Model>("CRTModel", "CRTBase");
    add<NeedsArguments>("CRTNeedsArguments", "NSObject");

    auto made = registry().create("CRTModel");
    ASSERT_NE(made, nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<Model>(made), nullptr);
    EXPECT_EQ(made->className(), "CRTModel");
    EXPECT_NE(registry().create("CRTModel"), made);
    EXPECT_EQ(registry().create("CRTNeedsArguments"), nullptr);
    EXPECT_EQ(registry().create("CRTNoSuchClass"), nullptr);
    EXPECT_NE(registry().classNamed("CRTNeedsArguments"), nullptr);
}

TEST_F(Registrations, WalksTheSuperclassChain) {
    add<Base>("CRTBase", "NSObject");
    add<Model>("CRTModel", "CRTBase");

    auto model = registry().classNamed("CRTModel");
    ASSERT_NE(model, nullptr);
    auto base = registry().superclassOf(*model);
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(base->name, "CRTBase");
    EXPECT_EQ(registry().superclassOf(*base), nullptr) << "NSObject itself is not registered here";
    EXPECT_TRUE(registry().isSubclass("CRTModel", "CRTModel"));
    EXPECT_TRUE(registry().isSubclass("CRTModel", "NSObject"));
    EXPECT_FALSE(registry().isSubclass("CRTBase", "CRTModel"));
    EXPECT_EQ(registry().classOf(typeid(Model)), model);
}

TEST_F(Registrations, ProtocolConformanceIsInherited) {
    add<Base>("CRTBase", "NSObject", {"NSCoding"});
    add<Model>("CRTModel", "CRTBase", {"Optional", "Ignore"});

    EXPECT_TRUE(registry().conformsTo("CRTModel", "Optional"));
    EXPECT_TRUE(registry().conformsTo("CRTModel", "NSCoding"));
    EXPECT_FALSE(registry().conformsTo("CRTBase", "Optional"));
    EXPECT_FALSE(registry().conformsTo("CRTNoSuchClass", "NSCoding"));
}

TEST_F(Registrations, KeepsDeclaredPropertiesInOrder) {
    PropertyInfo title{"title", "T@\"NSString\",&,N,V_title",
                       [](const Object& o) { return Value(static_cast<const Model&>(o).title); },
                       [](Object& o, const Value& v) { static_cast<Model&>(o).title = v.stringOr(); }};
    add<Model>("CRTModel", "NSObject", {}, {title, PropertyInfo{"count", "Tq,N,V_count", {}, {}}});

    auto info = registry().classNamed("CRTModel");
    ASSERT_EQ(info->properties.size(), 2u);
    EXPECT_EQ(info->properties[0].name, "title");
    EXPECT_EQ(info->properties[1].attributes, "Tq,N,V_count");
    auto made = registry().create("CRTModel");
    info->properties[0].setter(*made, "Hello");
    EXPECT_EQ(info->properties[0].getter(*made), Value("Hello"));
}

TEST_F(Registrations, ClassMethodsAreFoundOnTheClassOrItsSuperclasses) {
    ClassInfo base;
    base.name = "CRTMethodBase";
    base.superclassName = "NSObject";
    base.classMethods["twice:"] = [](const Value& v) { return Value(v.int64Or() * 2); };
    registry().registerClass(base);
    add<Model>("CRTMethodModel", "CRTMethodBase");

    auto twice = registry().classMethod("CRTMethodModel", "twice:");
    ASSERT_TRUE(twice);
    EXPECT_EQ(twice(Value(21)), Value(42));
    EXPECT_FALSE(registry().classMethod("CRTMethodModel", "thrice:"));
    EXPECT_FALSE(registry().classMethod("CRTNoSuchClass", "twice:"));
    registry().unregisterClass("CRTMethodBase");
}

TEST_F(Registrations, UnregisteringForgetsTheClass) {
    add<Model>("CRTModel", "NSObject");
    auto model = std::make_shared<Model>();
    ASSERT_EQ(model->className(), "CRTModel");
    registry().unregisterClass("CRTModel");
    EXPECT_EQ(registry().classNamed("CRTModel"), nullptr);
    EXPECT_EQ(registry().classOf(typeid(Model)), nullptr);
    EXPECT_EQ(registry().create("CRTModel"), nullptr);
    EXPECT_NE(model->className(), "CRTModel");
    registry().unregisterClass("CRTModel"); // twice is harmless
}

TEST_F(Registrations, RegisteringANameAgainReplacesTheEarlierClass) {
    add<Model>("CRTModel", "NSObject");
    add<Other>("CRTModel", "NSObject");

    EXPECT_NE(std::dynamic_pointer_cast<Other>(registry().create("CRTModel")), nullptr);
    EXPECT_EQ(std::make_shared<Other>()->className(), "CRTModel");
    // The replaced class's C++ type no longer answers to the name it lost.
    EXPECT_EQ(registry().classOf(typeid(Model)), nullptr);
    EXPECT_NE(std::make_shared<Model>()->className(), "CRTModel");
    registry().unregisterClass("CRTModel");
    EXPECT_NE(std::make_shared<Other>()->className(), "CRTModel");
}

TEST_F(Registrations, RegistrationCycleDoesNotHang) {
    add<Base>("CRTLoopA", "CRTLoopB", {"NotAdopted"});
    add<Model>("CRTLoopB", "CRTLoopA");
    EXPECT_FALSE(registry().isSubclass("CRTLoopA", "NSObject"));
    EXPECT_FALSE(registry().conformsTo("CRTLoopB", "Missing"));
    EXPECT_TRUE(registry().isSubclass("CRTLoopA", "CRTLoopB"));
}

TEST_F(Registrations, LookupsWhileRegisteringFromOtherThreadsAreSafe) {
    add<Base>("CRTBase", "NSObject");
    std::thread writer([] {
        for (int i = 0; i < 300; ++i) {
            ClassRegistry::shared().registerClass<Model>("CRTModel", "CRTBase");
            ClassRegistry::shared().unregisterClass("CRTModel");
        }
    });
    auto model = std::make_shared<Model>();
    int unexpected = 0;
    for (int i = 0; i < 300; ++i) {
        auto name = model->className();
        if (name != "CRTModel" && name.find("Model") == std::string::npos)
            ++unexpected;
        (void)model->isKindOf("CRTBase");
        (void)registry().create("CRTModel");
    }
    writer.join();
    EXPECT_EQ(unexpected, 0);
    EXPECT_EQ(registry().classNamed("CRTModel"), nullptr);
}
