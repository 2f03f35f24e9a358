#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"
#include "platform/ui/UIApplication.h"
#include "tests/imagecache/LoaderTestSupport.h"

#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <sys/xattr.h>

using namespace platform;
using namespace imagetest;
using liveapp::test::pumpMainLoopUntil;
namespace fs = std::filesystem;

namespace {

class ImageCacheTest : public LoaderTest {
protected:
    void writeFile(const fs::path& path, std::string_view bytes) {
        fs::create_directories(path.parent_path());
        ASSERT_TRUE(AtomicFile::write(path, Data(bytes)));
    }
    fs::path diskPath(const std::string& name) const { return fs::path(cache->diskCachePath()) / name; }
    void setModified(const fs::path& path, WallTime when) {
        fs::last_write_time(path, fs::file_time_type::clock::from_sys(when));
    }
    void clean() {
        bool done = false;
        cache->cleanDiskWithCompletionBlock([&] { done = true; });
        ASSERT_TRUE(pumpMainLoopUntil([&] { return done; }));
    }
};

TEST_F(ImageCacheTest, FilesAreNamedByTheKeysDigestAndItsExtension) {
    for (const auto& [key, name] : std::vector<std::pair<ImageCache::Key, std::string>>{
             {"http://a.com/b.png", "825a0ff4190ae6ec313f094b6197f9d8.png"},
             {"http://a.com/b.png?x=1", "088f806bf57291f69192b828160698e6.png?x=1"},
             {"http://a.com/dir/", "819ca5ee047ee752634ce391b5960fc1"},
             {"http://a.com/b", "c2854881d1c7746e298f51046fb2ac20"},
             {"http://a.com", "388495550d157e5c5d299b7ecfeb1c2d.com"},
             {"http://a.com/b." + std::string(230, 'x'), "c03e6f44a3c6872a99faee9aa37b713f"},
             {std::nullopt, "d41d8cd98f00b204e9800998ecf8427e"},
         })
        EXPECT_EQ(cache->cachedFileNameForKey(key), name);
    EXPECT_EQ(cache->cachePathForKey("http://a.com/b", "/x"), "/x/c2854881d1c7746e298f51046fb2ac20");
}

TEST_F(ImageCacheTest, DiskFoldersFollowTheNamespace) {
    const std::string caches = Paths::caches().string();
    EXPECT_EQ(ImageCache::sharedImageCache()->diskCachePath(),
              caches + "/default/com.quilbrenx.WebImageCache.default");
    EXPECT_EQ(ImageCache::initWithNamespace("x")->diskCachePath(),
              caches + "/x/com.quilbrenx.WebImageCache.x");
    EXPECT_EQ(ImageCache::initWithNamespace("x", std::nullopt)->diskCachePath(), caches + "/x");
    EXPECT_EQ(ImageCache::initWithNamespace("x", "/somewhere")->diskCachePath(),
              "/somewhere/com.quilbrenx.WebImageCache.x");
}

TEST_F(ImageCacheTest, KeysWithLongOrMissingExtensionsAreStoredFoundAndRemoved) {
    for (size_t length : {size_t(200), size_t(211), size_t(212), size_t(230)}) {
        std::string key = "http://a.com/b." + std::string(length, 'e');
        cache->storeImageDataToDisk(png(1, 1), key);
        EXPECT_EQ(cache->diskImageDataBySearchingAllPathsForKey(key), png(1, 1)) << length;
        cache->removeImageForKey(key);
        flushCache();
        EXPECT_FALSE(cache->diskImageExistsWithKey(key)) << length;
    }

    // A file without the extension is found and removed with the key.
    const std::string key = "http://a.com/b.png";
    writeFile(diskPath("825a0ff4190ae6ec313f094b6197f9d8"), png(3, 1).toString());
    EXPECT_TRUE(cache->diskImageExistsWithKey(key));
    EXPECT_EQ(cache->diskImageDataBySearchingAllPathsForKey(key), png(3, 1));
    ASSERT_TRUE(cache->imageFromDiskCacheForKey(key));

    bool removed = false;
    cache->removeImageForKey(key, [&] { removed = true; });
    ASSERT_TRUE(pumpMainLoopUntil([&] { return removed; }));
    EXPECT_FALSE(cache->diskImageExistsWithKey(key));
    EXPECT_FALSE(cache->imageFromDiskCacheForKey(key));
}

TEST_F(ImageCacheTest, QueriesAnswerFromMemoryAtOnceAndFromDiskOnTheMainQueueUnlessCancelled) {
    auto stored = image(2, 2);
    cache->storeImage(stored, std::string("http://a.com/hit.png"));

    std::vector<std::pair<UIImagePtr, ImageCacheSource>> answers;
    auto record = [&](UIImagePtr found, ImageCacheSource source) { answers.emplace_back(found, source); };
    EXPECT_EQ(cache->queryDiskCacheForKey(std::string("http://a.com/hit.png"), record), nullptr);
    EXPECT_EQ(cache->queryDiskCacheForKey(std::nullopt, record), nullptr);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], std::make_pair(stored, ImageCacheSourceMemory));
    EXPECT_EQ(answers[1], std::make_pair(UIImagePtr(), ImageCacheSourceNone));

    cache->clearMemory();
    answers.clear();
    EXPECT_NE(cache->queryDiskCacheForKey(std::string("http://a.com/hit.png"), record), nullptr);
    EXPECT_NE(cache->queryDiskCacheForKey(std::string("http://a.com/miss.png"), record), nullptr);
    EXPECT_TRUE(answers.empty());
    ASSERT_TRUE(pumpMainLoopUntil([&] { return answers.size() == 2; }));
    ASSERT_TRUE(answers[0].first);
    EXPECT_EQ(answers[0].first->size(), CGSizeMake(2, 2));
    EXPECT_EQ(answers[0].second, ImageCacheSourceDisk);
    EXPECT_EQ(answers[1], std::make_pair(UIImagePtr(), ImageCacheSourceDisk));
    EXPECT_TRUE(
        cache->imageFromMemoryCacheForKey(std::string("http://a.com/hit.png"))); // read back into memory

    // Cancelled before the disk is reached: never answers.
    cache->clearMemory();
    cache->ioQueue()->suspend();
    cache->queryDiskCacheForKey(std::string("http://a.com/hit.png"), record)->cancel();
    cache->ioQueue()->resume();
    flushCache(); // queued after the query, on the same serial queue and then the main queue
    EXPECT_EQ(answers.size(), 2u);
}

