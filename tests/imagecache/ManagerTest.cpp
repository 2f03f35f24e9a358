#include "tests/imagecache/LoaderTestSupport.h"
#include "tests/support/FakeResolver.h"

#include <netdb.h>

using namespace platform;
using namespace imagetest;
using liveapp::test::HttpResponse;
using liveapp::test::pumpMainLoopUntil;

namespace {

class ManagerTest : public LoaderTest {
protected:
    Report load(const URLPtr& imageURL, WebImageLoadOptions options = 0) {
        Reports reports;
        manager->downloadImageWithURL(imageURL, options, nullptr, reports.loadBlock());
        EXPECT_TRUE(pumpMainLoopUntil([&] { return reports.size() > 0 && reports.last().finished; }));
        return reports.size() ? reports.last() : Report{};
    }
};

// Answers what the test says, and says that it answers.
class ScriptedDelegate : public WebImageManagerDelegate {
public:
    bool respondsTo(std::string_view selector) const override {
        return (allowDownloads.has_value() && selector == "imageManager:shouldDownloadImageForURL:") ||
               (transform && selector == "imageManager:transformDownloadedImage:withURL:");
    }
    bool imageManagerShouldDownloadImageForURL(WebImageManager&, const URLPtr&) override {
        return *allowDownloads;
    }
    UIImagePtr imageManagerTransformDownloadedImage(WebImageManager&, const UIImagePtr&,
                                                    const URLPtr&) override {
        transformedOnMain = RunLoop::isMainThread();
        return transform;
    }

    std::optional<bool> allowDownloads;
    UIImagePtr transform;
    bool transformedOnMain{true};
};

// A miss is downloaded, stored and then found on disk; a memory hit answers before the call returns;
// memory-only loads leave the disk alone; a key filter lets URLs share an entry.
TEST_F(ManagerTest, LoadsGoThroughTheCacheTiers) {
    server.route("GET", "/a.png", imageReply(png(4, 4)));
    server.route("GET", "/b.png", imageReply(png(1, 1)));
    Report downloaded = load(url("/a.png"));
    ASSERT_TRUE(downloaded.image);
    EXPECT_EQ(downloaded.source, ImageCacheSourceNone);
    EXPECT_TRUE(downloaded.onMainThread);
    EXPECT_TRUE(pumpMainLoopUntil([&] { return !manager->isRunning(); }));
    flushCache();
    EXPECT_EQ(cache->diskImageDataBySearchingAllPathsForKey(url("/a.png")->absoluteString()), png(4, 4));
    cache->clearMemory();
    EXPECT_EQ(load(url("/a.png")).source, ImageCacheSourceDisk);

    Reports reports;
    manager->downloadImageWithURL(url("/a.png"), 0, nullptr, reports.loadBlock());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports.last().source, ImageCacheSourceMemory);
    EXPECT_FALSE(manager->isRunning());
    EXPECT_EQ(server.requestCount(), 1u);

    ASSERT_TRUE(load(url("/b.png"), WebImageLoadCacheMemoryOnly).image);
    flushCache();
    EXPECT_TRUE(manager->cachedImageExistsForURL(url("/b.png")));
    EXPECT_FALSE(manager->diskImageExistsForURL(url("/b.png")));

