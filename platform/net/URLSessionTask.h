#pragma once
// One request of a session. A task is made suspended; resume() starts it. It then ends exactly once:
// its completion handler (or the delegate's URLSessionTaskDidCompleteWithError) is called with the
// outcome, and nothing about the task is reported afterwards.
//
// Promises: resume, cancel and the getters are safe from any thread. cancel() before the end makes
// the task end with NSURLErrorCancelled (reported once; pieces of the body not yet handed out are
// dropped); after the end it does nothing. A task keeps its session alive until it has ended.
// Not offered: pausing a running task (suspend() does nothing; a task is suspended until resumed).

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"
#include "platform/net/URLSessionDelegate.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform {

namespace detail {
class URLSessionDelivery;
class URLSessionLoad;
class URLSessionEngine;
} // namespace detail

enum NSURLSessionTaskState : int64_t {
    NSURLSessionTaskStateRunning = 0,
    NSURLSessionTaskStateSuspended = 1,
    NSURLSessionTaskStateCanceling = 2,
    NSURLSessionTaskStateCompleted = 3,
};

inline constexpr int64_t NSURLSessionTransferSizeUnknown = -1;

// data: the whole body (nullopt when the task failed); response: the last reply (null when none came).
using URLSessionDataTaskCompletion =
    std::function<void(std::optional<Data> data, URLResponsePtr response, ErrorPtr error)>;

class URLSessionTask : public Object {
public:
    uint64_t taskIdentifier() const { return m_identifier; }
    URLRequest originalRequest() const;
    URLRequest currentRequest() const; // after redirects, the request of the last one followed
    URLResponsePtr response() const;
    NSURLSessionTaskState state() const;
    ErrorPtr error() const;
    int64_t countOfBytesReceived() const;
    int64_t countOfBytesExpectedToReceive() const;
    int64_t countOfBytesSent() const;
    int64_t countOfBytesExpectedToSend() const;
    std::string taskDescription() const;
    void setTaskDescription(std::string description);

    void resume();
    void suspend();
    void cancel();

protected:
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    URLSessionTask(PrivateTag, uint64_t identifier, URLSessionPtr session, URLRequest request,
                   URLSessionDataTaskCompletion completion);
    ~URLSessionTask() override;

private:
    friend class URLSession;
    friend class detail::URLSessionLoad;
    friend class detail::URLSessionEngine;

    // For the network side. Claims the right to end the task: false when it has already been claimed.
    // A cancel that came first turns any other outcome into NSURLErrorCancelled.
    bool claimEnd(ErrorPtr& error);
    bool isCancelling() const;
    void setCurrentRequest(const URLRequest& request);
    void setResponse(URLResponsePtr response, int64_t expectedLength);
    void addBytesReceived(int64_t count);
    void setBytesSent(int64_t sent, int64_t expected);
    // Called on the delivery target with the outcome: records it, reports it, tells the session.
    void finish(std::optional<Data> data, ErrorPtr error);
    std::shared_ptr<detail::URLSessionDelivery> delivery() const;

    const uint64_t m_identifier;
    const URLSessionPtr m_session;
    const bool m_hasCompletion;
    URLSessionDataTaskCompletion m_completion; // let go of once called
    mutable std::mutex m_mutex;
    URLRequest m_originalRequest;
    URLRequest m_currentRequest;
    URLResponsePtr m_response;
    NSURLSessionTaskState m_state{NSURLSessionTaskStateSuspended};
    ErrorPtr m_error;
    bool m_started{false};
    bool m_endClaimed{false};
    bool m_finished{false};
    std::shared_ptr<detail::URLSessionDelivery> m_delivery;
    int64_t m_received{0};
    int64_t m_expectedToReceive{NSURLSessionTransferSizeUnknown};
    int64_t m_sent{0};
    int64_t m_expectedToSend{0};
    std::string m_description;
    // Links of the session's list of running tasks, guarded by the session's mutex.
    URLSessionTaskPtr m_nextRunning;
    URLSessionTask* m_previousRunning{nullptr};
    bool m_running{false};
};

class URLSessionDataTask final : public URLSessionTask {
public:
    using URLSessionTask::URLSessionTask;
};

} // namespace platform
