#include "imagecache/WebImagePrefetcher.h"
#include "tests/imagecache/LoaderTestSupport.h"

using namespace platform;
using namespace imagetest;
using liveapp::test::HttpResponse;
using liveapp::test::pumpMainLoopUntil;

namespace {

class RecordingDelegate : public WebImagePrefetcherDelegate {
public:
    bool respondsTo(std::string_view) const override { return true; }
    void imagePrefetcherDidPrefetchURL(WebImagePrefetcher&, const URLPtr& url, uint64_t finished,
                                       uint64_t total) override {
        prefetched.push_back(url->path() + " " + std::to_string(finished) + "/" + std::to_string(total));
    }
    void imagePrefetcherDidFinishWithTotalCount(WebImagePrefetcher&, uint64_t total,
                                                uint64_t skipped) override {
        finishes.emplace_back(total, skipped);
    }
    std::vector<std::string> prefetched;
    std::vector<std::pair<uint64_t, uint64_t>> finishes;
};

class PrefetcherTest : public LoaderTest {
protected:
    std::shared_ptr<WebImagePrefetcher> prefetcher = WebImagePrefetcher::initWithImageManager(manager);

    // A main-queue block queued now has run: everything queued before it has too.
    void drainMainQueue() {
        bool ran = false;
        DispatchQueue::main()->async([&] { ran = true; });
        ASSERT_TRUE(pumpMainLoopUntil([&] { return ran; }));
    }
};

TEST_F(PrefetcherTest, FiveURLsLoadThreeAtATimeInListOrderAndNoneCompleteAtOnce) {
    std::optional<std::pair<uint64_t, uint64_t>> empty;
    prefetcher->prefetchURLs({}, nullptr,
                             [&](uint64_t finished, uint64_t skipped) { empty.emplace(finished, skipped); });
    EXPECT_EQ(empty, std::make_pair(uint64_t(0), uint64_t(0)));
    std::vector<std::shared_ptr<liveapp::test::HttpGate>> gates;
    std::vector<URLPtr> urls;
    for (int i = 0; i < 5; ++i) {
        gates.push_back(server.makeGate());
        std::string path = "/p" + std::to_string(i) + ".png";
        HttpResponse reply = i == 3 ? HttpResponse::notFound() : imageReply(png(1, 1));
        server.route("GET", path, liveapp::test::replyAfter(gates.back(), reply));
        urls.push_back(url(path));
    }
    auto delegate = std::make_shared<RecordingDelegate>();
    prefetcher->setDelegate(delegate);
    std::vector<std::pair<uint64_t, uint64_t>> progress, completions;
    prefetcher->prefetchURLs(
        urls, [&](uint64_t finished, uint64_t total) { progress.emplace_back(finished, total); },
        [&](uint64_t finished, uint64_t skipped) { completions.emplace_back(finished, skipped); });
    EXPECT_EQ(downloader->maxConcurrentDownloads(), 3);

    ASSERT_TRUE(pumpMainLoopUntil([&] { return server.requestCount() == 3; }));
    EXPECT_EQ(prefetcher->requestedCount(), 3u);
    for (size_t i = 0; i < 5; ++i) {
        gates[i]->open();
        // Each finished load starts the next one, until the list is used up.
        ASSERT_TRUE(pumpMainLoopUntil([&] {
            return prefetcher->finishedCount() == i + 1 &&
                   prefetcher->requestedCount() == std::min<uint64_t>(i + 4, 5) &&
                   server.requestCount() == std::min<size_t>(i + 4, 5);
        })) << i;
    }
    ASSERT_TRUE(pumpMainLoopUntil([&] { return completions.size() == 1; }));
    EXPECT_EQ(completions[0], std::make_pair(uint64_t(5), uint64_t(1)));
    EXPECT_EQ(progress.back(), std::make_pair(uint64_t(5), uint64_t(5)));
    EXPECT_EQ(delegate->prefetched.front(), "/p0.png 1/5");
    EXPECT_EQ(delegate->prefetched.back(), "/p4.png 5/5");
    EXPECT_EQ(delegate->finishes, (std::vector<std::pair<uint64_t, uint64_t>>{{4, 1}}));
    auto order = requestPaths();
    std::sort(order.begin(), order.begin() + 3); // the first three run side by side
    EXPECT_EQ(order, (std::vector<std::string>{"/p0.png", "/p1.png", "/p2.png", "/p3.png", "/p4.png"}));
}

TEST_F(PrefetcherTest, WhatAReplacedOrCancelledRunLeftQueuedStartsNothing) {
    // Cached images answer at once, so each one queues the start of the next load on the main queue.
    std::vector<URLPtr> cached = {url("/c0.png"), url("/c1.png"), url("/c2.png")};
    for (const auto& imageURL : cached)
        cache->storeImage(image(1, 1), imageURL->absoluteString(), false);
    auto gate = server.makeGate();
    server.routePrefix("GET", "/n", liveapp::test::replyAfter(gate, imageReply(png(1, 1))));
    prefetcher->setMaxConcurrentDownloads(1);

    prefetcher->prefetchURLs(cached);
    prefetcher->prefetchURLs({url("/n0.png"), url("/n1.png"), url("/n2.png")});
    drainMainQueue();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return gate->arrivals() == 1; }));
    drainMainQueue();
    EXPECT_EQ(prefetcher->requestedCount(), 1u); // one at a time: the older run's queued starts did nothing

    prefetcher->prefetchURLs(cached);
    prefetcher->cancelPrefetching();
    drainMainQueue();
    EXPECT_EQ(prefetcher->requestedCount(), 0u);
    EXPECT_EQ(prefetcher->finishedCount(), 0u);
}

} // namespace