    manager->setCacheKeyFilter([](const URLPtr& imageURL) {
        std::string text = imageURL->absoluteString();
        return text.substr(0, text.find('?'));
    });
    EXPECT_EQ(load(url("/a.png?token=1")).source, ImageCacheSourceMemory);
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(ManagerTest, FailedURLsAreRefusedUntilARetrySucceedsUnlessTheFailureWasTransient) {
    server.route("GET", "/a.png",
                 liveapp::test::replyInTurn({HttpResponse::notFound(), imageReply(png(1, 1))}));
    EXPECT_EQ(describe(load(url("/a.png")).error), "NSURLErrorDomain 404");
    // Remembered by the download's thread once the failure has been reported.
    ASSERT_TRUE(pumpMainLoopUntil([&] { return manager->isFailedURL(url("/a.png")); }));
    EXPECT_EQ(describe(load(url("/a.png")).error), "NSURLErrorDomain -1100");
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_TRUE(load(url("/a.png"), WebImageLoadRetryFailed).image);
    EXPECT_FALSE(manager->isFailedURL(url("/a.png")));

    auto resolver = std::make_shared<liveapp::test::FakeResolver>();
    resolver->fail("offline.example.test", EAI_AGAIN);
    liveapp::test::ScopedResolver installed(resolver);
    auto offline = URL::create("http://offline.example.test/a.png");
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_EQ(describe(load(offline).error), "NSURLErrorDomain -1009");
    EXPECT_EQ(resolver->lookupCount("offline.example.test"), 2u);
}

TEST_F(ManagerTest, EmptyAndUnparsableURLsAreRefusedAtOnceAndTextsAreURLs) {
    for (const std::string& text : {std::string(), std::string("not a url")}) {
        Reports reports;
        manager->downloadImageWithURL(text, 0, nullptr, reports.loadBlock());
        ASSERT_EQ(reports.size(), 1u) << text;
        EXPECT_EQ(describe(reports.last().error), "NSURLErrorDomain -1100");
        EXPECT_FALSE(manager->isRunning());
    }
    server.route("GET", "/a.png", imageReply(png(1, 1)));
    Reports byText;
    manager->downloadImageWithURL(server.url("/a.png"), 0, nullptr, byText.loadBlock());
    ASSERT_TRUE(pumpMainLoopUntil([&] { return byText.size() == 1; }));
    EXPECT_TRUE(byText.last().image);
}

TEST_F(ManagerTest, CancellingTheSecondOfTwoLoadsKeepsTheFirstAndTheFirstStopsBoth) {
    // Cancelled before its cache query runs, a load stops running at once and never reports.
    cache->ioQueue()->suspend();
    Reports never;
    auto early = manager->downloadImageWithURL(url("/a.png"), 0, nullptr, never.loadBlock());
    EXPECT_TRUE(manager->isRunning());
    early->cancel();
    EXPECT_FALSE(manager->isRunning());
    cache->ioQueue()->resume();
    flushCache();
    EXPECT_EQ(never.size(), 0u);

    auto gate = server.makeGate();
    server.route("GET", "/a.png", liveapp::test::replyAfter(gate, imageReply(png(1, 1))));
    server.route("GET", "/b.png", liveapp::test::replyAfter(gate, imageReply(png(1, 1))));
    Reports keptFirst, cancelledSecond, stoppedFirst, stoppedSecond;
    manager->downloadImageWithURL(url("/a.png"), 0, nullptr, keptFirst.loadBlock());
    auto second = manager->downloadImageWithURL(url("/a.png"), 0, nullptr, cancelledSecond.loadBlock());
    auto first = manager->downloadImageWithURL(url("/b.png"), 0, nullptr, stoppedFirst.loadBlock());
    manager->downloadImageWithURL(url("/b.png"), 0, nullptr, stoppedSecond.loadBlock());
    ASSERT_TRUE(pumpMainLoopUntil([&] { return gate->arrivals() == 2; })); // loads start after their query
    second->cancel();
    first->cancel();
    gate->open();

    ASSERT_TRUE(pumpMainLoopUntil([&] { return keptFirst.size() == 1; }));
    ASSERT_TRUE(pumpMainLoopUntil([&] { return downloader->currentDownloadCount() == 0; }));
    EXPECT_TRUE(keptFirst.last().image);
    EXPECT_EQ(never.size() + cancelledSecond.size() + stoppedFirst.size() + stoppedSecond.size(), 0u);
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(ManagerTest, TheDelegateMayForbidDownloadsOrTransformWhatIsDownloaded) {
    server.route("GET", "/a.png", imageReply(png(2, 2)));
    auto delegate = std::make_shared<ScriptedDelegate>();
    manager->setDelegate(delegate);

    delegate->allowDownloads = false;
    Report forbidden = load(url("/a.png"));
    EXPECT_FALSE(forbidden.image);
    EXPECT_FALSE(forbidden.error);
    EXPECT_EQ(server.requestCount(), 0u);

    delegate->allowDownloads.reset();
    delegate->transform = image(5, 5, true);
    Report transformed = load(url("/a.png"));
    EXPECT_EQ(transformed.image, delegate->transform);
    EXPECT_FALSE(delegate->transformedOnMain);
    flushCache();
    // Stored as the transformed image, re-encoded (it has alpha, so as PNG), not as the downloaded bytes.
    auto stored = cache->diskImageDataBySearchingAllPathsForKey(url("/a.png")->absoluteString());
    ASSERT_TRUE(stored);
    EXPECT_EQ(UIImage::imageWithData(*stored)->size(), CGSizeMake(5, 5));
}

} // namespace
