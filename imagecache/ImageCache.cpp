#include "imagecache/ImageCache.h"

#include "imagecache/ScaledImageForKey.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Immortal.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "platform/security/MD5.h"
#include "platform/ui/UIApplication.h"

#include <climits>

using namespace platform;

namespace {

constexpr const char* kFullNamespacePrefix = "com.quilbrenx.WebImageCache.";

// The extension of the key taken as a file path: what follows the last "." of its last component.
std::string pathExtensionOf(const std::string& key) {
    std::string_view path = key;
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    auto slash = path.rfind('/');
    std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    auto dot = last.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(last.substr(dot + 1));
}

// Whether the name, and the temporary a write of it goes through, fit in one directory entry.
bool fitsInDirectoryEntry(const std::string& name) {
    return AtomicFile::temporaryPrefix(name).size() + 6 <= NAME_MAX;
}

} // namespace

std::shared_ptr<ImageCache> ImageCache::sharedImageCache() {
    // Kept for the life of the process: workers may still reach it while static destructors run.
    static platform::detail::Immortal<std::shared_ptr<ImageCache>> shared{create()};
    return shared.get();
}

std::shared_ptr<ImageCache> ImageCache::create() {
    return initWithNamespace("default");
}

std::shared_ptr<ImageCache> ImageCache::initWithNamespace(const std::string& ns) {
    return initWithNamespace(ns, makeDiskCachePath(ns));
}

std::shared_ptr<ImageCache> ImageCache::initWithNamespace(const std::string& ns,
                                                          const std::optional<std::string>& directory) {
    auto cache = std::make_shared<ImageCache>(PrivateTag{}, ns, directory);
    cache->observeApplication();
    return cache;
}

ImageCache::ImageCache(PrivateTag, const std::string& ns, const std::optional<std::string>& directory)
    : m_ioQueue(DispatchQueue::create("com.quilbrenx.WebImageCache")) {
    std::string fullNamespace = kFullNamespacePrefix + ns;
    m_memCache->setName(fullNamespace);
    m_diskCachePath = directory ? *directory + "/" + fullNamespace : makeDiskCachePath(ns);
}

ImageCache::~ImageCache() {
    NotificationCenter::defaultCenter().removeObserver(this);
}

void ImageCache::observeApplication() {
    auto& center = NotificationCenter::defaultCenter();
    auto observe = [&](const char* name, void (ImageCache::*action)()) {
        center.addObserver(self(), name, nullptr,
                           [weak = std::weak_ptr(self()), action](const Notification&) {
                               if (auto strong = weak.lock())
                                   (strong.get()->*action)();
                           });
    };
    observe(UIApplicationDidReceiveMemoryWarningNotification, &ImageCache::clearMemory);
    observe(UIApplicationWillTerminateNotification, &ImageCache::cleanDisk);
    observe(UIApplicationDidEnterBackgroundNotification, &ImageCache::backgroundCleanDisk);
}

std::string ImageCache::makeDiskCachePath(const std::string& name) {
    return Paths::caches().string() + "/" + name;
}

void ImageCache::addReadOnlyCachePath(const std::string& path) {
    std::lock_guard lock(m_customPathsMutex);
    if (std::find(m_customPaths.begin(), m_customPaths.end(), path) == m_customPaths.end())
        m_customPaths.push_back(path);
}

std::vector<std::string> ImageCache::customPaths() const {
    std::lock_guard lock(m_customPathsMutex);
    return m_customPaths;
}

std::string ImageCache::cachePathForKey(const Key& key, const std::string& path) const {
    return path + "/" + cachedFileNameForKey(key);
}

std::string ImageCache::defaultCachePathForKey(const Key& key) const {
    return cachePathForKey(key, m_diskCachePath);
}

std::string ImageCache::cachedFileNameForKey(const Key& key) const {
    std::string digest = md5Hex(key.value_or(""));
    std::string extension = key ? pathExtensionOf(*key) : std::string();
    if (extension.empty())
        return digest;
    std::string name = digest + "." + extension;
    // A name the file system refuses would never be written; the bare digest is one readers accept.
    return fitsInDirectoryEntry(name) ? name : digest;
}

UIImagePtr ImageCache::scaledImageForKey(const Key& key, const UIImagePtr& image) const {
    return imagecache::detail::scaledImageForKey(key, image);
}

UIImagePtr ImageCache::imageFromMemoryCacheForKey(const Key& key) const {
    if (!key)
        return nullptr;
    return std::dynamic_pointer_cast<UIImage>(m_memCache->objectForKey(*key));
}

void ImageCache::putInMemory(const std::string& key, const UIImagePtr& image) {
    if (!m_shouldCacheImagesInMemory)
        return;
    CGSize size = image->size();
    double scale = image->scale();
    m_memCache->setObject(image, key, uint64_t(size.width * size.height * scale * scale));
}

void ImageCache::clearMemory() {
    m_memCache->removeAllObjects();
}
