#include "imagecache/DownloadConnection.h"
#include "imagecache/MainThread.h"
#include "imagecache/UIImage+ForceDecode.h"
#include "imagecache/UIImage+MultiFormat.h"
#include "imagecache/WebImageDownloaderOperation.h"
#include "imagecache/WebImageManager.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/GraphicsContext.h"
#include "platform/graphics/ImageSource.h"
#include "platform/net/URLError.h"

#include <algorithm>

using namespace platform;

namespace {

// However large a length the server announces, the buffer grows with what really arrives beyond this.
constexpr int64_t kMaxReservation = 4 << 20;

ErrorPtr imageError(const char* description) {
    return Error::withDescription(WebImageErrorDomain, 0, description);
}

// Whether a canvas of the header's size is one the decoders would accept at all.
bool acceptableCanvas(uint64_t width, uint64_t height) {
    const uint64_t cap = ImageDecodeOptions{}.maxPixelCount;
    return width > 0 && height > 0 && width <= cap && height <= cap / width;
}

} // namespace

void WebImageDownloaderOperation::connectionDidReceiveResponse(const Connection& connection,
                                                               const URLResponsePtr& response) {
    if (!isCurrent(connection))
        return;
    auto http = std::dynamic_pointer_cast<HTTPURLResponse>(response);
    int64_t status = http ? http->statusCode() : 0;
    if (!http || (status < 400 && status != 304))
        acceptResponse(response);
    else
        rejectResponse(status);
}

void WebImageDownloaderOperation::acceptResponse(const URLResponsePtr& response) {
    int64_t expected = response->expectedContentLength() > 0 ? response->expectedContentLength() : 0;
    WebImageDownloaderProgressBlock progress;
    {
        std::lock_guard lock(m_mutex);
        m_expectedSize = expected;
        progress = m_progressBlock;
    }
    if (progress)
        progress(0, expected);
    {
        std::lock_guard lock(m_mutex);
        m_imageData.emplace();
        m_imageData->reserve(size_t(std::min(expected, kMaxReservation)));
        m_response = response;
    }
    post({WebImageDownloadReceiveResponseNotification});
}

void WebImageDownloaderOperation::rejectResponse(int64_t statusCode) {
    WebImageDownloaderCompletedBlock completion;
    {
        std::lock_guard lock(m_mutex);
        if (statusCode == 304)
            cancelInternal(); // tells the cancel callback and clears every callback
        else
            m_connection->cancel();
        post({WebImageDownloadStopNotification});
        completion = m_completedBlock;
    }
    if (completion)
        completion(nullptr, std::nullopt, Error::create(NSURLErrorDomain, statusCode), true);
    RunLoop::current()->stop();
    done();
}

void WebImageDownloaderOperation::connectionDidReceiveData(const Connection& connection, const Data& data) {
    WebImageDownloaderProgressBlock progress;
    Data snapshot;
    int64_t received = 0, expected = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_connection || m_connection->task() != connection || !m_imageData)
            return;
        m_imageData->appendData(data);
        received = int64_t(m_imageData->length());
        expected = m_expectedSize;
        progress = m_progressBlock;
        if ((m_options & WebImageFetchProgressive) && expected > 0 && m_completedBlock)
            snapshot = m_imageData->data();
    }
    if (!snapshot.empty())
        deliverPartialImage(snapshot, expected);
    if (progress)
        progress(received, expected);
}

void WebImageDownloaderOperation::deliverPartialImage(const Data& buffer, int64_t expected) {
    UIImagePtr image = partialImageFrom(buffer, expected);
    if (!image)
        return;
    auto key = WebImageManager::sharedManager()->cacheKeyForURL(m_request.URL());
    image = scaledImageForKey(key, image);
    if (m_shouldDecompressImages)
        image = decodedImageWithImage(image);
    imagecache::detail::onMainThreadAndWait([&] {
        WebImageDownloaderCompletedBlock completion;
        {
            std::lock_guard lock(m_mutex);
            completion = m_completedBlock;
        }
        if (completion)
            completion(image, std::nullopt, nullptr, false);
    });
}

