#include "platform/foundation/Bundle.h"

#include "platform/foundation/Paths.h"
#include "tests/support/ScopedEnvironment.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

using platform::Bundle;
using platform::Paths;
using platform::Value;

namespace {

std::filesystem::path fixtureBundle() {
    return std::filesystem::path(LIVEAPP_TEST_SOURCE_DIR) / "tests/platform/foundation/fixtures/bundle";
}

// Sets the locale variables a lookup reads (null unsets one) and restores them afterwards.
struct LocaleEnvironment {
    LocaleEnvironment(const char* lcAll, const char* lcMessages = nullptr, const char* language = nullptr)
        : all("LC_ALL", lcAll)
        , messages("LC_MESSAGES", lcMessages)
        , lang("LANG", language) {}
    liveapp::test::ScopedEnvironment all, messages, lang;
};

// Points the main bundle at the fixture resources for one test.
class BundleTest : public testing::Test {
protected:
    void SetUp() override { Paths::setResources(fixtureBundle()); }
    void TearDown() override { Paths::setResources({}); }

    std::shared_ptr<Bundle> bundle() const { return Bundle::mainBundle(); }
    std::string fixture(const std::string& relative) const { return (fixtureBundle() / relative).string(); }
};

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace

TEST(BundleInfo, MainBundleInfoValuesComeFromTheBuild) {
    auto main = Bundle::mainBundle();
    EXPECT_EQ(main, Bundle::mainBundle());
    EXPECT_EQ(main->objectForInfoDictionaryKey("CFBundleShortVersionString"), Value(LIVEAPP_VERSION));
    EXPECT_EQ(main->objectForInfoDictionaryKey("CFBundleVersion"), Value(LIVEAPP_BUILD_NUMBER));
    EXPECT_EQ(main->objectForInfoDictionaryKey("CFBundleDisplayName"), Value(LIVEAPP_DISPLAY_NAME));
    EXPECT_EQ(main->objectForInfoDictionaryKey("CFBundleName"), Value(LIVEAPP_DISPLAY_NAME));
    EXPECT_EQ(main->objectForInfoDictionaryKey("CFBundleIdentifier"), Value("com.marvane.live"));
    EXPECT_EQ(main->bundleIdentifier(), "com.marvane.live");
    EXPECT_TRUE(main->objectForInfoDictionaryKey("NoSuchKey").isNil());
    EXPECT_EQ(main->infoDictionary()["CFBundleVersion"], Value(LIVEAPP_BUILD_NUMBER));
}

TEST(BundleInfo, MainBundleResourcesAreTheConfiguredResourcesFolder) {
    Paths::setResources("/somewhere/resources");
    EXPECT_EQ(Bundle::mainBundle()->resourcePath(), "/somewhere/resources");
    Paths::setResources({});
    EXPECT_EQ(Bundle::mainBundle()->resourcePath(), Paths::resources().string());
}

TEST(BundleInfo, BundleWithPathNeedsAnExistingFolder) {
    EXPECT_EQ(Bundle::bundleWithPath(Paths::temporary() / "missing"), nullptr);
    auto other = Bundle::bundleWithPath(fixtureBundle());
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->resourcePath(), fixtureBundle().string());
    EXPECT_FALSE(other->bundleIdentifier());
    EXPECT_TRUE(other->objectForInfoDictionaryKey("CFBundleVersion").isNil());
}

TEST_F(BundleTest, FindsResourcesByNameTypeAndDirectory) {
    LocaleEnvironment locale("en_US.UTF-8");
    EXPECT_EQ(bundle()->pathForResource("config", "json"), fixture("config.json"));
    EXPECT_EQ(bundle()->pathForResource("config", ".json"), fixture("config.json"));
    EXPECT_EQ(bundle()->pathForResource("config.json", ""), fixture("config.json"));
    EXPECT_EQ(bundle()->pathForResource("ding", "caf", "Sounds"), fixture("Sounds/ding.caf"));
    EXPECT_EQ(bundle()->pathForResource("Sounds", ""), fixture("Sounds"));
    EXPECT_EQ(bundle()->pathForResource("ding", "caf"), std::nullopt);
    EXPECT_EQ(bundle()->pathForResource("config", "plist"), std::nullopt);
    EXPECT_EQ(bundle()->pathForResource("", "caf", "Sounds"), fixture("Sounds/ding.caf"));
}

TEST_F(BundleTest, LocalizedResourcesFollowTheLanguageAndUnlocalizedOnesComeFirst) {
    {
        LocaleEnvironment locale(nullptr, nullptr, "fr_FR.UTF-8");
        EXPECT_EQ(bundle()->pathForResource("flag", "txt"), fixture("fr.lproj/flag.txt"));
        EXPECT_EQ(bundle()->pathForResource("banner", "txt"), fixture("banner.txt"));
    }
    {
        LocaleEnvironment locale(nullptr, nullptr, "de_DE.UTF-8");
        EXPECT_EQ(bundle()->pathForResource("flag", "txt"), fixture("en.lproj/flag.txt"));
    }
}

TEST_F(BundleTest, ListsResourcesOfATypeSortedByName) {
    LocaleEnvironment locale("en_US.UTF-8");
    EXPECT_EQ(bundle()->pathsForResourcesOfType("caf", "Sounds"),
              (std::vector<std::string>{fixture("Sounds/ding.caf"), fixture("Sounds/dong.caf")}));
    EXPECT_EQ(bundle()->pathsForResourcesOfType("", "Sounds").size(), 4u);
    EXPECT_EQ(bundle()->pathsForResourcesOfType("txt"),
              (std::vector<std::string>{fixture("banner.txt"), fixture("en.lproj/flag.txt")}));
    EXPECT_TRUE(bundle()->pathsForResourcesOfType("caf", "NoSuchFolder").empty());
}

