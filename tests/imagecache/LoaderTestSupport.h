#pragma once
// What the image loader's tests share: small encoded images, an HTTP server on 127.0.0.1, and a cache,
// downloader and manager of the test's own (the shared ones live for the whole process). Completions are
// recorded with the thread they came on. Tear-down waits, pumping the main loop, until no download is
// left (a download may be waiting for the main thread) and the cache has written what they stored: a
// write still under way when the process ends would race with the end of the file helpers.

#include "imagecache/ImageCache.h"
#include "imagecache/UIImageView+WebCache.h"
#include "imagecache/WebImageDownloader.h"
#include "imagecache/WebImageManager.h"
#include "platform/foundation/URL.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/ImageEncoder.h"
#include "platform/runloop/RunLoop.h"
#include "tests/peers/HttpServer.h"
#include "tests/support/HttpReplies.h"
#include "tests/support/MainLoop.h"

#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace imagetest {

// One colour all over; with alpha the colour is half transparent.
inline platform::CGImageRef solidBitmap(int width, int height, bool alpha = false) {
    auto bitmap = platform::Bitmap::create(width, height,
                                           alpha ? platform::kCGImageAlphaPremultipliedFirst
                                                 : platform::kCGImageAlphaNoneSkipFirst);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bitmap->mutableRow(y)[x] = platform::Bitmap::premultiply(200, 40, 10, alpha ? 128 : 255);
    return bitmap;
}

inline platform::Data png(int width, int height, bool alpha = false) {
    return *platform::encodePNG(*solidBitmap(width, height, alpha));
}

inline platform::Data jpeg(int width, int height) {
    return *platform::encodeJPEG(*solidBitmap(width, height), 0.9);
}

inline platform::UIImagePtr image(int width, int height, bool alpha = false, double scale = 1) {
    return platform::UIImage::imageWithCGImage(solidBitmap(width, height, alpha), scale,
                                               platform::UIImageOrientationUp);
}

inline liveapp::test::HttpResponse imageReply(const platform::Data& data, std::string type = "image/png") {
    liveapp::test::HttpResponse response;
    response.body = data.toString();
    response.headers.set("Content-Type", std::move(type));
    return response;
}

// "domain code" of an error, or "none".
inline std::string describe(const platform::ErrorPtr& error) {
    return error ? error->domain() + " " + std::to_string(error->code()) : "none";
}

// What one download or load reported, in order.
struct Report {
    platform::UIImagePtr image;
    platform::ErrorPtr error;
    bool finished{false};
    bool onMainThread{false};
    ImageCacheSource source{ImageCacheSourceNone};
    platform::URLPtr url;
};

class Reports {
public:
    WebImageDownloaderCompletedBlock downloadBlock() {
        return [this](platform::UIImagePtr image, std::optional<platform::Data>, platform::ErrorPtr error,
                      bool finished) {
            add({image, error, finished, platform::RunLoop::isMainThread(), ImageCacheSourceNone, nullptr});
        };
    }
    WebImageCompletionWithFinishedBlock loadBlock() {
        return [this](platform::UIImagePtr image, platform::ErrorPtr error, ImageCacheSource source,
                      bool finished, platform::URLPtr url) {
            add({image, error, finished, platform::RunLoop::isMainThread(), source, url});
        };
    }
    WebImageCompletionBlock viewBlock() {
        return [this](platform::UIImagePtr image, platform::ErrorPtr error, ImageCacheSource source,
                      platform::URLPtr url) {
            add({image, error, true, platform::RunLoop::isMainThread(), source, url});
        };
    }
    std::vector<Report> all() const {
        std::lock_guard lock(m_mutex);
        return m_reports;
    }
    size_t size() const { return all().size(); }
    Report last() const { return all().back(); }

private:
    void add(Report report) {
        std::lock_guard lock(m_mutex);
        m_reports.push_back(std::move(report));
    }
    mutable std::mutex m_mutex;
    std::vector<Report> m_reports;
};

class LoaderTest : public testing::Test {
protected:
    void TearDown() override {
        downloader->cancelAllDownloads();
        downloader->setSuspended(false);
        EXPECT_TRUE(
            liveapp::test::pumpMainLoopUntil([this] { return downloader->currentDownloadCount() == 0; }));
        flushCache();
    }

    platform::URLPtr url(const std::string& path) const { return platform::URL::create(server.url(path)); }
    std::vector<std::string> requestPaths() const {
        std::vector<std::string> paths;
        for (const auto& request : server.requests())
            paths.push_back(request.path);
        return paths;
    }
    // Pumps until a block queued on the IO queue now has run and answered on the main queue, so that
    // every disk task submitted before has finished.
    void flushCache() {
        bool answered = false;
        cache->diskImageExistsWithKey(std::string("flush"), [&](bool) { answered = true; });
        ASSERT_TRUE(liveapp::test::pumpMainLoopUntil([&] { return answered; }));
    }

    liveapp::test::HttpServer server;
    std::shared_ptr<ImageCache> cache = ImageCache::initWithNamespace("test");
    std::shared_ptr<WebImageDownloader> downloader = WebImageDownloader::create();
    std::shared_ptr<WebImageManager> manager = WebImageManager::create(cache, downloader);
};

} // namespace imagetest
