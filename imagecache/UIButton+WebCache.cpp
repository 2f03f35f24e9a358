#include "imagecache/UIButton+WebCache.h"
#include "imagecache/UIView+WebCacheOperation.h"
#include "imagecache/WebCacheDelivery.h"

#include <fmt/format.h>

using namespace platform;
using imagecache::detail::deliverTo;
using imagecache::detail::reportNilURL;

namespace {

const char kURLStorageKey = 0;

class URLStorage final : public Object {
public:
    std::map<uint64_t, URLPtr> urls;
};

using Setter = void (UIButton::*)(UIImagePtr, uint64_t);

// The shape both kinds share: the load of one state's image (or background) into the button.
std::shared_ptr<WebImageOperation> loadInto(const UIButtonPtr& button, const URLPtr& url, uint64_t state,
                                            WebImageLoadOptions options, WebImageCompletionBlock completed,
                                            Setter set) {
    auto apply = [state, set](UIButton& target, const UIImagePtr& image) {
        if (image)
            (target.*set)(image, state);
    };
    return WebImageManager::sharedManager()->downloadImageWithURL(
        url, options, nullptr, deliverTo<UIButton>(button, options, std::move(completed), apply));
}

} // namespace

std::string wi_imageLoadKeyForState(uint64_t state) {
    return fmt::format("UIButtonImageOperation{}", state);
}

std::string wi_backgroundImageLoadKeyForState(uint64_t state) {
    return fmt::format("UIButtonBackgroundImageOperation{}", state);
}

void wi_setImageWithURL(const UIButtonPtr& button, const URLPtr& url, uint64_t state, UIImagePtr placeholder,
                        WebImageLoadOptions options, WebImageCompletionBlock completed) {
    if (!button)
        return;
    button->setImage(std::move(placeholder), state);
    wi_cancelImageLoadForState(*button, state);
    if (!url) {
        imageURLStorage(*button).erase(state);
        return reportNilURL(completed);
    }
    imageURLStorage(*button)[state] = url;
    wi_setImageLoadOperation(
        *button, loadInto(button, url, state, options, std::move(completed), &UIButton::setImage), state);
}

void wi_setImageWithURL(const UIButtonPtr& button, const URLPtr& url, uint64_t state,
                        WebImageCompletionBlock completed) {
    wi_setImageWithURL(button, url, state, nullptr, 0, std::move(completed));
}

void wi_setImageWithURL(const UIButtonPtr& button, const URLPtr& url, uint64_t state, UIImagePtr placeholder,
                        WebImageCompletionBlock completed) {
    wi_setImageWithURL(button, url, state, std::move(placeholder), 0, std::move(completed));
}

void wi_setBackgroundImageWithURL(const UIButtonPtr& button, const URLPtr& url, uint64_t state,
                                  UIImagePtr placeholder, WebImageLoadOptions options,
                                  WebImageCompletionBlock completed) {
    if (!button)
        return;
    wi_cancelBackgroundImageLoadForState(*button, state);
    button->setBackgroundImage(std::move(placeholder), state);
    if (!url)
        return reportNilURL(completed);
    wi_setBackgroundImageLoadOperation(
        *button, loadInto(button, url, state, options, std::move(completed), &UIButton::setBackgroundImage),
        state);
}

void wi_setBackgroundImageWithURL(const UIButtonPtr& button, const URLPtr& url, uint64_t state,
                                  WebImageCompletionBlock completed) {
    wi_setBackgroundImageWithURL(button, url, state, nullptr, 0, std::move(completed));
}

void wi_setBackgroundImageWithURL(const UIButtonPtr& button, const URLPtr& url, uint64_t state,
                                  UIImagePtr placeholder, WebImageCompletionBlock completed) {
    wi_setBackgroundImageWithURL(button, url, state, std::move(placeholder), 0, std::move(completed));
}

std::map<uint64_t, URLPtr>& imageURLStorage(UIButton& button) {
    auto storage = button.associatedObject(&kURLStorageKey).objectAs<URLStorage>();
    if (!storage) {
        storage = std::make_shared<URLStorage>();
        button.setAssociatedObject(&kURLStorageKey, Value(std::static_pointer_cast<Object>(storage)));
    }
    return storage->urls;
}

URLPtr wi_imageURLForState(UIButton& button, uint64_t state) {
    const auto& urls = imageURLStorage(button);
    auto found = urls.find(state);
    return found == urls.end() ? nullptr : found->second;
}

URLPtr wi_currentImageURL(UIButton& button) {
    if (auto url = wi_imageURLForState(button, button.state()))
        return url;
    return wi_imageURLForState(button, UIControlStateNormal);
}

void wi_setImageLoadOperation(UIButton& button, std::shared_ptr<WebImageOperation> operation,
                              uint64_t state) {
    wi_setImageLoadOperation(static_cast<UIView&>(button), std::move(operation),
                             wi_imageLoadKeyForState(state));
}

void wi_cancelImageLoadForState(UIButton& button, uint64_t state) {
    wi_cancelImageLoadOperationWithKey(button, wi_imageLoadKeyForState(state));
}

void wi_setBackgroundImageLoadOperation(UIButton& button, std::shared_ptr<WebImageOperation> operation,
                                        uint64_t state) {
    wi_setImageLoadOperation(static_cast<UIView&>(button), std::move(operation),
                             wi_backgroundImageLoadKeyForState(state));
}

void wi_cancelBackgroundImageLoadForState(UIButton& button, uint64_t state) {
    wi_cancelImageLoadOperationWithKey(button, wi_backgroundImageLoadKeyForState(state));
}
