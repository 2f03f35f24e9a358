#include "json/KeyMapper.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using platform::Value;
using platform::ValueDictionary;

namespace {

TEST(KeyMapperDictionary, MapsBothWaysAndSwappingKeepsTheLaterKeyForASharedValue) {
    KeyMapper mapper(ValueDictionary{{"user.name", "userName"}});
    EXPECT_EQ(mapper.convertValue("userName", true), "user.name");
    EXPECT_EQ(mapper.convertValue("user.name", false), "userName");
    EXPECT_EQ(mapper.convertValue("nickname", true), "nickname");
    EXPECT_EQ(mapper.convertValue("nickname", false), "nickname");
    auto swapped =
        KeyMapper::swapKeysAndValuesInDictionary(ValueDictionary{{"a", "x"}, {"b", "x"}, {"c", "y"}});
    EXPECT_EQ(swapped.get("x"), Value("b"));
    EXPECT_EQ(swapped.get("y"), Value("c"));
}

TEST(KeyMapperCase, UnderscoreAndCamelCaseConvert) {
    const std::pair<const char*, const char*> toCamel[] = {{"first_name", "firstName"},
                                                           {"USER_ID", "userId"},
                                                           {"plain", "plain"},
                                                           {"Plain", "Plain"}, // no "_": unchanged
                                                           {"photo_2_url", "photo2Url"}};
    for (auto [from, to] : toCamel)
        EXPECT_EQ(KeyMapper::underscoreCaseToCamelCase(from), to) << from;
    const std::pair<const char*, const char*> toUnderscore[] = {{"userName", "user_name"},
                                                                {"photo2Url", "photo_2_url"},
                                                                {"ID", "_i_d"},
                                                                {"title", "title"},
                                                                {"a12b3", "a_12b_3"}};
    for (auto [from, to] : toUnderscore)
        EXPECT_EQ(KeyMapper::camelCaseToUnderscoreCase(from), to) << from;
    auto upper = KeyMapper::mapperFromUpperCaseToLowerCase();
    EXPECT_EQ(upper->convertValue("userName", true), "USERNAME");
    EXPECT_EQ(upper->convertValue("USER", false), "user");
}

TEST(KeyMapperFactories, ExceptionsWinBothWaysTheBaseServesTheRestAndAbsentFunctionsAnswerNothing) {
    auto mapper =
        KeyMapper::mapper(KeyMapper::mapperFromUnderscoreCaseToCamelCase(), ValueDictionary{{"ID", "uid"}});
    EXPECT_EQ(mapper->convertValue("uid", true), "ID");
    EXPECT_EQ(mapper->convertValue("ID", false), "uid");
    EXPECT_EQ(mapper->convertValue("firstName", true), "first_name");
    EXPECT_EQ(mapper->convertValue("first_name", false), "firstName");
    // Absent functions answer nothing and are never called.
    KeyMapper empty;
    EXPECT_FALSE(empty.convertValue("a", true));
    EXPECT_FALSE(empty.convertValue("a", false));
    KeyMapper half(nullptr, [](const std::string& name) { return name + "_json"; });
    EXPECT_EQ(half.convertValue("a", true), "a_json");
    EXPECT_FALSE(half.convertValue("a", false));
    auto overEmpty = KeyMapper::mapper(std::make_shared<KeyMapper>(), ValueDictionary{});
    EXPECT_EQ(overEmpty->convertValue("a", true), "a");
    EXPECT_EQ(KeyMapper::mapper(nullptr, ValueDictionary{})->convertValue("b", false), "b");
}

TEST(KeyMapperFunctions, AnswersAreRememberedPerInput) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    KeyMapper mapper([calls](const std::string& key) { return ++*calls, key + "!"; }, nullptr);
    EXPECT_EQ(mapper.convertValue("a", false), "a!");
    EXPECT_EQ(mapper.convertValue("a", false), "a!");
    EXPECT_EQ(mapper.convertValue("b", false), "b!");
    EXPECT_EQ(*calls, 2);
}

TEST(KeyMapperFunctions, OneMapperServesManyThreadsAtOnce) {
    auto mapper = KeyMapper::mapperFromUnderscoreCaseToCamelCase();
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                auto name = "field" + std::to_string((i + t) % 50) + "Name";
                auto key = mapper->convertValue(name, true);
                if (!key || mapper->convertValue(*key, false) != name)
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
}

} // namespace
