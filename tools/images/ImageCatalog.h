#pragma once
// The images the application's resources carry, drawn by the project itself. Each entry names a resource
// image, gives its size in points and draws it into a context of that size (origin at the top left, y
// down) at any scale; the generator (main.cpp) writes "<name>.png" at scale 1 and "<name>@2x.png" at
// scale 2 into the resources folder, and the committed files are checked against the drawings by the
// tests. Screens that need a new image add an entry here and run the generator. Thread-safe.

#include "platform/graphics/GraphicsContext.h"
#include "platform/graphics/Image.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace liveapp::images {

struct CatalogImage {
    std::string name;
    platform::CGSize size; // points
    std::function<void(const platform::CGContextRef& context, platform::CGSize size)> draw;
};

const std::vector<CatalogImage>& catalog();

// The image drawn at the scale (pixels per point).
platform::UIImagePtr render(const CatalogImage& image, double scale);

// The scales written for every image, and the file name for one ("name.png", "name@2x.png").
const std::vector<int>& catalogScales();
std::string fileName(const CatalogImage& image, int scale);

// Writes every image at every scale into the folder; false with a message on the first failure.
bool writeCatalog(const std::filesystem::path& folder, std::string* error);

} // namespace liveapp::images
