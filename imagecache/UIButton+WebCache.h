#pragma once
// UIButton(WebCache): a button loads the image or the background image of a control state by URL through
// the shared image manager, with one running load per state and kind (a new one cancels the old). The
// placeholder goes in at once on the calling thread; a loaded image reaches the button on the main
// thread, and a load that brings none leaves the button as it is. The button keeps the URL last asked
// for each state's image (background loads keep none). Options as for image views (UIImageView+WebCache.h);
// a nil URL reports the same error.

#include "imagecache/UIImageView+WebCache.h"
#include "platform/ui/UIButton.h"

#include <cstdint>
#include <map>
#include <memory>

std::string wi_imageLoadKeyForState(uint64_t state);           // "UIButtonImageOperation<state>"
std::string wi_backgroundImageLoadKeyForState(uint64_t state); // "UIButtonBackgroundImageOperation<state>"

void wi_setImageWithURL(const platform::UIButtonPtr& button, const platform::URLPtr& url, uint64_t state,
                        platform::UIImagePtr placeholder = nullptr, WebImageLoadOptions options = 0,
                        WebImageCompletionBlock completed = {});
void wi_setImageWithURL(const platform::UIButtonPtr& button, const platform::URLPtr& url, uint64_t state,
                        WebImageCompletionBlock completed);
void wi_setImageWithURL(const platform::UIButtonPtr& button, const platform::URLPtr& url, uint64_t state,
                        platform::UIImagePtr placeholder, WebImageCompletionBlock completed);

void wi_setBackgroundImageWithURL(const platform::UIButtonPtr& button, const platform::URLPtr& url,
                                  uint64_t state, platform::UIImagePtr placeholder = nullptr,
                                  WebImageLoadOptions options = 0, WebImageCompletionBlock completed = {});
void wi_setBackgroundImageWithURL(const platform::UIButtonPtr& button, const platform::URLPtr& url,
                                  uint64_t state, WebImageCompletionBlock completed);
void wi_setBackgroundImageWithURL(const platform::UIButtonPtr& button, const platform::URLPtr& url,
                                  uint64_t state, platform::UIImagePtr placeholder,
                                  WebImageCompletionBlock completed);

// The URL of the button's current state, else of the normal state.
platform::URLPtr wi_currentImageURL(platform::UIButton& button);
platform::URLPtr wi_imageURLForState(platform::UIButton& button, uint64_t state);
std::map<uint64_t, platform::URLPtr>& imageURLStorage(platform::UIButton& button);

void wi_setImageLoadOperation(platform::UIButton& button, std::shared_ptr<WebImageOperation> operation,
                              uint64_t state);
void wi_cancelImageLoadForState(platform::UIButton& button, uint64_t state);
void wi_setBackgroundImageLoadOperation(platform::UIButton& button,
                                        std::shared_ptr<WebImageOperation> operation, uint64_t state);
void wi_cancelBackgroundImageLoadForState(platform::UIButton& button, uint64_t state);
