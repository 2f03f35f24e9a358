#pragma once
// ImageCache: images under text keys (image URLs) in two tiers. The memory tier counts each image by its
// pixel count and is used from any thread. The disk tier keeps one file per key, named by the key's MD5
// and its extension, under diskCachePath; it is read and written on the cache's serial IO queue
// ("com.quilbrenx.WebImageCache"), in submission order, so a store followed by a query finds the image.
// Only storeImageDataToDisk, imageFromDiskCacheForKey and the callback-less diskImageExistsWithKey touch
// the disk on the caller's thread. Files older than maxCacheAge, and the oldest beyond maxCacheSize, are
// cleaned when the application terminates or enters the background, or when asked.
//
// Callbacks come asynchronously on the main queue, except the query's answers for a nil key and a
// memory hit and the removal callback without disk, which come at once on the calling thread.
// Never throws: a nil key or image is ignored, a disk error is a miss, and a failed write, removal or
// directory creation is not reported. getSize and getDiskCount wait for the IO queue, so they must not
// be called from work running on it.

#include "imagecache/AutoPurgeCache.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/Operation.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Object.h"
#include "platform/graphics/Image.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Where a loaded image came from.
enum ImageCacheSource : int64_t {
    ImageCacheSourceNone = 0, // downloaded
    ImageCacheSourceDisk = 1,
    ImageCacheSourceMemory = 2,
};

