#include "app/screens/ScreenLook.h"

#include "platform/foundation/Bundle.h"

#include <fmt/format.h>

using namespace platform;

UILabelPtr makeLabel(UIColorPtr color, double fontSize, NSTextAlignment alignment) {
    auto label = UILabel::create();
    label->setBackgroundColor(UIColor::clearColor());
    label->setTextColor(std::move(color));
    label->setFont(UIFont::systemFontOfSize(fontSize));
    label->setTextAlignment(alignment);
    return label;
}

UILabelPtr makeVersionLabel() {
    auto label = makeLabel(colorWithRGB(206, 206, 206), 13, NSTextAlignmentCenter);
    auto version = Bundle::mainBundle()->objectForInfoDictionaryKey("CFBundleShortVersionString");
    label->setText(fmt::format("v{}", version.stringOr()));
    return label;
}
