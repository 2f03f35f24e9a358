#include "app/core/AppSetting.h"

#include "app/core/UserDefaultsAccess.h"

namespace {

std::optional<std::string> textOrNothing(const platform::Value& value) {
    if (value.isNil() || value.isNull())
        return std::nullopt;
    return value.stringOr();
}

platform::Value valueOf(const std::optional<std::string>& text) {
    return text ? platform::Value(*text) : platform::Value();
}

} // namespace

AppSetting::AppSetting()
    : m_userDefaults(platform::UserDefaults::standardUserDefaults()) {}

bool AppSetting::havingDataForKey(std::string_view key) const {
    return detail::havingDataForKey(*m_userDefaults, key);
}

void AppSetting::setStringObject(const platform::Value& object, std::string_view key) {
    detail::setStringObject(*m_userDefaults, object, key);
}

platform::Value AppSetting::stringObjectForKey(std::string_view key) const {
    return m_userDefaults->objectForKey(key);
}

void AppSetting::setIntegerValue(int64_t value, std::string_view key) {
    detail::setIntegerValue(*m_userDefaults, value, key);
}

int64_t AppSetting::integerValueForKey(std::string_view key) const {
    return m_userDefaults->integerForKey(key);
}

void AppSetting::setBoolValue(bool value, std::string_view key) {
    detail::setBoolValue(*m_userDefaults, value, key);
}

bool AppSetting::boolValueForKey(std::string_view key) const {
    return m_userDefaults->boolForKey(key);
}

bool AppSetting::isReceiveNewMessage() const {
    return boolValueForKey("isReceiveNewMessage");
}

bool AppSetting::isShowMessageDetail() const {
    return boolValueForKey("isShowMessageDetail");
}

bool AppSetting::isSoundAvaiable() const {
    return boolValueForKey("isSoundAvaiable");
}

bool AppSetting::isVibrateMode() const {
    return boolValueForKey("isVibreateMode");
}

bool AppSetting::isNODisturbAtNight() const {
    return boolValueForKey("isNODisturbAtNight");
}

bool AppSetting::isShowHomelandNews() const {
    return havingDataForKey("isShowHomelandNews") ? boolValueForKey("isShowHomelandNews") : true;
}

bool AppSetting::isCanSearchMeByPhoneNumberOrName() const {
    return boolValueForKey("isCanSearchMeByPhoneNumberOrName");
}

bool AppSetting::isSendMessageByReturnKey() const {
    return boolValueForKey("isSendMessageByEnter");
}

bool AppSetting::passwordSwitch() const {
    return boolValueForKey("SettingPasswordSwitch");
}

void AppSetting::setPasswordSwitch(bool on) {
    setBoolValue(on, "SettingPasswordSwitch");
}

std::optional<std::string> AppSetting::password() const {
    return textOrNothing(stringObjectForKey("SettingPassword"));
}

void AppSetting::setPassword(const std::optional<std::string>& password) {
    setStringObject(valueOf(password), "SettingPassword");
}

bool AppSetting::touchIDSwitch() const {
    return boolValueForKey("SettingPasswordTouchIDOpen");
}

void AppSetting::setTouchIDSwitch(bool on) {
    setBoolValue(on, "SettingPasswordTouchIDOpen");
}

std::optional<std::string> AppSetting::findPasswordQuestion() const {
    return textOrNothing(stringObjectForKey("SettingFindPasswordQuestion"));
}

std::optional<std::string> AppSetting::findPasswordAnswer() const {
    return textOrNothing(stringObjectForKey("SettingFindPasswordAnswer"));
}

void AppSetting::setFindPasswordQuestion(const std::optional<std::string>& question,
                                         const std::optional<std::string>& answer) {
    setStringObject(valueOf(question), "SettingFindPasswordQuestion");
    setStringObject(valueOf(answer), "SettingFindPasswordAnswer");
}

bool AppSetting::findPasswordQuestionEnable() const {
    auto question = findPasswordQuestion();
    if (question && !question->empty())
        return true;
    auto answer = findPasswordAnswer();
    return answer && !answer->empty();
}
