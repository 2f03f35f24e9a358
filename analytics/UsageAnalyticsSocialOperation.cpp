#include "analytics/UsageAnalyticsSocialOperation.h"

#include "platform/net/URLCache.h"
#include "platform/net/URLError.h"
#include "platform/net/URLSession.h"
#include "platform/runloop/RunLoop.h"

namespace {

constexpr double kTimeoutSeconds = 10;

// The connection's reports, handed to the operation while it still exists.
class ConnectionDelegate final : public platform::URLSessionDataDelegate {
public:
    explicit ConnectionDelegate(std::weak_ptr<UsageAnalyticsSocialOperation> operation)
        : m_operation(std::move(operation)) {}

    void
    URLSessionDataTaskDidReceiveResponse(const platform::URLSessionPtr&,
                                         const platform::URLSessionDataTaskPtr&,
                                         const platform::URLResponsePtr& response,
                                         platform::URLSessionResponseHandler completionHandler) override {
        if (auto operation = m_operation.lock())
            operation->connectionDidReceiveResponse(response);
        completionHandler(platform::NSURLSessionResponseAllow);
    }
    void URLSessionDataTaskDidReceiveData(const platform::URLSessionPtr&,
                                          const platform::URLSessionDataTaskPtr&,
                                          const platform::Data& data) override {
        if (auto operation = m_operation.lock())
            operation->connectionDidReceiveData(data);
    }
    void URLSessionTaskDidCompleteWithError(const platform::URLSessionPtr&,
                                            const platform::URLSessionTaskPtr&,
                                            const platform::ErrorPtr& error) override {
        auto operation = m_operation.lock();
        if (!operation)
            return;
        if (error)
            operation->connectionDidFailWithError(error);
        else
            operation->connectionDidFinishLoading();
    }

private:
    std::weak_ptr<UsageAnalyticsSocialOperation> m_operation;
};

} // namespace

UsageAnalyticsSocialOperation::UsageAnalyticsSocialOperation(
    std::string url, std::optional<platform::Data> postBody,
    std::weak_ptr<UsageAnalyticsSocialOperateDelegate> delegate)
    : m_delegate(std::move(delegate))
    , m_requestString(std::move(url))
    , m_postData(std::move(postBody)) {}

void UsageAnalyticsSocialOperation::main() {
    startDoSomething();
}

void UsageAnalyticsSocialOperation::startDoSomething() {
    auto url = platform::URL::create(m_requestString);
    if (!url) {
        connectionDidFailWithError(platform::URLError::create(platform::NSURLErrorBadURL));
        return;
    }
    platform::MutableURLRequest request(url, platform::NSURLRequestReloadIgnoringLocalCacheData,
                                        kTimeoutSeconds);
    if (m_postData && !m_postData->empty()) {
        request.setHTTPMethod("POST");
        request.setHTTPBody(m_postData);
    } else {
        request.setHTTPMethod("GET");
    }
    auto cache = platform::URLCache::sharedURLCache();
    cache->setMemoryCapacity(0);
    cache->setDiskCapacity(0);
    auto self = std::static_pointer_cast<UsageAnalyticsSocialOperation>(shared_from_this());
    auto session = platform::URLSession::sessionOnStartingRunLoop(
        platform::URLSessionConfiguration::defaultSessionConfiguration(),
        std::make_shared<ConnectionDelegate>(self), {platform::RunLoop::defaultMode});
    m_connect = session->dataTaskWithRequest(request);
    m_success = false;
    m_connect->resume();
    auto loop = platform::RunLoop::current();
    while (!m_success)
        loop->runModeForRealTime(platform::RunLoop::defaultMode, std::chrono::seconds(1), true);
    session->finishTasksAndInvalidate();
}

void UsageAnalyticsSocialOperation::connectionDidReceiveResponse(const platform::URLResponsePtr& response) {
    if (auto http = std::dynamic_pointer_cast<platform::HTTPURLResponse>(response))
        m_statusCode = http->statusCode();
}

void UsageAnalyticsSocialOperation::connectionDidReceiveData(const platform::Data& data) {
    std::lock_guard lock(m_dataMutex);
    m_receivedData.appendData(data);
}

void UsageAnalyticsSocialOperation::connectionDidFailWithError(const platform::ErrorPtr& error) {
    if (auto delegate = m_delegate.lock())
        delegate->UsageAnalyticsOperate_Finish(*this, std::nullopt, error);
    platform::URLCache::sharedURLCache()->removeAllCachedResponses();
    m_connect.reset();
    m_success = true;
}

void UsageAnalyticsSocialOperation::connectionDidFinishLoading() {
    if (auto delegate = m_delegate.lock())
        delegate->UsageAnalyticsOperate_Finish(*this, receivedData(), nullptr);
    m_connect.reset();
    m_success = true;
    m_state = 3;
}

platform::Data UsageAnalyticsSocialOperation::receivedData() const {
    std::lock_guard lock(m_dataMutex);
    return m_receivedData.data();
}
