// The user's preferences over the user defaults.

#include "app/core/AppSetting.h"

#include "app/core/CommonData.h"
#include "platform/foundation/UserDefaults.h"

#include <gtest/gtest.h>

namespace {

class AppSettingTest : public testing::Test {
protected:
    void TearDown() override {
        CommonData::resetSharedInstanceForTesting();
        platform::UserDefaults::resetStandardForTesting();
    }
    AppSetting setting;
};

TEST_F(AppSettingTest, FreshInstallShowsHomelandNewsAndNothingElse) {
    EXPECT_TRUE(setting.isShowHomelandNews());
    EXPECT_FALSE(setting.isReceiveNewMessage());
    EXPECT_FALSE(setting.isShowMessageDetail());
    EXPECT_FALSE(setting.isSoundAvaiable());
    EXPECT_FALSE(setting.isVibrateMode());
    EXPECT_FALSE(setting.isNODisturbAtNight());
    EXPECT_FALSE(setting.isCanSearchMeByPhoneNumberOrName());
    EXPECT_FALSE(setting.isSendMessageByReturnKey());
    EXPECT_FALSE(setting.passwordSwitch());
    EXPECT_FALSE(setting.touchIDSwitch());
    EXPECT_FALSE(setting.password());
    EXPECT_FALSE(setting.findPasswordQuestionEnable());
}

TEST_F(AppSettingTest, SwitchesReadTheirOwnKeys) {
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

TEST_F(AppSettingTest, StateMakesOneSettingOnFirstUse) {
    auto first = CommonData::appSetting();
    ASSERT_TRUE(first);
    EXPECT_EQ(CommonData::appSetting().get(), first.get());
    auto replacement = std::make_shared<AppSetting>();
    CommonData::sharedInstance()->setAppSetting(replacement);
    EXPECT_EQ(CommonData::appSetting().get(), replacement.get());
}

} // namespace
