// The image loader. "MemoryHit" and "DiskHit": 1,000 small images (128 x 128 JPEG) looked up by key in the
// memory tier, and read from the disk tier (file read, decode, forced decode) without the memory tier.
// "ColdLoad": 200 images loaded through a manager with an empty cache from an HTTP server on 127.0.0.1
// (download, decode, forced decode, store, completion on the main thread), beside "PlainCurl": the same
// 200 downloads with libcurl's multi interface, six at a time like the downloader, each body decoded
// directly. The ratio of the two is what the loader's queues, threads and cache cost per image.
#include "imagecache/ImageCache.h"
#include "imagecache/WebImageDownloader.h"
#include "imagecache/WebImageManager.h"
#include "platform/foundation/Paths.h"
#include "platform/graphics/ImageEncoder.h"
#include "platform/net/CurlMemory.h"
#include "platform/runloop/RunLoop.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <filesystem>
#include <httplib.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace platform;

namespace {

// Curl is set up as the loader sets it up, before the peer makes a handle: both give curl the same
// memory functions, whichever runs first.
const bool g_curlSetUp = detail::initializeCurlWithKeptBuffers();

constexpr int kCachedImages = 1000;
constexpr int kDownloads = 200;

Data photo(uint32_t seed) {
    auto bitmap = Bitmap::create(128, 128, kCGImageAlphaNoneSkipFirst);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            seed = seed * 1103515245 + 12345;
            uint8_t noise = uint8_t((seed >> 16) & 31);
            bitmap->mutableRow(y)[x] =
                Bitmap::premultiply(uint8_t(x * 2 + noise), uint8_t(y * 2), noise * 4, 255);
        }
    return *encodeJPEG(*bitmap, 0.85);
}

std::string keyFor(int index) {
    return "http://images.example.test/avatar/" + std::to_string(index) + ".jpg";
}

// A home of its own, so the benchmark never touches the user's caches; removed at exit.
void useTemporaryHome() {
    struct Home {
        Home() {
            std::string pattern = (std::filesystem::temp_directory_path() / "liveapp-bench-XXXXXX").string();
            if (mkdtemp(pattern.data())) {
                path = pattern;
                Paths::setHome(path);
            }
        }
        ~Home() {
            std::error_code ignored;
            if (!path.empty())
                std::filesystem::remove_all(path, ignored);
        }
        std::filesystem::path path;
    };
    static Home home;
}

class ImageServer {
public:
    ImageServer() {
        for (int i = 0; i < kDownloads; ++i)
            m_images.push_back(photo(uint32_t(i + 1)).toString());
        m_server.Get(R"(/img/(\d+)\.jpg)",
                     [this](const httplib::Request& request, httplib::Response& response) {
                         response.set_content(
                             m_images[size_t(std::stoi(request.matches[1])) % m_images.size()], "image/jpeg");
                     });
        // Without it the body waits behind the headers for the client's delayed acknowledgement.
        m_server.set_tcp_nodelay(true);
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::yield();
    }
    ~ImageServer() {
        m_server.stop();
        m_thread.join();
    }
    // A query that changes with every round, so nothing on the way can answer from an earlier one.
    std::string url(int index, int round) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + "/img/" + std::to_string(index) +
               ".jpg?round=" + std::to_string(round);
    }

private:
    std::vector<std::string> m_images;
    httplib::Server m_server;
    int m_port{0};
    std::thread m_thread;
};

ImageServer& server() {
    static ImageServer instance;
    return instance;
}

void BM_MemoryHit(benchmark::State& state) {
    useTemporaryHome();
    auto cache = ImageCache::initWithNamespace("bench-memory");
    auto image = UIImage::imageWithData(photo(1));
    std::vector<std::string> keys;
    for (int i = 0; i < kCachedImages; ++i) {
        keys.push_back(keyFor(i));
        cache->storeImage(image, keys.back(), false);
    }
    for (auto _ : state)
        for (const auto& key : keys)
            benchmark::DoNotOptimize(cache->imageFromMemoryCacheForKey(key));
    state.SetItemsProcessed(int64_t(state.iterations()) * kCachedImages);
}
BENCHMARK(BM_MemoryHit)->Unit(benchmark::kMillisecond);

void BM_DiskHit(benchmark::State& state) {
    useTemporaryHome();
    auto cache = ImageCache::initWithNamespace("bench-disk");
    std::vector<std::string> keys;
    for (int i = 0; i < kCachedImages; ++i) {
        keys.push_back(keyFor(i));
        cache->storeImageDataToDisk(photo(uint32_t(i + 1)), keys.back());
    }
    for (auto _ : state)
        for (const auto& key : keys)
            benchmark::DoNotOptimize(cache->diskImageForKey(key));
    state.SetItemsProcessed(int64_t(state.iterations()) * kCachedImages);
}
BENCHMARK(BM_DiskHit)->Unit(benchmark::kMillisecond);

void BM_ColdLoad(benchmark::State& state) {
    useTemporaryHome();
    ImageServer& images = server();
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto cache = ImageCache::initWithNamespace("bench-cold-" + std::to_string(round));
        auto manager = WebImageManager::create(cache, WebImageDownloader::create());
        state.ResumeTiming();

        int completed = 0, failed = 0;
        for (int i = 0; i < kDownloads; ++i)
            manager->downloadImageWithURL(
                images.url(i, round), 0, nullptr,
                [&](UIImagePtr image, ErrorPtr, ImageCacheSource, bool finished, URLPtr) {
                    completed += finished;
                    failed += finished && !image;
                });
        while (completed < kDownloads)
            RunLoop::main()->runModeForRealTime(RunLoop::defaultMode, std::chrono::milliseconds(50), true);
        cache->ioQueue()->sync([] {}); // every image is on disk
        if (failed)
            state.SkipWithError("a download failed");

        state.PauseTiming();
        cache->clearDisk();
        cache->ioQueue()->sync([] {});
        ++round;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kDownloads);
}
BENCHMARK(BM_ColdLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

size_t collect(char* bytes, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(bytes, size * count);
    return size * count;
}

void BM_PlainCurl(benchmark::State& state) {
    ImageServer& images = server();
    int round = 0;
    for (auto _ : state) {
        CURLM* multi = curl_multi_init();
        curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, 6L);
        std::vector<std::string> bodies(kDownloads);
        for (int i = 0; i < kDownloads; ++i) {
            CURL* easy = curl_easy_init();
            curl_easy_setopt(easy, CURLOPT_URL, images.url(i, round).c_str());
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collect);
            curl_easy_setopt(easy, CURLOPT_WRITEDATA, &bodies[size_t(i)]);
            curl_easy_setopt(easy, CURLOPT_PRIVATE, &bodies[size_t(i)]);
            curl_multi_add_handle(multi, easy);
        }
        int running = 0, decoded = 0;
        while (decoded < kDownloads) {
            curl_multi_perform(multi, &running);
            int left = 0, done = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
                if (message->msg != CURLMSG_DONE)
                    continue;
                std::string* body = nullptr;
                curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &body);
                if (!UIImage::imageWithData(Data(std::string_view(*body))))
                    state.SkipWithError("a download failed");
                ++done;
                curl_multi_remove_handle(multi, message->easy_handle);
                curl_easy_cleanup(message->easy_handle);
            }
            decoded += done;
            // A finished transfer frees a connection for a waiting one, which only the next perform starts.
            if (done == 0)
                curl_multi_poll(multi, nullptr, 0, 100, nullptr);
        }
        curl_multi_cleanup(multi);
        ++round;
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kDownloads);
}
BENCHMARK(BM_PlainCurl)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
