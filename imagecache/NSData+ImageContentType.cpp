#include "imagecache/NSData+ImageContentType.h"

std::optional<std::string> wi_contentTypeForImageData(const platform::Data& data) {
    if (data.empty())
        return std::nullopt;
    switch (data.bytes()[0]) {
    case 0xFF:
        return "image/jpeg";
    case 0x89:
        return "image/png";
    case 0x47:
        return "image/gif";
    case 0x49:
    case 0x4D:
        return "image/tiff";
    case 0x52: {
        if (data.length() < 12)
            return std::nullopt;
        std::string_view header = data.view().substr(0, 12);
        if (header.starts_with("RIFF") && header.ends_with("WEBP"))
            return "image/webp";
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<std::string> contentTypeForImageData(const platform::Data& data) {
    return wi_contentTypeForImageData(data);
}
