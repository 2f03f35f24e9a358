#pragma once
// What a session tells its delegate, and the questions it asks. A session holds its delegate
// strongly until it is invalidated (finishTasksAndInvalidate, invalidateAndCancel), as the platform
// does: a delegate that owns its session must invalidate it, or the two keep each other alive.
//
// Every call comes on the session's delegate queue, or on the run loop of the thread that resumed
// the task (URLSession::sessionOnStartingRunLoop), one at a time and in order for each task. Each
// question comes with a completion handler that answers it: call it exactly once, from any thread,
// now or later; the task waits for the answer (its time-out does not run meanwhile). A handler that
// is destroyed without being called gives the default answer. The defaults below are the answers
// the session gives when the delegate does not override a method.
//
// Data tasks made with a completion handler report through it, not through the data methods; they
// still ask the challenge and redirect questions.

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/net/URLAuthenticationChallenge.h"
#include "platform/net/URLCache.h"
#include "platform/net/URLCredential.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

#include <functional>
#include <memory>
#include <optional>

namespace platform {

class URLSession;
class URLSessionTask;
class URLSessionDataTask;

enum NSURLSessionAuthChallengeDisposition : int64_t {
    NSURLSessionAuthChallengeUseCredential = 0,
    NSURLSessionAuthChallengePerformDefaultHandling = 1,
    NSURLSessionAuthChallengeCancelAuthenticationChallenge = 2,
    NSURLSessionAuthChallengeRejectProtectionSpace = 3,
};

enum NSURLSessionResponseDisposition : int64_t {
    NSURLSessionResponseCancel = 0,
    NSURLSessionResponseAllow = 1,
    NSURLSessionResponseBecomeDownload = 2, // taken as Allow: there are no download tasks
};

using URLSessionChallengeHandler =
    std::function<void(NSURLSessionAuthChallengeDisposition, URLCredentialPtr)>;
using URLSessionResponseHandler = std::function<void(NSURLSessionResponseDisposition)>;
using URLSessionRedirectHandler = std::function<void(std::optional<URLRequest>)>; // nullopt: do not follow
using URLSessionCacheHandler = std::function<void(CachedURLResponsePtr)>;         // null: do not store

using URLSessionPtr = std::shared_ptr<URLSession>;
using URLSessionTaskPtr = std::shared_ptr<URLSessionTask>;
using URLSessionDataTaskPtr = std::shared_ptr<URLSessionDataTask>;

class URLSessionDelegate : public Object {
public:
    // The last call a session makes: its tasks are done and it no longer holds the delegate.
    virtual void URLSessionDidBecomeInvalidWithError(const URLSessionPtr& session, const ErrorPtr& error);
    // Session-wide challenges (server trust). Default: default handling, which refuses a server whose
    // certificate did not verify.
    virtual void URLSessionDidReceiveChallenge(const URLSessionPtr& session,
                                               const URLAuthenticationChallengePtr& challenge,
                                               URLSessionChallengeHandler completionHandler);
};

class URLSessionTaskDelegate : public URLSessionDelegate {
public:
    // A 3xx reply with a Location. Default: follow it (`newRequest`). nullopt: the redirect reply
    // itself becomes the task's response.
    virtual void URLSessionTaskWillPerformHTTPRedirection(const URLSessionPtr& session,
                                                          const URLSessionTaskPtr& task,
                                                          const HTTPURLResponsePtr& response,
                                                          URLRequest newRequest,
                                                          URLSessionRedirectHandler completionHandler);
    // Every challenge of a task. Default: server trust goes to URLSessionDidReceiveChallenge; HTTP
    // authentication gets default handling (the URL's user and password once, then the 401 reply).
    virtual void URLSessionTaskDidReceiveChallenge(const URLSessionPtr& session,
                                                   const URLSessionTaskPtr& task,
                                                   const URLAuthenticationChallengePtr& challenge,
                                                   URLSessionChallengeHandler completionHandler);
    // The last call about a task: error null on success (whatever the HTTP status).
    virtual void URLSessionTaskDidCompleteWithError(const URLSessionPtr& session,
                                                    const URLSessionTaskPtr& task, const ErrorPtr& error);
};

class URLSessionDataDelegate : public URLSessionTaskDelegate {
public:
    // The reply's status and header fields, before any of its body. Default: Allow. Cancel ends the
    // task with NSURLErrorCancelled.
    virtual void URLSessionDataTaskDidReceiveResponse(const URLSessionPtr& session,
                                                      const URLSessionDataTaskPtr& dataTask,
                                                      const URLResponsePtr& response,
                                                      URLSessionResponseHandler completionHandler);
    // The next piece of the body, in order; the pieces make up the whole body.
    virtual void URLSessionDataTaskDidReceiveData(const URLSessionPtr& session,
                                                  const URLSessionDataTaskPtr& dataTask, const Data& data);
    // Asked after the whole body of a cacheable reply that came from the network (never for one
    // served from the cache). Default: store `proposedResponse`.
    virtual void URLSessionDataTaskWillCacheResponse(const URLSessionPtr& session,
                                                     const URLSessionDataTaskPtr& dataTask,
                                                     const CachedURLResponsePtr& proposedResponse,
                                                     URLSessionCacheHandler completionHandler);
};

} // namespace platform
