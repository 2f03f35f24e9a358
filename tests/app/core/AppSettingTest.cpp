// The user's preferences over the user defaults, and the configuration's hosts.

#include "app/core/AppSetting.h"

#include "app/core/AppConfiguration.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

class AppSettingTest : public testing::Test {
protected:
    void TearDown() override { platform::UserDefaults::resetStandardForTesting(); }
    AppSetting setting;
};

TEST_F(AppSettingTest, FreshInstallShowsHomelandNewsAndSwitchesReadTheirOwnKeys) {
    EXPECT_TRUE(setting.isShowHomelandNews());
    for (auto isOn :
         {&AppSetting::isReceiveNewMessage, &AppSetting::isShowMessageDetail, &AppSetting::isSoundAvaiable,
          &AppSetting::isVibrateMode, &AppSetting::isNODisturbAtNight,
          &AppSetting::isCanSearchMeByPhoneNumberOrName, &AppSetting::isSendMessageByReturnKey,
          &AppSetting::passwordSwitch, &AppSetting::touchIDSwitch, &AppSetting::findPasswordQuestionEnable})
        EXPECT_FALSE((setting.*isOn)());
    EXPECT_FALSE(setting.password());
    setting.setBoolValue(true, "isVibreateMode");
    setting.setBoolValue(true, "isSendMessageByEnter");
    setting.setBoolValue(false, "isShowHomelandNews");
    EXPECT_TRUE(setting.isVibrateMode());
    EXPECT_TRUE(setting.isSendMessageByReturnKey());
    EXPECT_FALSE(setting.isShowHomelandNews());
}

TEST_F(AppSettingTest, PasswordSettingsPersistAtOnce) {
    setting.setPasswordSwitch(true);
    setting.setPassword("1234");
    setting.setTouchIDSwitch(true);
    auto file = platform::UserDefaults::create(setting.userDefaults()->file());
    EXPECT_TRUE(file->boolForKey("SettingPasswordSwitch"));
    EXPECT_EQ(file->stringForKey("SettingPassword"), "1234");
    EXPECT_TRUE(file->boolForKey("SettingPasswordTouchIDOpen"));
    setting.setPassword(std::nullopt);
    EXPECT_FALSE(setting.password());
}

TEST_F(AppSettingTest, RecoveryQuestionIsEnabledByAQuestionOrAnAnswer) {
    setting.setFindPasswordQuestion(std::string(), std::string("blue"));
    EXPECT_TRUE(setting.findPasswordQuestionEnable());
    EXPECT_EQ(setting.findPasswordAnswer(), "blue");
    setting.setFindPasswordQuestion(std::string("colour?"), std::nullopt);
    EXPECT_TRUE(setting.findPasswordQuestionEnable());
    EXPECT_EQ(setting.findPasswordQuestion(), "colour?");
    setting.setFindPasswordQuestion(std::string(), std::string());
    EXPECT_FALSE(setting.findPasswordQuestionEnable());
}

// The hosts of the configuration: the resource file, and environment variables over it.
class ConfigurationTest : public testing::Test {
protected:
    void TearDown() override {
        for (const char* variable :
             {AppConfiguration::kServiceURLVariable, AppConfiguration::kRTMPHostVariable,
              AppConfiguration::kProbeHost1Variable, AppConfiguration::kProbeHost2Variable})
            unsetenv(variable);
        platform::Paths::setResources({});
    }

    // Resources of this test's own, holding only a configuration file with these values.
    static void useConfiguration(platform::ValueDictionary values) {
        auto folder = platform::Paths::home() / "resources";
        std::filesystem::create_directories(folder);
        ASSERT_TRUE(platform::PropertyList::writeFile(platform::Value(std::move(values)),
                                                      folder / "AppConfiguration.plist"));
        platform::Paths::setResources(folder);
    }
};

TEST_F(ConfigurationTest, ShippedFileThenNonEmptyEnvironmentVariablesWin) {
    EXPECT_EQ(AppConfiguration::serviceURL(), "http://127.0.0.1:8080");
    EXPECT_EQ(AppConfiguration::rtmpHost(), "127.0.0.1:1935");
    // No probe hosts are shipped: loopback ones would always answer reachable.
    EXPECT_EQ(AppConfiguration::probeHost1(), "");
    EXPECT_EQ(AppConfiguration::probeHost2(), "");
    setenv(AppConfiguration::kRTMPHostVariable, "", 1);
    EXPECT_EQ(AppConfiguration::rtmpHost(), "127.0.0.1:1935");
    // The service URL gets a scheme and loses trailing slashes.
    setenv(AppConfiguration::kServiceURLVariable, "127.0.0.1:8081//", 1);
    setenv(AppConfiguration::kRTMPHostVariable, "127.0.0.1:2935", 1);
    setenv(AppConfiguration::kProbeHost1Variable, "probe-one.test", 1);
    setenv(AppConfiguration::kProbeHost2Variable, "probe-two.test", 1);
    EXPECT_EQ(AppConfiguration::serviceURL(), "http://127.0.0.1:8081");
    EXPECT_EQ(AppConfiguration::rtmpHost(), "127.0.0.1:2935");
    EXPECT_EQ(AppConfiguration::probeHost1(), "probe-one.test");
    EXPECT_EQ(AppConfiguration::probeHost2(), "probe-two.test");
}

TEST_F(ConfigurationTest, ValuesComeFromTheResourcesFileOrAreEmptyWithoutIt) {
    useConfiguration({{"ServiceURL", platform::Value("http://127.0.0.1:7000/")},
                      {"RTMPHost", platform::Value("127.0.0.1")}});
    EXPECT_EQ(AppConfiguration::serviceURL(), "http://127.0.0.1:7000");
    EXPECT_EQ(AppConfiguration::rtmpHost(), "127.0.0.1");
    EXPECT_EQ(AppConfiguration::probeHost1(), "");
    std::filesystem::remove(platform::Paths::resources() / "AppConfiguration.plist");
    EXPECT_EQ(AppConfiguration::serviceURL(), "");
    EXPECT_EQ(AppConfiguration::rtmpHost(), "");
}

} // namespace
