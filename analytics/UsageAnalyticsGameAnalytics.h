#pragma once
// The statistics interface for games: level progress with measured play time, in-game purchases and
// virtual currency, and the player's level. Every record is a game attribute event ("gkv"). The calls
// that record anything work only in the game scenario (scenario type 1); elsewhere they print
// "UALOG: (ERROR) UsageAnalyticsGameAnalytics class is game API, can't be use in no-game scenario."
// and do nothing. A level's clock stops while the application is not active: resigning adds the time
// played so far, becoming active starts the clock again.
//
// Any thread; the level table is guarded. The lifecycle handlers run on the posting (main) thread.

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class UAGameLevel final : public platform::Object {
public:
    UAGameLevel(); // now, running, nothing played yet
    explicit UAGameLevel(std::string name);
    static std::shared_ptr<UAGameLevel> levelWithName(std::string name);

    double ts{0}; // start of the current running stretch, seconds since 1970
    std::string name;
    bool running{true};
    double du{0}; // seconds played before that stretch
};

class UsageAnalyticsGameAnalytics final : public platform::Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    static std::shared_ptr<UsageAnalyticsGameAnalytics> sharedInstance();
    explicit UsageAnalyticsGameAnalytics(PrivateTag);
    ~UsageAnalyticsGameAnalytics() override;

    static void startLevel(const std::string& level);
    // A missing name means the running level.
    static void finishLevel(const std::optional<std::string>& level);
    static void failLevel(const std::optional<std::string>& level);
    static void pauseLevel(const std::string& level);
    static void resumeLevel(const std::string& level);
    // Present and not only white space.
    static bool validLevel(const std::optional<std::string>& level);
    static void setUserLevelId(int32_t level);
    static void setUserLevel(const std::string& level);
    static void setUserID(const std::string& userId, int32_t sex, int32_t age, const std::string& platform);
    static std::string userLevel();
    static platform::ValueDictionary userInfo();

    static void exchange(const std::string& orderId, double currencyAmount, const std::string& currencyType,
                         double virtualCurrencyAmount, int32_t paychannel);
    static void pay(double cash, int32_t source, double coin);
    static void pay(double cash, int32_t source, const std::string& item, int32_t amount, double price);
    static void bonus(double coin, int32_t source);
    static void bonus(const std::string& item, int32_t amount, double price, int32_t source);
    static void buy(const std::string& item, int32_t amount, double price);
    static void use(const std::string& item, int32_t amount, double price);
    static void profileSignInWithPUID(const std::string& puid);
    static void profileSignInWithPUID(const std::string& puid, const std::string& provider);
    static void profileSignOff();

    // The level clock, by level name.
    void updateLevelDuration(const std::string& level);
    void updateLevelTimestamp(const std::string& level);
    // Milliseconds played.
    int64_t calculateLevelDuration(const std::string& level);
    void levelFinish(const std::optional<std::string>& level, bool completed);
    static bool validPay(double cash, int32_t source, double coin);

    std::optional<std::string> runningLevel() const;
    std::optional<std::string> lastLevel() const;
    std::shared_ptr<UAGameLevel> levelNamed(const std::string& level) const;
    void setUserInfo(platform::ValueDictionary userInfo);

private:
    void observeApplication();
    void startLevelLocked(const std::string& level);
    void pauseLocked(const std::string& level);
    void resumeLocked(const std::string& level);
    void updateDurationLocked(const std::string& level);
    void updateTimestampLocked(const std::string& level);
    // The event's attributes with "level" (the running level, when asked) and "user_level".
    platform::ValueDictionary withLevels(platform::ValueDictionary attributes, bool withRunningLevel) const;
    void record(const std::string& eventId, platform::ValueDictionary attributes, bool withRunningLevel);
    void payDirect(double cash, int32_t source, double coin);
    void itemEvent(const char* eventId, const std::string& item, int32_t amount, double price);

    mutable std::recursive_mutex m_mutex;
    std::optional<std::string> m_runningLevel;
    std::optional<std::string> m_lastLevel;
    std::map<std::string, std::shared_ptr<UAGameLevel>> m_levels;
    std::string m_userLevel;
    platform::ValueDictionary m_userInfo;
};
