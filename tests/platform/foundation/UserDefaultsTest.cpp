#include "platform/foundation/UserDefaults.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"

#include <fstream>
#include <gtest/gtest.h>
#include <thread>

using platform::Data;
using platform::UserDefaults;
using platform::Value;
using platform::ValueDictionary;
namespace fs = std::filesystem;

namespace {

class UserDefaultsTest : public testing::Test {
protected:
    void SetUp() override { UserDefaults::resetStandardForTesting(); }
    void TearDown() override {
        UserDefaults::resetStandardForTesting();
        platform::Clock::install(nullptr);
    }

    fs::path file(std::string_view name = "test.plist") const {
        return platform::Paths::preferences() / name;
    }

    static void writeRaw(const fs::path& path, std::string_view bytes) {
        std::ofstream out(path, std::ios::binary);
        out << bytes;
    }

    static std::string readRaw(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::vector<std::string> namesInPreferences() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(platform::Paths::preferences()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

} // namespace

TEST_F(UserDefaultsTest, TypedReadersConvertStringsAndNumbersAsThePlatformDoes) {
    auto defaults = UserDefaults::create(file());
    defaults->setObject("12", "twelve");
    defaults->setObject("  -7 apples", "negative");
    defaults->setObject("99999999999999999999", "huge");
    defaults->setObject("2.5e1x", "real");
    defaults->setObject(12.9, "fraction");
    defaults->setObject(3, "three");
    defaults->setObject(true, "flag");

    EXPECT_EQ(defaults->integerForKey("twelve"), 12);
    EXPECT_EQ(defaults->integerForKey("negative"), -7);
    EXPECT_EQ(defaults->integerForKey("huge"), INT64_MAX);
    EXPECT_EQ(defaults->integerForKey("fraction"), 12);
    EXPECT_EQ(defaults->integerForKey("flag"), 1);
    EXPECT_DOUBLE_EQ(defaults->doubleForKey("real"), 25.0);
    EXPECT_DOUBLE_EQ(defaults->doubleForKey("twelve"), 12.0);
    EXPECT_FLOAT_EQ(defaults->floatForKey("fraction"), 12.9f);
    EXPECT_EQ(defaults->stringForKey("three"), "3");
    EXPECT_EQ(defaults->stringForKey("fraction"), "12.9");
    EXPECT_EQ(defaults->stringForKey("flag"), "1");
    EXPECT_TRUE(defaults->boolForKey("twelve"));
    EXPECT_TRUE(defaults->boolForKey("three"));

    for (const char* yes : {"YES", "yes", "Y", "true", "TRUE", "1", " +007"}) {
        defaults->setObject(yes, "b");
        EXPECT_TRUE(defaults->boolForKey("b")) << yes;
    }
    for (const char* no : {"NO", "no", "false", "0", "", "maybe", "-0"}) {
        defaults->setObject(no, "b");
        EXPECT_FALSE(defaults->boolForKey("b")) << no;
    }
}

TEST_F(UserDefaultsTest, ReadersOfTheWrongTypeOrAMissingKeyAnswerNothing) {
    auto defaults = UserDefaults::create(file());
    defaults->setObject(Value::array({"a", "b"}), "strings");
    defaults->setObject(Value::array({"a", 1}), "mixed");
    defaults->setObject(Value::dictionary({{"k", 1}}), "dict");
    defaults->setObject(Data(std::string_view("raw")), "data");

    EXPECT_EQ(defaults->stringArrayForKey("strings"), (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(defaults->stringArrayForKey("mixed"));
    EXPECT_EQ(defaults->arrayForKey("mixed")->size(), 2u);
    EXPECT_FALSE(defaults->arrayForKey("dict"));
    EXPECT_EQ(defaults->dictionaryForKey("dict")->get("k"), Value(1));
    EXPECT_EQ(defaults->dataForKey("data")->toString(), "raw");
    EXPECT_FALSE(defaults->dataForKey("strings"));
    EXPECT_FALSE(defaults->stringForKey("dict"));
    EXPECT_EQ(defaults->integerForKey("dict"), 0);

    EXPECT_TRUE(defaults->objectForKey("absent").isNil());
    EXPECT_FALSE(defaults->stringForKey("absent"));
    EXPECT_EQ(defaults->integerForKey("absent"), 0);
    EXPECT_FALSE(defaults->boolForKey("absent"));
    EXPECT_EQ(defaults->doubleForKey("absent"), 0.0);
}

TEST_F(UserDefaultsTest, RegisteredDefaultsLieUnderUserValuesAndAreNeverWritten) {
    auto defaults = UserDefaults::create(file());
    defaults->registerDefaults(ValueDictionary{{"volume", 5}, {"name", "guest"}});
    defaults->registerDefaults(ValueDictionary{{"quality", "high"}});
    EXPECT_EQ(defaults->integerForKey("volume"), 5);

    defaults->setInteger(9, "volume");
    EXPECT_EQ(defaults->integerForKey("volume"), 9);
    ValueDictionary all = defaults->dictionaryRepresentation();
    EXPECT_EQ(all.size(), 3u);
    EXPECT_EQ(all.get("volume"), Value(9));
    EXPECT_EQ(all.get("quality"), Value("high"));

    defaults->removeObjectForKey("volume");
    EXPECT_EQ(defaults->integerForKey("volume"), 5);

    defaults->setBool(true, "seen");
    ASSERT_TRUE(defaults->synchronize());
    Value onDisk = platform::PropertyList::readFile(file());
    EXPECT_EQ(onDisk, Value::dictionary({{"seen", true}}));
}

TEST_F(UserDefaultsTest, ValuesAPlistCannotHoldAreRefusedAndNilRemoves) {
    auto defaults = UserDefaults::create(file());
    defaults->setObject("kept", "key");
    EXPECT_FALSE(defaults->setObject(Value::null(), "key"));
    EXPECT_FALSE(defaults->setObject(Value::array({Value::null()}), "key"));
    EXPECT_FALSE(defaults->setObject(platform::URL::create("https://example.com/"), "key"));
    EXPECT_EQ(defaults->stringForKey("key"), "kept");

    EXPECT_TRUE(defaults->setObject(Value(), "key"));
    EXPECT_TRUE(defaults->objectForKey("key").isNil());
}

TEST_F(UserDefaultsTest, AFreshInstanceReadsWhatAnEarlierOneWrote) {
    {
        auto defaults = UserDefaults::create(file());
        defaults->setInteger(INT64_MIN, "min");
        defaults->setDouble(0.1, "tenth");
        defaults->setFloat(1.5f, "float");
        defaults->setObject(Value::dictionary({{"nested", Value::array({"x", Data()})}}), "tree");
        ASSERT_TRUE(defaults->synchronize());
    }
    auto again = UserDefaults::create(file());
    EXPECT_EQ(again->integerForKey("min"), INT64_MIN);
    EXPECT_EQ(again->doubleForKey("tenth"), 0.1);
    EXPECT_EQ(again->floatForKey("float"), 1.5f);
    EXPECT_EQ(again->objectForKey("tree"), Value::dictionary({{"nested", Value::array({"x", Data()})}}));
}

TEST_F(UserDefaultsTest, StandardDefaultsLiveInPreferencesUnderTheDomainAndSurviveAReset) {
    UserDefaults::setStandardDomain("com.example.test");
    auto standard = UserDefaults::standardUserDefaults();
    EXPECT_EQ(standard, UserDefaults::standard());
    EXPECT_EQ(standard->file(), platform::Paths::preferences() / "com.example.test.plist");
    standard->setObject("hello", "greeting");
    standard.reset();

    // Letting go of the last holder writes pending changes without an explicit synchronize.
    UserDefaults::resetStandardForTesting();
    EXPECT_TRUE(fs::exists(file("com.example.test.plist")));
    EXPECT_EQ(UserDefaults::standard()->stringForKey("greeting"), "hello");
    UserDefaults::setStandardDomain("com.marvane.live");
}

TEST_F(UserDefaultsTest, SynchronizeWritesOnlyWhenSomethingChanged) {
    auto defaults = UserDefaults::create(file());
    EXPECT_TRUE(defaults->synchronize());
    EXPECT_FALSE(fs::exists(file())) << "nothing to write yet";

    defaults->setInteger(1, "n");
    ASSERT_TRUE(defaults->synchronize());
    ASSERT_TRUE(fs::exists(file()));

    // Were the file written again, it would come back.
    fs::remove(file());
    EXPECT_TRUE(defaults->synchronize());
    EXPECT_FALSE(fs::exists(file()));

    defaults->removeObjectForKey("absent");
    EXPECT_TRUE(defaults->synchronize());
    EXPECT_FALSE(fs::exists(file()));

    defaults->setInteger(2, "n");
    EXPECT_TRUE(defaults->synchronize());
    EXPECT_EQ(platform::PropertyList::readFile(file()), Value::dictionary({{"n", 2}}));
    EXPECT_EQ(namesInPreferences(), std::vector<std::string>{"test.plist"});
}

TEST_F(UserDefaultsTest, ATornFileIsSetAsideAndStartUpCarriesOn) {
    auto clock = std::make_shared<platform::ManualClock>();
    clock->setWall(platform::WallTime(std::chrono::seconds(1796577741))); // 2026-12-06T17:22:21Z
    platform::Clock::install(clock);

    std::string whole =
        platform::PropertyList::write(Value::dictionary({{"a", 1}, {"b", "text"}}))->toString();
    std::string torn = whole.substr(0, whole.size() / 2);
    writeRaw(file(), torn);

    testing::internal::CaptureStderr();
    auto defaults = UserDefaults::create(file());
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("warning"), std::string::npos);
    EXPECT_TRUE(defaults->dictionaryRepresentation().empty());
    EXPECT_EQ(namesInPreferences(), std::vector<std::string>{"test.plist.corrupt-20261206T172221Z"});
    EXPECT_EQ(readRaw(file("test.plist.corrupt-20261206T172221Z")), torn);

    // The set-aside copy is kept even when the same damage happens again within the second.
    defaults->setInteger(3, "c");
    ASSERT_TRUE(defaults->synchronize());
    EXPECT_EQ(UserDefaults::create(file())->integerForKey("c"), 3);
    writeRaw(file(), std::string_view("\x00\x01garbage", 9));
    testing::internal::CaptureStderr();
    EXPECT_EQ(UserDefaults::create(file())->integerForKey("c"), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(namesInPreferences().size(), 2u);
}

TEST_F(UserDefaultsTest, AFileThatIsNotADictionaryOrIsEmptyIsSetAside) {
    for (std::string_view contents :
         {std::string_view(""), std::string_view("<plist><array/></plist>"), std::string_view("bplist00")}) {
        fs::remove_all(platform::Paths::preferences());
        writeRaw(file(), contents);
        testing::internal::CaptureStderr();
        auto defaults = UserDefaults::create(file());
        testing::internal::GetCapturedStderr();
        EXPECT_TRUE(defaults->dictionaryRepresentation().empty());
        auto names = namesInPreferences();
        ASSERT_EQ(names.size(), 1u) << contents;
        EXPECT_TRUE(names[0].starts_with("test.plist.corrupt-")) << names[0];
    }
}

TEST_F(UserDefaultsTest, ACrashBeforeTheRenameLeavesTheLastGoodFileWhichIsKept) {
    {
        auto defaults = UserDefaults::create(file());
        defaults->setObject("good", "state");
        ASSERT_TRUE(defaults->synchronize());
    }
    // What a write interrupted between writing its temporary and renaming it leaves behind.
    std::string partial =
        platform::PropertyList::write(Value::dictionary({{"state", "newer"}}))->toString().substr(0, 80);
    writeRaw(platform::Paths::preferences() / (platform::AtomicFile::temporaryPrefix(file()) + "q1W2e3"),
             partial);

    testing::internal::CaptureStderr();
    auto defaults = UserDefaults::create(file());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(defaults->stringForKey("state"), "good");
    EXPECT_EQ(namesInPreferences(), std::vector<std::string>{"test.plist"});
}

TEST_F(UserDefaultsTest, ManyThreadsReadAndWriteSafely) {
    auto defaults = UserDefaults::standard();
    constexpr int kThreads = 8;
    constexpr int kRounds = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            auto shared = UserDefaults::standard();
            for (int i = 0; i < kRounds; ++i) {
                std::string own = "thread" + std::to_string(t);
                shared->setInteger(i, own);
                EXPECT_EQ(shared->integerForKey(own), i);
                shared->setObject(Value::array({t, i}), "shared");
                EXPECT_EQ(shared->arrayForKey("shared")->size(), 2u);
                shared->dictionaryRepresentation();
                if (i % 50 == 0) {
                    EXPECT_TRUE(shared->synchronize());
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    ASSERT_TRUE(defaults->synchronize());

    Value onDisk = platform::PropertyList::readFile(defaults->file());
    ASSERT_TRUE(onDisk.isDictionary());
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(onDisk["thread" + std::to_string(t)], Value(kRounds - 1));
    EXPECT_EQ(onDisk.count(), kThreads + 1u);
}