class ImageCache : public platform::Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    using Key = std::optional<std::string>; // nullopt is the nil key
    using QueryCompletedBlock = std::function<void(platform::UIImagePtr image, ImageCacheSource source)>;
    using CheckCacheCompletionBlock = std::function<void(bool isInCache)>;
    using CalculateSizeBlock = std::function<void(uint64_t fileCount, uint64_t totalSize)>;
    using NoParamsBlock = std::function<void()>;

    static std::shared_ptr<ImageCache> sharedImageCache();
    // Namespace "default".
    static std::shared_ptr<ImageCache> create();
    // Files in <caches>/<ns>/<full namespace>.
    static std::shared_ptr<ImageCache> initWithNamespace(const std::string& ns);
    // Files in `directory` under the full namespace ("com.quilbrenx.WebImageCache." + ns); without a
    // directory, in the caches directory under the namespace.
    static std::shared_ptr<ImageCache> initWithNamespace(const std::string& ns,
                                                         const std::optional<std::string>& directory);
    ImageCache(PrivateTag, const std::string& ns, const std::optional<std::string>& directory);
    ~ImageCache() override;

    // Paths. A file is named by the 32 lowercase hex digits of the key's MD5 and "." + the key's path
    // extension when it has one; readers also accept the name without the extension.
    static std::string makeDiskCachePath(const std::string& name);
    void addReadOnlyCachePath(const std::string& path); // searched on a disk miss, in the order added
    std::string cachePathForKey(const Key& key, const std::string& path) const;
    std::string defaultCachePathForKey(const Key& key) const;
    std::string cachedFileNameForKey(const Key& key) const;

    // Storing. Into memory at once; to disk on the IO queue, as the given data, or (recalculating, or
    // without data) the image encoded as PNG when the data says PNG or the image has alpha, else as JPEG.
    void storeImage(const platform::UIImagePtr& image, bool recalculate,
                    std::optional<platform::Data> imageData, const Key& key, bool toDisk);
    void storeImage(const platform::UIImagePtr& image, const Key& key);
    void storeImage(const platform::UIImagePtr& image, const Key& key, bool toDisk);
    void storeImageDataToDisk(const std::optional<platform::Data>& data, const Key& key);

    // Reading. The query answers (image or nil, source): a nil key (nil, none) and a memory hit
    // (image, memory) at once; otherwise it returns a token and answers (image or nil, disk) later on
    // the main queue, or never when the token is cancelled before the IO queue reaches the query.
    std::shared_ptr<platform::Operation> queryDiskCacheForKey(const Key& key, QueryCompletedBlock done);
    platform::UIImagePtr imageFromMemoryCacheForKey(const Key& key) const;
    platform::UIImagePtr imageFromDiskCacheForKey(const Key& key);
    std::optional<platform::Data> diskImageDataBySearchingAllPathsForKey(const Key& key) const;
    platform::UIImagePtr diskImageForKey(const Key& key) const;
    platform::UIImagePtr scaledImageForKey(const Key& key, const platform::UIImagePtr& image) const;
    bool diskImageExistsWithKey(const Key& key) const;
    void diskImageExistsWithKey(const Key& key, CheckCacheCompletionBlock completion);

    // Removing: the memory entry, and from disk both the file name with the extension and without it.
    void removeImageForKey(const Key& key, bool fromDisk, NoParamsBlock completion);
    void removeImageForKey(const Key& key);
    void removeImageForKey(const Key& key, NoParamsBlock completion);
    void removeImageForKey(const Key& key, bool fromDisk);
    void clearMemory();
    void clearDiskOnCompletion(NoParamsBlock completion);
    void clearDisk();
    void cleanDiskWithCompletionBlock(NoParamsBlock completion);
    void cleanDisk();
    void backgroundCleanDisk();

    // Sizes of the disk tier: bytes of its files and the number of its entries.
    uint64_t getSize();
    uint64_t getDiskCount();
    void calculateSizeWithCompletionBlock(CalculateSizeBlock completion);

    bool shouldDecompressImages() const { return m_shouldDecompressImages; }
    void setShouldDecompressImages(bool value) { m_shouldDecompressImages = value; }
    // Each file written while this is set is marked as excluded from backups (BackupExclusion.h); a
    // file system that refuses the mark leaves the file unmarked, silently.
    bool shouldDisableiCloud() const { return m_shouldDisableiCloud; }
    void setShouldDisableiCloud(bool value) { m_shouldDisableiCloud = value; }
    bool shouldCacheImagesInMemory() const { return m_shouldCacheImagesInMemory; }
    void setShouldCacheImagesInMemory(bool value) { m_shouldCacheImagesInMemory = value; }
    int64_t maxCacheAge() const { return m_maxCacheAge; } // seconds
    void setMaxCacheAge(int64_t seconds) { m_maxCacheAge = seconds; }
    uint64_t maxCacheSize() const { return m_maxCacheSize; } // bytes; 0 means no cap
    void setMaxCacheSize(uint64_t bytes) { m_maxCacheSize = bytes; }
    uint64_t maxMemoryCost() const { return m_memCache->totalCostLimit(); }
    void setMaxMemoryCost(uint64_t cost) { m_memCache->setTotalCostLimit(cost); }
    uint64_t maxMemoryCountLimit() const { return m_memCache->countLimit(); }
    void setMaxMemoryCountLimit(uint64_t count) { m_memCache->setCountLimit(count); }

    const std::shared_ptr<AutoPurgeCache>& memCache() const { return m_memCache; }
    const std::string& diskCachePath() const { return m_diskCachePath; }
    std::vector<std::string> customPaths() const;
    const std::shared_ptr<platform::DispatchQueue>& ioQueue() const { return m_ioQueue; }

private:
    std::shared_ptr<ImageCache> self() { return std::static_pointer_cast<ImageCache>(shared_from_this()); }
    void observeApplication();
    void putInMemory(const std::string& key, const platform::UIImagePtr& image);
    void writeToDisk(const platform::UIImagePtr& image, bool recalculate,
                     const std::optional<platform::Data>& imageData, const std::string& key);
    void answerQuery(const std::string& key, const std::shared_ptr<platform::Operation>& token,
                     QueryCompletedBlock done);
    bool fileExistsForKey(const std::string& key) const;
    void removeFilesForKey(const std::string& key) const;
    void cleanDiskNow() const;

    std::atomic<bool> m_shouldDecompressImages{true};
    std::atomic<bool> m_shouldDisableiCloud{true};
    std::atomic<bool> m_shouldCacheImagesInMemory{true};
    std::atomic<int64_t> m_maxCacheAge{604800};
    std::atomic<uint64_t> m_maxCacheSize{0};
    std::shared_ptr<AutoPurgeCache> m_memCache{AutoPurgeCache::create()};
    std::string m_diskCachePath;
    mutable std::mutex m_customPathsMutex;
    std::vector<std::string> m_customPaths;
    std::shared_ptr<platform::DispatchQueue> m_ioQueue;
};
