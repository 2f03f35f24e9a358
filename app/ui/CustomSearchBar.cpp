#include "app/ui/CustomSearchBar.h"

#include "app/ui/NSString+Extension.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UIScreen.h"

#include <limits>

using namespace platform;

namespace {
constexpr double searchBarHeight = 28;
constexpr double iconLeft = 7;
constexpr double iconGap = 4;
const char* const searchIconName = "searchbar_textfield_search_icon";
} // namespace

std::shared_ptr<CustomSearchBar> CustomSearchBar::create(CGRect frame) {
    return std::make_shared<CustomSearchBar>(frame);
}

CustomSearchBar::CustomSearchBar(CGRect frame)
    : UITextField(CGRectMake(frame.origin.x, frame.origin.y, frame.size.width, searchBarHeight)) {
    setContentVerticalAlignment(UIControlContentVerticalAlignmentCenter);
    setContentHorizontalAlignment(UIControlContentHorizontalAlignmentCenter);
    setReturnKeyType(UIReturnKeySearch);
    setBackground(UIImage::imageNamed("searchbar_textfield_background"));
    layer()->setMasksToBounds(true);
    layer()->setCornerRadius(5);
    layer()->setBorderWidth(1.0 / UIScreen::mainScreen()->scale());
    setFont(UIFont::systemFontOfSize(14));
    auto icon = UIImageView::create(UIImage::imageNamed(searchIconName));
    icon->setContentMode(UIViewContentModeCenter);
    setLeftView(icon);
    setLeftViewMode(UITextFieldViewModeAlways);
    setClearButtonMode(UITextFieldViewModeAlways);
}

CGSize CustomSearchBar::iconSize() const {
    auto image = UIImage::imageNamed(searchIconName);
    return image ? image->size() : CGSizeZero;
}

double CustomSearchBar::centredIconX(CGRect bounds) const {
    double max = std::numeric_limits<double>::max();
    double placeholderWidth =
        sizeWithFont(placeholder(), UIFont::systemFontOfSize(14), CGSizeMake(max, max)).width;
    return (bounds.size.width - (placeholderWidth + (iconSize().width + iconGap))) * 0.5;
}

CGRect CustomSearchBar::leftViewRectForBounds(CGRect bounds) {
    CGSize icon = iconSize();
    double x = !isEditing() && text().empty() ? centredIconX(bounds) : iconLeft;
    return CGRectMake(x, (bounds.size.height - icon.height) * 0.5, icon.width, icon.height);
}

CGRect CustomSearchBar::placeholderRectForBounds(CGRect bounds) {
    CGRect base = UITextField::placeholderRectForBounds(bounds);
    double iconWidth = iconSize().width;
    double x = isEditing() ? iconWidth + iconLeft + iconGap : centredIconX(bounds) + iconWidth + iconGap;
    return CGRectMake(x, 1, base.size.width, base.size.height);
}

CGRect CustomSearchBar::editingRectForBounds(CGRect bounds) {
    CGRect base = UITextField::editingRectForBounds(bounds);
    return CGRectMake(iconSize().width + iconLeft + iconGap, 1, base.size.width, base.size.height);
}

CGRect CustomSearchBar::textRectForBounds(CGRect bounds) {
    CGRect base = UITextField::textRectForBounds(bounds);
    return CGRectMake(iconSize().width + iconLeft + iconGap, 1, base.size.width, base.size.height);
}

void CustomSearchBar::adaptLightBar(bool light) {
    auto color = light ? UIColor::colorWithRed(229 / 255.0, 229 / 255.0, 229 / 255.0, 1)
                       : UIColor::colorWithRed(1, 1, 1, 1);
    layer()->setBorderColor(color->CGColor());
}
