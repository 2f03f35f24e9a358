#include "platform/graphics/ParagraphStyle.h"

namespace platform {

NSParagraphStylePtr NSParagraphStyle::defaultParagraphStyle() {
    static const NSParagraphStylePtr style = std::make_shared<NSParagraphStyle>();
    return style;
}

} // namespace platform
