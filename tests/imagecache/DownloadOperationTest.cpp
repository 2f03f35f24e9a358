#include "imagecache/UIImage+MultiFormat.h"
#include "imagecache/WebImageOperation.h"
#include "platform/dispatch/OperationQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/URLCredentialStorage.h"
#include "platform/net/URLError.h"
#include "platform/ui/UIApplication.h"
#include "tests/imagecache/LoaderTestSupport.h"

#include <memory>
#include <mutex>
#include <random>

using namespace platform;
using namespace imagetest;
using liveapp::test::HttpRequest;
using liveapp::test::HttpResponse;
using liveapp::test::pumpMainLoopUntil;

namespace {

// The downloader's notifications about one operation, by name, in the order posted.
struct NotificationLog {
    NotificationLog() {
        m_token = NotificationCenter::defaultCenter().addObserverForName(
            "", nullptr, [this](const Notification& n) {
                if (n.name().starts_with("WebImageDownload"))
                    seen.emplace_back(n.name(), n.object().get());
            });
    }
    ~NotificationLog() { NotificationCenter::defaultCenter().removeObserver(m_token.get()); }

    std::vector<std::string> about(const std::shared_ptr<WebImageDownloaderOperation>& operation) const {
        std::vector<std::string> names;
        for (const auto& [name, object] : seen)
            if (object == static_cast<const Object*>(operation.get()))
                names.push_back(name);
        return names;
    }
    NotificationObserver m_token;
    std::vector<std::pair<std::string, const Object*>> seen;
};

// A picture that compresses badly, so that half of its encoding holds about half of its rows.
CGImageRef noisyBitmap(int width, int height) {
    auto bitmap = Bitmap::create(width, height, kCGImageAlphaNoneSkipFirst);
    std::mt19937 random(7);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bitmap->mutableRow(y)[x] = 0xFF000000u | (random() & 0xFFFFFFu);
    return bitmap;
}

Data noisyPNG(int width, int height) {
    return *encodePNG(*noisyBitmap(width, height));
}

class DownloadOperationTest : public LoaderTest {
protected:
    // Runs one download through the downloader and waits for its final report.
    Report download(const std::string& path, WebImageFetchOptions options = 0) {
        Reports reports;
        // The log knows operations by address: the ones before stay alive, so no new one takes an
        // earlier one's address and its notifications.
        if (operation)
            earlier.push_back(operation);
        operation = downloader->downloadImageWithURL(url(path), options, nullptr, reports.downloadBlock());
        EXPECT_TRUE(pumpMainLoopUntil([&] { return reports.size() == 1 && operation->isFinished(); }));
        // The notifications are queued on the main queue behind the completion.
        pumpMainLoopUntil([&] { return log.about(operation).size() >= 2; });
        return reports.size() ? reports.last() : Report{};
    }

