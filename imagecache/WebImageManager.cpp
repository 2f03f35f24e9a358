#include "imagecache/WebImageManager.h"

#include "imagecache/MainThread.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Immortal.h"
#include "platform/net/URLError.h"

#include <algorithm>

using namespace platform;
using imagecache::detail::onMainThreadAndWait;

struct WebImageManager::Load {
    std::weak_ptr<WebImageCombinedOperation> operation;
    URLPtr url;
    WebImageLoadOptions options{0};
    WebImageDownloaderProgressBlock progress;
    WebImageCompletionWithFinishedBlock completed;
    std::optional<std::string> key;

    // The operation, while it still exists and has not been cancelled.
    std::shared_ptr<WebImageCombinedOperation> live() const {
        auto strong = operation.lock();
        return strong && !strong->isCancelled() ? strong : nullptr;
    }
};

namespace {

// Failures that say nothing about the URL itself, so it stays worth trying again.
bool isTransient(int64_t code) {
    switch (code) {
    case NSURLErrorNotConnectedToInternet:
    case NSURLErrorCancelled:
    case NSURLErrorTimedOut:
    case NSURLErrorInternationalRoamingOff:
    case NSURLErrorDataNotAllowed:
    case NSURLErrorCannotFindHost:
    case NSURLErrorCannotConnectToHost:
        return true;
    default:
        return false;
    }
}

WebImageFetchOptions fetchOptionsFor(WebImageLoadOptions options) {
    static constexpr std::pair<WebImageLoadOption, WebImageFetchOption> passed[] = {
        {WebImageLoadLowPriority, WebImageFetchLowPriority},
        {WebImageLoadProgressive, WebImageFetchProgressive},
        {WebImageLoadRefreshCached, WebImageFetchUseNSURLCache},
        {WebImageLoadContinueInBackground, WebImageFetchContinueInBackground},
        {WebImageLoadHandleCookies, WebImageFetchHandleCookies},
        {WebImageLoadAllowInvalidSSL, WebImageFetchAllowInvalidSSL},
        {WebImageLoadHighPriority, WebImageFetchHighPriority},
    };
    WebImageFetchOptions fetch = 0;
    for (auto [load, download] : passed)
        if (options & load)
            fetch |= download;
    return fetch;
}

} // namespace

bool WebImageManagerDelegate::imageManagerShouldDownloadImageForURL(WebImageManager&, const URLPtr&) {
    return true;
}

UIImagePtr WebImageManagerDelegate::imageManagerTransformDownloadedImage(WebImageManager&,
                                                                         const UIImagePtr& image,
                                                                         const URLPtr&) {
    return image;
}

std::shared_ptr<WebImageManager> WebImageManager::sharedManager() {
    // Kept for the life of the process: workers may still reach it while static destructors run.
    static platform::detail::Immortal<std::shared_ptr<WebImageManager>> shared{create()};
    return shared.get();
}

std::shared_ptr<WebImageManager> WebImageManager::create() {
    return create(ImageCache::sharedImageCache(), WebImageDownloader::sharedDownloader());
}

std::shared_ptr<WebImageManager> WebImageManager::create(std::shared_ptr<ImageCache> cache,
                                                         std::shared_ptr<WebImageDownloader> downloader) {
    return std::make_shared<WebImageManager>(PrivateTag{}, std::move(cache), std::move(downloader));
}

WebImageManager::WebImageManager(PrivateTag, std::shared_ptr<ImageCache> cache,
                                 std::shared_ptr<WebImageDownloader> downloader)
    : m_imageCache(std::move(cache))
    , m_imageDownloader(std::move(downloader)) {}

std::optional<std::string> WebImageManager::cacheKeyForURL(const URLPtr& url) const {
    if (!url)
        return std::nullopt;
    if (auto filter = cacheKeyFilter())
        return filter(url);
    return url->absoluteString();
}

std::shared_ptr<WebImageOperation>
WebImageManager::downloadImageWithURL(const std::string& url, WebImageLoadOptions options,
                                      WebImageDownloaderProgressBlock progress,
                                      WebImageCompletionWithFinishedBlock completed) {
    return downloadImageWithURL(URL::create(url), options, std::move(progress), std::move(completed));
}

