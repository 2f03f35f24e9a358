// Lazy model arrays: elements turn into models on first read, once; elements that do not import stay
// raw; copies are independent; export keeps what does not convert.

#include "json/MappedModel.h"
#include "json/MappedModelArray.h"
#include <gtest/gtest.h>
#include <thread>

using platform::Value;

namespace {

class LazyRoomModel : public MappedModel {
    MAPPED_MODEL(LazyRoomModel)
public:
    Value roomId; // the index
    std::optional<std::string> title;
};

class LazyTagModel : public MappedModel {
    MAPPED_MODEL(LazyTagModel)
public:
    std::optional<std::string> name;
};

class LazyArrayTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        MappedModel::registerModel<LazyRoomModel>(
            "LazyRoomModel", {
                                 MAPPED_PROPERTY(LazyRoomModel, roomId, "@\"NSNumber<Index>\""),
                                 MAPPED_PROPERTY(LazyRoomModel, title, "@\"NSString\""),
                             });
        MappedModel::registerModel<LazyTagModel>("LazyTagModel",
                                                 {MAPPED_PROPERTY(LazyTagModel, name, "@\"NSString\"")});
    }

    static Value room(int64_t id, const char* title) {
        return Value::dictionary({{"roomId", id}, {"title", title}});
    }

    // Rooms 1 and 3 import; the middle one lacks its required title.
    std::shared_ptr<MappedModelArray> rooms = std::make_shared<MappedModelArray>(
        Value::array({room(1, "one"), Value::dictionary({{"roomId", 2}}), room(3, "three")}),
        "LazyRoomModel");
};

} // namespace

// Count never converts; reading an element converts it once to the same model, leaving the others
// raw; iteration converts every element, with null for one that does not import.
TEST_F(LazyArrayTest, ElementsConvertOnFirstReadOnce) {
    EXPECT_EQ(rooms->count(), 3u);
    auto first = rooms->objectAs<LazyRoomModel>(0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->title, "one");
    EXPECT_EQ((*rooms)[0], first);
    EXPECT_EQ(rooms->firstObject(), first);
    EXPECT_TRUE(rooms->storage()[0].isObject());
    EXPECT_TRUE(rooms->storage()[1].isDictionary()) << "an element not read yet stays raw";
    EXPECT_TRUE(rooms->storage()[2].isDictionary());
    EXPECT_EQ(std::dynamic_pointer_cast<LazyRoomModel>(rooms->lastObject())->title, "three");

    std::vector<std::shared_ptr<MappedModel>> seen;
    for (auto model : *rooms)
        seen.push_back(model);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], first);
    EXPECT_FALSE(seen[1]);
    EXPECT_TRUE(seen[2]);

    MappedModelArray empty(Value::array({}), "LazyRoomModel");
    EXPECT_EQ(empty.firstObject(), nullptr);
    EXPECT_EQ(empty.lastObject(), nullptr);
    EXPECT_EQ(empty.objectAtIndex(0), nullptr);
    EXPECT_EQ(rooms->objectAtIndex(3), nullptr);
    EXPECT_EQ(MappedModelArray(Value("text"), "LazyRoomModel").count(), 0u);
}

TEST_F(LazyArrayTest, MutableCopyIsIndependentAndExportKeepsWhatDoesNotConvert) {
    auto original = (*rooms)[0];
    auto copy = rooms->mutableCopy();
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.get(), rooms.get());
    EXPECT_EQ(copy->count(), 3u);
    EXPECT_EQ((*copy)[0], original) << "models already read are shared, like any array copy";

    ASSERT_TRUE((*copy)[2]);
    EXPECT_TRUE(rooms->storage()[2].isDictionary()) << "a conversion in the copy stays in the copy";
    EXPECT_EQ(copy->targetClassName(), "LazyRoomModel");
    // Export keeps an element that does not convert as its raw dictionary.
    EXPECT_EQ(rooms->toJSONArray(),
              Value::array({room(1, "one"), Value::dictionary({{"roomId", 2}}), room(3, "three")}));
}

TEST_F(LazyArrayTest, ModelWithIndexValueFindsByTheIndexPropertyConvertingAsItSearches) {
    auto found = std::dynamic_pointer_cast<LazyRoomModel>(rooms->modelWithIndexValue(Value(3)));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->title, "three");
    EXPECT_EQ(rooms->modelWithIndexValue(Value(3)), found);
    EXPECT_EQ(rooms->modelWithIndexValue(Value(2)), nullptr) << "the element with id 2 does not import";
    EXPECT_EQ(rooms->modelWithIndexValue(Value(9)), nullptr);

    EXPECT_EQ(MappedModelArray(Value::array({}), "LazyRoomModel").modelWithIndexValue(Value(1)), nullptr);
    MappedModelArray tags(Value::array({Value::dictionary({{"name", "a"}})}), "LazyTagModel");
    EXPECT_EQ(tags.modelWithIndexValue(Value("a")), nullptr) << "a class without an index property";
    EXPECT_EQ(modelWithIndexValue(platform::ValueArray{Value(rooms->objectAtIndex(0))}, Value(1)), nullptr);
}

TEST_F(LazyArrayTest, DescriptionListsTheStoredElements) {
    MappedModelArray tags(Value::array({Value::dictionary({{"name", "a"}})}), "LazyTagModel");
    auto before = tags.description();
    EXPECT_EQ(before.rfind("<MappedModelArray[LazyTagModel]>\n", 0), 0u) << before;
    EXPECT_NE(before.find(Value::dictionary({{"name", "a"}}).description() + ",\n"), std::string::npos);
    EXPECT_TRUE(before.ends_with(",\n\n</MappedModelArray>")) << before;

    auto model = tags[0];
    ASSERT_TRUE(model);
    EXPECT_NE(tags.description().find(model->description() + ",\n"), std::string::npos);
}

TEST_F(LazyArrayTest, ConcurrentReadersShareOneConversionPerElement) {
    constexpr int kReaders = 4;
    std::vector<std::shared_ptr<MappedModel>> firstSeen(kReaders), lastSeen(kReaders);
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&, r] {
            for (int pass = 0; pass < 50; ++pass) {
                firstSeen[r] = rooms->objectAtIndex(0);
                lastSeen[r] = rooms->lastObject();
                (void)rooms->description();
            }
        });
    }
    for (auto& reader : readers)
        reader.join();
    for (int r = 1; r < kReaders; ++r) {
        EXPECT_EQ(firstSeen[r], firstSeen[0]);
        EXPECT_EQ(lastSeen[r], lastSeen[0]);
    }
    EXPECT_TRUE(firstSeen[0]);
}
