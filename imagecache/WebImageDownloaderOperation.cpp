#include "imagecache/WebImageDownloaderOperation.h"

#include "imagecache/DownloadConnection.h"
#include "imagecache/MainThread.h"
#include "imagecache/ScaledImageForKey.h"
#include "imagecache/UIImage+MultiFormat.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/URLError.h"

#include <vector>

using namespace platform;
using imagecache::detail::DownloadConnection;

std::shared_ptr<WebImageDownloaderOperation> WebImageDownloaderOperation::initWithRequest(
    const URLRequest& request, WebImageFetchOptions options, WebImageDownloaderProgressBlock progress,
    WebImageDownloaderCompletedBlock completed, WebImageNoParamsBlock cancelled) {
    return std::make_shared<WebImageDownloaderOperation>(PrivateTag{}, request, options, std::move(progress),
                                                         std::move(completed), std::move(cancelled));
}

WebImageDownloaderOperation::WebImageDownloaderOperation(PrivateTag, const URLRequest& request,
                                                         WebImageFetchOptions options,
                                                         WebImageDownloaderProgressBlock progress,
                                                         WebImageDownloaderCompletedBlock completed,
                                                         WebImageNoParamsBlock cancelled)
    : m_request(request)
    , m_options(options)
    , m_progressBlock(std::move(progress))
    , m_completedBlock(std::move(completed))
    , m_cancelBlock(std::move(cancelled)) {}

void WebImageDownloaderOperation::start() {
    std::shared_ptr<DownloadConnection> connection;
    {
        std::lock_guard lock(m_mutex);
        if (isCancelled()) {
            setFinished(true);
            reset();
            return;
        }
        if (shouldContinueWhenAppEntersBackground())
            beginBackgroundTask();
        setExecuting(true);
        if (m_request.URL())
            m_connection = connection = DownloadConnection::create(m_request, self(), m_resourceTimeout);
        m_thread = RunLoop::current();
    }
    if (connection) {
        runConnection(connection);
    } else {
        WebImageDownloaderCompletedBlock completion;
        {
            std::lock_guard lock(m_mutex);
            completion = m_completedBlock;
        }
        if (completion)
            completion(nullptr, std::nullopt,
                       Error::withDescription(NSURLErrorDomain, 0, "Connection can't be initialized"), true);
        done();
    }
    // A cancel that came too late to matter must not run during some later download on this thread.
    RunLoop::current()->cancelPerformsWithTarget(this);
    endBackgroundTask();
}

void WebImageDownloaderOperation::runConnection(const std::shared_ptr<DownloadConnection>& connection) {
    connection->start();
    WebImageDownloaderProgressBlock progress;
    {
        std::lock_guard lock(m_mutex);
        progress = m_progressBlock;
    }
    if (progress)
        progress(0, -1);
    post({WebImageDownloadStartNotification});

    // The download stops the loop when it ends; the loop has no time limit of its own.
    RunLoop::current()->run();
    if (!isFinished()) {
        connection->cancel();
        connectionDidFailWithError(connection->task(), URLError::create(NSURLErrorTimedOut, m_request.URL()));
    }
    connection->waitUntilEnded();
}

void WebImageDownloaderOperation::cancel() {
    std::lock_guard lock(m_mutex);
    if (!m_thread) {
        cancelInternal();
        return;
    }
    // The connection belongs to its thread: the cancel is done there.
    m_thread->performBlock(
        [weak = std::weak_ptr(self())] {
            if (auto operation = weak.lock())
                operation->cancelInternalAndStop();
        },
        {RunLoop::commonModes}, this);
}

void WebImageDownloaderOperation::cancelInternalAndStop() {
    if (isFinished())
        return;
    cancelInternal();
    RunLoop::current()->stop();
}

void WebImageDownloaderOperation::cancelInternal() {
    std::lock_guard lock(m_mutex);
    if (isFinished())
        return;
    Operation::cancel();
    if (m_cancelBlock)
        m_cancelBlock();
    if (m_connection) {
        m_connection->cancel();
        post({WebImageDownloadStopNotification});
        setFinished(true);
    }
    reset();
}

void WebImageDownloaderOperation::done() {
    setFinished(true);
    reset();
}

void WebImageDownloaderOperation::reset() {
    std::lock_guard lock(m_mutex);
    m_cancelBlock = nullptr;
    m_completedBlock = nullptr;
    m_progressBlock = nullptr;
    m_connection = nullptr;
    m_imageData.reset();
    m_thread = nullptr;
}

bool WebImageDownloaderOperation::isCurrent(const Connection& connection) const {
    std::lock_guard lock(m_mutex);
    return m_connection && connection && m_connection->task() == connection;
}

void WebImageDownloaderOperation::detachConnection(std::initializer_list<const char*> notifications) {
    std::lock_guard lock(m_mutex);
    if (RunLoop::current()->currentMode())
        RunLoop::current()->stop();
    m_thread = nullptr;
    m_connection = nullptr;
    post(notifications);
}

void WebImageDownloaderOperation::post(std::initializer_list<const char*> names) {
    imagecache::detail::onMainQueue([self = self(), names = std::vector<const char*>(names)] {
        for (const char* name : names)
            NotificationCenter::defaultCenter().postNotificationName(name, self);
    });
}

bool WebImageDownloaderOperation::shouldContinueWhenAppEntersBackground() const {
    return (m_options & WebImageFetchContinueInBackground) != 0;
}

void WebImageDownloaderOperation::beginBackgroundTask() {
    auto application = UIApplication::sharedApplication();
    m_backgroundTaskId =
        application->beginBackgroundTaskWithExpirationHandler([weak = std::weak_ptr(self()), application] {
            auto operation = weak.lock();
            if (!operation)
                return;
            operation->cancel();
            application->endBackgroundTask(operation->m_backgroundTaskId.exchange(UIBackgroundTaskInvalid));
        });
}

void WebImageDownloaderOperation::endBackgroundTask() {
    auto identifier = m_backgroundTaskId.exchange(UIBackgroundTaskInvalid);
    if (identifier != UIBackgroundTaskInvalid)
        UIApplication::sharedApplication()->endBackgroundTask(identifier);
}

UIImageOrientation WebImageDownloaderOperation::orientationFromPropertyValue(int64_t value) {
    if (value < 1 || value > 8)
        return UIImageOrientationUp;
    return wi_exifOrientationToiOSOrientation(int32_t(value));
}

UIImagePtr WebImageDownloaderOperation::scaledImageForKey(const std::optional<std::string>& key,
                                                          const UIImagePtr& image) const {
    return imagecache::detail::scaledImageForKey(key, image);
}

int64_t WebImageDownloaderOperation::expectedSize() const {
    std::lock_guard lock(m_mutex);
    return m_expectedSize;
}

URLResponsePtr WebImageDownloaderOperation::response() const {
    std::lock_guard lock(m_mutex);
    return m_response;
}

URLCredentialPtr WebImageDownloaderOperation::credential() const {
    std::lock_guard lock(m_mutex);
    return m_credential;
}

void WebImageDownloaderOperation::setCredential(URLCredentialPtr credential) {
    std::lock_guard lock(m_mutex);
    m_credential = std::move(credential);
}
