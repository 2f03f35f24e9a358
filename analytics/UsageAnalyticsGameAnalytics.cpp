#include "analytics/UsageAnalyticsGameAnalytics.h"

#include "analytics/UANLog.h"
#include "analytics/UsageAnalyticsApp.h"
#include "analytics/UsageAnalyticsEvent.h"
#include "analytics/UsageAnalyticsSession.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Text.h"
#include "platform/ui/UIApplication.h"

namespace {

using platform::Value;
using platform::ValueDictionary;

double now() {
    return platform::Clock::timeIntervalSince1970();
}

bool inGameScenario() {
    if (UsageAnalyticsApp::sharedInstance()->scenarioType() == 1)
        return true;
    uadetail::systemLog("UALOG: (ERROR) UsageAnalyticsGameAnalytics class is game API, can't be use in "
                        "no-game scenario.");
    return false;
}

int64_t hundredths(double amount) {
    return static_cast<int64_t>(amount * 100);
}

bool validItem(const std::string& item, int32_t amount, double price) {
    return !platform::text::trimmingWhitespaceAndNewlines(item).empty() && price >= 0 && amount >= 1;
}

} // namespace

UAGameLevel::UAGameLevel()
    : ts(now()) {}

UAGameLevel::UAGameLevel(std::string name)
    : ts(now())
    , name(std::move(name)) {}

std::shared_ptr<UAGameLevel> UAGameLevel::levelWithName(std::string name) {
    return std::make_shared<UAGameLevel>(std::move(name));
}

std::shared_ptr<UsageAnalyticsGameAnalytics> UsageAnalyticsGameAnalytics::sharedInstance() {
    static const auto game = [] {
        auto made = std::make_shared<UsageAnalyticsGameAnalytics>(PrivateTag{});
        made->observeApplication();
        return made;
    }();
    return game;
}

UsageAnalyticsGameAnalytics::UsageAnalyticsGameAnalytics(PrivateTag) {}

UsageAnalyticsGameAnalytics::~UsageAnalyticsGameAnalytics() {
    platform::NotificationCenter::defaultCenter().removeObserver(this);
}

void UsageAnalyticsGameAnalytics::observeApplication() {
    auto self = std::static_pointer_cast<UsageAnalyticsGameAnalytics>(shared_from_this());
    std::weak_ptr<UsageAnalyticsGameAnalytics> weak = self;
    auto& center = platform::NotificationCenter::defaultCenter();
    center.addObserver(self, platform::UIApplicationDidBecomeActiveNotification, nullptr,
                       [weak](const platform::Notification&) {
                           if (auto game = weak.lock())
                               game->updateLevelTimestamp(game->runningLevel().value_or(""));
                       });
    for (const char* name : {platform::UIApplicationWillResignActiveNotification,
                             platform::UIApplicationWillTerminateNotification}) {
        center.addObserver(self, name, nullptr, [weak](const platform::Notification&) {
            if (auto game = weak.lock())
                game->updateLevelDuration(game->runningLevel().value_or(""));
        });
    }
}

bool UsageAnalyticsGameAnalytics::validLevel(const std::optional<std::string>& level) {
    return level && !platform::text::trimmingWhitespaceAndNewlines(*level).empty();
}

void UsageAnalyticsGameAnalytics::startLevel(const std::string& level) {
    if (!inGameScenario() || !validLevel(level))
        return;
    auto game = sharedInstance();
    std::lock_guard lock(game->m_mutex);
    game->startLevelLocked(level);
}

void UsageAnalyticsGameAnalytics::startLevelLocked(const std::string& level) {
    if (!(m_runningLevel == level && m_lastLevel))
        m_lastLevel = m_runningLevel;
    m_runningLevel = level;
    if (m_lastLevel && *m_lastLevel != level)
        updateDurationLocked(*m_lastLevel);
    if (auto found = m_levels.find(level); found != m_levels.end())
        found->second->du = 0;
    else
        m_levels[level] = UAGameLevel::levelWithName(level);
    m_levels[level]->ts = now();
    record("level", ValueDictionary{{"level", level}, {"status", "0"}}, false);
}

void UsageAnalyticsGameAnalytics::finishLevel(const std::optional<std::string>& level) {
    if (inGameScenario())
        sharedInstance()->levelFinish(level, true);
}

void UsageAnalyticsGameAnalytics::failLevel(const std::optional<std::string>& level) {
    if (inGameScenario())
        sharedInstance()->levelFinish(level, false);
}

