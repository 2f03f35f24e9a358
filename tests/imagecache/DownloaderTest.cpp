#include "platform/dispatch/DispatchQueue.h"
#include "tests/imagecache/LoaderTestSupport.h"

using namespace platform;
using namespace imagetest;
using liveapp::test::HttpResponse;
using liveapp::test::pumpMainLoopUntil;

namespace {

class DownloaderTest : public LoaderTest {};

TEST_F(DownloaderTest, CallersOfOneURLShareOneRequestAndCancellingItForgetsThemAll) {
    auto gate = server.makeGate();
    server.route("GET", "/a.png", liveapp::test::replyAfter(gate, imageReply(png(4, 2))));
    Reports first, second, cancelled, later;
    EXPECT_NE(downloader->downloadImageWithURL(url("/a.png"), 0, nullptr, first.downloadBlock()), nullptr);
    EXPECT_EQ(downloader->downloadImageWithURL(url("/a.png"), 0, nullptr, second.downloadBlock()), nullptr);
    ASSERT_TRUE(gate->waitForArrivals(1));
    gate->open();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return first.size() == 1 && second.size() == 1; }));
    EXPECT_EQ(server.requestCount(), 1u);
    ASSERT_TRUE(first.last().image);
    EXPECT_EQ(first.last().image->size(), CGSizeMake(4, 2));
    EXPECT_EQ(first.last().image, second.last().image);
    EXPECT_TRUE(first.last().finished && second.last().finished);
    EXPECT_FALSE(first.last().onMainThread || second.last().onMainThread);

    auto held = server.makeGate();
    server.route("GET", "/b.png", liveapp::test::replyAfter(held, imageReply(png(4, 2))));
    auto operation = downloader->downloadImageWithURL(url("/b.png"), 0, nullptr, cancelled.downloadBlock());
    downloader->downloadImageWithURL(url("/b.png"), 0, nullptr, cancelled.downloadBlock());
    ASSERT_TRUE(held->waitForArrivals(1));
    operation->cancel();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return operation->isFinished(); }));
    // The URL is free again: a new caller makes a new request, and only it hears the answer.
    held->open();
    EXPECT_NE(downloader->downloadImageWithURL(url("/b.png"), 0, nullptr, later.downloadBlock()), nullptr);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return later.size() == 1; }));
    EXPECT_TRUE(later.last().image);
    EXPECT_EQ(cancelled.size(), 0u);
    EXPECT_EQ(server.requestCount(), 3u);
}

TEST_F(DownloaderTest, LastInFirstOutWithOneDownloadAtATimeRunsTheNewestFirst) {
    auto gate = server.makeGate();
    server.route("GET", "/a.png", liveapp::test::replyAfter(gate, imageReply(png(1, 1))));
    server.route("GET", "/b.png", imageReply(png(1, 1)));
    server.route("GET", "/c.png", imageReply(png(1, 1)));
    downloader->setMaxConcurrentDownloads(1);
    downloader->setExecutionOrder(WebImageDownloaderLIFOExecutionOrder);
    Reports reports;
    downloader->downloadImageWithURL(url("/a.png"), 0, nullptr, reports.downloadBlock());
    ASSERT_TRUE(gate->waitForArrivals(1));
    downloader->downloadImageWithURL(url("/b.png"), 0, nullptr, reports.downloadBlock());
    downloader->downloadImageWithURL(url("/c.png"), 0, nullptr, reports.downloadBlock());
    gate->open();

    ASSERT_TRUE(pumpMainLoopUntil([&] { return reports.size() == 3; }));
    EXPECT_EQ(requestPaths(), (std::vector<std::string>{"/a.png", "/c.png", "/b.png"}));
}

TEST_F(DownloaderTest, RequestsCarryTheDownloadersSettings) {
    server.route("GET", "/a.png", imageReply(png(1, 1)));
    downloader->setSuspended(true); // the operations are looked at, not run
    downloader->setDownloadTimeout(0);
    auto plain = downloader->downloadImageWithURL(url("/a.png?1"), 0, nullptr, nullptr);
    EXPECT_EQ(std::tuple(plain->request().timeoutInterval(), plain->request().cachePolicy(),
                         plain->request().HTTPShouldHandleCookies()),
              std::tuple(15.0, NSURLRequestReloadIgnoringLocalCacheData, false));
    EXPECT_EQ(plain->request().valueForHTTPHeaderField("Accept"), "image/*;q=0.8");

    downloader->setValue(std::nullopt, "Accept");
    downloader->setHeadersFilter([](const URLPtr&, const HTTPHeaderFields& headers) {
        HTTPHeaderFields copy = headers;
        copy.setValue("filtered", "X-Filter");
        return copy;
    });
    auto cached = downloader->downloadImageWithURL(
        url("/a.png?2"), WebImageFetchUseNSURLCache | WebImageFetchHandleCookies, nullptr, nullptr);
    EXPECT_EQ(cached->request().cachePolicy(), NSURLRequestUseProtocolCachePolicy);
    EXPECT_TRUE(cached->request().HTTPShouldHandleCookies());
    EXPECT_FALSE(cached->request().valueForHTTPHeaderField("Accept").has_value());
    EXPECT_EQ(cached->request().valueForHTTPHeaderField("X-Filter"), "filtered");
    EXPECT_FALSE(downloader->valueForHTTPHeaderField("X-Filter").has_value()); // the filter had a copy

    int n = 0;
    for (auto [options, priority] :
         {std::pair{0, OperationQueuePriority::Normal}, std::pair{1, OperationQueuePriority::Low},
          std::pair{128, OperationQueuePriority::High}, std::pair{129, OperationQueuePriority::High}}) {
        auto operation = downloader->downloadImageWithURL(url("/p" + std::to_string(n++)),
                                                          WebImageFetchOptions(options), nullptr, nullptr);
        EXPECT_EQ(operation->queuePriority(), priority) << options;
    }
}

TEST_F(DownloaderTest, ProgressStartsUnknownThenExpectedThenFollowsTheBytes) {
    auto gate = server.makeGate();
    std::string body = png(64, 64).toString();
    server.route("GET", "/a.png", liveapp::test::bodyHeldAt(gate, body, body.size() / 2, false, "image/png"));
    std::vector<std::pair<int64_t, int64_t>> progress;
    bool mainOnly = true;
    Reports reports;
    downloader->downloadImageWithURL(
        url("/a.png"), 0,
        [&](int64_t received, int64_t expected) {
            mainOnly = mainOnly && RunLoop::isMainThread();
            progress.emplace_back(received, expected);
        },
        reports.downloadBlock());
    ASSERT_TRUE(gate->waitForArrivals(1));
    gate->open();
    ASSERT_TRUE(pumpMainLoopUntil([&] {
        return reports.size() == 1 && progress.size() >= 3 && progress.back().first == int64_t(body.size());
    }));

    const int64_t size = int64_t(body.size());
    EXPECT_EQ(progress[0], std::make_pair(int64_t(0), int64_t(-1)));
    for (size_t i = 1; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i].first > progress[i - 1].first, i > 1) << i;
        EXPECT_EQ(progress[i].second, size);
    }
    EXPECT_TRUE(mainOnly);
}

} // namespace
