#include "tests/support/Artifacts.h"

#include "platform/graphics/ImageEncoder.h"

#include <fstream>
#include <system_error>

namespace liveapp::test {

std::filesystem::path writeArtifact(const platform::UIImagePtr& image, const std::string& fileName) {
    auto png = image && image->CGImage() ? platform::encodePNG(*image->CGImage()) : std::nullopt;
    if (!png)
        return {};
    const std::filesystem::path folder = LIVEAPP_TEST_ARTIFACTS;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const auto path = folder / fileName;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png->bytes()), std::streamsize(png->length()));
    return out ? path : std::filesystem::path();
}

} // namespace liveapp::test
