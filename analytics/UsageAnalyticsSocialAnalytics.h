#pragma once
// The social-share statistics: a report that content was shared to social platforms (the platforms,
// the user ids there, the ids of the posts, a topic and per-platform parameters) goes as one HTTP
// request to the social statistics host ("/share/api/<key>/?..."), run by an operation on a private
// queue of two, and the host's JSON answer reaches the report's own completion on the main thread.
// Every query value is percent-encoded; per-platform parameters make a POST body "data=<JSON>".
//
// Any thread. Refused reports (no targets, no key) send nothing and call nothing, with a conditional
// log line.

#include "analytics/UsageAnalyticsSocialOperation.h"
#include "platform/dispatch/OperationQueue.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One share target.
class UsageAnalyticsSocialWeibo final : public platform::Object {
public:
    // A missing platform name is logged; the target is made all the same.
    UsageAnalyticsSocialWeibo(std::optional<std::string> platformType, std::optional<std::string> weiboId,
                              std::optional<std::string> usid,
                              std::optional<platform::ValueDictionary> param);

    std::optional<std::string> platformType;
    std::optional<std::string> weiboId;
    std::optional<std::string> userId;
    std::optional<platform::ValueDictionary> param;

    // The description of {"platformType", "weiboId", "usid", "param"}, those present.
    std::string description() const override;
};

class UsageAnalyticsSocialAnalytics final : public platform::Object,
                                            public UsageAnalyticsSocialOperateDelegate {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    using Completion = std::function<void(const platform::Value& response, const platform::ErrorPtr& error)>;

    static std::shared_ptr<UsageAnalyticsSocialAnalytics> sharedInstance();
    explicit UsageAnalyticsSocialAnalytics(PrivateTag);

    // A null target is not a share target: the report goes on with the targets before it.
    static void postWeiboCounts(const std::vector<std::shared_ptr<UsageAnalyticsSocialWeibo>>& weibos,
                                const std::string& appKey, const std::optional<std::string>& topic,
                                Completion completion);
    void postPlatform(const std::vector<std::string>& platforms, const std::string& appKey,
                      const std::vector<std::string>& users, const std::vector<std::string>& weiboIds,
                      const std::optional<std::string>& topic, const std::optional<platform::Data>& paramData,
                      Completion completion);
    // The texts joined with ","; nothing (and a log line) for an empty list.
    static std::optional<std::string> convertArrayToString(const std::vector<std::string>& texts);

    void UsageAnalyticsOperate_Finish(UsageAnalyticsSocialOperation& operation,
                                      const std::optional<platform::Data>& data,
                                      const platform::ErrorPtr& error) override;

    const std::shared_ptr<platform::OperationQueue>& operationQueue() const { return m_operationQueue; }

private:
    std::shared_ptr<platform::OperationQueue> m_operationQueue;
    std::mutex m_mutex;
    // Each report's own completion: a later report never takes an earlier one's answer.
    std::map<const UsageAnalyticsSocialOperation*, Completion> m_completions;
};
