#include "platform/net/URLSession.h"

#include "platform/net/URLSessionDelivery.h"

#include <atomic>
#include <condition_variable>

namespace platform {

namespace {

std::atomic<uint64_t> g_nextTaskIdentifier{1};

std::shared_ptr<DispatchQueue> serialQueueFor(const std::shared_ptr<DispatchQueue>& target) {
    return DispatchQueue::create("URLSession delegate queue", DispatchQueueAttr::Serial, target);
}

} // namespace

URLSession::URLSession(PrivateTag, URLSessionConfiguration configuration,
                       std::shared_ptr<URLSessionDelegate> delegate,
                       std::shared_ptr<DispatchQueue> delegateQueue, std::vector<RunLoopMode> runLoopModes,
                       bool shared)
    : m_configuration(std::move(configuration))
    , m_shared(shared)
    , m_delegateQueue(runLoopModes.empty() ? (delegateQueue ? delegateQueue : serialQueueFor(nullptr))
                                           : nullptr)
    , m_runLoopModes(std::move(runLoopModes))
    , m_delegate(std::move(delegate)) {
    if (m_runLoopModes.empty()) {
        // Reports never overlap, even when the caller's queue is concurrent.
        auto serial = m_delegateQueue->isSerial() ? m_delegateQueue : serialQueueFor(m_delegateQueue);
        m_queueDelivery = detail::URLSessionDelivery::onQueue(serial);
    }
}

URLSessionPtr URLSession::sharedSession() {
    static const URLSessionPtr shared =
        std::make_shared<URLSession>(PrivateTag{}, URLSessionConfiguration::defaultSessionConfiguration(),
                                     nullptr, nullptr, std::vector<RunLoopMode>{}, true);
    return shared;
}

URLSessionPtr URLSession::sessionWithConfiguration(const URLSessionConfiguration& configuration) {
    return sessionWithConfiguration(configuration, nullptr, nullptr);
}

URLSessionPtr URLSession::sessionWithConfiguration(const URLSessionConfiguration& configuration,
                                                   std::shared_ptr<URLSessionDelegate> delegate,
                                                   std::shared_ptr<DispatchQueue> delegateQueue) {
    return std::make_shared<URLSession>(PrivateTag{}, configuration, std::move(delegate),
                                        std::move(delegateQueue), std::vector<RunLoopMode>{}, false);
}

URLSessionPtr URLSession::sessionOnStartingRunLoop(const URLSessionConfiguration& configuration,
                                                   std::shared_ptr<URLSessionDelegate> delegate,
                                                   std::vector<RunLoopMode> modes) {
    if (modes.empty())
        modes.push_back(RunLoop::commonModes);
    return std::make_shared<URLSession>(PrivateTag{}, configuration, std::move(delegate), nullptr,
                                        std::move(modes), false);
}

URLSessionDataTaskPtr URLSession::makeTask(const URLRequest& request,
                                           URLSessionDataTaskCompletion completion) {
    return std::make_shared<URLSessionDataTask>(URLSessionTask::PrivateTag{}, g_nextTaskIdentifier++,
                                                sharedAs<URLSession>(), request, std::move(completion));
}

URLSessionDataTaskPtr URLSession::dataTaskWithRequest(const URLRequest& request) {
    return makeTask(request, {});
}

URLSessionDataTaskPtr URLSession::dataTaskWithRequest(const URLRequest& request,
                                                      URLSessionDataTaskCompletion completionHandler) {
    return makeTask(request, std::move(completionHandler));
}

URLSessionDataTaskPtr URLSession::dataTaskWithURL(URLPtr url) {
    return makeTask(URLRequest(std::move(url)), {});
}

URLSessionDataTaskPtr URLSession::dataTaskWithURL(URLPtr url,
                                                  URLSessionDataTaskCompletion completionHandler) {
    return makeTask(URLRequest(std::move(url)), std::move(completionHandler));
}

std::shared_ptr<URLSessionDelegate> URLSession::delegate() const {
    std::lock_guard lock(m_mutex);
    return m_delegate;
}

std::string URLSession::sessionDescription() const {
    std::lock_guard lock(m_mutex);
    return m_description;
}

void URLSession::setSessionDescription(std::string description) {
    std::lock_guard lock(m_mutex);
    m_description = std::move(description);
}

std::shared_ptr<detail::URLSessionDelivery> URLSession::deliveryForResume() const {
    if (m_queueDelivery)
        return m_queueDelivery;
    return detail::URLSessionDelivery::onRunLoop(RunLoop::current(), m_runLoopModes);
}

bool URLSession::taskStarted(const URLSessionTaskPtr& task) {
    std::lock_guard lock(m_mutex);
    if (!task->m_running) {
        task->m_running = true;
        task->m_previousRunning = nullptr;
        task->m_nextRunning = std::move(m_firstRunning);
        if (task->m_nextRunning)
            task->m_nextRunning->m_previousRunning = task.get();
        m_firstRunning = task;
    }
    return !m_invalidated;
}

URLSessionTaskPtr URLSession::unlinkLocked(URLSessionTask& task) {
    if (!task.m_running)
        return nullptr;
    task.m_running = false;
    URLSessionTaskPtr next = std::move(task.m_nextRunning);
    if (next)
        next->m_previousRunning = task.m_previousRunning;
    URLSessionTaskPtr& link = task.m_previousRunning ? task.m_previousRunning->m_nextRunning : m_firstRunning;
    URLSessionTaskPtr self = std::exchange(link, std::move(next));
    task.m_previousRunning = nullptr;
    return self;
}

void URLSession::taskEnded(URLSessionTask& task) {
    URLSessionTaskPtr unlinked;
    std::unique_lock lock(m_mutex);
    unlinked = unlinkLocked(task);
    becomeInvalidIfDone(lock);
}

void URLSession::dropTask(URLSessionTask& task) {
    URLSessionTaskPtr unlinked;
    std::lock_guard lock(m_mutex);
    unlinked = unlinkLocked(task);
}

void URLSession::finishTasksAndInvalidate() {
    invalidate(false);
}

void URLSession::invalidateAndCancel() {
    invalidate(true);
}

void URLSession::invalidate(bool cancelTasks) {
    if (m_shared)
        return;
    std::vector<URLSessionTaskPtr> running;
    {
        std::lock_guard lock(m_mutex);
        if (m_invalidated)
            return;
        m_invalidated = true;
        for (const URLSessionTaskPtr* link = &m_firstRunning; *link; link = &(*link)->m_nextRunning)
            running.push_back(*link);
    }
    if (cancelTasks)
        for (auto& task : running)
            task->cancel();
    std::unique_lock lock(m_mutex);
    becomeInvalidIfDone(lock);
}

void URLSession::becomeInvalidIfDone(std::unique_lock<std::mutex>& lock) {
    if (!m_invalidated || m_firstRunning || m_invalidationReported)
        return;
    m_invalidationReported = true;
    auto delegate = m_delegate;
    if (!delegate)
        return;
    lock.unlock();
    auto self = sharedAs<URLSession>();
    auto report = [self, delegate] {
        {
            // Let go first, so a delegate that hears this finds the session already done with it.
            std::lock_guard lock(self->m_mutex);
            self->m_delegate.reset();
        }
        delegate->URLSessionDidBecomeInvalidWithError(self, nullptr);
    };
    if (m_queueDelivery)
        m_queueDelivery->post(report);
    else
        report(); // a run-loop session reports on the thread where its last task ended
    lock.lock();
}

URLCredentialPtr URLSession::rememberedCredential(const URLProtectionSpace& space) const {
    std::lock_guard lock(m_mutex);
    for (const auto& [remembered, credential] : m_credentials)
        if (remembered->isEqual(space))
            return credential;
    return nullptr;
}

void URLSession::rememberCredential(const URLProtectionSpacePtr& space, const URLCredentialPtr& credential) {
    if (!space || !credential)
        return;
    std::lock_guard lock(m_mutex);
    for (auto& [remembered, stored] : m_credentials)
        if (remembered->isEqual(*space)) {
            stored = credential;
            return;
        }
    m_credentials.emplace_back(space, credential);
}

std::optional<Data> URLSession::sendSynchronousRequest(const URLRequest& request, URLResponsePtr* response,
                                                       ErrorPtr* error) {
    // A session of its own, so the wait never blocks a queue the reply must come through.
    static const URLSessionPtr session =
        sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration());
    struct Outcome {
        std::mutex mutex;
        std::condition_variable done;
        bool finished{false};
        std::optional<Data> data;
        URLResponsePtr response;
        ErrorPtr error;
    };
    auto outcome = std::make_shared<Outcome>();
    auto task = session->dataTaskWithRequest(
        request, [outcome](std::optional<Data> data, URLResponsePtr reply, ErrorPtr failure) {
            std::lock_guard lock(outcome->mutex);
            outcome->data = std::move(data);
            outcome->response = std::move(reply);
            outcome->error = std::move(failure);
            outcome->finished = true;
            outcome->done.notify_all();
        });
    task->resume();
    std::unique_lock lock(outcome->mutex);
    outcome->done.wait(lock, [&] { return outcome->finished; });
    if (response)
        *response = outcome->response;
    setError(error, outcome->error);
    return outcome->data;
}

} // namespace platform
