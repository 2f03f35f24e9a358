#include "imagecache/ImageCache.h"
#include "imagecache/MainThread.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIApplication.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sys/stat.h>

using namespace platform;
using imagecache::detail::onMainQueue;
namespace fs = std::filesystem;

namespace {

struct DiskEntry {
    fs::path path;
    bool isDirectory{false};
    bool isRegularFile{false};
    WallTime modified;
    uint64_t allocatedSize{0}; // what the file takes on disk, in whole blocks
    uint64_t fileSize{0};
};

enum class Hidden { Skipped, Included };

// Every entry below `root`, depth first; a skipped hidden directory is not descended into. Entries that
// vanish or cannot be read while enumerating are left out.
template <typename Visit> void enumerateDisk(const std::string& root, Hidden hidden, Visit visit) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        if (hidden == Hidden::Skipped && path.filename().string().starts_with(".")) {
            it.disable_recursion_pending();
            continue;
        }
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0)
            continue;
        DiskEntry entry;
        entry.path = path;
        entry.isDirectory = S_ISDIR(info.st_mode);
        entry.isRegularFile = S_ISREG(info.st_mode);
        entry.modified = WallTime(std::chrono::duration_cast<WallTime::duration>(
            std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
        entry.allocatedSize = uint64_t(info.st_blocks) * 512;
        entry.fileSize = entry.isRegularFile ? uint64_t(info.st_size) : 0;
        visit(entry);
    }
}

// The moment before which files have expired. The age is bounded so that the arithmetic stays within
// the clock's range whatever a caller sets.
WallTime expirationDate(int64_t maxCacheAge) {
    constexpr int64_t bound = int64_t(5'000'000'000); // about 158 years
    auto age = std::chrono::seconds(std::clamp(maxCacheAge, -bound, bound));
    return Clock::current().wall() - age;
}

} // namespace

void ImageCache::cleanDiskWithCompletionBlock(NoParamsBlock completion) {
    m_ioQueue->async([self = self(), completion = std::move(completion)] {
        self->cleanDiskNow();
        onMainQueue(completion);
    });
}

void ImageCache::cleanDisk() {
    // Asked for when the application terminates: the process ends once termination has stopped waiting
    // for background tasks, so a clean that held none would never run.
    backgroundCleanDisk();
}

void ImageCache::cleanDiskNow() const {
    const WallTime expiration = expirationDate(m_maxCacheAge);
    std::vector<DiskEntry> expired, kept;
    uint64_t total = 0;
    enumerateDisk(m_diskCachePath, Hidden::Skipped, [&](const DiskEntry& entry) {
        if (entry.isDirectory)
            return;
        if (entry.modified <= expiration) {
            expired.push_back(entry);
            return;
        }
        total += entry.allocatedSize;
        kept.push_back(entry);
    });
    std::error_code ignored;
    for (const DiskEntry& entry : expired)
        fs::remove(entry.path, ignored);

    const uint64_t maxSize = m_maxCacheSize;
    if (maxSize == 0 || total <= maxSize)
        return;
    const uint64_t target = maxSize / 2;
    std::stable_sort(kept.begin(), kept.end(),
                     [](const DiskEntry& a, const DiskEntry& b) { return a.modified < b.modified; });
    for (const DiskEntry& entry : kept) {
        if (!fs::remove(entry.path, ignored))
            continue;
        total -= entry.allocatedSize;
        if (total < target)
            break;
    }
}

void ImageCache::backgroundCleanDisk() {
    auto application = UIApplication::sharedApplication();
    auto task = std::make_shared<std::atomic<UIBackgroundTaskIdentifier>>(UIBackgroundTaskInvalid);
    auto endTask = [application, task] {
        application->endBackgroundTask(task->exchange(UIBackgroundTaskInvalid));
    };
    task->store(application->beginBackgroundTaskWithExpirationHandler(endTask));
    cleanDiskWithCompletionBlock(endTask);
}

uint64_t ImageCache::getSize() {
    uint64_t size = 0;
    m_ioQueue->sync([&] {
        // Directories have no size of their own worth reporting; what the files hold is the cache's size.
        enumerateDisk(m_diskCachePath, Hidden::Included,
                      [&](const DiskEntry& entry) { size += entry.fileSize; });
    });
    return size;
}

uint64_t ImageCache::getDiskCount() {
    uint64_t count = 0;
    m_ioQueue->sync(
        [&] { enumerateDisk(m_diskCachePath, Hidden::Included, [&](const DiskEntry&) { ++count; }); });
    return count;
}

void ImageCache::calculateSizeWithCompletionBlock(CalculateSizeBlock completion) {
    m_ioQueue->async([self = self(), completion = std::move(completion)] {
        uint64_t count = 0, size = 0;
        enumerateDisk(self->m_diskCachePath, Hidden::Skipped, [&](const DiskEntry& entry) {
            ++count;
            size += entry.fileSize;
        });
        if (completion)
            onMainQueue([completion, count, size] { completion(count, size); });
    });
}
