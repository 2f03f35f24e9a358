#pragma once
// The older selectors of the view extensions and of the image manager, kept for callers written against
// them: each forwards to the current form (UIImageView+WebCache.h, UIButton+WebCache.h) with the same
// arguments. Where an older form takes a completion, the current one gets an adapter that calls it
// (when given) without the image URL, or for the manager without the URL only.

#include "imagecache/UIButton+WebCache.h"
#include "imagecache/UIImageView+WebCache.h"
#include "imagecache/WebImageManager.h"

#include <functional>
#include <memory>
#include <vector>

using WebImageCompletedBlock =
    std::function<void(platform::UIImagePtr image, platform::ErrorPtr error, ImageCacheSource cacheType)>;
using WebImageCompletedWithFinishedBlock = std::function<void(
    platform::UIImagePtr image, platform::ErrorPtr error, ImageCacheSource cacheType, bool finished)>;

// ---- UIImageView(WebCacheDeprecated), UIImageView(HighlightedWebCacheDeprecated) ----------------

platform::URLPtr imageURL(const platform::UIImageView& view);
void setImageWithURL(const platform::UIImageViewPtr& view, const platform::URLPtr& url,
                     platform::UIImagePtr placeholder = nullptr, WebImageLoadOptions options = 0);
void setImageWithURL(const platform::UIImageViewPtr& view, const platform::URLPtr& url,
                     WebImageCompletedBlock completed);
void setImageWithURL(const platform::UIImageViewPtr& view, const platform::URLPtr& url,
                     platform::UIImagePtr placeholder, WebImageCompletedBlock completed);
void setImageWithURL(const platform::UIImageViewPtr& view, const platform::URLPtr& url,
                     platform::UIImagePtr placeholder, WebImageLoadOptions options,
                     WebImageCompletedBlock completed);
void setImageWithURL(const platform::UIImageViewPtr& view, const platform::URLPtr& url,
                     platform::UIImagePtr placeholder, WebImageLoadOptions options,
                     WebImageDownloaderProgressBlock progress, WebImageCompletedBlock completed);
void wi_setImageWithPreviousCachedImageWithURLAndPlaceholderImage(
    const platform::UIImageViewPtr& view, const platform::URLPtr& url, platform::UIImagePtr placeholder,
    WebImageLoadOptions options, WebImageDownloaderProgressBlock progress, WebImageCompletionBlock completed);
void setAnimationImagesWithURLs(const platform::UIImageViewPtr& view,
                                const std::vector<platform::URLPtr>& urls);
void cancelCurrentArrayLoad(platform::UIImageView& view);
void cancelCurrentImageLoad(platform::UIImageView& view);

void setHighlightedImageWithURL(const platform::UIImageViewPtr& view, const platform::URLPtr& url,
                                WebImageLoadOptions options = 0);
void setHighlightedImageWithURL(const platform::UIImageViewPtr& view, const platform::URLPtr& url,
                                WebImageCompletedBlock completed);
void setHighlightedImageWithURL(const platform::UIImageViewPtr& view, const platform::URLPtr& url,
                                WebImageLoadOptions options, WebImageCompletedBlock completed);
void setHighlightedImageWithURL(const platform::UIImageViewPtr& view, const platform::URLPtr& url,
                                WebImageLoadOptions options, WebImageDownloaderProgressBlock progress,
                                WebImageCompletedBlock completed);
void cancelCurrentHighlightedImageLoad(platform::UIImageView& view);

// ---- UIButton(WebCacheDeprecated) ---------------------------------------------------------------

platform::URLPtr currentImageURL(platform::UIButton& button);
platform::URLPtr imageURLForState(platform::UIButton& button, uint64_t state);
void setImageWithURL(const platform::UIButtonPtr& button, const platform::URLPtr& url, uint64_t state,
                     platform::UIImagePtr placeholder = nullptr, WebImageLoadOptions options = 0);
void setImageWithURL(const platform::UIButtonPtr& button, const platform::URLPtr& url, uint64_t state,
                     WebImageCompletedBlock completed);
void setImageWithURL(const platform::UIButtonPtr& button, const platform::URLPtr& url, uint64_t state,
                     platform::UIImagePtr placeholder, WebImageCompletedBlock completed);
void setImageWithURL(const platform::UIButtonPtr& button, const platform::URLPtr& url, uint64_t state,
                     platform::UIImagePtr placeholder, WebImageLoadOptions options,
                     WebImageCompletedBlock completed);
void setBackgroundImageWithURL(const platform::UIButtonPtr& button, const platform::URLPtr& url,
                               uint64_t state, platform::UIImagePtr placeholder = nullptr,
                               WebImageLoadOptions options = 0);
void setBackgroundImageWithURL(const platform::UIButtonPtr& button, const platform::URLPtr& url,
                               uint64_t state, WebImageCompletedBlock completed);
void setBackgroundImageWithURL(const platform::UIButtonPtr& button, const platform::URLPtr& url,
                               uint64_t state, platform::UIImagePtr placeholder,
                               WebImageCompletedBlock completed);
void setBackgroundImageWithURL(const platform::UIButtonPtr& button, const platform::URLPtr& url,
                               uint64_t state, platform::UIImagePtr placeholder, WebImageLoadOptions options,
                               WebImageCompletedBlock completed);
// The load of the button's current state.
void cancelCurrentImageLoad(platform::UIButton& button);
void cancelBackgroundImageLoadForState(platform::UIButton& button, uint64_t state);

// ---- WebImageManager(Deprecated) ---------------------------------------------------------------

std::shared_ptr<WebImageOperation> downloadWithURL(WebImageManager& manager, const platform::URLPtr& url,
                                                   WebImageLoadOptions options,
                                                   WebImageDownloaderProgressBlock progress,
                                                   WebImageCompletedWithFinishedBlock completed);
