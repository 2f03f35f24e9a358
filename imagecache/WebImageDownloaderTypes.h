#pragma once
// What a download is asked for and how it reports: the option bits of one download, and the callbacks
// of the downloader and its operations.
//   progress:   (received bytes, expected bytes); expected is -1 before the response and 0 when the
//               response gives no length.
//   completion: (image or null, data or nullopt, error or null, finished); finished is false only for
//               the partial images of a progressive download.

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/graphics/Image.h"

#include <cstdint>
#include <functional>
#include <optional>

enum WebImageFetchOption : uint64_t {
    WebImageFetchLowPriority = 1,           // queue priority low
    WebImageFetchProgressive = 2,           // partial images while the data arrives
    WebImageFetchUseNSURLCache = 4,         // the protocol's cache policy; otherwise the URL cache is ignored
    WebImageFetchIgnoreCachedResponse = 8,  // a response the URL cache served completes without an image
    WebImageFetchContinueInBackground = 16, // the download holds a background task
    WebImageFetchHandleCookies = 32,
    WebImageFetchAllowInvalidSSL = 64, // any server certificate is accepted
    WebImageFetchHighPriority = 128,   // queue priority high; wins over low
};
using WebImageFetchOptions = uint64_t;

using WebImageDownloaderProgressBlock = std::function<void(int64_t receivedSize, int64_t expectedSize)>;
using WebImageDownloaderCompletedBlock = std::function<void(
    platform::UIImagePtr image, std::optional<platform::Data> data, platform::ErrorPtr error, bool finished)>;
using WebImageNoParamsBlock = std::function<void()>;