    NotificationLog log;
    std::shared_ptr<WebImageDownloaderOperation> operation;
    std::vector<std::shared_ptr<WebImageDownloaderOperation>> earlier;
};

TEST_F(DownloadOperationTest, ADownloadAnnouncesItsLifeAndARejectedStatusFailsWithTheStatusAsCode) {
    server.route("GET", "/a.png", imageReply(png(6, 3)));
    Report report = download("/a.png");
    ASSERT_TRUE(report.image);
    EXPECT_EQ(report.image->size(), CGSizeMake(6, 3));
    ASSERT_TRUE(pumpMainLoopUntil([&] { return log.about(operation).size() == 4; }));
    EXPECT_EQ(log.about(operation), (std::vector<std::string>{"WebImageDownloadStartNotification",
                                                              "WebImageDownloadReceiveResponseNotification",
                                                              "WebImageDownloadStopNotification",
                                                              "WebImageDownloadFinishNotification"}));
    server.route("GET", "/broken", HttpResponse::text(500, "oops"));
    for (auto [path, status] : {std::pair{"/missing.png", 404}, std::pair{"/broken", 500}}) {
        report = download(path);
        EXPECT_FALSE(report.image);
        EXPECT_EQ(describe(report.error), "NSURLErrorDomain " + std::to_string(status)) << path;
        EXPECT_TRUE(report.finished);
        EXPECT_EQ(log.about(operation), (std::vector<std::string>{"WebImageDownloadStartNotification",
                                                                  "WebImageDownloadStopNotification"}));
    }
}

// Not modified, or cancelled before it starts (never connecting): cancelled, never completed.
TEST_F(DownloadOperationTest, NotModifiedOrCancelledEarlyEndsWithoutACompletion) {
    server.route("GET", "/a.png", liveapp::test::replyConditionally(imageReply(png(2, 2)), "\"v1\""));
    MutableURLRequest request(url("/a.png"), NSURLRequestReloadIgnoringLocalCacheData, 15);
    request.setValue("\"v1\"", "If-None-Match");
    int cancelled = 0, completed = 0;
    auto make = [&](const URLRequest& made) {
        return WebImageDownloaderOperation::initWithRequest(
            made, 0, nullptr, [&](UIImagePtr, std::optional<Data>, ErrorPtr, bool) { ++completed; },
            [&] { ++cancelled; });
    };
    auto early = make(URLRequest(url("/a.png")));
    early->cancel();
    EXPECT_EQ(cancelled, 1);
    auto queue = OperationQueue::create();
    queue->addOperation(early);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return early->isFinished(); }));
    EXPECT_EQ(server.requestCount(), 0u);

    auto notModified = make(request);
    queue->addOperation(notModified);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return log.about(notModified).size() == 3; }));
    EXPECT_EQ(log.about(notModified), (std::vector<std::string>{"WebImageDownloadStartNotification",
                                                                "WebImageDownloadStopNotification",
                                                                "WebImageDownloadStopNotification"}));
    EXPECT_EQ(cancelled, 2);
    EXPECT_EQ(completed, 0);
    EXPECT_TRUE(notModified->isFinished());
}

TEST_F(DownloadOperationTest, BytesThatAreNoImageGiveZeroPixelsAndALyingLengthDoesNotSizeTheBuffer) {
    std::string truncatedHeader = png(8, 8).toString().substr(0, 20);
    server.route("GET", "/text", HttpResponse::text(200, "not an image"));
    server.route("GET", "/empty", HttpResponse::text(200, ""));
    server.route("GET", "/header", imageReply(Data(std::string_view(truncatedHeader))));
    for (const char* path : {"/text", "/empty", "/header"}) {
        Report report = download(path);
        EXPECT_FALSE(report.image) << path;
        EXPECT_EQ(describe(report.error) + ": " + report.error->localizedDescription(),
                  "WebImageErrorDomain 0: Downloaded image has 0 pixels");
    }

    // A lying content length does not size the buffer.
    server.route("GET", "/huge.png", [](const HttpRequest&, HttpResponse& out) {
        out.headers.set("Content-Type", "image/png");
        out.contentLength = uint64_t(1) << 50;
        out.bodyWriter = [](liveapp::test::HttpBodySink& sink) {
            sink.write(png(2, 2).toString());
            return false; // the connection drops far short of the announced length
        };
    });
    Reports reports;
    // The totals arrive on the download's own thread, and a last one may come after this test's body
    // has returned: they are kept where that call can still reach them.
    struct Totals {
        std::mutex mutex;
        std::vector<int64_t> seen;
    };
    auto expected = std::make_shared<Totals>();
    downloader->downloadImageWithURL(
        url("/huge.png"), WebImageFetchProgressive,
        [expected](int64_t, int64_t total) {
            std::lock_guard lock(expected->mutex);
            expected->seen.push_back(total);
        },
        reports.downloadBlock());
    ASSERT_TRUE(pumpMainLoopUntil([&] { return reports.size() > 0 && reports.last().finished; }));
    EXPECT_FALSE(reports.last().image);
    EXPECT_EQ(describe(reports.last().error).substr(0, 16), "NSURLErrorDomain");
    ASSERT_TRUE(pumpMainLoopUntil([&] {
        std::lock_guard lock(expected->mutex);
        return expected->seen.size() >= 2;
    }));
    std::lock_guard lock(expected->mutex);
    EXPECT_EQ(expected->seen[1], int64_t(1) << 50);
}

