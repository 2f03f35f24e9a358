#include "imagecache/WebCacheDeprecated.h"

using namespace platform;

namespace {

// The current completion that hands the first three values to an older one.
WebImageCompletionBlock adapted(WebImageCompletedBlock completed) {
    return [completed = std::move(completed)](UIImagePtr image, ErrorPtr error, ImageCacheSource source,
                                              URLPtr) {
        if (completed)
            completed(std::move(image), std::move(error), source);
    };
}

} // namespace

// ---- Image views ------------------------------------------------------------------------------

URLPtr imageURL(const UIImageView& view) {
    return wi_imageURL(view);
}

void setImageWithURL(const UIImageViewPtr& view, const URLPtr& url, UIImagePtr placeholder,
                     WebImageLoadOptions options) {
    wi_setImageWithURL(view, url, std::move(placeholder), options, {}, {});
}

void setImageWithURL(const UIImageViewPtr& view, const URLPtr& url, WebImageCompletedBlock completed) {
    setImageWithURL(view, url, nullptr, 0, {}, std::move(completed));
}

void setImageWithURL(const UIImageViewPtr& view, const URLPtr& url, UIImagePtr placeholder,
                     WebImageCompletedBlock completed) {
    setImageWithURL(view, url, std::move(placeholder), 0, {}, std::move(completed));
}

void setImageWithURL(const UIImageViewPtr& view, const URLPtr& url, UIImagePtr placeholder,
                     WebImageLoadOptions options, WebImageCompletedBlock completed) {
    setImageWithURL(view, url, std::move(placeholder), options, {}, std::move(completed));
}

void setImageWithURL(const UIImageViewPtr& view, const URLPtr& url, UIImagePtr placeholder,
                     WebImageLoadOptions options, WebImageDownloaderProgressBlock progress,
                     WebImageCompletedBlock completed) {
    wi_setImageWithURL(view, url, std::move(placeholder), options, std::move(progress),
                       adapted(std::move(completed)));
}

void wi_setImageWithPreviousCachedImageWithURLAndPlaceholderImage(const UIImageViewPtr& view,
                                                                  const URLPtr& url, UIImagePtr placeholder,
                                                                  WebImageLoadOptions options,
                                                                  WebImageDownloaderProgressBlock progress,
                                                                  WebImageCompletionBlock completed) {
    wi_setImageWithPreviousCachedImageWithURL(view, url, std::move(placeholder), options, std::move(progress),
                                              std::move(completed));
}

void setAnimationImagesWithURLs(const UIImageViewPtr& view, const std::vector<URLPtr>& urls) {
    wi_setAnimationImagesWithURLs(view, urls);
}

void cancelCurrentArrayLoad(UIImageView& view) {
    wi_cancelCurrentAnimationImagesLoad(view);
}

void cancelCurrentImageLoad(UIImageView& view) {
    wi_cancelCurrentImageLoad(view);
}

void setHighlightedImageWithURL(const UIImageViewPtr& view, const URLPtr& url, WebImageLoadOptions options) {
    wi_setHighlightedImageWithURL(view, url, options, {}, {});
}

void setHighlightedImageWithURL(const UIImageViewPtr& view, const URLPtr& url,
                                WebImageCompletedBlock completed) {
    setHighlightedImageWithURL(view, url, 0, {}, std::move(completed));
}

void setHighlightedImageWithURL(const UIImageViewPtr& view, const URLPtr& url, WebImageLoadOptions options,
                                WebImageCompletedBlock completed) {
    setHighlightedImageWithURL(view, url, options, {}, std::move(completed));
}

void setHighlightedImageWithURL(const UIImageViewPtr& view, const URLPtr& url, WebImageLoadOptions options,
                                WebImageDownloaderProgressBlock progress, WebImageCompletedBlock completed) {
    wi_setHighlightedImageWithURL(view, url, options, std::move(progress), adapted(std::move(completed)));
}

void cancelCurrentHighlightedImageLoad(UIImageView& view) {
    wi_cancelCurrentHighlightedImageLoad(view);
}

// ---- Buttons ----------------------------------------------------------------------------------

URLPtr currentImageURL(UIButton& button) {
    return wi_currentImageURL(button);
}

URLPtr imageURLForState(UIButton& button, uint64_t state) {
    return wi_imageURLForState(button, state);
}

void setImageWithURL(const UIButtonPtr& button, const URLPtr& url, uint64_t state, UIImagePtr placeholder,
                     WebImageLoadOptions options) {
    wi_setImageWithURL(button, url, state, std::move(placeholder), options, {});
}

void setImageWithURL(const UIButtonPtr& button, const URLPtr& url, uint64_t state,
                     WebImageCompletedBlock completed) {
    setImageWithURL(button, url, state, nullptr, 0, std::move(completed));
}

void setImageWithURL(const UIButtonPtr& button, const URLPtr& url, uint64_t state, UIImagePtr placeholder,
                     WebImageCompletedBlock completed) {
    setImageWithURL(button, url, state, std::move(placeholder), 0, std::move(completed));
}

void setImageWithURL(const UIButtonPtr& button, const URLPtr& url, uint64_t state, UIImagePtr placeholder,
                     WebImageLoadOptions options, WebImageCompletedBlock completed) {
    wi_setImageWithURL(button, url, state, std::move(placeholder), options, adapted(std::move(completed)));
}

void setBackgroundImageWithURL(const UIButtonPtr& button, const URLPtr& url, uint64_t state,
                               UIImagePtr placeholder, WebImageLoadOptions options) {
    wi_setBackgroundImageWithURL(button, url, state, std::move(placeholder), options, {});
}

void setBackgroundImageWithURL(const UIButtonPtr& button, const URLPtr& url, uint64_t state,
                               WebImageCompletedBlock completed) {
    setBackgroundImageWithURL(button, url, state, nullptr, 0, std::move(completed));
}

void setBackgroundImageWithURL(const UIButtonPtr& button, const URLPtr& url, uint64_t state,
                               UIImagePtr placeholder, WebImageCompletedBlock completed) {
    setBackgroundImageWithURL(button, url, state, std::move(placeholder), 0, std::move(completed));
}

void setBackgroundImageWithURL(const UIButtonPtr& button, const URLPtr& url, uint64_t state,
                               UIImagePtr placeholder, WebImageLoadOptions options,
                               WebImageCompletedBlock completed) {
    wi_setBackgroundImageWithURL(button, url, state, std::move(placeholder), options,
                                 adapted(std::move(completed)));
}

void cancelCurrentImageLoad(UIButton& button) {
    wi_cancelImageLoadForState(button, button.state());
}

void cancelBackgroundImageLoadForState(UIButton& button, uint64_t state) {
    wi_cancelBackgroundImageLoadForState(button, state);
}

// ---- The manager ------------------------------------------------------------------------------

std::shared_ptr<WebImageOperation> downloadWithURL(WebImageManager& manager, const URLPtr& url,
                                                   WebImageLoadOptions options,
                                                   WebImageDownloaderProgressBlock progress,
                                                   WebImageCompletedWithFinishedBlock completed) {
    return manager.downloadImageWithURL(
        url, options, std::move(progress),
        [completed = std::move(completed)](UIImagePtr image, ErrorPtr error, ImageCacheSource source,
                                           bool finished, URLPtr) {
            if (completed)
                completed(std::move(image), std::move(error), source, finished);
        });
}
