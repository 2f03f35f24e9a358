#include "tools/images/ImageCatalog.h"

#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/graphics/ImageEncoder.h"
#include "tools/images/HomeDrawings.h"
#include "tools/images/LiveDrawings.h"
#include "tools/images/WidgetDrawings.h"

#include <fstream>

using namespace platform;

namespace liveapp::images {

namespace {

// A chevron pointing left, in white, with round ends: the back arrow of the navigation bars, tinted by
// the screens to their button colour.
void drawBackArrow(const CGContextRef& context, CGSize size) {
    constexpr double lineWidth = 2.5;
    const double inset = lineWidth / 2 + 0.25;
    CGContextSetRGBStrokeColor(context, 1, 1, 1, 1);
    CGContextSetLineWidth(context, lineWidth);
    CGContextSetLineCap(context, kCGLineCapRound);
    CGContextSetLineJoin(context, kCGLineJoinRound);
    CGContextBeginPath(context);
    CGContextMoveToPoint(context, size.width - inset, inset);
    CGContextAddLineToPoint(context, inset + 1, size.height / 2);
    CGContextAddLineToPoint(context, size.width - inset, size.height - inset);
    CGContextStrokePath(context);
}

} // namespace

const std::vector<CatalogImage>& catalog() {
    static const std::vector<CatalogImage> images = [] {
        std::vector<CatalogImage> all = {
            {"navigation_back_white", CGSizeMake(12, 21), drawBackArrow},
            {"collection_view_header_indicator", CGSizeMake(8, 13), drawHeaderIndicator},
            {"searchbar_textfield_background", CGSizeMake(16, 28), drawSearchFieldBackground},
            {"searchbar_textfield_search_icon", CGSizeMake(13, 13), drawSearchIcon},
        };
        for (auto more : {homeImages(), liveImages()}) {
            for (auto& image : more)
                all.push_back(std::move(image));
        }
        return all;
    }();
    return images;
}

const std::vector<int>& catalogScales() {
    static const std::vector<int> scales = {1, 2};
    return scales;
}

std::string fileName(const CatalogImage& image, int scale) {
    return scale == 1 ? image.name + ".png" : image.name + "@" + std::to_string(scale) + "x.png";
}

UIImagePtr render(const CatalogImage& image, double scale) {
    return UIGraphicsImageWithDrawing(image.size, false, scale,
                                      [&](const CGContextRef& context) { image.draw(context, image.size); });
}

bool writeCatalog(const std::filesystem::path& folder, std::string* error) {
    auto fail = [error](std::string message) {
        if (error)
            *error = std::move(message);
        return false;
    };
    for (const auto& image : catalog()) {
        for (int scale : catalogScales()) {
            auto drawn = render(image, scale);
            auto png = drawn ? encodePNG(*drawn->CGImage()) : std::nullopt;
            if (!png)
                return fail("cannot draw " + fileName(image, scale));
            const auto path = folder / fileName(image, scale);
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(png->bytes()), std::streamsize(png->length()));
            if (!out)
                return fail("cannot write " + path.string());
        }
    }
    return true;
}

} // namespace liveapp::images
