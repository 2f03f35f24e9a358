#include "imagecache/WebImageDownloader.h"

#include "imagecache/MainThread.h"
#include "platform/foundation/Immortal.h"

using namespace platform;

namespace {

constexpr double kDefaultTimeout = 15.0;
constexpr double kDefaultResourceTimeout = 60.0;

} // namespace

std::shared_ptr<WebImageDownloader> WebImageDownloader::sharedDownloader() {
    // Kept for the life of the process: workers may still reach it while static destructors run.
    static platform::detail::Immortal<std::shared_ptr<WebImageDownloader>> shared{create()};
    return shared.get();
}

std::shared_ptr<WebImageDownloader> WebImageDownloader::create() {
    return std::make_shared<WebImageDownloader>(PrivateTag{});
}

WebImageDownloader::WebImageDownloader(PrivateTag) {
    m_downloadQueue->setMaxConcurrentOperationCount(6);
    setValue("image/*;q=0.8", "Accept");
}

WebImageDownloader::~WebImageDownloader() {
    m_downloadQueue->cancelAllOperations();
}

std::shared_ptr<WebImageDownloaderOperation>
WebImageDownloader::downloadImageWithURL(const URLPtr& url, WebImageFetchOptions options,
                                         WebImageDownloaderProgressBlock progress,
                                         WebImageDownloaderCompletedBlock completed) {
    std::shared_ptr<WebImageDownloaderOperation> operation;
    addProgressCallback(std::move(progress), std::move(completed), url, [&] {
        operation = makeOperation(url, options);
        if (operation)
            enqueue(operation, options);
        else
            m_URLCallbacks.erase(url->absoluteString()); // nothing will ever answer its callers
    });
    return operation;
}

void WebImageDownloader::addProgressCallback(WebImageDownloaderProgressBlock progress,
                                             WebImageDownloaderCompletedBlock completed, const URLPtr& url,
                                             const std::function<void()>& createCallback) {
    if (!url) {
        if (completed)
            completed(nullptr, std::nullopt, nullptr, false);
        return;
    }
    // One barrier for registering and creating, so two callers of a URL never both create a download.
    m_barrierQueue->barrierSync([&] {
        auto [records, first] = m_URLCallbacks.try_emplace(url->absoluteString());
        records->second.push_back({std::move(progress), std::move(completed)});
        if (first && createCallback)
            createCallback();
    });
}

std::shared_ptr<WebImageDownloaderOperation> WebImageDownloader::makeOperation(const URLPtr& url,
                                                                               WebImageFetchOptions options) {
    std::weak_ptr<WebImageDownloader> weak = self();
    std::string key = url->absoluteString();
    auto progress = [weak, key](int64_t received, int64_t expected) {
        if (auto strong = weak.lock())
            strong->fanOutProgress(key, received, expected);
    };
    auto completed = [weak, key](UIImagePtr image, std::optional<Data> data, ErrorPtr error, bool finished) {
        if (auto strong = weak.lock())
            strong->fanOutCompletion(key, image, data, error, finished);
    };
    auto cancelled = [weak, key] {
        if (auto strong = weak.lock())
            strong->m_barrierQueue->barrierAsync([strong, key] { strong->m_URLCallbacks.erase(key); });
    };
    OperationClass operationClass = m_operationClass.get();
    if (!operationClass)
        operationClass = &WebImageDownloaderOperation::initWithRequest;
    auto operation = operationClass(requestFor(url, options), options, progress, completed, cancelled);
    if (!operation)
        return nullptr;
    operation->setShouldDecompressImages(m_shouldDecompressImages);
    double resourceTimeout = m_downloadResourceTimeout;
    operation->setResourceTimeout(resourceTimeout > 0 ? resourceTimeout : kDefaultResourceTimeout);
    operation->setCredential(credentialForDownload());
    return operation;
}

MutableURLRequest WebImageDownloader::requestFor(const URLPtr& url, WebImageFetchOptions options) const {
    double timeout = m_downloadTimeout;
    MutableURLRequest request(url,
                              (options & WebImageFetchUseNSURLCache)
                                  ? NSURLRequestUseProtocolCachePolicy
                                  : NSURLRequestReloadIgnoringLocalCacheData,
                              timeout == 0 ? kDefaultTimeout : timeout);
    request.setHTTPShouldHandleCookies((options & WebImageFetchHandleCookies) != 0);
    request.setHTTPShouldUsePipelining(true);
    HeadersFilterBlock filter = headersFilter();
    HTTPHeaderFields headers = HTTPHeaders();
    request.setAllHTTPHeaderFields(filter ? filter(url, headers) : headers);
    return request;
}

URLCredentialPtr WebImageDownloader::credentialForDownload() const {
    if (auto credential = urlCredential())
        return credential;
    auto user = username(), secret = password();
    if (user && secret)
        return URLCredential::credentialWithUser(*user, *secret, NSURLCredentialPersistenceForSession);
    return nullptr;
}

void WebImageDownloader::enqueue(const std::shared_ptr<WebImageDownloaderOperation>& operation,
                                 WebImageFetchOptions options) {
    if (options & WebImageFetchHighPriority)
        operation->setQueuePriority(OperationQueuePriority::High);
    else if (options & WebImageFetchLowPriority)
        operation->setQueuePriority(OperationQueuePriority::Low);
    m_downloadQueue->addOperation(operation);
    if (m_executionOrder != WebImageDownloaderLIFOExecutionOrder)
        return;
    // The one added before waits for this one, so the newest runs first.
    m_lastAddedOperation.with([&](std::weak_ptr<WebImageDownloaderOperation>& last) {
        if (auto previous = last.lock())
            previous->addDependency(operation);
        last = operation;
    });
}

WebImageDownloader::Records WebImageDownloader::recordsFor(const std::string& url, bool forgetURL) {
    Records records;
    auto take = [&] {
        auto found = m_URLCallbacks.find(url);
        if (found == m_URLCallbacks.end())
            return;
        records = found->second;
        if (forgetURL)
            m_URLCallbacks.erase(found);
    };
    if (forgetURL)
        m_barrierQueue->barrierSync(take);
    else
        m_barrierQueue->sync(take);
    return records;
}

void WebImageDownloader::fanOutProgress(const std::string& url, int64_t received, int64_t expected) {
    for (CallbackRecord& record : recordsFor(url, false))
        if (record.progress)
            imagecache::detail::onMainQueue([progress = std::move(record.progress), received, expected] {
                progress(received, expected);
            });
}

void WebImageDownloader::fanOutCompletion(const std::string& url, const UIImagePtr& image,
                                          const std::optional<Data>& data, const ErrorPtr& error,
                                          bool finished) {
    for (const CallbackRecord& record : recordsFor(url, finished))
        if (record.completed)
            record.completed(image, data, error, finished);
}

void WebImageDownloader::setValue(std::optional<std::string> value, const std::string& field) {
    m_HTTPHeaders.with([&](HTTPHeaderFields& headers) { headers.setValue(std::move(value), field); });
}

std::optional<std::string> WebImageDownloader::valueForHTTPHeaderField(const std::string& field) const {
    return m_HTTPHeaders.with([&](const HTTPHeaderFields& headers) { return headers.value(field); });
}
