#include "platform/graphics/ImageSource.h"

#include "platform/graphics/ImageDecoder.h"

#include <cstring>

namespace platform {

ImageSource::ImageSource(PrivateTag, ImageFormat format, std::unique_ptr<detail::ImageDecoder> decoder)
    : m_format(format)
    , m_decoder(std::move(decoder)) {}

ImageSource::~ImageSource() = default;

ImageFormat ImageSource::formatOfData(const Data& data) {
    const uint8_t* b = data.bytes();
    size_t n = data.length();
    if (n >= 8 && std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0)
        return ImageFormat::PNG;
    if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF)
        return ImageFormat::JPEG;
    if (n >= 6 && (std::memcmp(b, "GIF87a", 6) == 0 || std::memcmp(b, "GIF89a", 6) == 0))
        return ImageFormat::GIF;
    if (n >= 12 && std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WEBP", 4) == 0)
        return ImageFormat::WebP;
    if (n >= 4 && (std::memcmp(b, "II*\0", 4) == 0 || std::memcmp(b, "MM\0*", 4) == 0))
        return ImageFormat::TIFF;
    return ImageFormat::Unknown;
}

std::shared_ptr<ImageSource> ImageSource::create(Data data, ImageDecodeOptions options) {
    ImageFormat format = formatOfData(data);
    std::unique_ptr<detail::ImageDecoder> decoder;
    switch (format) {
    case ImageFormat::PNG:
        decoder = detail::makePNGDecoder(std::move(data), options);
        break;
    case ImageFormat::JPEG:
        decoder = detail::makeJPEGDecoder(std::move(data), options);
        break;
    case ImageFormat::GIF:
        decoder = detail::makeGIFDecoder(std::move(data), options);
        break;
    case ImageFormat::WebP:
        decoder = detail::makeWebPDecoder(std::move(data), options);
        break;
    case ImageFormat::TIFF:
        decoder = detail::makeTIFFDecoder(std::move(data), options);
        break;
    case ImageFormat::Unknown:
        return nullptr;
    }
    if (!decoder)
        return nullptr;
    return std::make_shared<ImageSource>(PrivateTag{}, format, std::move(decoder));
}

std::string ImageSource::type() const {
    switch (m_format) {
    case ImageFormat::PNG:
        return "public.png";
    case ImageFormat::JPEG:
        return "public.jpeg";
    case ImageFormat::GIF:
        return "com.compuserve.gif";
    case ImageFormat::WebP:
        return "org.webmproject.webp";
    case ImageFormat::TIFF:
        return "public.tiff";
    case ImageFormat::Unknown:
        break;
    }
    return {};
}

size_t ImageSource::count() {
    std::lock_guard lock(m_mutex);
    return m_decoder->count();
}

std::optional<ImageProperties> ImageSource::propertiesAtIndex(size_t index) {
    std::lock_guard lock(m_mutex);
    return m_decoder->properties(index);
}

CGImageRef ImageSource::createImageAtIndex(size_t index) {
    std::lock_guard lock(m_mutex);
    return m_decoder->decode(index);
}

} // namespace platform
