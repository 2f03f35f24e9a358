#include "platform/foundation/Object.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Value.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using platform::ClassRegistry;
using platform::Object;
using platform::ObjectPtr;
using platform::Value;

namespace {

struct Animal : Object {};
struct Dog : Animal {};
struct Unregistered : Object {};

struct Delegate : Object {
    bool respondsTo(std::string_view selector) const override {
        return selector == "socket:didReadData:withTag:";
    }
};

// Reports its own destruction, and may reach back into an owner while being destroyed.
struct Tracked : Object {
    explicit Tracked(std::atomic<int>* destroyed = nullptr)
        : destroyed(destroyed) {}
    ~Tracked() override {
        if (destroyed)
            destroyed->fetch_add(1);
        if (auto back = owner.lock())
            seenInOwner = back->associatedObject(&kOtherKey);
    }
    std::atomic<int>* destroyed;
    std::weak_ptr<Object> owner;
    Value seenInOwner;
    static const char kOtherKey;
};
const char Tracked::kOtherKey = 0;

const char kKey = 0;
const char kSecondKey = 0;

// Registers the test classes for one test and takes them out again, so tests do not see each other's
// registrations when they share a process.
class ObjectRuntime : public testing::Test {
protected:
    void SetUp() override {
        ClassRegistry::shared().registerClass<Animal>("ObjectTestAnimal", "NSObject");
        ClassRegistry::shared().registerClass<Dog>("ObjectTestDog", "ObjectTestAnimal");
    }
    void TearDown() override {
        ClassRegistry::shared().unregisterClass("ObjectTestAnimal");
        ClassRegistry::shared().unregisterClass("ObjectTestDog");
    }
};

} // namespace

TEST_F(ObjectRuntime, ClassNameAndKindComeFromTheRegistry) {
    auto dog = std::make_shared<Dog>();
    EXPECT_EQ(dog->className(), "ObjectTestDog");
    EXPECT_TRUE(dog->isKindOf("ObjectTestDog"));
    EXPECT_TRUE(dog->isKindOf("ObjectTestAnimal"));
    EXPECT_TRUE(dog->isKindOf("NSObject"));
    EXPECT_FALSE(dog->isKindOf("ObjectTestCat"));
    EXPECT_FALSE(std::make_shared<Animal>()->isKindOf("ObjectTestDog"));
    EXPECT_NE(dog->description().find("ObjectTestDog"), std::string::npos);
    // An unregistered class is kind of nothing but itself.
    auto plain = std::make_shared<Unregistered>();
    const auto name = plain->className();
    EXPECT_NE(name.find("Unregistered"), std::string::npos);
    EXPECT_TRUE(plain->isKindOf(name));
    EXPECT_FALSE(plain->isKindOf("NSObject"));
}

TEST(ObjectBasics, RespondsToOnlyWhatTheClassSays) {
    EXPECT_FALSE(std::make_shared<Unregistered>()->respondsTo("socket:didReadData:withTag:"));
    auto delegate = std::make_shared<Delegate>();
    EXPECT_TRUE(delegate->respondsTo("socket:didReadData:withTag:"));
    EXPECT_FALSE(delegate->respondsTo("socketDidDisconnect:withError:"));
    ObjectPtr erased = delegate;
    EXPECT_EQ(erased->sharedAs<Delegate>(), delegate);
    EXPECT_EQ(erased->sharedAs<Dog>(), nullptr);
}

TEST(ObjectAssociations, SetReplaceAndRemoveWithNil) {
    auto object = std::make_shared<Unregistered>();
    EXPECT_TRUE(object->associatedObject(&kKey).isNil());
    object->setAssociatedObject(&kKey, "first");
    object->setAssociatedObject(&kSecondKey, 2);
    object->setAssociatedObject(&kKey, "second");
    EXPECT_EQ(object->associatedObject(&kKey), Value("second"));
    EXPECT_EQ(object->associatedObject(&kSecondKey), Value(2));
    object->setAssociatedObject(&kKey, Value());
    EXPECT_TRUE(object->associatedObject(&kKey).isNil());
    EXPECT_EQ(object->associatedObject(&kSecondKey), Value(2));
    object->setAssociatedObject(&kKey, Value()); // removing what is not there is harmless
}

TEST(ObjectAssociations, ValuesAreReleasedWhenReplacedRemovedOrWhenTheOwnerDies) {
    std::atomic<int> destroyed{0};
    auto owner = std::make_shared<Unregistered>();
    owner->setAssociatedObject(&kKey, std::make_shared<Tracked>(&destroyed));
    owner->setAssociatedObject(&kKey, std::make_shared<Tracked>(&destroyed));
    EXPECT_EQ(destroyed.load(), 1);
    owner->setAssociatedObject(&kKey, Value());
    EXPECT_EQ(destroyed.load(), 2);
    owner->setAssociatedObject(&kKey, std::make_shared<Tracked>(&destroyed));
    owner.reset();
    EXPECT_EQ(destroyed.load(), 3);
}

TEST(ObjectAssociations, ReleasedValueMayReachBackIntoItsOwner) {
    auto owner = std::make_shared<Unregistered>();
    owner->setAssociatedObject(&Tracked::kOtherKey, "still here");
    auto tracked = std::make_shared<Tracked>();
    tracked->owner = owner;
    std::weak_ptr<Tracked> weak = tracked;
    owner->setAssociatedObject(&kKey, tracked);
    tracked.reset();
    // Replacing the value destroys it; its destructor reads the owner's associations.
    owner->setAssociatedObject(&kKey, "replacement");
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(owner->associatedObject(&kKey), Value("replacement"));
}

TEST(ObjectAssociations, ConcurrentSettersAndGettersAreSafe) {
    auto owner = std::make_shared<Unregistered>();
    constexpr int kThreads = 4, kRounds = 500;
    static const char keys[kThreads] = {};
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                owner->setAssociatedObject(&keys[t], i);
                if (owner->associatedObject(&keys[t]) != Value(i))
                    mismatches.fetch_add(1);
                owner->setAssociatedObject(&kKey, std::make_shared<Tracked>());
                (void)owner->associatedObject(&kKey);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(owner->associatedObject(&keys[t]), Value(kRounds - 1));
}
