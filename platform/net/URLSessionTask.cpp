#include "platform/net/URLSessionTask.h"

#include "platform/net/URLError.h"
#include "platform/net/URLSession.h"
#include "platform/net/URLSessionDelivery.h"
#include "platform/net/URLSessionEngine.h"

namespace platform {

URLSessionTask::URLSessionTask(PrivateTag, uint64_t identifier, URLSessionPtr session, URLRequest request,
                               URLSessionDataTaskCompletion completion)
    : m_identifier(identifier)
    , m_session(std::move(session))
    , m_hasCompletion(static_cast<bool>(completion))
    , m_completion(std::move(completion))
    , m_originalRequest(request)
    , m_currentRequest(std::move(request)) {}

URLSessionTask::~URLSessionTask() = default;

URLRequest URLSessionTask::originalRequest() const {
    std::lock_guard lock(m_mutex);
    return m_originalRequest;
}

URLRequest URLSessionTask::currentRequest() const {
    std::lock_guard lock(m_mutex);
    return m_currentRequest;
}

URLResponsePtr URLSessionTask::response() const {
    std::lock_guard lock(m_mutex);
    return m_response;
}

NSURLSessionTaskState URLSessionTask::state() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

ErrorPtr URLSessionTask::error() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

int64_t URLSessionTask::countOfBytesReceived() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

int64_t URLSessionTask::countOfBytesExpectedToReceive() const {
    std::lock_guard lock(m_mutex);
    return m_expectedToReceive;
}

int64_t URLSessionTask::countOfBytesSent() const {
    std::lock_guard lock(m_mutex);
    return m_sent;
}

int64_t URLSessionTask::countOfBytesExpectedToSend() const {
    std::lock_guard lock(m_mutex);
    return m_expectedToSend;
}

std::string URLSessionTask::taskDescription() const {
    std::lock_guard lock(m_mutex);
    return m_description;
}

void URLSessionTask::setTaskDescription(std::string description) {
    std::lock_guard lock(m_mutex);
    m_description = std::move(description);
}

void URLSessionTask::resume() {
    {
        std::lock_guard lock(m_mutex);
        if (m_started || m_state != NSURLSessionTaskStateSuspended)
            return;
        m_started = true;
        m_state = NSURLSessionTaskStateRunning;
        m_delivery = m_session->deliveryForResume();
    }
    auto self = sharedAs<URLSessionTask>();
    if (!m_session->taskStarted(self)) {
        // A session that was invalidated takes no new work.
        ErrorPtr error = URLError::create(NSURLErrorCancelled, m_originalRequest.URL());
        if (claimEnd(error))
            delivery()->post([self, error] { self->finish(std::nullopt, error); });
        return;
    }
    detail::URLSessionEngine::shared().start(self);
}

void URLSessionTask::suspend() {}

void URLSessionTask::cancel() {
    bool started = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_endClaimed || m_state == NSURLSessionTaskStateCanceling ||
            m_state == NSURLSessionTaskStateCompleted)
            return;
        m_state = NSURLSessionTaskStateCanceling;
        started = m_started;
        if (!started) {
            m_started = true;
            m_delivery = m_session->deliveryForResume();
        }
    }
    if (started) {
        detail::URLSessionEngine::shared().cancel(m_identifier);
        return;
    }
    auto self = sharedAs<URLSessionTask>();
    m_session->taskStarted(self);
    ErrorPtr error = URLError::create(NSURLErrorCancelled, m_originalRequest.URL());
    if (claimEnd(error) && !delivery()->post([self, error] { self->finish(std::nullopt, error); }))
        m_session->taskEnded(*this);
}

bool URLSessionTask::claimEnd(ErrorPtr& error) {
    std::lock_guard lock(m_mutex);
    if (m_endClaimed)
        return false;
    m_endClaimed = true;
    bool cancelled = error && error->domain() == NSURLErrorDomain && error->code() == NSURLErrorCancelled;
    if (m_state == NSURLSessionTaskStateCanceling && !cancelled)
        error = URLError::create(NSURLErrorCancelled, m_currentRequest.URL());
    return true;
}

bool URLSessionTask::isCancelling() const {
    std::lock_guard lock(m_mutex);
    return m_state == NSURLSessionTaskStateCanceling;
}

void URLSessionTask::setCurrentRequest(const URLRequest& request) {
    std::lock_guard lock(m_mutex);
    m_currentRequest = request;
}

void URLSessionTask::setResponse(URLResponsePtr response, int64_t expectedLength) {
    std::lock_guard lock(m_mutex);
    m_response = std::move(response);
    m_expectedToReceive = expectedLength;
}

void URLSessionTask::addBytesReceived(int64_t count) {
    std::lock_guard lock(m_mutex);
    m_received += count;
}

void URLSessionTask::setBytesSent(int64_t sent, int64_t expected) {
    std::lock_guard lock(m_mutex);
    m_sent = sent;
    m_expectedToSend = expected;
}

std::shared_ptr<detail::URLSessionDelivery> URLSessionTask::delivery() const {
    std::lock_guard lock(m_mutex);
    return m_delivery;
}

void URLSessionTask::finish(std::optional<Data> data, ErrorPtr error) {
    URLSessionDataTaskCompletion completion;
    URLResponsePtr response;
    {
        std::lock_guard lock(m_mutex);
        if (m_finished)
            return;
        m_finished = true;
        m_state = NSURLSessionTaskStateCompleted;
        m_error = error;
        response = m_response;
        completion = std::move(m_completion);
        m_completion = nullptr;
    }
    auto self = sharedAs<URLSessionTask>();
    if (completion) {
        completion(std::move(data), response, error);
    } else {
        auto delegate = m_session->delegate();
        if (auto* taskDelegate = dynamic_cast<URLSessionTaskDelegate*>(delegate.get()))
            taskDelegate->URLSessionTaskDidCompleteWithError(m_session, self, error);
    }
    m_session->taskEnded(*this);
}

} // namespace platform
