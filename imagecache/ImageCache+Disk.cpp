#include "imagecache/ImageCache.h"
#include "imagecache/MainThread.h"
#include "imagecache/UIImage+ForceDecode.h"
#include "imagecache/UIImage+MultiFormat.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/BackupExclusion.h"

#include <filesystem>

using namespace platform;
using imagecache::detail::onMainQueue;
namespace fs = std::filesystem;

namespace {

bool startsWithPNGSignature(const Data& data) {
    static constexpr std::string_view signature{"\x89PNG\r\n\x1a\n", 8};
    return data.view().starts_with(signature);
}

bool hasAlpha(const UIImage& image) {
    CGImageRef bitmap = image.CGImage();
    if (!bitmap)
        return false;
    CGImageAlphaInfo info = bitmap->alphaInfo();
    return info != kCGImageAlphaNone && info != kCGImageAlphaNoneSkipLast &&
           info != kCGImageAlphaNoneSkipFirst;
}

std::string withoutExtension(const std::string& path) {
    return fs::path(path).replace_extension().string();
}

// Carries only the cancelled flag of a disk query; it is never started.
struct QueryToken final : Operation {
    QueryToken() = default;
};

} // namespace

void ImageCache::storeImage(const UIImagePtr& image, bool recalculate, std::optional<Data> imageData,
                            const Key& key, bool toDisk) {
    if (!image || !key)
        return;
    putInMemory(*key, image);
    if (!toDisk)
        return;
    m_ioQueue->async([self = self(), image, recalculate, imageData = std::move(imageData), key = *key] {
        self->writeToDisk(image, recalculate, imageData, key);
    });
}

void ImageCache::storeImage(const UIImagePtr& image, const Key& key) {
    storeImage(image, true, std::nullopt, key, true);
}

void ImageCache::storeImage(const UIImagePtr& image, const Key& key, bool toDisk) {
    storeImage(image, true, std::nullopt, key, toDisk);
}

void ImageCache::writeToDisk(const UIImagePtr& image, bool recalculate, const std::optional<Data>& imageData,
                             const std::string& key) {
    std::optional<Data> bytes = imageData;
    if (recalculate || !imageData) {
        bool png =
            imageData && imageData->length() >= 8 ? startsWithPNGSignature(*imageData) : hasAlpha(*image);
        bytes = png ? UIImagePNGRepresentation(image) : UIImageJPEGRepresentation(image, 1.0);
    }
    storeImageDataToDisk(bytes, key);
}

void ImageCache::storeImageDataToDisk(const std::optional<Data>& data, const Key& key) {
    if (!data || !key)
        return;
    std::error_code ignored;
    fs::create_directories(m_diskCachePath, ignored);
    // Through a temporary and a rename, so a reader on another thread never decodes half a file.
    std::string path = defaultCachePathForKey(key);
    if (!AtomicFile::write(path, *data, nullptr, 0644, AtomicFile::Durability::CacheOnly))
        return;
    // The rename brought a new file, which carries no flag of the one it replaced.
    if (m_shouldDisableiCloud)
        setExcludedFromBackup(path, true);
}

std::shared_ptr<Operation> ImageCache::queryDiskCacheForKey(const Key& key, QueryCompletedBlock done) {
    if (!done)
        return nullptr;
    if (!key) {
        done(nullptr, ImageCacheSourceNone);
        return nullptr;
    }
    if (auto image = imageFromMemoryCacheForKey(key)) {
        done(image, ImageCacheSourceMemory);
        return nullptr;
    }
    auto token = std::make_shared<QueryToken>();
    m_ioQueue->async([self = self(), key = *key, token, done = std::move(done)]() mutable {
        self->answerQuery(key, token, std::move(done));
    });
    return token;
}

void ImageCache::answerQuery(const std::string& key, const std::shared_ptr<Operation>& token,
                             QueryCompletedBlock done) {
    if (token->isCancelled())
        return;
    UIImagePtr image = diskImageForKey(key);
    if (image)
        putInMemory(key, image);
    DispatchQueue::main()->async([image, done = std::move(done)] { done(image, ImageCacheSourceDisk); });
}

UIImagePtr ImageCache::imageFromDiskCacheForKey(const Key& key) {
    if (auto image = imageFromMemoryCacheForKey(key))
        return image;
    UIImagePtr image = diskImageForKey(key);
    if (image)
        putInMemory(*key, image);
    return image;
}

std::optional<Data> ImageCache::diskImageDataBySearchingAllPathsForKey(const Key& key) const {
    if (!key)
        return std::nullopt;
    std::vector<std::string> candidates;
    auto addBothNames = [&](const std::string& path) {
        candidates.push_back(path);
        candidates.push_back(withoutExtension(path));
    };
    addBothNames(defaultCachePathForKey(key));
    for (const std::string& directory : customPaths())
        addBothNames(cachePathForKey(key, directory));
    for (const std::string& path : candidates)
        if (auto data = AtomicFile::read(path))
            return data;
    return std::nullopt;
}

UIImagePtr ImageCache::diskImageForKey(const Key& key) const {
    auto data = diskImageDataBySearchingAllPathsForKey(key);
    if (!data)
        return nullptr;
    UIImagePtr image = scaledImageForKey(key, wi_imageWithData(*data));
    return m_shouldDecompressImages ? decodedImageWithImage(image) : image;
}

bool ImageCache::fileExistsForKey(const std::string& key) const {
    std::error_code ignored;
    std::string path = defaultCachePathForKey(key);
    return fs::exists(path, ignored) || fs::exists(withoutExtension(path), ignored);
}

bool ImageCache::diskImageExistsWithKey(const Key& key) const {
    return key && fileExistsForKey(*key);
}

void ImageCache::diskImageExistsWithKey(const Key& key, CheckCacheCompletionBlock completion) {
    m_ioQueue->async([self = self(), key, completion = std::move(completion)] {
        bool exists = self->diskImageExistsWithKey(key);
        if (completion)
            onMainQueue([completion, exists] { completion(exists); });
    });
}

void ImageCache::removeImageForKey(const Key& key, bool fromDisk, NoParamsBlock completion) {
    if (!key)
        return;
    if (m_shouldCacheImagesInMemory)
        m_memCache->removeObjectForKey(*key);
    if (!fromDisk) {
        if (completion)
            completion();
        return;
    }
    m_ioQueue->async([self = self(), key = *key, completion = std::move(completion)] {
        self->removeFilesForKey(key);
        onMainQueue(completion);
    });
}

void ImageCache::removeImageForKey(const Key& key) {
    removeImageForKey(key, true, nullptr);
}

void ImageCache::removeImageForKey(const Key& key, NoParamsBlock completion) {
    removeImageForKey(key, true, std::move(completion));
}

void ImageCache::removeImageForKey(const Key& key, bool fromDisk) {
    removeImageForKey(key, fromDisk, nullptr);
}

void ImageCache::removeFilesForKey(const std::string& key) const {
    // Readers serve the name without the extension too; leaving it would bring the image back.
    std::error_code ignored;
    std::string path = defaultCachePathForKey(key);
    fs::remove(path, ignored);
    fs::remove(withoutExtension(path), ignored);
}

void ImageCache::clearDiskOnCompletion(NoParamsBlock completion) {
    m_ioQueue->async([self = self(), completion = std::move(completion)] {
        std::error_code ignored;
        fs::remove_all(self->m_diskCachePath, ignored);
        fs::create_directories(self->m_diskCachePath, ignored);
        onMainQueue(completion);
    });
}

void ImageCache::clearDisk() {
    clearDiskOnCompletion(nullptr);
}
