#pragma once
// WebImagePrefetcher: warms the image cache with a list of URLs, loading them through a manager in list
// order, at most maxConcurrentDownloads at a time (each finished load starts the next), and reports each
// finished load and the end of the list to its callbacks and its delegate. A new list, or a cancel,
// replaces the run under way: what the older run's loads report afterwards is ignored.
//
// Loads are started on the calling thread and then on prefetcherQueue (the main queue by default); the
// callbacks come on the main thread, where the manager reports. Any thread.

#include "imagecache/WebImageManager.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Guarded.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class WebImagePrefetcher;

// Both optional; sent only when respondsTo() says so for the selector text.
class WebImagePrefetcherDelegate : public platform::Object {
public:
    // "imagePrefetcher:didPrefetchURL:finishedCount:totalCount:"
    virtual void imagePrefetcherDidPrefetchURL(WebImagePrefetcher& prefetcher, const platform::URLPtr& url,
                                               uint64_t finishedCount, uint64_t totalCount);
    // "imagePrefetcher:didFinishWithTotalCount:skippedCount:", the total without the skipped loads.
    virtual void imagePrefetcherDidFinishWithTotalCount(WebImagePrefetcher& prefetcher, uint64_t totalCount,
                                                        uint64_t skippedCount);
};

class WebImagePrefetcher : public platform::Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    using ProgressBlock = std::function<void(uint64_t finishedCount, uint64_t totalCount)>;
    using CompletionBlock = std::function<void(uint64_t finishedCount, uint64_t skippedCount)>;

    static std::shared_ptr<WebImagePrefetcher> sharedImagePrefetcher();
    // Over a new manager (the shared cache and downloader).
    static std::shared_ptr<WebImagePrefetcher> create();
    // Sets the manager's downloader to 3 downloads at a time.
    static std::shared_ptr<WebImagePrefetcher> initWithImageManager(std::shared_ptr<WebImageManager> manager);
    WebImagePrefetcher(PrivateTag, std::shared_ptr<WebImageManager> manager);

    void prefetchURLs(std::vector<platform::URLPtr> urls);
    // An empty list completes with (0, 0) at once.
    void prefetchURLs(std::vector<platform::URLPtr> urls, ProgressBlock progress, CompletionBlock completed);
    // Forgets the list and cancels every load of the manager, not only this prefetcher's.
    void cancelPrefetching();
    void startPrefetchingAtIndex(uint64_t index);
    void reportStatus();

    const std::shared_ptr<WebImageManager>& manager() const { return m_manager; }
    WebImageLoadOptions options() const { return m_options; }
    void setOptions(WebImageLoadOptions options) { m_options = options; }
    std::shared_ptr<platform::DispatchQueue> prefetcherQueue() const { return m_prefetcherQueue.get(); }
    void setPrefetcherQueue(std::shared_ptr<platform::DispatchQueue> queue) {
        m_prefetcherQueue.set(std::move(queue));
    }
    std::shared_ptr<WebImagePrefetcherDelegate> delegate() const { return m_delegate.get().lock(); }
    void setDelegate(const std::shared_ptr<WebImagePrefetcherDelegate>& delegate) {
        m_delegate.set(delegate);
    }
    uint64_t maxConcurrentDownloads() const;
    void setMaxConcurrentDownloads(uint64_t count);

    std::vector<platform::URLPtr> prefetchURLs() const;
    uint64_t requestedCount() const;
    uint64_t skippedCount() const;
    uint64_t finishedCount() const;
    double startedTime() const;

private:
    struct Step; // what a finished load decided, acted on outside the lock

    std::shared_ptr<WebImagePrefetcher> self() {
        return std::static_pointer_cast<WebImagePrefetcher>(shared_from_this());
    }
    void loadFinished(uint64_t generation, uint64_t index, bool gotImage);
    void startNext(uint64_t generation);

    const std::shared_ptr<WebImageManager> m_manager;
    std::atomic<WebImageLoadOptions> m_options{WebImageLoadLowPriority};
    platform::Guarded<std::shared_ptr<platform::DispatchQueue>> m_prefetcherQueue{
        platform::DispatchQueue::main()};
    platform::Guarded<std::weak_ptr<WebImagePrefetcherDelegate>> m_delegate;

    mutable std::mutex m_mutex;
    std::vector<platform::URLPtr> m_prefetchURLs;
    uint64_t m_requestedCount{0};
    uint64_t m_skippedCount{0};
    uint64_t m_finishedCount{0};
    double m_startedTime{0};
    ProgressBlock m_progressBlock;
    CompletionBlock m_completionBlock;
    // Counts the runs, so that loads of a run that has been replaced or cancelled are recognised.
    uint64_t m_generation{0};
};