std::shared_ptr<WebImageOperation>
WebImageManager::downloadImageWithURL(const URLPtr& url, WebImageLoadOptions options,
                                      WebImageDownloaderProgressBlock progress,
                                      WebImageCompletionWithFinishedBlock completed) {
    auto operation = std::make_shared<WebImageCombinedOperation>();
    auto load = std::make_shared<Load>(
        Load{operation, url, options, std::move(progress), std::move(completed), cacheKeyForURL(url)});
    bool refused =
        !url || url->absoluteString().empty() || (isFailedURL(url) && !(options & WebImageLoadRetryFailed));
    if (refused) {
        report(load, nullptr, URLError::create(NSURLErrorFileDoesNotExist, url), ImageCacheSourceNone, true);
        return operation;
    }
    {
        std::lock_guard lock(m_runningMutex);
        m_runningOperations.push_back(operation);
    }
    std::weak_ptr<WebImageManager> weak = self();
    // Until a download takes over, a cancel alone takes the load off the running list: the cache query it
    // may stop would otherwise never answer, and the load would look running for ever.
    operation->setCancelBlock([weak, weakOperation = std::weak_ptr(operation)] {
        auto manager = weak.lock();
        auto cancelled = weakOperation.lock();
        if (manager && cancelled)
            manager->removeRunning(cancelled.get());
    });
    operation->setCacheOperation(m_imageCache->queryDiskCacheForKey(
        load->key, [weak, load](UIImagePtr image, ImageCacheSource source) {
            if (auto manager = weak.lock())
                manager->answerQuery(load, image, source);
        }));
    return operation;
}

void WebImageManager::answerQuery(const std::shared_ptr<Load>& load, const UIImagePtr& image,
                                  ImageCacheSource source) {
    auto operation = load->operation.lock();
    if (!operation)
        return;
    if (operation->isCancelled()) {
        removeRunning(operation.get());
        return;
    }
    bool refresh = load->options & WebImageLoadRefreshCached;
    bool download = !image || refresh;
    if (download) {
        auto delegate = this->delegate();
        if (delegate && delegate->respondsTo("imageManager:shouldDownloadImageForURL:"))
            download = delegate->imageManagerShouldDownloadImageForURL(*this, load->url);
    }
    if (!download) {
        report(load, image, nullptr, image ? source : ImageCacheSourceNone, true);
        removeRunning(operation.get());
        return;
    }
    if (image)
        report(load, image, nullptr, source, true);
    startDownload(load, image);
}

void WebImageManager::startDownload(const std::shared_ptr<Load>& load, const UIImagePtr& cachedImage) {
    WebImageFetchOptions options = fetchOptionsFor(load->options);
    bool hadCachedImage = cachedImage != nullptr;
    if (hadCachedImage && (load->options & WebImageLoadRefreshCached)) {
        options &= ~WebImageFetchOptions(WebImageFetchProgressive);
        options |= WebImageFetchIgnoreCachedResponse;
    }
    std::weak_ptr<WebImageManager> weak = self();
    auto download = m_imageDownloader->downloadImageWithURL(
        load->url, options, load->progress,
        [weak, load, hadCachedImage](UIImagePtr image, std::optional<Data> data, ErrorPtr error,
                                     bool finished) {
            if (auto manager = weak.lock())
                manager->answerDownload(load, hadCachedImage, image, data, error, finished);
        });
    auto operation = load->operation.lock();
    if (!operation)
        return;
    // A download shared with an earlier load belongs to that load: cancelling this one leaves it running.
    operation->setCancelBlock(
        [weak, weakDownload = std::weak_ptr(download), weakOperation = load->operation] {
            if (auto running = weakDownload.lock())
                running->cancel();
            auto manager = weak.lock();
            auto cancelled = weakOperation.lock();
            if (manager && cancelled)
                manager->removeRunning(cancelled.get());
        });
}

void WebImageManager::answerDownload(const std::shared_ptr<Load>& load, bool hadCachedImage,
                                     const UIImagePtr& image, const std::optional<Data>& data,
                                     const ErrorPtr& error, bool finished) {
    if (load->live()) {
        if (error) {
            report(load, nullptr, error, ImageCacheSourceNone, finished);
            if (!isTransient(error->code()))
                remember(load->url, true);
        } else {
            if (load->options & WebImageLoadRetryFailed)
                remember(load->url, false);
            bool cacheAnswered = (load->options & WebImageLoadRefreshCached) && hadCachedImage && !image;
            auto delegate = this->delegate();
            bool transform =
                image && (!image->isAnimated() || (load->options & WebImageLoadTransformAnimatedImage)) &&
                delegate && delegate->respondsTo("imageManager:transformDownloadedImage:withURL:");
            // When the URL cache answered a refresh, the image reported from the cache still stands.
            if (transform && !cacheAnswered)
                transformStoreAndReport(load, image, data, finished);
            else if (!cacheAnswered)
                storeAndReport(load, image, data, finished);
        }
    }
    if (finished)
        if (auto operation = load->operation.lock())
            removeRunning(operation.get());
}