void UsageAnalyticsGameAnalytics::levelFinish(const std::optional<std::string>& level, bool completed) {
    std::lock_guard lock(m_mutex);
    auto name = level ? level : m_runningLevel;
    if (!validLevel(name))
        return;
    int64_t duration = calculateLevelDuration(*name);
    record("level",
           ValueDictionary{{"level", *name}, {"status", completed ? "1" : "-1"}, {"duration", duration}},
           false);
    m_levels.erase(*name);
}

void UsageAnalyticsGameAnalytics::pauseLevel(const std::string& level) {
    auto game = sharedInstance();
    std::lock_guard lock(game->m_mutex);
    game->pauseLocked(level);
}

void UsageAnalyticsGameAnalytics::pauseLocked(const std::string& level) {
    updateDurationLocked(level);
    if (auto found = m_levels.find(level); found != m_levels.end())
        found->second->running = false;
}

void UsageAnalyticsGameAnalytics::resumeLevel(const std::string& level) {
    auto game = sharedInstance();
    std::lock_guard lock(game->m_mutex);
    game->resumeLocked(level);
}

void UsageAnalyticsGameAnalytics::resumeLocked(const std::string& level) {
    if (!validLevel(level))
        return;
    updateTimestampLocked(level);
    if (auto found = m_levels.find(level); found != m_levels.end())
        found->second->running = true;
    if (m_runningLevel && *m_runningLevel != level) {
        m_lastLevel = m_runningLevel;
        pauseLocked(*m_lastLevel);
    }
    m_runningLevel = level;
    if (m_lastLevel && *m_lastLevel != level)
        pauseLocked(*m_lastLevel);
}

void UsageAnalyticsGameAnalytics::updateLevelDuration(const std::string& level) {
    std::lock_guard lock(m_mutex);
    updateDurationLocked(level);
}

void UsageAnalyticsGameAnalytics::updateDurationLocked(const std::string& level) {
    auto found = m_levels.find(level);
    if (!validLevel(level) || found == m_levels.end() || !found->second->running)
        return;
    double played = now() - found->second->ts;
    if (played > 0.001)
        found->second->du += played;
}

void UsageAnalyticsGameAnalytics::updateLevelTimestamp(const std::string& level) {
    std::lock_guard lock(m_mutex);
    updateTimestampLocked(level);
}

void UsageAnalyticsGameAnalytics::updateTimestampLocked(const std::string& level) {
    auto found = m_levels.find(level);
    if (validLevel(level) && found != m_levels.end())
        found->second->ts = now();
}

int64_t UsageAnalyticsGameAnalytics::calculateLevelDuration(const std::string& level) {
    std::lock_guard lock(m_mutex);
    auto found = m_levels.find(level);
    if (found == m_levels.end())
        return 0;
    auto& entry = *found->second;
    if (m_runningLevel == level && entry.running) {
        double played = now() - entry.ts;
        if (played > 0.001)
            entry.du += played;
    }
    return static_cast<int64_t>(entry.du * 1000);
}

void UsageAnalyticsGameAnalytics::setUserLevelId(int32_t level) {
    if (!inGameScenario())
        return;
    auto game = sharedInstance();
    std::lock_guard lock(game->m_mutex);
    game->m_userLevel = std::to_string(level);
}

void UsageAnalyticsGameAnalytics::setUserLevel(const std::string&) {
    uadetail::systemLog("UALOG: WARNING setUserLevel is deprecated, please use setUserLevelId: API");
}

void UsageAnalyticsGameAnalytics::setUserID(const std::string&, int32_t, int32_t, const std::string&) {
    uadetail::systemLog("UALOG: WARNING setUserID: is deprecated, please use active user relevant APIs");
}

std::string UsageAnalyticsGameAnalytics::userLevel() {
    auto game = sharedInstance();
    std::lock_guard lock(game->m_mutex);
    return game->m_userLevel;
}

platform::ValueDictionary UsageAnalyticsGameAnalytics::userInfo() {
    auto game = sharedInstance();
    std::lock_guard lock(game->m_mutex);
    return game->m_userInfo;
}

void UsageAnalyticsGameAnalytics::setUserInfo(platform::ValueDictionary userInfo) {
    std::lock_guard lock(m_mutex);
    m_userInfo = std::move(userInfo);
}

std::optional<std::string> UsageAnalyticsGameAnalytics::runningLevel() const {
    std::lock_guard lock(m_mutex);
    return m_runningLevel;
}

std::optional<std::string> UsageAnalyticsGameAnalytics::lastLevel() const {
    std::lock_guard lock(m_mutex);
    return m_lastLevel;
}

std::shared_ptr<UAGameLevel> UsageAnalyticsGameAnalytics::levelNamed(const std::string& level) const {
    std::lock_guard lock(m_mutex);
    auto found = m_levels.find(level);
    return found == m_levels.end() ? nullptr : found->second;
}