// The server holds a file cut short and says so honestly in its Content-Length: the transfer succeeds,
// the picture does not, and nothing of it reaches the cache.
TEST_F(DownloadOperationTest, AnImageCutShortOnTheServerFailsAndIsNotCached) {
    std::string plain = noisyPNG(512, 510).toString();
    std::string photo = encodeJPEG(*noisyBitmap(96, 96), 0.9)->toString();
    const std::pair<const char*, std::string> cases[] = {{"/cut.png", plain.substr(0, plain.size() / 2)},
                                                         {"/cut.jpg", photo.substr(0, photo.size() / 2)}};
    for (const auto& [path, bytes] : cases) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(wi_imageWithData(Data(std::string_view(bytes)))); // what a partial image shows
        server.route("GET", path, imageReply(Data(std::string_view(bytes))));
        Reports reports;
        manager->downloadImageWithURL(url(path), 0, nullptr, reports.loadBlock());
        ASSERT_TRUE(pumpMainLoopUntil([&] { return reports.size() > 0 && reports.last().finished; }));
        Report report = reports.last();
        EXPECT_FALSE(report.image);
        ASSERT_TRUE(report.error);
        EXPECT_EQ(describe(report.error) + ": " + report.error->localizedDescription(),
                  "WebImageErrorDomain 0: Downloaded image has 0 pixels");
        flushCache();
        EXPECT_FALSE(cache->diskImageExistsWithKey(url(path)->absoluteString()));
        EXPECT_FALSE(cache->imageFromMemoryCacheForKey(url(path)->absoluteString()));
    }
}

// A byte now and then keeps the request's own time-out from ever firing; only the limit on the whole
// exchange frees the download slot.
TEST_F(DownloadOperationTest, ADownloadThatTricklesPastTheWholeExchangeLimitTimesOut) {
    EXPECT_EQ(downloader->downloadResourceTimeout(), 60);
    server.route("GET", "/trickle.png", [](const HttpRequest&, HttpResponse& out) {
        out.headers.set("Content-Type", "image/png");
        out.bodyWriter = [](liveapp::test::HttpBodySink& sink) {
            std::string body = png(8, 8).toString();
            for (size_t at = 0; sink.write(body.substr(at % body.size(), 1)); ++at)
                if (!sink.pause(std::chrono::milliseconds(20)))
                    break;
            return false;
        };
    });
    downloader->setDownloadResourceTimeout(0.3);
    Report report = download("/trickle.png");
    EXPECT_FALSE(report.image);
    EXPECT_EQ(describe(report.error), "NSURLErrorDomain -1001");
    EXPECT_TRUE(report.finished);
}

// The server asks for Basic authentication in the realm "images"; the credential the test stored for that
// protection space answers only when the operation lets its connection use the storage.
TEST_F(DownloadOperationTest, TheCredentialStorageAnswersAChallengeOnlyWhenTheOperationAllowsIt) {
    server.route("GET", "/private.png", [](const HttpRequest& request, HttpResponse& response) {
        if (request.header("Authorization") == "Basic dXNlcjpzZWNyZXQ=") // user:secret
            response = imageReply(png(3, 3));
        else
            response =
                HttpResponse::text(401, "who are you?").header("WWW-Authenticate", "Basic realm=\"images\"");
    });
    URLCredentialStorage::sharedCredentialStorage()->setDefaultCredential(
        URLCredential::credentialWithUser("user", "secret", NSURLCredentialPersistenceForSession),
        std::make_shared<const URLProtectionSpace>("127.0.0.1", server.port(), "http", "images",
                                                   NSURLAuthenticationMethodHTTPBasic));
    auto queue = OperationQueue::create();
    for (bool useStorage : {false, true}) {
        SCOPED_TRACE(useStorage ? "with the storage" : "without the storage");
        Reports reports;
        auto operation = WebImageDownloaderOperation::initWithRequest(
            MutableURLRequest(url("/private.png"), NSURLRequestReloadIgnoringLocalCacheData, 15), 0, nullptr,
            reports.downloadBlock(), nullptr);
        EXPECT_TRUE(operation->shouldUseCredentialStorage());
        operation->setShouldUseCredentialStorage(useStorage);
        queue->addOperation(operation);
        ASSERT_TRUE(pumpMainLoopUntil([&] { return reports.size() == 1 && operation->isFinished(); }));
        Report report = reports.last();
        EXPECT_EQ(describe(report.error), useStorage ? "none" : "NSURLErrorDomain 401");
        EXPECT_EQ(report.image ? report.image->size() : CGSizeZero,
                  useStorage ? CGSizeMake(3, 3) : CGSizeZero);
    }
}

