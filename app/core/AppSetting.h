#pragma once
// AppSetting: the user's preferences over the user defaults (message and sound switches, an
// application password with a Touch ID switch, a password-recovery question). Every write is
// synchronised at once. A fresh install answers NO to every switch except isShowHomelandNews.
// Safe from any thread (the defaults are).

#include "platform/foundation/Object.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class AppSetting : public platform::Object {
public:
    AppSetting(); // on the standard user defaults

    const std::shared_ptr<platform::UserDefaults>& userDefaults() const { return m_userDefaults; }
    void setUserDefaults(std::shared_ptr<platform::UserDefaults> defaults) {
        m_userDefaults = std::move(defaults);
    }

    bool havingDataForKey(std::string_view key) const;
    void setStringObject(const platform::Value& object, std::string_view key);
    platform::Value stringObjectForKey(std::string_view key) const;
    void setIntegerValue(int64_t value, std::string_view key);
    int64_t integerValueForKey(std::string_view key) const;
    void setBoolValue(bool value, std::string_view key);
    bool boolValueForKey(std::string_view key) const;

    bool isReceiveNewMessage() const;
    bool isShowMessageDetail() const;
    bool isSoundAvaiable() const;
    bool isVibrateMode() const; // stored under "isVibreateMode"
    bool isNODisturbAtNight() const;
    bool isShowHomelandNews() const; // YES until a value is stored
    bool isCanSearchMeByPhoneNumberOrName() const;
    bool isSendMessageByReturnKey() const; // stored under "isSendMessageByEnter"

    bool passwordSwitch() const;
    void setPasswordSwitch(bool on);
    std::optional<std::string> password() const;
    void setPassword(const std::optional<std::string>& password);
    bool touchIDSwitch() const;
    void setTouchIDSwitch(bool on);

    std::optional<std::string> findPasswordQuestion() const;
    std::optional<std::string> findPasswordAnswer() const;
    void setFindPasswordQuestion(const std::optional<std::string>& question,
                                 const std::optional<std::string>& answer);
    // YES when a question or an answer is stored and not empty.
    bool findPasswordQuestionEnable() const;

private:
    std::shared_ptr<platform::UserDefaults> m_userDefaults;
};