TEST_F(ImageCacheTest, StoringWritesPNGOrJPEGAsTheImageAndDataSayAndNothingWithoutImageOrKey) {
    cache->storeImage(nullptr, true, std::nullopt, "k", true);
    cache->storeImage(image(1, 1), std::nullopt);
    flushCache();
    EXPECT_EQ(cache->memCache()->count(), 0u);
    EXPECT_EQ(cache->getDiskCount(), 0u);
    const std::string pngSignature = "\x89PNG\r\n\x1a\n", jpegStart = "\xFF\xD8";
    const std::tuple<const char*, UIImagePtr, bool, std::optional<Data>, std::string> cases[] = {
        {"opaque", image(4, 4), true, std::nullopt, jpegStart},
        {"alpha", image(4, 4, true), true, std::nullopt, pngSignature},
        {"opaque-with-png-data", image(4, 4), true, png(4, 4), pngSignature},
        {"alpha-with-jpeg-data", image(4, 4, true), true, jpeg(4, 4), jpegStart},
        {"alpha-with-short-data", image(4, 4, true), true, Data(std::string_view("\x89PNG")), pngSignature},
        {"kept-bytes", image(4, 4), false, Data(std::string_view("as given")), "as given"},
    };
    for (const auto& [key, stored, recalculate, data, start] : cases) {
        cache->storeImage(stored, recalculate, data, key, true);
        flushCache();
        auto file = AtomicFile::read(cache->defaultCachePathForKey(key)).value_or(Data());
        EXPECT_EQ(file.toString().substr(0, start.size()), start) << key;
    }
}

// The value of the attribute that backup tools read, "(none)" when the file has none.
std::string backupAttribute(const std::string& path) {
    char value[64];
    ssize_t length = getxattr(path.c_str(), "user.xdg.robots.backup", value, sizeof value);
    return length < 0 ? "(none)" : std::string(value, size_t(length));
}

TEST_F(ImageCacheTest, FilesWrittenWhileBackupsAreDisabledAreMarkedForBackupToolsToSkip) {
    fs::create_directories(cache->diskCachePath());
    std::string probe = diskPath("probe").string();
    writeFile(probe, "x");
    if (setxattr(probe.c_str(), "user.probe", "1", 1, 0) != 0)
        GTEST_SKIP() << "the test folder's file system refuses user attributes";
    fs::remove(probe);

    EXPECT_TRUE(cache->shouldDisableiCloud());
    cache->storeImage(image(2, 2), "first");
    flushCache();
    EXPECT_EQ(backupAttribute(cache->defaultCachePathForKey("first")), "false");
    cache->storeImageDataToDisk(png(1, 1), "first"); // a new file replaces the marked one
    EXPECT_EQ(backupAttribute(cache->defaultCachePathForKey("first")), "false");

    cache->setShouldDisableiCloud(false);
    cache->storeImage(image(2, 2), "second");
    cache->storeImage(image(2, 2), "first");
    flushCache();
    EXPECT_EQ(backupAttribute(cache->defaultCachePathForKey("second")), "(none)");
    EXPECT_EQ(backupAttribute(cache->defaultCachePathForKey("first")), "(none)");
}

