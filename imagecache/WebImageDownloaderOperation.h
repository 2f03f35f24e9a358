#pragma once
// WebImageDownloaderOperation: one image download, an asynchronous queue operation. start() runs the
// connection on the starting thread's run loop and keeps that thread until the download ends. Progress
// and the one final completion come on that thread; with WebImageFetchProgressive and a known length,
// partial images come before it on the main thread, the download thread waiting. Each of the four
// notifications is posted asynchronously on the main queue with the operation as its object.
//
// The request's time-out ends a download that falls silent; resourceTimeout (60 s unless set) ends one
// that takes too long in all, however steadily its bytes come: both fail with NSURLErrorDomain -1001.
//
// Outcomes (finished true): (image, data, null); (null, null, error) for a failed connection, a status of
// 400 and above (the status is the NSURLErrorDomain code), "Downloaded image has 0 pixels" (also for bytes
// that stop short of the whole image, which partial images still show) or "Image data is nil"
// (WebImageErrorDomain 0); (null, null, null) for a response the URL cache served under
// WebImageFetchIgnoreCachedResponse. A 304 reaches no completion: it cancels the operation.
// cancel() is safe from any thread: the cancel callback runs, the connection stops on its own thread, and
// nothing is reported after that. Every callback is dropped once the operation has finished.

#include "imagecache/WebImageDownloaderTypes.h"
#include "imagecache/WebImageOperation.h"
#include "platform/dispatch/Operation.h"
#include "platform/foundation/Data.h"
#include "platform/net/URLCache.h"
#include "platform/net/URLCredential.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"
#include "platform/net/URLSessionDelegate.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/UIApplication.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

inline constexpr const char* WebImageDownloadStartNotification = "WebImageDownloadStartNotification";
inline constexpr const char* WebImageDownloadReceiveResponseNotification =
    "WebImageDownloadReceiveResponseNotification";
inline constexpr const char* WebImageDownloadStopNotification = "WebImageDownloadStopNotification";
inline constexpr const char* WebImageDownloadFinishNotification = "WebImageDownloadFinishNotification";

namespace imagecache::detail {
class DownloadConnection;
}

class WebImageDownloaderOperation : public platform::Operation, public WebImageOperation {
protected:
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    using Connection = platform::URLSessionDataTaskPtr;

    static std::shared_ptr<WebImageDownloaderOperation>
    initWithRequest(const platform::URLRequest& request, WebImageFetchOptions options,
                    WebImageDownloaderProgressBlock progress, WebImageDownloaderCompletedBlock completed,
                    WebImageNoParamsBlock cancelled);
    WebImageDownloaderOperation(PrivateTag, const platform::URLRequest& request, WebImageFetchOptions options,
                                WebImageDownloaderProgressBlock progress,
                                WebImageDownloaderCompletedBlock completed, WebImageNoParamsBlock cancelled);

    void start() override;
    void cancel() override;
    bool isAsynchronous() const override { return true; }
    bool isConcurrent() const { return true; }

    bool shouldContinueWhenAppEntersBackground() const;
    static platform::UIImageOrientation orientationFromPropertyValue(int64_t value);
    platform::UIImagePtr scaledImageForKey(const std::optional<std::string>& key,
                                           const platform::UIImagePtr& image) const;

    // The connection's reports, on the download's thread. Reports of a connection the operation has
    // already let go of are ignored.
    void connectionDidReceiveResponse(const Connection& connection, const platform::URLResponsePtr& response);
    void connectionDidReceiveData(const Connection& connection, const platform::Data& data);
    void connectionDidFinishLoading(const Connection& connection);
    void connectionDidFailWithError(const Connection& connection, const platform::ErrorPtr& error);
    platform::CachedURLResponsePtr
    connectionWillCacheResponse(const Connection& connection, const platform::CachedURLResponsePtr& proposed);
    bool connectionShouldUseCredentialStorage(const Connection& connection) const;
    void connectionWillSendRequestForAuthenticationChallenge(
        const Connection& connection, const platform::URLAuthenticationChallengePtr& challenge,
        platform::URLSessionChallengeHandler answer);