TEST_F(BundleTest, LocalizedStringsComeFromThePreferredLanguageThenEnglishThenBase) {
    LocaleEnvironment locale(nullptr, nullptr, "fr_CA.UTF-8");
    EXPECT_EQ(bundle()->localizedStringForKey("hello", "", ""), "Bonjour");
    EXPECT_EQ(bundle()->localizedStringForKey("Start broadcast", "", "Localizable"), "Démarrer le direct");
    EXPECT_EQ(bundle()->localizedStringForKey("only_en", "", ""), "Only English");
    EXPECT_EQ(bundle()->localizedStringForKey("base_only", "", ""), "From Base");
}

TEST_F(BundleTest, MissingKeyGivesTheValueWhenGivenElseTheKey) {
    LocaleEnvironment locale("en_GB.UTF-8");
    EXPECT_EQ(bundle()->localizedStringForKey("missing", "Fallback", ""), "Fallback");
    EXPECT_EQ(bundle()->localizedStringForKey("missing", "", ""), "missing");
    EXPECT_EQ(bundle()->localizedStringForKey("hello", "", "NoSuchTable"), "hello");
    EXPECT_EQ(bundle()->localizedStringForKey("", "value", ""), "value");
}

TEST_F(BundleTest, NamedTablesAndMalformedTablesFallBack) {
    LocaleEnvironment locale("fr_FR.UTF-8");
    // The French table is malformed, so it counts as missing and English answers.
    EXPECT_EQ(bundle()->localizedStringForKey("network.down", "", "Errors"), "The network is down.");
    EXPECT_EQ(bundle()->localizedStringForKey("hello", "", "Errors"), "hello");
}

TEST_F(BundleTest, ChineseLocalesUseTheirScriptFolder) {
    {
        LocaleEnvironment locale("zh_CN.UTF-8");
        EXPECT_EQ(bundle()->localizedStringForKey("hello", "", ""), "你好");
        EXPECT_EQ(bundle()->preferredLocalizations(), (std::vector<std::string>{"zh-Hans", "en"}));
    }
    {
        LocaleEnvironment locale("zh_TW.UTF-8");
        EXPECT_EQ(bundle()->localizedStringForKey("hello", "", ""), "Hello");
        EXPECT_EQ(bundle()->preferredLocalizations(), (std::vector<std::string>{"en"}));
    }
}

TEST_F(BundleTest, FreeFunctionsUseTheMainBundle) {
    LocaleEnvironment locale("C", nullptr, "fr_FR.UTF-8");
    EXPECT_EQ(platform::NSLocalizedString("hello", "greeting"), "Hello");
    EXPECT_EQ(platform::NSLocalizedStringFromTable("network.down", "Errors", ""), "The network is down.");
}

TEST(BundleLanguages, LocaleVariablesAreReadInTheirPrecedence) {
    {
        LocaleEnvironment locale("de_AT.UTF-8", "fr_FR.UTF-8", "it_IT.UTF-8");
        EXPECT_EQ(Bundle::preferredLanguages(), (std::vector<std::string>{"de-AT", "de_AT", "de"}));
    }
    {
        LocaleEnvironment locale(nullptr, "fr_FR.UTF-8", "it_IT.UTF-8");
        EXPECT_EQ(Bundle::preferredLanguages().back(), "fr");
    }
    {
        LocaleEnvironment locale("", "", "pt_BR@euro");
        EXPECT_EQ(Bundle::preferredLanguages(), (std::vector<std::string>{"pt-BR", "pt_BR", "pt"}));
    }
    {
        LocaleEnvironment locale("zh_CN.GB18030");
        EXPECT_EQ(Bundle::preferredLanguages(),
                  (std::vector<std::string>{"zh-Hans-CN", "zh-CN", "zh_CN", "zh-Hans", "zh"}));
    }
    for (const char* none : {"C", "POSIX", "C.UTF-8", "12_34", ""}) {
        LocaleEnvironment locale(none);
        EXPECT_TRUE(Bundle::preferredLanguages().empty()) << none;
    }
}

TEST(BundleTables, TablesAreReadOnceAndMayBeUTF16) {
    LocaleEnvironment locale("en_US.UTF-8");
    auto folder = Paths::temporary() / "Tables.bundle";
    // "title" = "Live ▶"; in UTF-16 little-endian with a byte-order mark.
    std::u16string text = u"\uFEFF\"title\" = \"Live \u25B6\";\n";
    std::string bytes;
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    writeFile(folder / "en.lproj/Localizable.strings", bytes);
    auto tables = Bundle::bundleWithPath(folder);
    ASSERT_NE(tables, nullptr);
    EXPECT_EQ(tables->localizedStringForKey("title", "", ""), "Live \u25B6");

    writeFile(folder / "en.lproj/Localizable.strings", "\"title\" = \"Changed\";");
    EXPECT_EQ(tables->localizedStringForKey("title", "", ""), "Live \u25B6");
    EXPECT_EQ(Bundle::bundleWithPath(folder)->localizedStringForKey("title", "", ""), "Changed");
}

TEST(BundleTables, ConcurrentLookupsAgree) {
    LocaleEnvironment locale("fr_FR.UTF-8");
    auto shared = Bundle::bundleWithPath(fixtureBundle());
    ASSERT_NE(shared, nullptr);
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                wrong[t] += shared->localizedStringForKey("hello", "", "") != "Bonjour";
                wrong[t] +=
                    shared->localizedStringForKey("network.down", "", "Errors") != "The network is down.";
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}
