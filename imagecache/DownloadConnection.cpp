#include "imagecache/DownloadConnection.h"

#include "imagecache/WebImageDownloaderOperation.h"
#include "platform/net/URLCredentialStorage.h"
#include "platform/runloop/RunLoop.h"

using namespace platform;

namespace imagecache::detail {

std::shared_ptr<DownloadConnection>
DownloadConnection::create(const URLRequest& request, std::weak_ptr<WebImageDownloaderOperation> operation,
                           double resourceTimeout) {
    auto connection = std::make_shared<DownloadConnection>(PrivateTag{}, std::move(operation));
    auto configuration = URLSessionConfiguration::defaultSessionConfiguration();
    configuration.setTimeoutIntervalForResource(resourceTimeout);
    connection->m_session = URLSession::sessionOnStartingRunLoop(configuration, connection);
    connection->m_task = connection->m_session->dataTaskWithRequest(request);
    return connection;
}

DownloadConnection::DownloadConnection(PrivateTag, std::weak_ptr<WebImageDownloaderOperation> operation)
    : m_operation(std::move(operation)) {}

void DownloadConnection::start() {
    m_task->resume();
    // The session takes no other task; once this one ends it lets go of its delegate, this connection.
    m_session->finishTasksAndInvalidate();
}

void DownloadConnection::cancel() {
    m_task->cancel();
}

void DownloadConnection::waitUntilEnded() {
    m_waiting = true;
    while (!m_ended)
        RunLoop::current()->run();
    m_waiting = false;
}

void DownloadConnection::URLSessionDataTaskDidReceiveResponse(const URLSessionPtr&,
                                                              const URLSessionDataTaskPtr& dataTask,
                                                              const URLResponsePtr& response,
                                                              URLSessionResponseHandler completionHandler) {
    if (auto operation = m_operation.lock())
        operation->connectionDidReceiveResponse(dataTask, response);
    // A response the operation rejects has cancelled the task already.
    completionHandler(NSURLSessionResponseAllow);
}

void DownloadConnection::URLSessionDataTaskDidReceiveData(const URLSessionPtr&,
                                                          const URLSessionDataTaskPtr& dataTask,
                                                          const Data& data) {
    if (auto operation = m_operation.lock())
        operation->connectionDidReceiveData(dataTask, data);
}

void DownloadConnection::URLSessionDataTaskWillCacheResponse(const URLSessionPtr&,
                                                             const URLSessionDataTaskPtr& dataTask,
                                                             const CachedURLResponsePtr& proposedResponse,
                                                             URLSessionCacheHandler completionHandler) {
    auto operation = m_operation.lock();
    completionHandler(operation ? operation->connectionWillCacheResponse(dataTask, proposedResponse)
                                : proposedResponse);
}

void DownloadConnection::URLSessionTaskDidReceiveChallenge(const URLSessionPtr&, const URLSessionTaskPtr&,
                                                           const URLAuthenticationChallengePtr& challenge,
                                                           URLSessionChallengeHandler completionHandler) {
    if (auto operation = m_operation.lock())
        operation->connectionWillSendRequestForAuthenticationChallenge(
            m_task, withStoredCredential(*operation, challenge), std::move(completionHandler));
    else
        completionHandler(NSURLSessionAuthChallengeCancelAuthenticationChallenge, nullptr);
}

URLAuthenticationChallengePtr
DownloadConnection::withStoredCredential(const WebImageDownloaderOperation& operation,
                                         const URLAuthenticationChallengePtr& challenge) const {
    const URLProtectionSpacePtr& space = challenge->protectionSpace();
    if (space->authenticationMethod() == NSURLAuthenticationMethodServerTrust ||
        !operation.connectionShouldUseCredentialStorage(m_task))
        return challenge;
    auto stored =
        URLCredentialStorage::sharedCredentialStorage()->defaultCredentialForProtectionSpace(*space);
    if (!stored)
        return challenge;
    return std::make_shared<const URLAuthenticationChallenge>(
        space, stored, challenge->previousFailureCount(), challenge->failureResponse(), challenge->error());
}

void DownloadConnection::URLSessionTaskDidCompleteWithError(const URLSessionPtr&, const URLSessionTaskPtr&,
                                                            const ErrorPtr& error) {
    m_ended = true;
    if (auto operation = m_operation.lock()) {
        if (error)
            operation->connectionDidFailWithError(m_task, error);
        else
            operation->connectionDidFinishLoading(m_task);
    }
    if (m_waiting)
        RunLoop::current()->stop();
}

} // namespace imagecache::detail