    const platform::URLRequest& request() const { return m_request; }
    WebImageFetchOptions options() const { return m_options; }
    int64_t expectedSize() const;
    platform::URLResponsePtr response() const;
    platform::URLCredentialPtr credential() const;
    void setCredential(platform::URLCredentialPtr credential);
    bool shouldDecompressImages() const { return m_shouldDecompressImages; }
    void setShouldDecompressImages(bool value) { m_shouldDecompressImages = value; }
    // Seconds the whole exchange may take; set before the operation starts.
    double resourceTimeout() const { return m_resourceTimeout; }
    void setResourceTimeout(double seconds) { m_resourceTimeout = seconds; }
    // Whether the connection proposes the credential storage's default credential for a server's
    // protection space (URLCredentialStorage); the operation's own credential comes first.
    bool shouldUseCredentialStorage() const { return m_shouldUseCredentialStorage; }
    void setShouldUseCredentialStorage(bool value) { m_shouldUseCredentialStorage = value; }
    bool responseFromCached() const { return m_responseFromCached; }
    platform::UIBackgroundTaskIdentifier backgroundTaskId() const { return m_backgroundTaskId; }

private:
    std::shared_ptr<WebImageDownloaderOperation> self() {
        return std::static_pointer_cast<WebImageDownloaderOperation>(shared_from_this());
    }
    bool isCurrent(const Connection& connection) const;
    void beginBackgroundTask();
    void endBackgroundTask();
    void runConnection(const std::shared_ptr<imagecache::detail::DownloadConnection>& connection);
    void acceptResponse(const platform::URLResponsePtr& response);
    void rejectResponse(int64_t statusCode);
    void deliverPartialImage(const platform::Data& buffer, int64_t expected);
    platform::UIImagePtr partialImageFrom(const platform::Data& buffer, int64_t expected);
    void completeWithData(const WebImageDownloaderCompletedBlock& completion,
                          const std::optional<platform::Data>& data);
    // Lets go of the connection and its thread (the download has stopped) and posts `notifications`.
    void detachConnection(std::initializer_list<const char*> notifications);
    void post(std::initializer_list<const char*> names);
    void cancelInternalAndStop();
    void cancelInternal();
    void done();
    void reset();

    const platform::URLRequest m_request;
    const WebImageFetchOptions m_options;
    std::atomic<bool> m_shouldDecompressImages{true};
    std::atomic<bool> m_shouldUseCredentialStorage{true};
    std::atomic<double> m_resourceTimeout{60.0};
    std::atomic<bool> m_responseFromCached{true};
    std::atomic<platform::UIBackgroundTaskIdentifier> m_backgroundTaskId{platform::UIBackgroundTaskInvalid};

    // Everything below is guarded by m_mutex, which is recursive because the platform's operations are
    // synchronized reentrantly (a cancel callback may ask the operation about itself).
    mutable std::recursive_mutex m_mutex;
    WebImageDownloaderProgressBlock m_progressBlock;
    WebImageDownloaderCompletedBlock m_completedBlock;
    WebImageNoParamsBlock m_cancelBlock;
    platform::URLCredentialPtr m_credential;
    int64_t m_expectedSize{0};
    platform::URLResponsePtr m_response;
    std::optional<platform::MutableData> m_imageData;
    std::shared_ptr<imagecache::detail::DownloadConnection> m_connection;
    std::shared_ptr<platform::RunLoop> m_thread; // the loop of the thread running the connection

    // Read and written on the download's thread only, by the progressive decoding.
    uint64_t m_width{0};
    uint64_t m_height{0};
    platform::UIImageOrientation m_orientation{platform::UIImageOrientationUp};
};
