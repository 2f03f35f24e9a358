#pragma once
// UIImage(MakeImage): images and texts composited onto a background, and stretching. Composites are drawn
// into a plain context (scale 1) of the background's size in pixels, so their rectangles are in the
// background's pixels; later entries are drawn over earlier ones. Thread-safe.

#include "platform/foundation/Value.h"
#include "platform/graphics/Image.h"

// Keys of a text entry of addResources.
inline constexpr const char* TextRssText = "TextRssText";
inline constexpr const char* TextRssFont = "TextRssFont";
inline constexpr const char* TextRssColor = "TextRssColor";
inline constexpr const char* TextRssParagraph = "TextRssParagraph";

// The image over the background at its top left, or centred, or in the rectangle. Null without a
// background with pixels; without an image, the background alone.
platform::UIImagePtr addImage(const platform::UIImagePtr& image, const platform::UIImagePtr& background);
platform::UIImagePtr addImage(const platform::UIImagePtr& image, const platform::UIImagePtr& background,
                              bool inCenter);
platform::UIImagePtr addImage(const platform::UIImagePtr& image, const platform::UIImagePtr& background,
                              platform::CGRect rect);
// addResources:inRects:toImage: each entry drawn into its rectangle (text of CGRectFromString): an image,
// or a dictionary holding a text under TextRssText drawn with the font, colour and paragraph style under
// the other keys (those missing take the text drawing's defaults: system font, black, natural
// alignment). Other entries are skipped. Null unless both lists are arrays of one length.
platform::UIImagePtr addResources(const platform::Value& entries, const platform::Value& rects,
                                  const platform::UIImagePtr& background);
// scaleToSize:size: the image stretched over the size, aspect not kept (a blank image without one).
platform::UIImagePtr scaleToSize(const platform::UIImagePtr& image, platform::CGSize size);
// fitSmallImage:size: null without an image; an image above 200 points both ways unchanged; else
// stretched as scaleToSize.
platform::UIImagePtr fitSmallImage(const platform::UIImagePtr& image, platform::CGSize size);
