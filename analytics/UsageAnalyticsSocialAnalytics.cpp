#include "analytics/UsageAnalyticsSocialAnalytics.h"

#include "analytics/UAEndpoints.h"
#include "analytics/UANLog.h"
#include "analytics/UANUtil.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Immortal.h"

namespace {

constexpr const char* kNoPlatform = "UsageAnalyticsSocialAnalytics: 请提供分享平台名称";

std::string encoded(const std::string& value) {
    return UANUtil::urlEncode(value);
}

} // namespace

UsageAnalyticsSocialWeibo::UsageAnalyticsSocialWeibo(std::optional<std::string> platformType,
                                                     std::optional<std::string> weiboId,
                                                     std::optional<std::string> usid,
                                                     std::optional<platform::ValueDictionary> param)
    : platformType(std::move(platformType))
    , weiboId(std::move(weiboId))
    , userId(std::move(usid))
    , param(std::move(param)) {
    if (!this->platformType || this->platformType->empty())
        UANLog("{}", kNoPlatform);
}

std::string UsageAnalyticsSocialWeibo::description() const {
    platform::ValueDictionary present;
    if (platformType)
        present.set("platformType", *platformType);
    if (weiboId)
        present.set("weiboId", *weiboId);
    if (userId)
        present.set("usid", *userId);
    if (param)
        present.set("param", *param);
    return platform::Value(std::move(present)).description();
}

std::shared_ptr<UsageAnalyticsSocialAnalytics> UsageAnalyticsSocialAnalytics::sharedInstance() {
    // Never destroyed: the upload queue may still be at work while the process exits.
    static platform::detail::Immortal<std::shared_ptr<UsageAnalyticsSocialAnalytics>> social(
        std::make_shared<UsageAnalyticsSocialAnalytics>(PrivateTag{}));
    return social.get();
}

UsageAnalyticsSocialAnalytics::UsageAnalyticsSocialAnalytics(PrivateTag)
    : m_operationQueue(platform::OperationQueue::create()) {
    m_operationQueue->setMaxConcurrentOperationCount(2);
}

void UsageAnalyticsSocialAnalytics::postWeiboCounts(
    const std::vector<std::shared_ptr<UsageAnalyticsSocialWeibo>>& weibos, const std::string& appKey,
    const std::optional<std::string>& topic, Completion completion) {
    if (weibos.empty()) {
        UANLog("{}", kNoPlatform);
        return;
    }
    if (appKey.empty()) {
        UANLog("UsageAnalyticsSocialAnalytics: appKey 不能为空");
        return;
    }
    std::vector<std::string> platforms, users, posts;
    platform::ValueDictionary params;
    for (const auto& weibo : weibos) {
        if (!weibo) {
            UANLog("UsageAnalyticsSocialAnalytics: the element in weibos must be UsageAnalyticsSocialWeibo "
                   "object!");
            break;
        }
        auto name = weibo->platformType.value_or("");
        platforms.push_back(name);
        users.push_back(weibo->userId.value_or(""));
        posts.push_back(weibo->weiboId.value_or(""));
        if (weibo->param)
            params.set(name, *weibo->param);
    }
    std::optional<platform::Data> body;
    if (!params.empty()) {
        platform::Value all(params);
        UANLog("(Social  Analytics param) {}", all.description());
        body = platform::Data(std::string_view("data=" + UANUtil::JSONFragment(all).value_or("")));
    }
    sharedInstance()->postPlatform(platforms, appKey, users, posts, topic, body, std::move(completion));
}

void UsageAnalyticsSocialAnalytics::postPlatform(const std::vector<std::string>& platforms,
                                                 const std::string& appKey,
                                                 const std::vector<std::string>& users,
                                                 const std::vector<std::string>& weiboIds,
                                                 const std::optional<std::string>& topic,
                                                 const std::optional<platform::Data>& paramData,
                                                 Completion completion) {
    auto deviceId = UANUtil::openDeviceIDString();
    auto mac = UANUtil::deviceMacAddressString();
    auto platformText = convertArrayToString(platforms).value_or("");
    auto userText = convertArrayToString(users).value_or("");
    auto postText = convertArrayToString(weiboIds).value_or("");
    auto date = static_cast<int64_t>(platform::Clock::timeIntervalSince1970());
    std::string url = UAEndpoints::socialURL() + fmt::format("/share/api/{}/?", encoded(appKey));
    url += "deviceid=" + encoded(deviceId + "," + mac);
    url += "&idtype=" + encoded("opendeviceid,mac");
    url += "&platform=" + encoded(platformText);
    url += "&channel=3";
    url += "&version=" + encoded(UANUtil::sdkVersionString());
    url += "&usid=" + encoded(userText);
    bool onlyEmptyPost = weiboIds.size() == 1 && weiboIds.front().empty();
    if (!onlyEmptyPost)
        url += "&weiboid=" + encoded(postText);
    if (topic)
        url += "&topic=" + encoded(*topic);
    url += fmt::format("&date={}", date);
    platform::ValueDictionary logged{{"appKey", appKey}, {"deviceid", deviceId},
                                     {"mc", mac},        {"platform", platformText},
                                     {"channel", "3"},   {"version", UANUtil::sdkVersionString()},
                                     {"usid", userText}, {"weiboid", postText}};
    if (topic)
        logged.set("topic", *topic);
    logged.set("date", date);
    UANLog("(Social  Analytics) {}", platform::Value(std::move(logged)).description());

    auto operation = std::make_shared<UsageAnalyticsSocialOperation>(
        std::move(url), paramData,
        std::static_pointer_cast<UsageAnalyticsSocialAnalytics>(shared_from_this()));
    {
        std::lock_guard lock(m_mutex);
        m_completions[operation.get()] = std::move(completion);
    }
    m_operationQueue->addOperation(operation);
}

std::optional<std::string>
UsageAnalyticsSocialAnalytics::convertArrayToString(const std::vector<std::string>& texts) {
    if (texts.empty()) {
        UANLog("UsageAnalyticsSocialAnalytics: you must pass a NSArray!");
        return std::nullopt;
    }
    std::string joined = texts.front();
    for (size_t i = 1; i < texts.size(); ++i)
        joined += "," + texts[i];
    return joined;
}

void UsageAnalyticsSocialAnalytics::UsageAnalyticsOperate_Finish(UsageAnalyticsSocialOperation& operation,
                                                                 const std::optional<platform::Data>& data,
                                                                 const platform::ErrorPtr& error) {
    Completion completion;
    {
        std::lock_guard lock(m_mutex);
        auto found = m_completions.find(&operation);
        if (found == m_completions.end())
            return;
        completion = std::move(found->second);
        m_completions.erase(found);
    }
    auto answer = data ? UANUtil::JSONValue(data->toString()) : platform::Value();
    if (!completion)
        return;
    platform::DispatchQueue::main()->async([completion, answer, error] { completion(answer, error); });
}
