#include "app/ui/UIImage+Tint.h"
#include "app/ui/UIViewController+Base.h"
#include "app/ui/UIViewController+NavigationBar.h"
#include "platform/graphics/Font.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIScreen.h"

using namespace platform;

namespace {

constexpr double kTitleFontSize = 17;
constexpr double kLeftEdgeSpace = -7;

enum class Side { Left, Right };

void storeAndShow(UIViewController& controller, Side side, UIButtonPtr button, UIBarButtonItemPtr item,
                  std::vector<UIBarButtonItemPtr> items) {
    if (side == Side::Left) {
        setNavigationBarLeftButton(controller, std::move(button));
        setNavigationBarLeftButtonItem(controller, std::move(item));
        setNavigationBarLeftButtonItems(controller, std::move(items));
    } else {
        setNavigationBarRightButton(controller, std::move(button));
        setNavigationBarRightButtonItem(controller, std::move(item));
        setNavigationBarRightButtonItems(controller, std::move(items));
    }
}

void addTitleItem(UIViewController& controller, Side side, std::optional<std::string> title, UIColorPtr color,
                  Selector action) {
    auto item =
        barButtonItemWithTitle(controller, std::move(title), std::move(color), std::move(action), nullptr);
    storeAndShow(controller, side, nullptr, item, {item});
}

void addImageItem(UIViewController& controller, Side side, UIImagePtr image, Selector action) {
    UIButtonPtr button;
    auto item = barButtonItemWithImage(controller, std::move(image), std::move(action), &button);
    std::vector<UIBarButtonItemPtr> items;
    if (side == Side::Left) {
        auto space = UIBarButtonItem::create(UIBarButtonSystemItemFixedSpace, nullptr, Selector{});
        space->setWidth(kLeftEdgeSpace);
        items.push_back(space);
    }
    items.push_back(item);
    storeAndShow(controller, side, std::move(button), item, std::move(items));
}

UIBarButtonItemPtr entryItem(UIViewController& controller, const Value& object, uint64_t kind,
                             Selector action) {
    switch (kind) {
    case NavigationBarButtonKindTitle:
        if (!object.isString())
            return nullptr;
        return barButtonItemWithTitle(controller, *object.string(), navigationBarButtonItemColor(controller),
                                      std::move(action), nullptr);
    case NavigationBarButtonKindImage:
        if (auto image = object.objectAs<UIImage>())
            return barButtonItemWithImage(controller, image, std::move(action), nullptr);
        return nullptr;
    case NavigationBarButtonKindImageName:
        if (!object.isString())
            return nullptr;
        return barButtonItemWithImage(controller,
                                      imageNamed(*object.string(), navigationBarButtonItemColor(controller)),
                                      std::move(action), nullptr);
    default:
        return nullptr;
    }
}

} // namespace

UIBarButtonItemPtr barButtonItemWithTitle(UIViewController& controller, std::optional<std::string> title,
                                          UIColorPtr color, Selector action, UIButtonPtr*) {
    auto item = UIBarButtonItem::create(std::move(title), UIBarButtonItemStylePlain,
                                        controller.shared_from_this(), std::move(action));
    NSAttributes attributes;
    attributes.set(NSFontAttributeName, Value(UIFont::systemFontOfSize(kTitleFontSize)));
    if (color)
        attributes.set(NSForegroundColorAttributeName, Value(std::move(color)));
    item->setTitleTextAttributes(std::move(attributes), UIControlStateNormal);
    return item;
}

UIBarButtonItemPtr barButtonItemWithImage(UIViewController& controller, UIImagePtr image, Selector action,
                                          UIButtonPtr* button) {
    auto imageButton = UIButton::buttonWithType(UIButtonTypeCustom);
    CGSize size = CGSizeZero;
    if (image) {
        const double factor = image->scale() / UIScreen::mainScreen()->scale();
        size = CGSizeMake(image->size().width * factor, image->size().height * factor);
    }
    imageButton->setImage(std::move(image), UIControlStateNormal);
    imageButton->setFrame(CGRectMake(0, 0, size.width, size.height));
    imageButton->addTarget(controller.shared_from_this(), std::move(action), UIControlEventTouchUpInside);
    imageButton->setAutoresizingMask(UIViewAutoresizingFlexibleTopMargin |
                                     UIViewAutoresizingFlexibleBottomMargin);
    if (button)
        *button = imageButton;
    return UIBarButtonItem::create(imageButton);
}