void WebImageManager::storeAndReport(const std::shared_ptr<Load>& load, const UIImagePtr& downloaded,
                                     const std::optional<Data>& data, bool finished) {
    if (downloaded && finished)
        m_imageCache->storeImage(downloaded, false, data, load->key,
                                 !(load->options & WebImageLoadCacheMemoryOnly));
    report(load, downloaded, nullptr, ImageCacheSourceNone, finished);
}

void WebImageManager::transformStoreAndReport(const std::shared_ptr<Load>& load, const UIImagePtr& downloaded,
                                              const std::optional<Data>& data, bool finished) {
    // The load is about to leave the running list; holding it here keeps its answer from being lost
    // when the running list held the last reference.
    DispatchQueue::global(DispatchQueuePriority::High)
        ->async([self = self(), load, kept = load->operation.lock(), downloaded, data, finished] {
            auto delegate = self->delegate();
            UIImagePtr transformed =
                delegate ? delegate->imageManagerTransformDownloadedImage(*self, downloaded, load->url)
                         : downloaded;
            if (transformed && finished) {
                bool recalculate = transformed != downloaded;
                self->m_imageCache->storeImage(transformed, recalculate, recalculate ? std::nullopt : data,
                                               load->key, !(load->options & WebImageLoadCacheMemoryOnly));
            }
            self->report(load, transformed, nullptr, ImageCacheSourceNone, finished);
        });
}

void WebImageManager::report(const std::shared_ptr<Load>& load, const UIImagePtr& image,
                             const ErrorPtr& error, ImageCacheSource source, bool finished) {
    onMainThreadAndWait([&] {
        // Tested right before the call: a cancel may have come while this answer was on its way.
        if (load->live() && load->completed)
            load->completed(image, error, source, finished, load->url);
    });
}

bool WebImageManager::isFailedURL(const URLPtr& url) const {
    return url && m_failedURLs.with([&](const std::set<std::string>& failed) {
        return failed.contains(url->absoluteString());
    });
}

void WebImageManager::remember(const URLPtr& url, bool failed) {
    m_failedURLs.with([&](std::set<std::string>& urls) {
        if (failed)
            urls.insert(url->absoluteString());
        else
            urls.erase(url->absoluteString());
    });
}

void WebImageManager::removeRunning(const WebImageCombinedOperation* operation) {
    std::shared_ptr<WebImageCombinedOperation> removed; // let go of after the lock
    std::lock_guard lock(m_runningMutex);
    auto found = std::find_if(m_runningOperations.begin(), m_runningOperations.end(),
                              [operation](const auto& running) { return running.get() == operation; });
    if (found == m_runningOperations.end())
        return;
    removed = std::move(*found);
    m_runningOperations.erase(found);
}

std::vector<std::shared_ptr<WebImageCombinedOperation>> WebImageManager::runningOperations() const {
    std::lock_guard lock(m_runningMutex);
    return m_runningOperations;
}

void WebImageManager::cancelAll() {
    // Cancelling runs each load's cancel block, which takes the running list's lock itself.
    auto running = runningOperations();
    for (const auto& operation : running)
        operation->cancel();
    std::lock_guard lock(m_runningMutex);
    std::erase_if(m_runningOperations, [&](const auto& operation) {
        return std::find(running.begin(), running.end(), operation) != running.end();
    });
}

bool WebImageManager::isRunning() const {
    std::lock_guard lock(m_runningMutex);
    return !m_runningOperations.empty();
}

void WebImageManager::saveImageToCache(const UIImagePtr& image, const URLPtr& url) {
    if (image && url)
        m_imageCache->storeImage(image, cacheKeyForURL(url), true);
}

bool WebImageManager::cachedImageExistsForURL(const URLPtr& url) const {
    auto key = cacheKeyForURL(url);
    return m_imageCache->imageFromMemoryCacheForKey(key) || m_imageCache->diskImageExistsWithKey(key);
}

bool WebImageManager::diskImageExistsForURL(const URLPtr& url) const {
    return m_imageCache->diskImageExistsWithKey(cacheKeyForURL(url));
}

void WebImageManager::cachedImageExistsForURL(const URLPtr& url,
                                              ImageCache::CheckCacheCompletionBlock completion) {
    auto key = cacheKeyForURL(url);
    if (m_imageCache->imageFromMemoryCacheForKey(key)) {
        if (completion)
            imagecache::detail::onMainQueue([completion] { completion(true); });
        return;
    }
    m_imageCache->diskImageExistsWithKey(key, std::move(completion));
}

void WebImageManager::diskImageExistsForURL(const URLPtr& url,
                                            ImageCache::CheckCacheCompletionBlock completion) {
    m_imageCache->diskImageExistsWithKey(cacheKeyForURL(url), std::move(completion));
}
