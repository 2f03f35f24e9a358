#pragma once
// One request of the social-share statistics: GET, or POST when it has a body, with a time-out of 10
// seconds and no cached data. The operation runs the connection on its own thread's run loop until it
// has finished or failed, then hands the received bytes (or the error) to its delegate. The shared URL
// cache is emptied of capacity first and of its responses after a failure.
//
// Run by an operation queue; the delegate is not owned and is called on the operation's thread.

#include "platform/dispatch/Operation.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/net/URLResponse.h"
#include "platform/net/URLSessionTask.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class UsageAnalyticsSocialOperation;

class UsageAnalyticsSocialOperateDelegate {
public:
    virtual ~UsageAnalyticsSocialOperateDelegate() = default;
    virtual void UsageAnalyticsOperate_Finish(UsageAnalyticsSocialOperation& operation,
                                              const std::optional<platform::Data>& data,
                                              const platform::ErrorPtr& error) = 0;
};

class UsageAnalyticsSocialOperation final : public platform::Operation {
public:
    UsageAnalyticsSocialOperation(std::string url, std::optional<platform::Data> postBody,
                                  std::weak_ptr<UsageAnalyticsSocialOperateDelegate> delegate);

    void main() override;
    void startDoSomething();

    // What the connection reports (on the operation's thread).
    void connectionDidReceiveResponse(const platform::URLResponsePtr& response);
    void connectionDidReceiveData(const platform::Data& data);
    void connectionDidFailWithError(const platform::ErrorPtr& error);
    void connectionDidFinishLoading();

    bool success() const { return m_success; }
    int64_t tag() const { return m_tag; }
    void setTag(int64_t tag) { m_tag = tag; }
    int64_t statusCode() const { return m_statusCode; }
    const std::string& requestString() const { return m_requestString; }
    platform::Data receivedData() const;
    const std::optional<platform::Data>& postData() const { return m_postData; }
    int64_t state() const { return m_state; }

private:
    std::atomic<bool> m_success{false};
    std::weak_ptr<UsageAnalyticsSocialOperateDelegate> m_delegate;
    std::atomic<int64_t> m_tag{0};
    std::atomic<int64_t> m_statusCode{0};
    std::string m_requestString;
    mutable std::mutex m_dataMutex;
    platform::MutableData m_receivedData;
    std::optional<platform::Data> m_postData;
    platform::URLSessionDataTaskPtr m_connect;
    std::atomic<int64_t> m_state{0};
};
