#include "platform/net/URLError.h"

namespace platform {

std::string URLError::descriptionForCode(int64_t code) {
    switch (code) {
    case NSURLErrorCancelled:
        return "cancelled";
    case NSURLErrorBadURL:
        return "The URL is malformed.";
    case NSURLErrorTimedOut:
        return "The request timed out.";
    case NSURLErrorUnsupportedURL:
        return "unsupported URL";
    case NSURLErrorCannotFindHost:
        return "A server with the specified hostname could not be found.";
    case NSURLErrorCannotConnectToHost:
        return "Could not connect to the server.";
    case NSURLErrorNetworkConnectionLost:
        return "The network connection was lost.";
    case NSURLErrorDNSLookupFailed:
        return "The host name lookup failed.";
    case NSURLErrorHTTPTooManyRedirects:
        return "too many HTTP redirects";
    case NSURLErrorResourceUnavailable:
        return "The requested resource is not in the cache.";
    case NSURLErrorNotConnectedToInternet:
        return "The Internet connection appears to be offline.";
    case NSURLErrorRedirectToNonExistentLocation:
        return "The redirect location is missing or malformed.";
    case NSURLErrorBadServerResponse:
        return "The server answered with a response that could not be read.";
    case NSURLErrorUserCancelledAuthentication:
        return "The authentication was cancelled.";
    case NSURLErrorUserAuthenticationRequired:
        return "Authentication is required to access this resource.";
    case NSURLErrorCannotDecodeContentData:
        return "The response body could not be decoded.";
    case NSURLErrorCannotParseResponse:
        return "The response could not be parsed.";
    case NSURLErrorFileDoesNotExist:
        return "The requested file does not exist.";
    case NSURLErrorSecureConnectionFailed:
        return "A secure connection to the server could not be made.";
    case NSURLErrorServerCertificateHasBadDate:
        return "The certificate for this server has expired.";
    case NSURLErrorServerCertificateUntrusted:
        return "The certificate for this server is invalid.";
    case NSURLErrorServerCertificateHasUnknownRoot:
        return "The certificate for this server was signed by an unknown authority.";
    case NSURLErrorServerCertificateNotYetValid:
        return "The certificate for this server is not yet valid.";
    default:
        return "An unknown error occurred.";
    }
}

ErrorPtr URLError::create(int64_t code, const URLPtr& url, std::string reason) {
    ValueDictionary info{{NSLocalizedDescriptionKey, descriptionForCode(code)}};
    if (url) {
        info.set(NSURLErrorFailingURLErrorKey, Value(url));
        info.set(NSURLErrorFailingURLStringErrorKey, url->absoluteString());
    }
    if (!reason.empty())
        info.set(NSLocalizedFailureReasonErrorKey, std::move(reason));
    return Error::create(NSURLErrorDomain, code, Value(std::move(info)));
}

} // namespace platform
