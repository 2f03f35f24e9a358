#pragma once
// The connection of one download operation: a data task of a session of its own whose reports come on
// the run loop of the thread that starts it, handed to the operation while it lives. The task fails with
// NSURLErrorTimedOut once the whole exchange has taken resourceTimeout seconds, however steadily the
// bytes come (the request's own time-out measures only silence). The session lets go
// of the connection once the task has ended, so the two never keep each other alive after that.
// start(), waitUntilEnded() and every report: the starting thread only; cancel(): any thread.

#include "platform/net/URLRequest.h"
#include "platform/net/URLSession.h"

#include <atomic>
#include <memory>

class WebImageDownloaderOperation;

namespace imagecache::detail {

class DownloadConnection final : public platform::URLSessionDataDelegate {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    static std::shared_ptr<DownloadConnection> create(const platform::URLRequest& request,
                                                      std::weak_ptr<WebImageDownloaderOperation> operation,
                                                      double resourceTimeout);
    DownloadConnection(PrivateTag, std::weak_ptr<WebImageDownloaderOperation> operation);

    const platform::URLSessionDataTaskPtr& task() const { return m_task; }
    void start();
    // The task ends with a cancellation error, which is still reported here (and ignored).
    void cancel();
    // Runs the calling thread's loop until the task's end has been reported, so that no report of this
    // connection is left queued on a thread that will run other downloads.
    void waitUntilEnded();

    void URLSessionDataTaskDidReceiveResponse(const platform::URLSessionPtr& session,
                                              const platform::URLSessionDataTaskPtr& dataTask,
                                              const platform::URLResponsePtr& response,
                                              platform::URLSessionResponseHandler completionHandler) override;
    void URLSessionDataTaskDidReceiveData(const platform::URLSessionPtr& session,
                                          const platform::URLSessionDataTaskPtr& dataTask,
                                          const platform::Data& data) override;
    void URLSessionDataTaskWillCacheResponse(const platform::URLSessionPtr& session,
                                             const platform::URLSessionDataTaskPtr& dataTask,
                                             const platform::CachedURLResponsePtr& proposedResponse,
                                             platform::URLSessionCacheHandler completionHandler) override;
    void URLSessionTaskDidReceiveChallenge(const platform::URLSessionPtr& session,
                                           const platform::URLSessionTaskPtr& task,
                                           const platform::URLAuthenticationChallengePtr& challenge,
                                           platform::URLSessionChallengeHandler completionHandler) override;
    void URLSessionTaskDidCompleteWithError(const platform::URLSessionPtr& session,
                                            const platform::URLSessionTaskPtr& task,
                                            const platform::ErrorPtr& error) override;

private:
    // The challenge as the operation sees it: when it lets the connection use the credential storage,
    // the storage's default credential for the space is the one proposed.
    platform::URLAuthenticationChallengePtr
    withStoredCredential(const WebImageDownloaderOperation& operation,
                         const platform::URLAuthenticationChallengePtr& challenge) const;

    const std::weak_ptr<WebImageDownloaderOperation> m_operation;
    platform::URLSessionPtr m_session;
    platform::URLSessionDataTaskPtr m_task;
    std::atomic<bool> m_ended{false};
    bool m_waiting{false};
};

} // namespace imagecache::detail