TEST_F(ImageCacheTest, CleaningRemovesFilesModifiedAtOrBeforeTheMaximumAge) {
    auto clock = std::make_shared<ManualClock>();
    Clock::install(clock);
    const WallTime now = WallTime(std::chrono::seconds(1'700'000'000));
    clock->setWall(now);
    const std::tuple<const char*, int, bool> files[] = {{"expired-long-ago", 900000, false},
                                                        {"expired-exactly", 604800, false},
                                                        {"young-by-a-second", 604799, true},
                                                        {".hidden", 900000, true}};
    for (const auto& [name, age, kept] : files) {
        writeFile(diskPath(name), "bytes");
        setModified(diskPath(name), now - std::chrono::seconds(age));
    }
    clean();
    Clock::install(nullptr);
    for (const auto& [name, age, kept] : files)
        EXPECT_EQ(fs::exists(diskPath(name)), kept) << name;
}

TEST_F(ImageCacheTest, CleaningBySizeRemovesTheOldestUntilBelowHalfTheMaximum) {
    const std::vector<std::string> names = {"oldest", "older", "newer", "newest"};
    // Four files of one allocation each, an hour apart; answers that allocation (0: unequal ones).
    auto writeAll = [&] {
        std::set<uint64_t> allocations;
        for (size_t i = 0; i < names.size(); ++i) {
            writeFile(diskPath(names[i]), std::string(5000, 'x'));
            setModified(diskPath(names[i]), Clock::current().wall() - std::chrono::hours(10 - i));
            struct stat info {};
            ::stat(diskPath(names[i]).c_str(), &info);
            allocations.insert(uint64_t(info.st_blocks) * 512);
        }
        return allocations.size() == 1 ? *allocations.begin() : 0;
    };
    const uint64_t blockSize = writeAll();
    if (blockSize == 0)
        GTEST_SKIP() << "the file system gives these files no or unequal allocations";
    // The size cap in allocations, and what stays afterwards.
    for (auto [maxAllocations, kept] :
         {std::pair{4, std::vector<std::string>{"oldest", "older", "newer", "newest"}},
          std::pair{3, std::vector<std::string>{"newest"}}, std::pair{2, std::vector<std::string>{}}}) {
        writeAll();
        cache->setMaxCacheSize(maxAllocations * blockSize);
        clean();
        std::vector<std::string> left;
        for (const auto& name : names)
            if (fs::exists(diskPath(name)))
                left.push_back(name);
        EXPECT_EQ(left, kept) << maxAllocations;
    }
}

TEST_F(ImageCacheTest, TheMemoryTierCountsPixelsAndEmptiesOnAMemoryWarning) {
    cache->setMaxMemoryCost(250);
    cache->storeImage(image(10, 10, false, 2), std::string("a"), false); // 5 x 5 points at scale 2: 100
    cache->storeImage(image(10, 10, false, 2), std::string("b"), false);
    cache->storeImage(image(10, 10, false, 2), std::string("c"), false);
    EXPECT_FALSE(cache->imageFromMemoryCacheForKey(std::string("a")));
    EXPECT_TRUE(cache->imageFromMemoryCacheForKey(std::string("c")));
    EXPECT_EQ(cache->memCache()->totalCost(), 200u);

    UIApplication::sharedApplication()->simulateMemoryWarning();
    EXPECT_EQ(cache->memCache()->count(), 0u);
}

TEST_F(ImageCacheTest, EnteringTheBackgroundCleansWithinABackgroundTask) {
    auto application = UIApplication::sharedApplication();
    application->reset();
    application->simulateLaunch();
    writeFile(diskPath("stale"), "x");
    setModified(diskPath("stale"), Clock::current().wall() - std::chrono::hours(24 * 30));
    cache->ioQueue()->suspend();
    application->simulateEnterBackground();
    EXPECT_GE(application->backgroundTaskCount(), 1u); // this cache's cannot end while its queue waits
    cache->ioQueue()->resume();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return application->backgroundTaskCount() == 0; }));
    EXPECT_FALSE(fs::exists(diskPath("stale")));
}

} // namespace