UIImagePtr WebImageDownloaderOperation::partialImageFrom(const Data& buffer, int64_t expected) {
    auto source = ImageSource::create(buffer);
    if (!source)
        return nullptr;
    if (m_width + m_height == 0) {
        if (auto properties = source->propertiesAtIndex(0)) {
            m_height = uint64_t(std::max<int64_t>(properties->pixelHeight, 0));
            m_width = uint64_t(std::max<int64_t>(properties->pixelWidth, 0));
            m_orientation = orientationFromPropertyValue(properties->orientation.value_or(1));
        }
    }
    if (m_width + m_height == 0 || int64_t(buffer.length()) >= expected)
        return nullptr;
    CGImageRef partial = source->createImageAtIndex(0);
    // A header may claim any size; the canvas is only made for one the decoders would accept.
    if (!partial || !acceptableCanvas(m_width, m_height))
        return nullptr;
    auto context =
        CGContext::createBitmapContext(nullptr, m_width, m_height, 8, m_width * 4,
                                       CGColorSpaceCreateDeviceRGB(), kCGImageAlphaPremultipliedFirst);
    if (!context)
        return nullptr;
    context->drawImage(CGRectMake(0, 0, double(m_width), double(partial->height())), partial);
    return UIImage::imageWithCGImage(context->makeImage(), 1.0, m_orientation);
}

CachedURLResponsePtr
WebImageDownloaderOperation::connectionWillCacheResponse(const Connection&,
                                                         const CachedURLResponsePtr& proposed) {
    m_responseFromCached = false;
    if (m_request.cachePolicy() == NSURLRequestReloadIgnoringLocalCacheData)
        return nullptr;
    return proposed;
}

void WebImageDownloaderOperation::connectionDidFinishLoading(const Connection& connection) {
    WebImageDownloaderCompletedBlock completion;
    std::optional<Data> data;
    {
        std::lock_guard lock(m_mutex);
        if (!isCurrent(connection))
            return;
        completion = m_completedBlock;
        if (m_imageData)
            data = m_imageData->data();
        detachConnection({WebImageDownloadStopNotification, WebImageDownloadFinishNotification});
    }
    if (!URLCache::sharedURLCache()->cachedResponseForRequest(m_request))
        m_responseFromCached = false;
    if (completion) {
        if ((m_options & WebImageFetchIgnoreCachedResponse) && m_responseFromCached)
            completion(nullptr, std::nullopt, nullptr, true);
        else
            completeWithData(completion, data);
    }
    setCompletionBlock(nullptr);
    done();
}

void WebImageDownloaderOperation::completeWithData(const WebImageDownloaderCompletedBlock& completion,
                                                   const std::optional<Data>& data) {
    if (!data) {
        completion(nullptr, std::nullopt, imageError("Image data is nil"), true);
        return;
    }
    // Unlike a partial image, the finished download is all there is: bytes that stop short of the
    // whole picture are a failed download, not a picture to keep.
    ImageDecodeOptions whole;
    whole.requireComplete = true;
    auto key = WebImageManager::sharedManager()->cacheKeyForURL(m_request.URL());
    UIImagePtr image = scaledImageForKey(key, wi_imageWithData(*data, whole));
    if (image && !image->isAnimated() && m_shouldDecompressImages)
        image = decodedImageWithImage(image);
    if (!image || image->size() == CGSizeZero)
        completion(nullptr, std::nullopt, imageError("Downloaded image has 0 pixels"), true);
    else
        completion(image, data, nullptr, true);
}

void WebImageDownloaderOperation::connectionDidFailWithError(const Connection& connection,
                                                             const ErrorPtr& error) {
    WebImageDownloaderCompletedBlock completion;
    {
        std::lock_guard lock(m_mutex);
        if (!isCurrent(connection))
            return;
        detachConnection({WebImageDownloadStopNotification});
        completion = m_completedBlock;
    }
    if (completion)
        completion(nullptr, std::nullopt, error, true);
    setCompletionBlock(nullptr);
    done();
}

bool WebImageDownloaderOperation::connectionShouldUseCredentialStorage(const Connection&) const {
    return m_shouldUseCredentialStorage;
}

void WebImageDownloaderOperation::connectionWillSendRequestForAuthenticationChallenge(
    const Connection&, const URLAuthenticationChallengePtr& challenge, URLSessionChallengeHandler answer) {
    const auto& space = challenge->protectionSpace();
    if (space->authenticationMethod() == NSURLAuthenticationMethodServerTrust) {
        if (!(m_options & WebImageFetchAllowInvalidSSL))
            answer(NSURLSessionAuthChallengePerformDefaultHandling, nullptr);
        else
            answer(NSURLSessionAuthChallengeUseCredential,
                   URLCredential::credentialForTrust(space->serverTrust()));
        return;
    }
    // A credential is offered once: the operation's own, else the one the connection proposes from the
    // credential storage. After a failure the server's own answer is what the caller gets.
    URLCredentialPtr offered;
    if (challenge->previousFailureCount() == 0)
        offered = credential() ? credential() : challenge->proposedCredential();
    answer(NSURLSessionAuthChallengeUseCredential, offered);
}
