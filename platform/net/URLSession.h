#pragma once
// URL loading: a session makes data tasks for HTTP and HTTPS requests and reports each task's reply
// through a completion handler or its delegate. All network work runs on one network thread shared
// by every session; name lookups go through Resolver::current() on a dispatch worker. Nothing blocks
// the caller, the main thread or a delegate queue (sendSynchronousRequest blocks only its caller).
//
// Promises: a session's reports come on its delegate queue (a serial queue of the session's own that
// targets the queue the caller gave, so reports never overlap even on a concurrent one), or for
// sessionOnStartingRunLoop on the run loop of the thread that resumed each task. Per task they come
// in order: response, body pieces, completion. Cookies go out and are stored as the configuration
// and request say; responses are served from and stored in the configuration's URLCache by the
// request's cache policy. Redirects are followed up to 16 times. HTTPS verifies certificates.
// Errors are in NSURLErrorDomain (URLError.h); an HTTP error status is not an error at this level.
//
//     auto session = URLSession::sharedSession();
//     auto task = session->dataTaskWithURL(URL::create("http://127.0.0.1:8080/a"),
//         [weak = std::weak_ptr(self)](std::optional<Data> data, URLResponsePtr response, ErrorPtr error) {
//             DispatchQueue::main()->async([weak, data, response, error] { ... });
//         });
//     task->resume();

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Object.h"
#include "platform/net/URLAuthenticationChallenge.h"
#include "platform/net/URLSessionConfiguration.h"
#include "platform/net/URLSessionDelegate.h"
#include "platform/net/URLSessionTask.h"
#include "platform/runloop/RunLoop.h"

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {

namespace detail {
class URLSessionDelivery;
class URLSessionEngine;
class URLSessionLoad;
} // namespace detail

class URLSession final : public Object {
public:
    // The process-wide session: default configuration, no delegate, reports on a serial queue of its
    // own. Invalidating it does nothing.
    static URLSessionPtr sharedSession();
    static URLSessionPtr sessionWithConfiguration(const URLSessionConfiguration& configuration);
    // Null delegateQueue: a serial queue of the session's own.
    static URLSessionPtr sessionWithConfiguration(const URLSessionConfiguration& configuration,
                                                  std::shared_ptr<URLSessionDelegate> delegate,
                                                  std::shared_ptr<DispatchQueue> delegateQueue);
    // Reports for each task on the run loop of the thread that resumes it, in `modes`; that thread
    // must run its loop until the task has ended (reports for a thread that has ended are dropped and
    // its task cancelled).
    static URLSessionPtr sessionOnStartingRunLoop(const URLSessionConfiguration& configuration,
                                                  std::shared_ptr<URLSessionDelegate> delegate,
                                                  std::vector<RunLoopMode> modes = {RunLoop::commonModes});

    URLSessionDataTaskPtr dataTaskWithRequest(const URLRequest& request);
    URLSessionDataTaskPtr dataTaskWithRequest(const URLRequest& request,
                                              URLSessionDataTaskCompletion completionHandler);
    URLSessionDataTaskPtr dataTaskWithURL(URLPtr url);
    URLSessionDataTaskPtr dataTaskWithURL(URLPtr url, URLSessionDataTaskCompletion completionHandler);

    // New tasks are refused (they end with NSURLErrorCancelled when resumed). Running tasks finish;
    // then the session lets go of its delegate and tells it so (URLSessionDidBecomeInvalidWithError).
    void finishTasksAndInvalidate();
    // The same, cancelling the running tasks.
    void invalidateAndCancel();

    const URLSessionConfiguration& configuration() const { return m_configuration; }
    std::shared_ptr<URLSessionDelegate> delegate() const;
    std::shared_ptr<DispatchQueue> delegateQueue() const { return m_delegateQueue; } // null: run-loop session
    std::string sessionDescription() const;
    void setSessionDescription(std::string description);

    // The platform's synchronous connection call: sends `request` through the shared session and
    // blocks the caller until it ends. Returns the body, or nullopt with *error set.
    static std::optional<Data> sendSynchronousRequest(const URLRequest& request, URLResponsePtr* response,
                                                      ErrorPtr* error);

private:
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    URLSession(PrivateTag, URLSessionConfiguration configuration,
               std::shared_ptr<URLSessionDelegate> delegate, std::shared_ptr<DispatchQueue> delegateQueue,
               std::vector<RunLoopMode> runLoopModes, bool shared);

private:
    friend class URLSessionTask;
    friend class detail::URLSessionLoad;
    friend class detail::URLSessionEngine;

    URLSessionDataTaskPtr makeTask(const URLRequest& request, URLSessionDataTaskCompletion completion);
    // The delivery for a task resumed on the calling thread.
    std::shared_ptr<detail::URLSessionDelivery> deliveryForResume() const;
    // Counts the task as running; false when the session was invalidated first (the task must then
    // end at once, and still reports that end through taskEnded).
    bool taskStarted(const URLSessionTaskPtr& task);
    void taskEnded(URLSessionTask& task); // on the task's delivery target
    // Takes the task out of the running list; returns the list's reference to it, to be let go of
    // once the mutex is (the last reference may be the list's).
    URLSessionTaskPtr unlinkLocked(URLSessionTask& task);
    // The process is ending with the task under way: the session lets go of it without a report.
    void dropTask(URLSessionTask& task);
    void invalidate(bool cancelTasks);
    void becomeInvalidIfDone(std::unique_lock<std::mutex>& lock);

    // Credentials answered with session persistence, for later challenges of the same space.
    URLCredentialPtr rememberedCredential(const URLProtectionSpace& space) const;
    void rememberCredential(const URLProtectionSpacePtr& space, const URLCredentialPtr& credential);

    const URLSessionConfiguration m_configuration;
    const bool m_shared;
    const std::shared_ptr<DispatchQueue> m_delegateQueue;
    const std::vector<RunLoopMode> m_runLoopModes;
    std::shared_ptr<detail::URLSessionDelivery> m_queueDelivery;
    mutable std::mutex m_mutex;
    std::shared_ptr<URLSessionDelegate> m_delegate;
    // The running tasks, linked through the tasks themselves under m_mutex, so that starting one
    // allocates nothing here and ending one frees nothing on the delivery thread.
    URLSessionTaskPtr m_firstRunning;
    bool m_invalidated{false};
    bool m_invalidationReported{false};
    std::vector<std::pair<URLProtectionSpacePtr, URLCredentialPtr>> m_credentials;
    std::string m_description;
};

} // namespace platform
