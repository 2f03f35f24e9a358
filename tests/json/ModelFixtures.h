#pragma once
// Model classes shared by the model tests, registered explicitly by registerModelFixtures() (each
// test runs in its own process, so a test registers what it uses in SetUp).

#include "platform/foundation/Exception.h"
#include "platform/foundation/JSONSerialization.h"

#include "json/MappedModel.h"
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>

namespace fixtures {

// {"id": "7", "nickname": "ann", "level": 3}; the JSON key "id" feeds `uid`.
class MTUser : public MappedModel {
    MAPPED_MODEL(MTUser)
public:
    std::optional<std::string> uid;
    std::optional<std::string> nickname;
    int64_t level{0};

    static std::shared_ptr<KeyMapper> keyMapper() {
        return std::make_shared<KeyMapper>(platform::ValueDictionary{{"id", "uid"}});
    }
    static bool propertyIsOptional(std::string_view name) { return name == "level"; }
};

class MTChat : public MappedModel {
    MAPPED_MODEL(MTChat)
public:
    std::optional<std::string> content;
    platform::Value type;
    std::shared_ptr<MTUser> user;
};

class MTRoom : public MappedModel {
    MAPPED_MODEL(MTRoom)
public:
    platform::Value roomId;
    std::optional<std::string> title;
    std::vector<std::shared_ptr<MTChat>> chats;
    platform::Value members;
    std::shared_ptr<MTUser> owner;
};

inline void registerModelFixtures() {
    MappedModel::registerModel<MTUser>("MTUser",
                                       {
                                           MAPPED_PROPERTY(MTUser, uid, "@\"NSString\""),
                                           MAPPED_PROPERTY(MTUser, nickname, "@\"NSString<Optional>\""),
                                           MAPPED_PROPERTY(MTUser, level, "q"),
                                       });
    MappedModel::registerModel<MTChat>("MTChat", {
                                                     MAPPED_PROPERTY(MTChat, content, "@\"NSString\""),
                                                     MAPPED_PROPERTY(MTChat, type, "@\"NSNumber<Optional>\""),
                                                     MAPPED_PROPERTY(MTChat, user, "@\"MTUser<Optional>\""),
                                                 });
    MappedModel::registerModel<MTRoom>(
        "MTRoom", {
                      MAPPED_PROPERTY(MTRoom, roomId, "@\"NSNumber<Index>\""),
                      MAPPED_PROPERTY(MTRoom, title, "@\"NSString\""),
                      MAPPED_PROPERTY(MTRoom, chats, "@\"NSArray<MTChat><Optional>\""),
                      MAPPED_PROPERTY(MTRoom, members, "@\"NSDictionary<MTUser><Optional>\""),
                      MAPPED_PROPERTY(MTRoom, owner, "@\"MTUser<Optional>\""),
                  });
}

// The record of a class's property, null when it is not mapped.
inline std::shared_ptr<const MappedModelClassProperty> propertyOf(std::string_view className,
                                                                  std::string_view name) {
    for (auto& record : MappedModel::propertiesOfClass(className)) {
        if (record->name == name)
            return record;
    }
    return nullptr;
}

// "name: reason" of the exception `action` raises ("no exception" when it raises none).
template <typename F> std::string raised(F&& action) {
    try {
        action();
    } catch (const platform::Exception& e) {
        return e.name() + ": " + e.reason();
    }
    return "no exception";
}

inline platform::Value parseJSON(std::string_view text) {
    return platform::JSONSerialization::JSONObjectWithData(platform::Data(text));
}

inline std::string keyPathOf(const platform::ErrorPtr& error) {
    return error ? error->userInfo()[kMappedModelKeyPath].stringOr("<none>") : "<no error>";
}

// Value equality with both values described on failure (a PrintTo for Value in one test file
// would clash with the printers other test files of this program instantiate).
inline ::testing::AssertionResult sameValue(const platform::Value& actual, const platform::Value& expected) {
    if (actual == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "actual:\n"
                                         << actual.description() << "\nexpected:\n"
                                         << expected.description();
}

} // namespace fixtures
