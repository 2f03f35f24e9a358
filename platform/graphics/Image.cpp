#include "platform/graphics/Image.h"

#include "platform/foundation/Bundle.h"
#include "platform/graphics/ImageEncoder.h"
#include "platform/graphics/ImageSource.h"

#include <algorithm>
#include <atomic>
#include <fmt/format.h>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

namespace platform {
namespace {

std::atomic<double> g_screenScale{2.0};

struct NamedImageCache {
    std::mutex mutex;
    std::map<std::string, UIImagePtr, std::less<>> images;
};

NamedImageCache& namedImages() {
    static NamedImageCache cache;
    return cache;
}

// "icon@2x" says 2, "icon@3x" 3, anything else 1.
double scaleOfStem(std::string_view stem) {
    if (stem.size() >= 3 && stem.substr(stem.size() - 3) == "@2x")
        return 2;
    if (stem.size() >= 3 && stem.substr(stem.size() - 3) == "@3x")
        return 3;
    return 1;
}

std::optional<Data> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return Data(std::move(bytes));
}

UIImagePtr loadNamed(std::string_view name) {
    std::filesystem::path path(name);
    std::string directory = path.parent_path().string();
    std::string stem = path.stem().string();
    std::string extension = path.extension().string();
    std::vector<std::string> extensions;
    static const char* const known[] = {".png", ".jpg", ".jpeg", ".gif", ".webp", ".tif", ".tiff"};
    if (std::find(std::begin(known), std::end(known), extension) != std::end(known)) {
        extensions.push_back(extension.substr(1));
    } else {
        stem = path.filename().string();
        extensions = {"png", "jpg", "jpeg", "gif", "webp"};
    }
    std::vector<std::string> suffixes;
    double screen = UIImage::screenScale();
    if (screen >= 3)
        suffixes = {"@3x", "@2x", ""};
    else if (screen >= 2)
        suffixes = {"@2x", "@3x", ""};
    else
        suffixes = {"", "@2x", "@3x"};
    if (scaleOfStem(stem) != 1)
        suffixes = {""};
    auto bundle = Bundle::mainBundle();
    for (const std::string& suffix : suffixes) {
        for (const std::string& type : extensions) {
            std::optional<std::string> file = bundle->pathForResource(stem + suffix, type, directory);
            if (!file)
                continue;
            if (UIImagePtr image = UIImage::imageWithContentsOfFile(*file))
                return image;
        }
    }
    return nullptr;
}

} // namespace

UIImage::UIImage(PrivateTag, CGImageRef bitmap, double scale, UIImageOrientation orientation)
    : m_bitmap(std::move(bitmap))
    , m_scale(scale > 0 ? scale : 1)
    , m_orientation(orientation) {}

UIImagePtr UIImage::imageNamed(std::string_view name) {
    if (name.empty())
        return nullptr;
    NamedImageCache& cache = namedImages();
    {
        std::lock_guard lock(cache.mutex);
        if (auto it = cache.images.find(name); it != cache.images.end())
            return it->second;
    }
    UIImagePtr image = loadNamed(name);
    if (image) {
        std::lock_guard lock(cache.mutex);
        cache.images.emplace(std::string(name), image);
    }
    return image;
}

void UIImage::clearNamedImageCache() {
    NamedImageCache& cache = namedImages();
    std::lock_guard lock(cache.mutex);
    cache.images.clear();
}

UIImagePtr UIImage::imageWithContentsOfFile(const std::filesystem::path& path) {
    std::optional<Data> data = readFile(path);
    if (!data)
        return nullptr;
    return imageWithData(*data, scaleOfStem(path.stem().string()));
}

UIImagePtr UIImage::imageWithData(const Data& data) {
    return imageWithData(data, 1);
}

UIImagePtr UIImage::imageWithData(const Data& data, double scale) {
    auto source = ImageSource::create(data);
    if (!source)
        return nullptr;
    return imageWithCGImage(source->createImageAtIndex(0), scale, UIImageOrientationUp);
}

UIImagePtr UIImage::imageWithCGImage(CGImageRef image) {
    return imageWithCGImage(std::move(image), 1, UIImageOrientationUp);
}

UIImagePtr UIImage::imageWithCGImage(CGImageRef image, double scale, UIImageOrientation orientation) {
    if (!image)
        return nullptr;
    if (orientation < UIImageOrientationUp || orientation > UIImageOrientationRightMirrored)
        orientation = UIImageOrientationUp;
    return std::make_shared<UIImage>(PrivateTag{}, std::move(image), scale, orientation);
}

UIImagePtr UIImage::animatedImageWithImages(std::vector<UIImagePtr> images, double duration) {
    std::erase(images, nullptr);
    if (images.empty())
        return nullptr;
    const UIImage& first = *images.front();
    auto image = std::make_shared<UIImage>(PrivateTag{}, first.m_bitmap, first.m_scale, first.m_orientation);
    image->m_images = std::move(images);
    image->m_duration = duration;
    return image;
}

double UIImage::screenScale() {
    return g_screenScale.load();
}

void UIImage::setScreenScale(double scale) {
    g_screenScale.store(scale > 0 ? scale : 1);
}

CGSize UIImage::size() const {
    double width = m_bitmap ? m_bitmap->width() / m_scale : 0;
    double height = m_bitmap ? m_bitmap->height() / m_scale : 0;
    switch (m_orientation) {
    case UIImageOrientationLeft:
    case UIImageOrientationRight:
    case UIImageOrientationLeftMirrored:
    case UIImageOrientationRightMirrored:
        return {height, width};
    default:
        return {width, height};
    }
}

UIImagePtr UIImage::imageWithRenderingMode(UIImageRenderingMode mode) const {
    auto image = std::make_shared<UIImage>(PrivateTag{}, m_bitmap, m_scale, m_orientation);
    image->m_images = m_images;
    image->m_duration = m_duration;
    image->m_renderingMode = mode;
    return image;
}

std::string UIImage::description() const {
    CGSize s = size();
    if (isAnimated())
        return fmt::format("<UIImage: {}x{} @{}x, {} frames, {}s>", s.width, s.height, m_scale,
                           m_images.size(), m_duration);
    return fmt::format("<UIImage: {}x{} @{}x>", s.width, s.height, m_scale);
}

std::optional<Data> UIImagePNGRepresentation(const UIImagePtr& image) {
    if (!image || !image->CGImage())
        return std::nullopt;
    return encodePNG(*image->CGImage());
}

std::optional<Data> UIImageJPEGRepresentation(const UIImagePtr& image, double compressionQuality) {
    if (!image || !image->CGImage())
        return std::nullopt;
    return encodeJPEG(*image->CGImage(), compressionQuality);
}

} // namespace platform