TEST_F(DownloadOperationTest, PartialImagesComeOnlyWithTheOptionAndAKnownLength) {
    std::string body = noisyPNG(64, 64).toString();
    const std::tuple<const char*, WebImageFetchOptions, bool, bool> cases[] = {
        {"/progressive", WebImageFetchProgressive, false, true},
        {"/plain", 0, false, false},
        {"/chunked", WebImageFetchProgressive, true, false}};
    for (const auto& [path, options, chunked, partial] : cases) {
        auto gate = server.makeGate();
        server.route("GET", path,
                     liveapp::test::bodyHeldAt(gate, body, body.size() / 2, chunked, "image/png"));
        Reports reports;
        downloader->downloadImageWithURL(url(path), options, nullptr, reports.downloadBlock());
        ASSERT_TRUE(gate->waitForArrivals(1));
        if (partial) {
            ASSERT_TRUE(pumpMainLoopUntil([&] { return reports.size() > 0; })); // while the rest is held
        }
        gate->open();
        ASSERT_TRUE(pumpMainLoopUntil([&] { return reports.size() > 0 && reports.last().finished; }));

        auto all = reports.all();
        EXPECT_EQ(all.size() > 1, partial) << path;
        for (size_t i = 0; i + 1 < all.size(); ++i) {
            EXPECT_TRUE(!all[i].finished && all[i].onMainThread);
            ASSERT_TRUE(all[i].image);
            EXPECT_EQ(all[i].image->size(), CGSizeMake(64, 64));
        }
        EXPECT_EQ(all.back().image->size(), CGSizeMake(64, 64));
    }
}

TEST_F(DownloadOperationTest, AResponseServedByTheURLCacheCompletesEmptyWhenAskedTo) {
    HttpResponse cacheable = imageReply(png(3, 3));
    cacheable.headers.set("Cache-Control", "max-age=3600");
    server.route("GET", "/cached.png", cacheable);
    const WebImageFetchOptions options = WebImageFetchUseNSURLCache | WebImageFetchIgnoreCachedResponse;
    Report fromNetwork = download("/cached.png", options);
    EXPECT_TRUE(fromNetwork.image);
    Report fromCache = download("/cached.png", options);
    EXPECT_TRUE(!fromCache.image && !fromCache.error && fromCache.finished);
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(DownloadOperationTest, ABackgroundTaskIsHeldUntilTheDownloadEndsAndItsExpiryCancels) {
    auto gate = server.makeGate();
    server.route("GET", "/a.png", liveapp::test::replyAfter(gate, imageReply(png(1, 1))));
    server.route("GET", "/b.png", imageReply(png(1, 1)));
    auto application = UIApplication::sharedApplication();
    Reports held, finishing;

    auto expiring = downloader->downloadImageWithURL(url("/a.png"), WebImageFetchContinueInBackground,
                                                     nullptr, held.downloadBlock());
    ASSERT_TRUE(gate->waitForArrivals(1));
    EXPECT_EQ(application->backgroundTaskCount(), 1u);
    application->simulateBackgroundTaskExpiry();
    ASSERT_TRUE(
        pumpMainLoopUntil([&] { return expiring->isFinished() && application->backgroundTaskCount() == 0; }));
    EXPECT_TRUE(expiring->isCancelled());

    // The completion is reported from the download's thread just before that thread lets go of
    // its task, so the count reaches zero a moment after the report.
    download("/b.png", WebImageFetchContinueInBackground);
    EXPECT_TRUE(pumpMainLoopUntil([&] { return application->backgroundTaskCount() == 0; }));
    EXPECT_EQ(held.size(), 0u);
}

} // namespace
