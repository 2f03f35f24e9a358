#include "imagecache/WebImagePrefetcher.h"

#include "platform/foundation/Date.h"
#include "platform/foundation/Immortal.h"

using namespace platform;

namespace {

// The platform's absolute time counts from 2001-01-01.
constexpr double kSecondsFrom1970To2001 = 978307200.0;

} // namespace

struct WebImagePrefetcher::Step {
    ProgressBlock progress;
    CompletionBlock completion;
    URLPtr url;
    uint64_t finished{0};
    uint64_t skipped{0};
    uint64_t total{0};
    bool startNext{false};
    bool runEnded{false};
};

void WebImagePrefetcherDelegate::imagePrefetcherDidPrefetchURL(WebImagePrefetcher&, const URLPtr&, uint64_t,
                                                               uint64_t) {}

void WebImagePrefetcherDelegate::imagePrefetcherDidFinishWithTotalCount(WebImagePrefetcher&, uint64_t,
                                                                        uint64_t) {}

std::shared_ptr<WebImagePrefetcher> WebImagePrefetcher::sharedImagePrefetcher() {
    // Kept for the life of the process: workers may still reach it while static destructors run.
    static platform::detail::Immortal<std::shared_ptr<WebImagePrefetcher>> shared{create()};
    return shared.get();
}

std::shared_ptr<WebImagePrefetcher> WebImagePrefetcher::create() {
    return initWithImageManager(WebImageManager::create());
}

std::shared_ptr<WebImagePrefetcher>
WebImagePrefetcher::initWithImageManager(std::shared_ptr<WebImageManager> manager) {
    auto prefetcher = std::make_shared<WebImagePrefetcher>(PrivateTag{}, std::move(manager));
    prefetcher->setMaxConcurrentDownloads(3);
    return prefetcher;
}

WebImagePrefetcher::WebImagePrefetcher(PrivateTag, std::shared_ptr<WebImageManager> manager)
    : m_manager(std::move(manager)) {}

uint64_t WebImagePrefetcher::maxConcurrentDownloads() const {
    return uint64_t(m_manager->imageDownloader()->maxConcurrentDownloads());
}

void WebImagePrefetcher::setMaxConcurrentDownloads(uint64_t count) {
    m_manager->imageDownloader()->setMaxConcurrentDownloads(int64_t(count));
}

void WebImagePrefetcher::prefetchURLs(std::vector<URLPtr> urls) {
    prefetchURLs(std::move(urls), nullptr, nullptr);
}

void WebImagePrefetcher::prefetchURLs(std::vector<URLPtr> urls, ProgressBlock progress,
                                      CompletionBlock completed) {
    cancelPrefetching();
    size_t count = urls.size();
    {
        std::lock_guard lock(m_mutex);
        m_startedTime = Date::now().timeIntervalSince1970() - kSecondsFrom1970To2001;
        m_prefetchURLs = std::move(urls);
        m_completionBlock = completed;
        m_progressBlock = std::move(progress);
    }
    if (count == 0) {
        if (completed)
            completed(0, 0);
        return;
    }
    for (uint64_t index = 0; index < maxConcurrentDownloads() && requestedCount() < count; ++index)
        startPrefetchingAtIndex(index);
}

void WebImagePrefetcher::startPrefetchingAtIndex(uint64_t index) {
    URLPtr url;
    uint64_t generation;
    {
        std::lock_guard lock(m_mutex);
        if (index >= m_prefetchURLs.size())
            return;
        ++m_requestedCount;
        url = m_prefetchURLs[index];
        generation = m_generation;
    }
    // Not under the lock: a memory hit answers before this call returns.
    m_manager->downloadImageWithURL(url, m_options, nullptr,
                                    [weak = std::weak_ptr(self()), generation, index](
                                        UIImagePtr image, ErrorPtr, ImageCacheSource, bool finished, URLPtr) {
                                        auto prefetcher = weak.lock();
                                        if (prefetcher && finished)
                                            prefetcher->loadFinished(generation, index, image != nullptr);
                                    });
}

void WebImagePrefetcher::loadFinished(uint64_t generation, uint64_t index, bool gotImage) {
    Step step;
    {
        std::lock_guard lock(m_mutex);
        if (generation != m_generation || index >= m_prefetchURLs.size())
            return;
        step.finished = ++m_finishedCount;
        if (!gotImage)
            ++m_skippedCount;
        step.skipped = m_skippedCount;
        step.total = m_prefetchURLs.size();
        step.url = m_prefetchURLs[index];
        step.progress = m_progressBlock;
        step.startNext = step.total > m_requestedCount;
        step.runEnded = !step.startNext && m_finishedCount == m_requestedCount;
        if (step.runEnded) {
            step.completion = std::move(m_completionBlock);
            m_completionBlock = nullptr;
            m_progressBlock = nullptr;
        }
    }
    if (step.progress)
        step.progress(step.finished, step.total);
    auto delegate = this->delegate();
    if (delegate && delegate->respondsTo("imagePrefetcher:didPrefetchURL:finishedCount:totalCount:"))
        delegate->imagePrefetcherDidPrefetchURL(*this, step.url, step.finished, step.total);
    if (step.startNext) {
        prefetcherQueue()->async([weak = std::weak_ptr(self()), generation] {
            if (auto prefetcher = weak.lock())
                prefetcher->startNext(generation);
        });
    } else if (step.runEnded) {
        reportStatus();
        if (step.completion)
            step.completion(step.finished, step.skipped);
    }
}

void WebImagePrefetcher::startNext(uint64_t generation) {
    uint64_t index;
    {
        std::lock_guard lock(m_mutex);
        if (generation != m_generation)
            return;
        index = m_requestedCount;
    }
    startPrefetchingAtIndex(index);
}

void WebImagePrefetcher::reportStatus() {
    uint64_t total, skipped;
    {
        std::lock_guard lock(m_mutex);
        skipped = m_skippedCount;
        total = m_prefetchURLs.size() - std::min<uint64_t>(skipped, m_prefetchURLs.size());
    }
    auto delegate = this->delegate();
    if (delegate && delegate->respondsTo("imagePrefetcher:didFinishWithTotalCount:skippedCount:"))
        delegate->imagePrefetcherDidFinishWithTotalCount(*this, total, skipped);
}

void WebImagePrefetcher::cancelPrefetching() {
    {
        std::lock_guard lock(m_mutex);
        m_prefetchURLs.clear();
        m_requestedCount = m_skippedCount = m_finishedCount = 0;
        ++m_generation;
    }
    m_manager->cancelAll();
}

std::vector<URLPtr> WebImagePrefetcher::prefetchURLs() const {
    std::lock_guard lock(m_mutex);
    return m_prefetchURLs;
}

uint64_t WebImagePrefetcher::requestedCount() const {
    std::lock_guard lock(m_mutex);
    return m_requestedCount;
}

uint64_t WebImagePrefetcher::skippedCount() const {
    std::lock_guard lock(m_mutex);
    return m_skippedCount;
}

uint64_t WebImagePrefetcher::finishedCount() const {
    std::lock_guard lock(m_mutex);
    return m_finishedCount;
}

double WebImagePrefetcher::startedTime() const {
    std::lock_guard lock(m_mutex);
    return m_startedTime;
}