ValueDictionary UsageAnalyticsGameAnalytics::withLevels(ValueDictionary attributes,
                                                        bool withRunningLevel) const {
    if (withRunningLevel && m_runningLevel)
        attributes.set("level", *m_runningLevel);
    if (!m_userLevel.empty())
        attributes.set("user_level", m_userLevel);
    return attributes;
}

void UsageAnalyticsGameAnalytics::record(const std::string& eventId, ValueDictionary attributes,
                                         bool withRunningLevel) {
    std::lock_guard lock(m_mutex);
    UsageAnalyticsEvent::gameEvent(eventId, withLevels(std::move(attributes), withRunningLevel));
}

void UsageAnalyticsGameAnalytics::exchange(const std::string& orderId, double currencyAmount,
                                           const std::string& currencyType, double virtualCurrencyAmount,
                                           int32_t paychannel) {
    if (!inGameScenario() || !(currencyAmount > 0) || !(virtualCurrencyAmount > 0))
        return;
    ValueDictionary attributes{
        {"cash", currencyAmount * 100}, {"source", paychannel}, {"coin", virtualCurrencyAmount * 100}};
    if (!orderId.empty() && platform::text::utf16Length(orderId) <= 1024)
        attributes.set("orderid", orderId);
    else if (!orderId.empty())
        UANLog("ERROR, orderId's max length is 1024 byte.");
    if (!currencyType.empty() && platform::text::utf16Length(currencyType) <= 3)
        attributes.set("curtype", currencyType);
    else if (!currencyType.empty())
        UANLog("ERROR, currencyType's max length is 3 byte.");
    sharedInstance()->record("pay", std::move(attributes), true);
}

bool UsageAnalyticsGameAnalytics::validPay(double cash, int32_t, double coin) {
    return hundredths(cash) >= 1 && hundredths(coin) >= 0;
}

void UsageAnalyticsGameAnalytics::payDirect(double cash, int32_t source, double coin) {
    record("pay", ValueDictionary{{"cash", hundredths(cash)}, {"source", source}, {"coin", hundredths(coin)}},
           true);
}

void UsageAnalyticsGameAnalytics::pay(double cash, int32_t source, double coin) {
    if (inGameScenario() && validPay(cash, source, coin))
        sharedInstance()->payDirect(cash, source, coin);
}

void UsageAnalyticsGameAnalytics::pay(double cash, int32_t source, const std::string& item, int32_t amount,
                                      double price) {
    if (!inGameScenario() || !validPay(cash, source, amount * price))
        return;
    auto game = sharedInstance();
    game->payDirect(cash, source, amount * price);
    game->itemEvent("buy", item, amount, price);
}

void UsageAnalyticsGameAnalytics::bonus(double coin, int32_t source) {
    if (!inGameScenario() || hundredths(coin) < 0)
        return;
    sharedInstance()->record("bonus", ValueDictionary{{"coin", hundredths(coin)}, {"bonus_source", source}},
                             true);
}

void UsageAnalyticsGameAnalytics::bonus(const std::string& item, int32_t amount, double price,
                                        int32_t source) {
    if (!inGameScenario() || !validItem(item, amount, price))
        return;
    auto game = sharedInstance();
    game->record("bonus", ValueDictionary{{"coin", hundredths(amount * price)}, {"bonus_source", source}},
                 true);
    game->itemEvent("buy", item, amount, price);
}

void UsageAnalyticsGameAnalytics::itemEvent(const char* eventId, const std::string& item, int32_t amount,
                                            double price) {
    if (!validItem(item, amount, price))
        return;
    record(eventId, ValueDictionary{{"coin", amount * price * 100}, {"item", item}, {"amount", amount}},
           true);
}

void UsageAnalyticsGameAnalytics::buy(const std::string& item, int32_t amount, double price) {
    if (inGameScenario())
        sharedInstance()->itemEvent("buy", item, amount, price);
}

void UsageAnalyticsGameAnalytics::use(const std::string& item, int32_t amount, double price) {
    if (inGameScenario())
        sharedInstance()->itemEvent("use", item, amount, price);
}

void UsageAnalyticsGameAnalytics::profileSignInWithPUID(const std::string& puid) {
    if (inGameScenario())
        UsageAnalyticsSession::profileSignInPUID(puid);
}

void UsageAnalyticsGameAnalytics::profileSignInWithPUID(const std::string& puid,
                                                        const std::string& provider) {
    if (inGameScenario())
        UsageAnalyticsSession::profileSignInPUID(puid, provider);
}

void UsageAnalyticsGameAnalytics::profileSignOff() {
    if (inGameScenario())
        UsageAnalyticsSession::profileSignOff();
}
