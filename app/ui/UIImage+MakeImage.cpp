#include "app/ui/ImageDrawing.h"
#include "app/ui/ImageGeometry.h"
#include "app/ui/UIImage+MakeImage.h"
#include "platform/graphics/AttributedString.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/graphics/GraphicsContextText.h"

using namespace platform;

namespace {

constexpr double kSmallImageLimit = 200;

void drawEntry(const Value& entry, CGRect rect) {
    if (auto image = entry.objectAs<UIImage>()) {
        drawInRect(image, rect);
        return;
    }
    const auto* text = entry.isDictionary() ? entry[TextRssText].string() : nullptr;
    if (!text)
        return;
    NSAttributes attributes;
    for (auto [key, name] : {std::pair{TextRssFont, NSFontAttributeName},
                             std::pair{TextRssColor, NSForegroundColorAttributeName},
                             std::pair{TextRssParagraph, NSParagraphStyleAttributeName}}) {
        if (auto value = entry[key]; value.isObject())
            attributes.set(name, value);
    }
    drawInRect(*text, rect, attributes);
}

} // namespace

UIImagePtr addImage(const UIImagePtr& image, const UIImagePtr& background) {
    return addImage(image, background, false);
}

UIImagePtr addImage(const UIImagePtr& image, const UIImagePtr& background, bool inCenter) {
    return addImage(
        image, background,
        ::detail::compositeRect(::detail::pixelSize(image), ::detail::pixelSize(background), inCenter));
}

UIImagePtr addImage(const UIImagePtr& image, const UIImagePtr& background, CGRect rect) {
    const CGSize size = ::detail::pixelSize(background);
    return UIGraphicsImageWithDrawing(size, false, 1, [&](const CGContextRef&) {
        drawInRect(background, CGRectMake(0, 0, size.width, size.height));
        drawInRect(image, rect);
    });
}

UIImagePtr addResources(const Value& entries, const Value& rects, const UIImagePtr& background) {
    if (!entries.isArray() || !rects.isArray() || entries.count() != rects.count())
        return nullptr;
    const CGSize size = ::detail::pixelSize(background);
    return UIGraphicsImageWithDrawing(size, false, 1, [&](const CGContextRef&) {
        drawInRect(background, CGRectMake(0, 0, size.width, size.height));
        for (size_t i = 0; i < entries.count(); ++i)
            drawEntry(entries[i], CGRectFromString(rects[i].stringOr()));
    });
}

UIImagePtr scaleToSize(const UIImagePtr& image, CGSize size) {
    return UIGraphicsImageWithDrawing(size, false, 1, [&](const CGContextRef&) {
        drawInRect(image, CGRectMake(0, 0, size.width, size.height));
    });
}

UIImagePtr fitSmallImage(const UIImagePtr& image, CGSize size) {
    if (!image)
        return nullptr;
    if (image->size().width > kSmallImageLimit && image->size().height > kSmallImageLimit)
        return image;
    return scaleToSize(image, size);
}
