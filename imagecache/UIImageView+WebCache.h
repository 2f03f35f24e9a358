#pragma once
// UIImageView(WebCache) and UIImageView(HighlightedWebCache): an image view loads its image, its
// highlighted image or its animation frames by URL through the shared image manager. Each slot runs one
// load: a new one cancels the old. The image view is held weakly by its loads; one that has gone is
// never touched. Results, placeholders and the indicator reach the view on the main thread (directly
// when the call is made there); completions run there too.
//
// Options are the manager's (WebImageLoadOptions); two act here: DelayPlaceholder (512) puts the
// placeholder only when a load brings no image, and AvoidAutoSetImage (2048) hands a loaded image to the
// completion instead of the view. A nil URL reports the error WebImageErrorDomain -1 "Trying to load a
// nil url" to the completion. Animation frames are appended in the order their loads complete.
//
//     wi_setImageWithURL(avatarView, URL::create(user.avatar), placeholder, 0,
//                        [](UIImagePtr image, ErrorPtr error, ImageCacheSource, URLPtr) { ... });

#include "imagecache/WebImageManager.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIImageView.h"

#include <functional>
#include <memory>
#include <vector>

using WebImageCompletionBlock = std::function<void(platform::UIImagePtr image, platform::ErrorPtr error,
                                                   ImageCacheSource cacheType, platform::URLPtr imageURL)>;

inline constexpr const char* kImageViewImageLoadKey = "UIImageViewImageLoad";
inline constexpr const char* kImageViewAnimationImagesKey = "UIImageViewAnimationImages";
inline constexpr const char* kImageViewHighlightedImageKey = "highlightedImage";

// The error a load without a URL reports.
platform::ErrorPtr wi_nilURLError();

// ---- WebCache ---------------------------------------------------------------------------------

void wi_setImageWithURL(const platform::UIImageViewPtr& view, const platform::URLPtr& url,
                        platform::UIImagePtr placeholder = nullptr, WebImageLoadOptions options = 0,
                        WebImageDownloaderProgressBlock progress = {},
                        WebImageCompletionBlock completed = {});
void wi_setImageWithURL(const platform::UIImageViewPtr& view, const platform::URLPtr& url,
                        WebImageCompletionBlock completed);
void wi_setImageWithURL(const platform::UIImageViewPtr& view, const platform::URLPtr& url,
                        platform::UIImagePtr placeholder, WebImageCompletionBlock completed);
void wi_setImageWithURL(const platform::UIImageViewPtr& view, const platform::URLPtr& url,
                        platform::UIImagePtr placeholder, WebImageLoadOptions options,
                        WebImageCompletionBlock completed);
// The image cached under the URL's key (memory, then disk) as the placeholder, else the given one.
void wi_setImageWithPreviousCachedImageWithURL(const platform::UIImageViewPtr& view,
                                               const platform::URLPtr& url, platform::UIImagePtr placeholder,
                                               WebImageLoadOptions options,
                                               WebImageDownloaderProgressBlock progress,
                                               WebImageCompletionBlock completed);
// The URL of the last image load (nil after a load without one).
platform::URLPtr wi_imageURL(const platform::UIImageView& view);
void wi_setAnimationImagesWithURLs(const platform::UIImageViewPtr& view,
                                   const std::vector<platform::URLPtr>& urls);
void wi_cancelCurrentImageLoad(platform::UIImageView& view);
void wi_cancelCurrentAnimationImagesLoad(platform::UIImageView& view);

// The indicator shown while an image loads, when asked for (off by default), in the stored style.
platform::UIActivityIndicatorViewPtr activityIndicator(const platform::UIImageView& view);
void setActivityIndicator(platform::UIImageView& view, platform::UIActivityIndicatorViewPtr indicator);
bool showActivityIndicatorView(const platform::UIImageView& view);
void setShowActivityIndicatorView(platform::UIImageView& view, bool show);
int64_t getIndicatorStyle(const platform::UIImageView& view);
void setIndicatorStyle(platform::UIImageView& view, int64_t style);
// Made once, centred on the view and started; removed and forgotten.
void addActivityIndicator(const platform::UIImageViewPtr& view);
void removeActivityIndicator(platform::UIImageView& view);

// ---- HighlightedWebCache ----------------------------------------------------------------------

void wi_setHighlightedImageWithURL(const platform::UIImageViewPtr& view, const platform::URLPtr& url,
                                   WebImageLoadOptions options = 0,
                                   WebImageDownloaderProgressBlock progress = {},
                                   WebImageCompletionBlock completed = {});
void wi_setHighlightedImageWithURL(const platform::UIImageViewPtr& view, const platform::URLPtr& url,
                                   WebImageCompletionBlock completed);
void wi_setHighlightedImageWithURL(const platform::UIImageViewPtr& view, const platform::URLPtr& url,
                                   WebImageLoadOptions options, WebImageCompletionBlock completed);
void wi_cancelCurrentHighlightedImageLoad(platform::UIImageView& view);
