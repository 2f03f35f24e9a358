#include "platform/foundation/Locale.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/SystemControl.h"
#include "platform/foundation/UUID.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <set>
#include <sys/utsname.h>

using platform::Locale;
using platform::UUID;

TEST(UUID, FreshOnesAreVersion4AndReadBackFromTheirText) {
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        auto uuid = UUID::create();
        auto text = uuid.UUIDString();
        ASSERT_EQ(text.size(), 36u);
        EXPECT_EQ(text[14], '4') << text;
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos) << text;
        EXPECT_EQ(UUID::fromString(text), uuid);
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(UUID, TextFormIsUppercaseEightFourFourFourTwelve) {
    UUID::Bytes bytes{};
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 17);
    EXPECT_EQ(UUID(bytes).UUIDString(), "00112233-4455-6677-8899-AABBCCDDEEFF");
    EXPECT_EQ(UUID::fromString("00112233-4455-6677-8899-aabbccddeeff"), UUID(bytes));
    for (const char* bad : {"", "00112233445566778899AABBCCDDEEFF", "00112233-4455-6677-8899-AABBCCDDEEF",
                            "0011223-34455-6677-8899-AABBCCDDEEFF", "00112233-4455-6677-8899-AABBCCDDEEFG"})
        EXPECT_FALSE(UUID::fromString(bad)) << bad;
}

TEST(Locale, ReadsLanguageScriptAndRegionFromTheIdentifier) {
    struct Case {
        const char* identifier;
        const char* language;
        const char* script;
        const char* region;
    };
    for (const Case& c : {Case{"zh_CN.UTF-8", "zh", "", "CN"}, Case{"pt-br", "pt", "", "BR"},
                          Case{"zh_Hant_TW@calendar", "zh", "Hant", "TW"}, Case{"de", "de", "", ""},
                          Case{"C.UTF-8", "", "", ""}, Case{"POSIX", "", "", ""}, Case{"", "", "", ""},
                          Case{"9x_US", "", "", ""}}) {
        auto locale = Locale::localeWithIdentifier(c.identifier);
        EXPECT_EQ(locale.languageCode().value_or(""), c.language) << c.identifier;
        EXPECT_EQ(locale.scriptCode().value_or(""), c.script) << c.identifier;
        EXPECT_EQ(locale.countryCode().value_or(""), c.region) << c.identifier;
    }
}

TEST(Locale, CurrentFollowsLcAllThenLang) {
    setenv("LANG", "en_US.UTF-8", 1);
    unsetenv("LC_MESSAGES");
    setenv("LC_ALL", "fr_CA.UTF-8", 1);
    EXPECT_EQ(Locale::currentLocale().countryCode(), "CA");
    unsetenv("LC_ALL");
    EXPECT_EQ(Locale::currentLocale().countryCode(), "US");
    unsetenv("LANG");
    EXPECT_FALSE(Locale::currentLocale().countryCode());
}

TEST(SystemControl, AnswersTheMachineAndNothingForUnknownNames) {
    utsname system{};
    ASSERT_EQ(uname(&system), 0);
    EXPECT_EQ(platform::sysctlString("hw.machine"), std::string(system.machine));
    EXPECT_EQ(platform::sysctlString("kern.ostype"), std::string(system.sysname));
    EXPECT_FALSE(platform::sysctlString("hw.ncpu"));
}

TEST(Paths, SharedFolderFollowsTheEnvironmentAndLiesOutsideTheHome) {
    auto shared = platform::Paths::shared();
    EXPECT_EQ(shared, std::filesystem::path(std::getenv("LIVEAPP_SHARED_DIR")));
    EXPECT_TRUE(std::filesystem::is_directory(shared));
    EXPECT_EQ(shared.string().rfind(platform::Paths::home().string(), 0), std::string::npos);
}
