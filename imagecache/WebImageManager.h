#pragma once
// WebImageManager: loads an image by URL: the cache first (memory, then disk), else a download, which is
// stored in the cache and reported. URLs whose download failed for other than a transient reason are
// refused afterwards (NSURLErrorDomain -1100) unless a load asks to retry them.
//
// Every completion is called on the main thread: directly when already there, else the reporting
// thread waits for it. A memory hit, and a refusal, answer before the load call returns. A cancelled
// load reports nothing more. The delegate's transform runs on the global high-priority queue.
//
//     auto operation = WebImageManager::sharedManager()->downloadImageWithURL(
//         url, 0, nullptr, [weak = std::weak_ptr(self)](UIImagePtr image, ErrorPtr, ImageCacheSource, bool,
//         URLPtr) {
//             if (auto strong = weak.lock()) strong->show(image);
//         });
//     ... operation->cancel() when the image is no longer wanted.

#include "imagecache/ImageCache.h"
#include "imagecache/WebImageCombinedOperation.h"
#include "imagecache/WebImageDownloader.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Guarded.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

enum WebImageLoadOption : uint64_t {
    WebImageLoadRetryFailed = 1,
    WebImageLoadLowPriority = 2,
    WebImageLoadCacheMemoryOnly = 4,
    WebImageLoadProgressive = 8,
    WebImageLoadRefreshCached = 16,
    WebImageLoadContinueInBackground = 32,
    WebImageLoadHandleCookies = 64,
    WebImageLoadAllowInvalidSSL = 128,
    WebImageLoadHighPriority = 256,
    WebImageLoadDelayPlaceholder = 512,        // for the view extensions
    WebImageLoadTransformAnimatedImage = 1024, // the delegate transforms animated images too
    WebImageLoadAvoidAutoSetImage = 2048,      // for the view extensions
};
using WebImageLoadOptions = uint64_t;

using WebImageCompletionWithFinishedBlock =
    std::function<void(platform::UIImagePtr image, platform::ErrorPtr error, ImageCacheSource source,
                       bool finished, platform::URLPtr imageURL)>;
using WebImageCacheKeyFilterBlock = std::function<std::string(const platform::URLPtr& url)>;

class WebImageManager;

// Both methods are optional; the manager asks respondsTo() with the selector text before using one.
class WebImageManagerDelegate : public platform::Object {
public:
    // "imageManager:shouldDownloadImageForURL:": false forbids the download.
    virtual bool imageManagerShouldDownloadImageForURL(WebImageManager& manager, const platform::URLPtr& url);
    // "imageManager:transformDownloadedImage:withURL:": replaces a downloaded image before it is stored.
    virtual platform::UIImagePtr imageManagerTransformDownloadedImage(WebImageManager& manager,
                                                                      const platform::UIImagePtr& image,
                                                                      const platform::URLPtr& url);
};

class WebImageManager : public platform::Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    static std::shared_ptr<WebImageManager> sharedManager();
    // The shared cache and the shared downloader.
    static std::shared_ptr<WebImageManager> create();
    // A cache and a downloader of the caller's (tools and tests that must not share the process's).
    static std::shared_ptr<WebImageManager> create(std::shared_ptr<ImageCache> cache,
                                                   std::shared_ptr<WebImageDownloader> downloader);
    WebImageManager(PrivateTag, std::shared_ptr<ImageCache> cache,
                    std::shared_ptr<WebImageDownloader> downloader);

    // `completed` is required. A text is taken as a URL; an empty or unparsable one is refused.
    std::shared_ptr<WebImageOperation> downloadImageWithURL(const platform::URLPtr& url,
                                                            WebImageLoadOptions options,
                                                            WebImageDownloaderProgressBlock progress,
                                                            WebImageCompletionWithFinishedBlock completed);
    std::shared_ptr<WebImageOperation> downloadImageWithURL(const std::string& url,
                                                            WebImageLoadOptions options,
                                                            WebImageDownloaderProgressBlock progress,
                                                            WebImageCompletionWithFinishedBlock completed);

    // The key filter's answer, else the URL's absolute string; nullopt for a null URL.
    std::optional<std::string> cacheKeyForURL(const platform::URLPtr& url) const;
    void saveImageToCache(const platform::UIImagePtr& image, const platform::URLPtr& url);
    void cancelAll();
    bool isRunning() const;

    bool cachedImageExistsForURL(const platform::URLPtr& url) const;
    bool diskImageExistsForURL(const platform::URLPtr& url) const;
    void cachedImageExistsForURL(const platform::URLPtr& url,
                                 ImageCache::CheckCacheCompletionBlock completion);
    void diskImageExistsForURL(const platform::URLPtr& url, ImageCache::CheckCacheCompletionBlock completion);

    std::shared_ptr<WebImageManagerDelegate> delegate() const { return m_delegate.get().lock(); }
    void setDelegate(const std::shared_ptr<WebImageManagerDelegate>& delegate) { m_delegate.set(delegate); }
    const std::shared_ptr<ImageCache>& imageCache() const { return m_imageCache; }
    const std::shared_ptr<WebImageDownloader>& imageDownloader() const { return m_imageDownloader; }
    WebImageCacheKeyFilterBlock cacheKeyFilter() const { return m_cacheKeyFilter.get(); }
    void setCacheKeyFilter(WebImageCacheKeyFilterBlock filter) { m_cacheKeyFilter.set(std::move(filter)); }
    bool isFailedURL(const platform::URLPtr& url) const;
    std::vector<std::shared_ptr<WebImageCombinedOperation>> runningOperations() const;

private:
    struct Load;

    std::shared_ptr<WebImageManager> self() {
        return std::static_pointer_cast<WebImageManager>(shared_from_this());
    }
    void answerQuery(const std::shared_ptr<Load>& load, const platform::UIImagePtr& image,
                     ImageCacheSource source);
    void startDownload(const std::shared_ptr<Load>& load, const platform::UIImagePtr& cachedImage);
    void answerDownload(const std::shared_ptr<Load>& load, bool hadCachedImage,
                        const platform::UIImagePtr& image, const std::optional<platform::Data>& data,
                        const platform::ErrorPtr& error, bool finished);
    void storeAndReport(const std::shared_ptr<Load>& load, const platform::UIImagePtr& downloaded,
                        const std::optional<platform::Data>& data, bool finished);
    void transformStoreAndReport(const std::shared_ptr<Load>& load, const platform::UIImagePtr& downloaded,
                                 const std::optional<platform::Data>& data, bool finished);
    void report(const std::shared_ptr<Load>& load, const platform::UIImagePtr& image,
                const platform::ErrorPtr& error, ImageCacheSource source, bool finished);
    void remember(const platform::URLPtr& url, bool failed);
    void removeRunning(const WebImageCombinedOperation* operation);

    platform::Guarded<std::weak_ptr<WebImageManagerDelegate>> m_delegate;
    const std::shared_ptr<ImageCache> m_imageCache;
    const std::shared_ptr<WebImageDownloader> m_imageDownloader;
    platform::Guarded<WebImageCacheKeyFilterBlock> m_cacheKeyFilter;
    platform::Guarded<std::set<std::string>> m_failedURLs; // by absolute string
    mutable std::mutex m_runningMutex;
    std::vector<std::shared_ptr<WebImageCombinedOperation>> m_runningOperations;
};
