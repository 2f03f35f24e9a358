#include "imagecache/UIImageView+WebCache.h"
#include "imagecache/UIView+WebCacheOperation.h"
#include "imagecache/WebCacheDelivery.h"
#include "platform/ui/NSLayoutConstraint.h"

using namespace platform;
using imagecache::detail::deliverTo;
using imagecache::detail::onMainThread;
using imagecache::detail::onMainThreadAndWait;
using imagecache::detail::reportNilURL;

namespace {

const char kImageURLKey = 0;
const char kIndicatorKey = 0;
const char kShowIndicatorKey = 0;
const char kIndicatorStyleKey = 0;

} // namespace

ErrorPtr wi_nilURLError() {
    return Error::create(WebImageErrorDomain, -1,
                         Value::dictionary({{NSLocalizedDescriptionKey, "Trying to load a nil url"}}));
}

// ---- The image --------------------------------------------------------------------------------

void wi_setImageWithURL(const UIImageViewPtr& view, const URLPtr& url, UIImagePtr placeholder,
                        WebImageLoadOptions options, WebImageDownloaderProgressBlock progress,
                        WebImageCompletionBlock completed) {
    if (!view)
        return;
    wi_cancelCurrentImageLoad(*view);
    view->setAssociatedObject(&kImageURLKey, url ? Value(url) : Value());
    if (!(options & WebImageLoadDelayPlaceholder))
        onMainThread([view, placeholder] { view->setImage(placeholder); });
    if (!url) {
        onMainThread([weak = std::weak_ptr(view)] {
            if (auto strong = weak.lock())
                removeActivityIndicator(*strong);
        });
        reportNilURL(completed);
        return;
    }
    if (showActivityIndicatorView(*view))
        addActivityIndicator(view);
    auto apply = [options, placeholder](UIImageView& target, const UIImagePtr& image) {
        if (image)
            target.setImage(image);
        else if (options & WebImageLoadDelayPlaceholder)
            target.setImage(placeholder);
        else
            return;
        target.setNeedsLayout();
    };
    auto operation = WebImageManager::sharedManager()->downloadImageWithURL(
        url, options, std::move(progress),
        deliverTo<UIImageView>(view, options, std::move(completed), apply,
                               [](UIImageView& target) { removeActivityIndicator(target); }));
    wi_setImageLoadOperation(*view, operation, kImageViewImageLoadKey);
}

void wi_setImageWithURL(const UIImageViewPtr& view, const URLPtr& url, WebImageCompletionBlock completed) {
    wi_setImageWithURL(view, url, nullptr, 0, {}, std::move(completed));
}

void wi_setImageWithURL(const UIImageViewPtr& view, const URLPtr& url, UIImagePtr placeholder,
                        WebImageCompletionBlock completed) {
    wi_setImageWithURL(view, url, std::move(placeholder), 0, {}, std::move(completed));
}

void wi_setImageWithURL(const UIImageViewPtr& view, const URLPtr& url, UIImagePtr placeholder,
                        WebImageLoadOptions options, WebImageCompletionBlock completed) {
    wi_setImageWithURL(view, url, std::move(placeholder), options, {}, std::move(completed));
}

void wi_setImageWithPreviousCachedImageWithURL(const UIImageViewPtr& view, const URLPtr& url,
                                               UIImagePtr placeholder, WebImageLoadOptions options,
                                               WebImageDownloaderProgressBlock progress,
                                               WebImageCompletionBlock completed) {
    auto manager = WebImageManager::sharedManager();
    UIImagePtr cached;
    if (auto key = manager->cacheKeyForURL(url)) {
        const auto& cache = ImageCache::sharedImageCache();
        cached = cache->imageFromMemoryCacheForKey(*key);
        if (!cached)
            cached = cache->imageFromDiskCacheForKey(*key);
    }
    wi_setImageWithURL(view, url, cached ? cached : std::move(placeholder), options, std::move(progress),
                       std::move(completed));
}

URLPtr wi_imageURL(const UIImageView& view) {
    return view.associatedObject(&kImageURLKey).url();
}

void wi_cancelCurrentImageLoad(UIImageView& view) {
    wi_cancelImageLoadOperationWithKey(view, kImageViewImageLoadKey);
}

// ---- Animation frames -------------------------------------------------------------------------

