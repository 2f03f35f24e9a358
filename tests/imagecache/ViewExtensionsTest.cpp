// The view extensions over the shared manager: a second load for a slot cancels the first, a nil URL's
// error in every kind of slot, the two options the extensions act on, and animation frames in the order
// their loads complete.

#include "imagecache/UIButton+WebCache.h"
#include "imagecache/UIImageView+WebCache.h"
#include "imagecache/UIView+WebCacheOperation.h"
#include "tests/imagecache/LoaderTestSupport.h"

using namespace platform;
using namespace imagetest;
using liveapp::test::HttpResponse;
using liveapp::test::pumpMainLoopUntil;

namespace {

class ViewExtensionsTest : public testing::Test {
protected:
    void TearDown() override {
        const auto& downloader = WebImageDownloader::sharedDownloader();
        downloader->cancelAllDownloads();
        EXPECT_TRUE(pumpMainLoopUntil([&] { return downloader->currentDownloadCount() == 0; }));
    }

    URLPtr url(const std::string& path) const { return URL::create(server.url(path)); }
    WebImageCompletionBlock record() { return reports.viewBlock(); }
    static double widthOf(const UIImagePtr& image) { return image ? image->size().width : 0; }

    liveapp::test::HttpServer server;
    UIImageViewPtr view = UIImageView::create();
    UIImagePtr placeholder = image(1, 1);
    Reports reports;
};

TEST_F(ViewExtensionsTest, ASecondLoadForTheSlotCancelsTheFirst) {
    auto gate = server.makeGate();
    server.route("GET", "/slow.png", liveapp::test::replyAfter(gate, imageReply(png(2, 2))));
    server.route("GET", "/b.png", imageReply(png(3, 3)));
    wi_setImageWithURL(view, url("/slow.png"), placeholder, 0, {}, record());
    // The manager looks in the cache first and answers on the main thread: pump while waiting.
    ASSERT_TRUE(pumpMainLoopUntil([&] { return gate->arrivals() == 1; }));
    wi_setImageWithURL(view, url("/b.png"), placeholder, 0, {}, record());
    ASSERT_TRUE(pumpMainLoopUntil([&] { return reports.size() > 0; }));
    gate->open();
    const auto& downloader = WebImageDownloader::sharedDownloader();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return downloader->currentDownloadCount() == 0; }));
    liveapp::test::pumpMainLoopOnce();

    ASSERT_EQ(reports.size(), 1u) << "the first load reports nothing once cancelled";
    EXPECT_EQ(widthOf(reports.all()[0].image), 3);
    EXPECT_EQ(widthOf(view->image()), 3);
    EXPECT_EQ(wi_imageURL(*view)->absoluteString(), server.url("/b.png"));
    EXPECT_EQ(operationDictionary(*view).count(kImageViewImageLoadKey), 1u);
}

TEST_F(ViewExtensionsTest, ANilURLReportsItsErrorInEverySlotAndLoadsNothing) {
    auto button = UIButton::create();
    imageURLStorage(*button)[UIControlStateSelected] = url("/old.png");
    const std::function<void()> loads[] = {
        [&] { wi_setImageWithURL(view, nullptr, placeholder, 0, {}, record()); },
        [&] { wi_setHighlightedImageWithURL(view, nullptr, 0, {}, record()); },
        [&] { wi_setImageWithURL(button, nullptr, UIControlStateSelected, placeholder, 0, record()); },
        [&] {
            wi_setBackgroundImageWithURL(button, nullptr, UIControlStateNormal, placeholder, 0, record());
        },
    };
    for (const auto& load : loads)
        load();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return reports.size() == 4; }));
    for (const auto& report : reports.all()) {
        EXPECT_EQ(describe(report.error) + ": " + report.error->localizedDescription(),
                  "WebImageErrorDomain -1: Trying to load a nil url");
        EXPECT_TRUE(!report.image && !report.url && report.source == ImageCacheSourceNone);
    }
    EXPECT_EQ(view->image(), placeholder);
    EXPECT_EQ(wi_imageURL(*view), nullptr);
    EXPECT_EQ(button->imageForState(UIControlStateSelected), placeholder);
    EXPECT_EQ(button->backgroundImageForState(UIControlStateNormal), placeholder);
    EXPECT_EQ(wi_imageURLForState(*button, UIControlStateSelected), nullptr);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(ViewExtensionsTest, AvoidAutoSetImageHandsTheImageToTheCompletionAndDelayPlaceholderWaitsForTheEnd) {
    server.route("GET", "/a.png", imageReply(png(2, 2)));
    wi_setImageWithURL(view, url("/a.png"), placeholder, WebImageLoadAvoidAutoSetImage, {}, record());
    ASSERT_TRUE(pumpMainLoopUntil([&] { return reports.size() > 0; }));
    EXPECT_EQ(widthOf(reports.all()[0].image), 2);
    EXPECT_EQ(view->image(), placeholder);

    // Without a completion there is no one to hand it to: the view takes it (from the memory cache now).
    wi_setImageWithURL(view, url("/a.png"), placeholder, WebImageLoadAvoidAutoSetImage);
    EXPECT_TRUE(pumpMainLoopUntil([&] { return widthOf(view->image()) == 2; }));

    // Delaying the placeholder shows it only when no image came.
    server.route("GET", "/missing.png", HttpResponse::notFound());
    auto shown = image(5, 5);
    view->setImage(shown);
    wi_setImageWithURL(view, url("/missing.png"), placeholder, WebImageLoadDelayPlaceholder, {}, record());
    liveapp::test::pumpMainLoopOnce();
    EXPECT_EQ(view->image(), shown);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return reports.size() == 2; }));
    ASSERT_TRUE(reports.all()[1].error);
    EXPECT_EQ(view->image(), placeholder);
}

TEST_F(ViewExtensionsTest, AnimationFramesAppearInTheOrderTheirLoadsComplete) {
    auto gate = server.makeGate();
    server.route("GET", "/first.png", liveapp::test::replyAfter(gate, imageReply(png(2, 2))));
    server.route("GET", "/second.png", imageReply(png(3, 3)));
    server.route("GET", "/missing.png", HttpResponse::notFound());
    wi_setAnimationImagesWithURLs(view, {url("/first.png"), url("/missing.png"), url("/second.png")});
    ASSERT_EQ(operationDictionary(*view).at(kImageViewAnimationImagesKey).size(), 3u);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return view->animationImages().size() == 1; }));
    gate->open();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return view->animationImages().size() == 2; }));
    EXPECT_EQ(widthOf(view->animationImages()[0]), 3);
    EXPECT_EQ(widthOf(view->animationImages()[1]), 2);
    EXPECT_TRUE(view->isAnimating());
}

} // namespace