void addNavigationBarLeftButtonItemWithTitle(UIViewController& controller, std::optional<std::string> title,
                                             Selector action) {
    addTitleItem(controller, Side::Left, std::move(title), navigationBarButtonItemColor(controller),
                 std::move(action));
}

void addNavigationBarLeftButtonItemWithTitle(UIViewController& controller, std::optional<std::string> title,
                                             UIColorPtr color, Selector action) {
    addTitleItem(controller, Side::Left, std::move(title), std::move(color), std::move(action));
}

void addNavigationBarLeftButtonItemWithImage(UIViewController& controller, UIImagePtr image,
                                             Selector action) {
    addImageItem(controller, Side::Left, std::move(image), std::move(action));
}

void addNavigationBarLeftButtonItemWithImageName(UIViewController& controller, std::string_view name,
                                                 Selector action) {
    addImageItem(controller, Side::Left, imageNamed(name, navigationBarButtonItemColor(controller)),
                 std::move(action));
}

void addNavigationBarRightButtonItemWithTitle(UIViewController& controller, std::optional<std::string> title,
                                              Selector action) {
    addTitleItem(controller, Side::Right, std::move(title), navigationBarButtonItemColor(controller),
                 std::move(action));
}

void addNavigationBarRightButtonItemWithTitle(UIViewController& controller, std::optional<std::string> title,
                                              UIColorPtr color, Selector action) {
    addTitleItem(controller, Side::Right, std::move(title), std::move(color), std::move(action));
}

void addNavigationBarRightButtonItemWithImage(UIViewController& controller, UIImagePtr image,
                                              Selector action) {
    addImageItem(controller, Side::Right, std::move(image), std::move(action));
}

void addNavigationBarRightButtonItemWithImageName(UIViewController& controller, std::string_view name,
                                                  Selector action) {
    addImageItem(controller, Side::Right, imageNamed(name, navigationBarButtonItemColor(controller)),
                 std::move(action));
}

void addNavigationBarRightButtonItems(UIViewController& controller, const ValueArray& objects,
                                      const std::vector<uint64_t>& types,
                                      const std::vector<Selector>& actions) {
    if (objects.size() != types.size() || types.size() != actions.size())
        return;
    std::vector<UIBarButtonItemPtr> items;
    for (size_t i = objects.size(); i-- > 0;) {
        if (auto item = entryItem(controller, objects[i], types[i], actions[i]))
            items.push_back(std::move(item));
    }
    setNavigationBarRightButtonItems(controller, std::move(items));
}

void removeNavigationBarLeftButtonItems(UIViewController& controller) {
    if (auto item = ::detail::targetNavigationItem(controller)) {
        item->setLeftBarButtonItem(nullptr);
        item->setLeftBarButtonItems({});
        item->setHidesBackButton(true);
    }
}

void removeNavigationBarRightButtonItems(UIViewController& controller) {
    if (auto item = ::detail::targetNavigationItem(controller)) {
        item->setRightBarButtonItems({});
        item->setRightBarButtonItem(nullptr);
    }
}

void backButtonClicked(UIViewController& controller, Object*) {
    if (auto navigation = controller.navigationController())
        navigation->popViewControllerAnimated(true);
}

namespace detail {
Selector backButtonClickedAction() {
    return selector("backButtonClicked:", [](Object* target, Object* sender, UIEvent*) {
        if (auto* controller = dynamic_cast<UIViewController*>(target))
            backButtonClicked(*controller, sender);
    });
}
} // namespace detail
