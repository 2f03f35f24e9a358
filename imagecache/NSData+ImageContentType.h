#pragma once
// The image type of bytes, told by their first byte alone (the 12-byte RIFF header for WebP): a MIME
// type ("image/jpeg", "image/png", "image/gif", "image/tiff", "image/webp"), or nullopt for empty data
// and for anything else. It does not check that the rest is an image. Any thread.

#include "platform/foundation/Data.h"

#include <optional>
#include <string>

std::optional<std::string> wi_contentTypeForImageData(const platform::Data& data);

// The older name, kept for callers that still use it.
std::optional<std::string> contentTypeForImageData(const platform::Data& data);
