#pragma once
// Pictures a test draws for a person to look at: written as PNG files into the build folder's artifacts/
// (CI keeps none). Writing is best effort; a test never depends on it.

#include "platform/graphics/Image.h"

#include <filesystem>
#include <string>

namespace liveapp::test {

// The path written, or empty when the image could not be written.
std::filesystem::path writeArtifact(const platform::UIImagePtr& image, const std::string& fileName);

} // namespace liveapp::test
