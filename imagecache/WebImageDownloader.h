#pragma once
// WebImageDownloader: turns image URLs into downloads on an operation queue (at most 6 at once by
// default), one download per URL however many callers ask: a caller that asks for a URL already being
// downloaded joins it (no second request; the call returns null) and gets the same events.
//
// Each caller's progress callbacks come asynchronously on the main queue; its completion comes on the
// download's thread (partial images: the main thread), callers of one URL in the order they asked. A
// cancelled download forgets its URL: its other callers get no completion. The callback table is guarded
// by the concurrent queue "com.quilbrenx.WebImageDownloaderBarrierQueue" (reads plain, changes as
// barriers). Any thread. Destroying the downloader cancels its downloads.

#include "imagecache/WebImageDownloaderOperation.h"
#include "imagecache/WebImageDownloaderTypes.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/OperationQueue.h"
#include "platform/foundation/Guarded.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URLCredential.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

enum WebImageDownloaderExecutionOrder : int64_t {
    WebImageDownloaderFIFOExecutionOrder = 0,
    WebImageDownloaderLIFOExecutionOrder = 1,
};

class WebImageDownloader : public platform::Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    // Rewrites the header fields of a request to `url`; it gets a copy of the downloader's fields.
    using HeadersFilterBlock = std::function<platform::HTTPHeaderFields(
        const platform::URLPtr& url, const platform::HTTPHeaderFields& headers)>;
    // Makes the operation of a download: what the operation class's initWithRequest would.
    using OperationClass = std::function<std::shared_ptr<WebImageDownloaderOperation>(
        const platform::URLRequest& request, WebImageFetchOptions options,
        WebImageDownloaderProgressBlock progress, WebImageDownloaderCompletedBlock completed,
        WebImageNoParamsBlock cancelled)>;

    static std::shared_ptr<WebImageDownloader> sharedDownloader();
    static std::shared_ptr<WebImageDownloader> create();
    explicit WebImageDownloader(PrivateTag);
    ~WebImageDownloader() override;

    // A null URL answers (null, nullopt, null, false) through `completed` at once and makes nothing.
    std::shared_ptr<WebImageDownloaderOperation>
    downloadImageWithURL(const platform::URLPtr& url, WebImageFetchOptions options,
                         WebImageDownloaderProgressBlock progress,
                         WebImageDownloaderCompletedBlock completed);
    // Registers a caller of `url`; the first caller of a URL runs `createCallback` inside the same barrier.
    void addProgressCallback(WebImageDownloaderProgressBlock progress,
                             WebImageDownloaderCompletedBlock completed, const platform::URLPtr& url,
                             const std::function<void()>& createCallback);

    // A null value removes the field.
    void setValue(std::optional<std::string> value, const std::string& field);
    std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
    platform::HTTPHeaderFields HTTPHeaders() const { return m_HTTPHeaders.get(); }

    int64_t maxConcurrentDownloads() const { return m_downloadQueue->maxConcurrentOperationCount(); }
    void setMaxConcurrentDownloads(int64_t count) { m_downloadQueue->setMaxConcurrentOperationCount(count); }
    uint64_t currentDownloadCount() const { return m_downloadQueue->operationCount(); }
    void setSuspended(bool suspended) { m_downloadQueue->setSuspended(suspended); }
    void cancelAllDownloads() { m_downloadQueue->cancelAllOperations(); }

    // Null restores WebImageDownloaderOperation.
    void setOperationClass(OperationClass operationClass) { m_operationClass.set(std::move(operationClass)); }

    bool shouldDecompressImages() const { return m_shouldDecompressImages; }
    void setShouldDecompressImages(bool value) { m_shouldDecompressImages = value; }
    double downloadTimeout() const { return m_downloadTimeout; } // seconds; 0 means 15
    void setDownloadTimeout(double seconds) { m_downloadTimeout = seconds; }
    // Seconds a download may take in all, however steadily its bytes come, so a server that trickles
    // cannot hold one of the download slots for long; 0 means 60.
    double downloadResourceTimeout() const { return m_downloadResourceTimeout; }
    void setDownloadResourceTimeout(double seconds) { m_downloadResourceTimeout = seconds; }
    WebImageDownloaderExecutionOrder executionOrder() const { return m_executionOrder; }
    void setExecutionOrder(WebImageDownloaderExecutionOrder order) { m_executionOrder = order; }
    platform::URLCredentialPtr urlCredential() const { return m_urlCredential.get(); }
    void setUrlCredential(platform::URLCredentialPtr credential) {
        m_urlCredential.set(std::move(credential));
    }
    std::optional<std::string> username() const { return m_username.get(); }
    void setUsername(std::optional<std::string> username) { m_username.set(std::move(username)); }
    std::optional<std::string> password() const { return m_password.get(); }
    void setPassword(std::optional<std::string> password) { m_password.set(std::move(password)); }
    HeadersFilterBlock headersFilter() const { return m_headersFilter.get(); }
    void setHeadersFilter(HeadersFilterBlock filter) { m_headersFilter.set(std::move(filter)); }

    const std::shared_ptr<platform::OperationQueue>& downloadQueue() const { return m_downloadQueue; }
    const std::shared_ptr<platform::DispatchQueue>& barrierQueue() const { return m_barrierQueue; }

private:
    struct CallbackRecord {
        WebImageDownloaderProgressBlock progress;
        WebImageDownloaderCompletedBlock completed;
    };
    using Records = std::vector<CallbackRecord>;

    std::shared_ptr<WebImageDownloader> self() {
        return std::static_pointer_cast<WebImageDownloader>(shared_from_this());
    }
    std::shared_ptr<WebImageDownloaderOperation> makeOperation(const platform::URLPtr& url,
                                                               WebImageFetchOptions options);
    platform::MutableURLRequest requestFor(const platform::URLPtr& url, WebImageFetchOptions options) const;
    platform::URLCredentialPtr credentialForDownload() const;
    void enqueue(const std::shared_ptr<WebImageDownloaderOperation>& operation, WebImageFetchOptions options);
    Records recordsFor(const std::string& url, bool forgetURL);
    void fanOutProgress(const std::string& url, int64_t received, int64_t expected);
    void fanOutCompletion(const std::string& url, const platform::UIImagePtr& image,
                          const std::optional<platform::Data>& data, const platform::ErrorPtr& error,
                          bool finished);

    std::atomic<bool> m_shouldDecompressImages{true};
    std::atomic<double> m_downloadTimeout{15.0};
    std::atomic<double> m_downloadResourceTimeout{60.0};
    std::atomic<WebImageDownloaderExecutionOrder> m_executionOrder{WebImageDownloaderFIFOExecutionOrder};
    std::shared_ptr<platform::OperationQueue> m_downloadQueue{platform::OperationQueue::create()};
    std::shared_ptr<platform::DispatchQueue> m_barrierQueue{platform::DispatchQueue::create(
        "com.quilbrenx.WebImageDownloaderBarrierQueue", platform::DispatchQueueAttr::Concurrent)};

    platform::Guarded<platform::URLCredentialPtr> m_urlCredential;
    platform::Guarded<std::optional<std::string>> m_username;
    platform::Guarded<std::optional<std::string>> m_password;
    platform::Guarded<HeadersFilterBlock> m_headersFilter;
    platform::Guarded<OperationClass> m_operationClass;
    platform::Guarded<platform::HTTPHeaderFields> m_HTTPHeaders;
    platform::Guarded<std::weak_ptr<WebImageDownloaderOperation>> m_lastAddedOperation;

    std::map<std::string, Records> m_URLCallbacks; // on m_barrierQueue only
};
