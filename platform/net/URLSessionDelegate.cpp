#include "platform/net/URLSessionDelegate.h"

namespace platform {

void URLSessionDelegate::URLSessionDidBecomeInvalidWithError(const URLSessionPtr&, const ErrorPtr&) {}

void URLSessionDelegate::URLSessionDidReceiveChallenge(const URLSessionPtr&,
                                                       const URLAuthenticationChallengePtr&,
                                                       URLSessionChallengeHandler completionHandler) {
    completionHandler(NSURLSessionAuthChallengePerformDefaultHandling, nullptr);
}

void URLSessionTaskDelegate::URLSessionTaskWillPerformHTTPRedirection(
    const URLSessionPtr&, const URLSessionTaskPtr&, const HTTPURLResponsePtr&, URLRequest newRequest,
    URLSessionRedirectHandler completionHandler) {
    completionHandler(std::move(newRequest));
}

void URLSessionTaskDelegate::URLSessionTaskDidReceiveChallenge(const URLSessionPtr& session,
                                                               const URLSessionTaskPtr&,
                                                               const URLAuthenticationChallengePtr& challenge,
                                                               URLSessionChallengeHandler completionHandler) {
    if (challenge->protectionSpace()->authenticationMethod() == NSURLAuthenticationMethodServerTrust) {
        URLSessionDidReceiveChallenge(session, challenge, std::move(completionHandler));
        return;
    }
    completionHandler(NSURLSessionAuthChallengePerformDefaultHandling, nullptr);
}

void URLSessionTaskDelegate::URLSessionTaskDidCompleteWithError(const URLSessionPtr&,
                                                                const URLSessionTaskPtr&, const ErrorPtr&) {}

void URLSessionDataDelegate::URLSessionDataTaskDidReceiveResponse(
    const URLSessionPtr&, const URLSessionDataTaskPtr&, const URLResponsePtr&,
    URLSessionResponseHandler completionHandler) {
    completionHandler(NSURLSessionResponseAllow);
}

void URLSessionDataDelegate::URLSessionDataTaskDidReceiveData(const URLSessionPtr&,
                                                              const URLSessionDataTaskPtr&, const Data&) {}

void URLSessionDataDelegate::URLSessionDataTaskWillCacheResponse(const URLSessionPtr&,
                                                                 const URLSessionDataTaskPtr&,
                                                                 const CachedURLResponsePtr& proposedResponse,
                                                                 URLSessionCacheHandler completionHandler) {
    completionHandler(proposedResponse);
}

} // namespace platform
