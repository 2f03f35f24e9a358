#pragma once
// What every view extension does with a load's result, written once: the view is held weakly and never
// touched once gone; on the main thread (the caller waiting) a loaded image goes to the completion
// alone under AvoidAutoSetImage, else `apply` puts the result (or its absence) into the view, and the
// completion hears about a finished load. `before` runs first, while the view is there (the main image
// takes its indicator down).

#include "imagecache/MainThread.h"
#include "imagecache/UIImageView+WebCache.h"

#include <functional>
#include <memory>

namespace imagecache::detail {

template <typename View>
WebImageCompletionWithFinishedBlock deliverTo(const std::shared_ptr<View>& target,
                                              WebImageLoadOptions options, WebImageCompletionBlock completed,
                                              std::function<void(View&, const platform::UIImagePtr&)> apply,
                                              std::function<void(View&)> before = {}) {
    std::weak_ptr<View> weak = target;
    return [weak, options, completed = std::move(completed), apply = std::move(apply),
            before = std::move(before)](platform::UIImagePtr image, platform::ErrorPtr error,
                                        ImageCacheSource source, bool finished, platform::URLPtr url) {
        if (auto view = weak.lock(); view && before)
            before(*view);
        onMainThreadAndWait([&] {
            auto view = weak.lock();
            if (!view)
                return;
            if (image && (options & WebImageLoadAvoidAutoSetImage) && completed) {
                completed(image, error, source, url);
                return;
            }
            apply(*view, image);
            if (completed && finished)
                completed(image, error, source, url);
        });
    };
}

// A load without a URL: the completion hears the nil-URL error on the main thread.
inline void reportNilURL(const WebImageCompletionBlock& completed) {
    if (completed)
        onMainThread([completed] { completed(nullptr, wi_nilURLError(), ImageCacheSourceNone, nullptr); });
}

} // namespace imagecache::detail