void wi_setAnimationImagesWithURLs(const UIImageViewPtr& view, const std::vector<URLPtr>& urls) {
    if (!view)
        return;
    wi_cancelCurrentAnimationImagesLoad(*view);
    std::weak_ptr<UIImageView> weak = view;
    WebImageOperations operations;
    for (const auto& url : urls) {
        operations.push_back(WebImageManager::sharedManager()->downloadImageWithURL(
            url, 0, nullptr, [weak](UIImagePtr image, ErrorPtr, ImageCacheSource, bool, URLPtr) {
                if (weak.expired())
                    return;
                onMainThreadAndWait([&] {
                    auto target = weak.lock();
                    if (!target)
                        return;
                    target->stopAnimating();
                    if (image) {
                        auto frames = target->animationImages();
                        frames.push_back(image);
                        target->setAnimationImages(std::move(frames));
                        target->setNeedsLayout();
                    }
                    target->startAnimating();
                });
            }));
    }
    wi_setImageLoadOperation(*view, std::move(operations), kImageViewAnimationImagesKey);
}

void wi_cancelCurrentAnimationImagesLoad(UIImageView& view) {
    wi_cancelImageLoadOperationWithKey(view, kImageViewAnimationImagesKey);
}

// ---- Activity indicator -----------------------------------------------------------------------

UIActivityIndicatorViewPtr activityIndicator(const UIImageView& view) {
    return view.associatedObject(&kIndicatorKey).objectAs<UIActivityIndicatorView>();
}

void setActivityIndicator(UIImageView& view, UIActivityIndicatorViewPtr indicator) {
    view.setAssociatedObject(&kIndicatorKey, indicator ? Value(ObjectPtr(indicator)) : Value());
}

bool showActivityIndicatorView(const UIImageView& view) {
    return view.associatedObject(&kShowIndicatorKey).boolOr(false);
}

void setShowActivityIndicatorView(UIImageView& view, bool show) {
    view.setAssociatedObject(&kShowIndicatorKey, Value(show));
}

int64_t getIndicatorStyle(const UIImageView& view) {
    return view.associatedObject(&kIndicatorStyleKey).int64Or(0);
}

void setIndicatorStyle(UIImageView& view, int64_t style) {
    view.setAssociatedObject(&kIndicatorStyleKey, Value(int32_t(style)));
}

void addActivityIndicator(const UIImageViewPtr& view) {
    if (!activityIndicator(*view)) {
        auto indicator = UIActivityIndicatorView::create(getIndicatorStyle(*view));
        setActivityIndicator(*view, indicator);
        indicator->setTranslatesAutoresizingMaskIntoConstraints(false);
        onMainThread([view, indicator] {
            view->addSubview(indicator);
            for (auto axis : {NSLayoutAttributeCenterX, NSLayoutAttributeCenterY})
                view->addConstraint(NSLayoutConstraint::constraintWithItem(
                    indicator, axis, NSLayoutRelationEqual, view, axis, 1.0, 0.0));
        });
    }
    onMainThread([indicator = activityIndicator(*view)] { indicator->startAnimating(); });
}

void removeActivityIndicator(UIImageView& view) {
    if (auto indicator = activityIndicator(view)) {
        indicator->removeFromSuperview();
        setActivityIndicator(view, nullptr);
    }
}

// ---- Highlighted image ------------------------------------------------------------------------

void wi_setHighlightedImageWithURL(const UIImageViewPtr& view, const URLPtr& url, WebImageLoadOptions options,
                                   WebImageDownloaderProgressBlock progress,
                                   WebImageCompletionBlock completed) {
    if (!view)
        return;
    wi_cancelCurrentHighlightedImageLoad(*view);
    if (!url)
        return reportNilURL(completed);
    auto apply = [](UIImageView& target, const UIImagePtr& image) {
        if (image) {
            target.setHighlightedImage(image);
            target.setNeedsLayout();
        }
    };
    auto operation = WebImageManager::sharedManager()->downloadImageWithURL(
        url, options, std::move(progress),
        deliverTo<UIImageView>(view, options, std::move(completed), apply));
    wi_setImageLoadOperation(*view, operation, kImageViewHighlightedImageKey);
}

void wi_setHighlightedImageWithURL(const UIImageViewPtr& view, const URLPtr& url,
                                   WebImageCompletionBlock completed) {
    wi_setHighlightedImageWithURL(view, url, 0, {}, std::move(completed));
}

void wi_setHighlightedImageWithURL(const UIImageViewPtr& view, const URLPtr& url, WebImageLoadOptions options,
                                   WebImageCompletionBlock completed) {
    wi_setHighlightedImageWithURL(view, url, options, {}, std::move(completed));
}

void wi_cancelCurrentHighlightedImageLoad(UIImageView& view) {
    wi_cancelImageLoadOperationWithKey(view, kImageViewHighlightedImageKey);
}
