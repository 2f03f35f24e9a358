#pragma once
// What the URL session tests share: a recording data delegate, a completion catcher, and waits with
// generous real-time deadlines (never a measure of speed).

#include "platform/net/URLError.h"
#include "platform/net/URLSession.h"
#include "platform/runloop/Thread.h"
#include "tests/peers/HttpServer.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace liveapp::test {

// Waits on any thread until `predicate` holds; false after the deadline.
bool waitUntil(const std::function<bool()>& predicate,
               std::chrono::milliseconds deadline = std::chrono::seconds(30));

// What a completion handler was called with, and on which thread.
struct Completion {
    mutable std::mutex mutex;
    int calls{0};
    std::optional<platform::Data> data;
    platform::URLResponsePtr response;
    platform::ErrorPtr error;
    bool onMainThread{false};

    platform::URLSessionDataTaskCompletion handler();
    bool wait(std::chrono::milliseconds deadline = std::chrono::seconds(30)) const;
    int callCount() const;
    int64_t status() const;
    std::string body() const;
    int64_t errorCode() const; // 0 without an error
};

// Records every delegate call in order, answering with the configured answers.
class RecordingDelegate : public platform::URLSessionDataDelegate {
public:
    struct Event {
        std::string kind; // "response", "data", "redirect", "challenge", "cache", "complete", "invalid"
        platform::Data data{};
        platform::ErrorPtr error{};
        platform::URLResponsePtr response{};
        platform::URLAuthenticationChallengePtr challenge{};
        bool onMainThread{false};
        std::shared_ptr<platform::Thread> thread{};
    };

    // Answers; each may be replaced before the task runs.
    std::function<void(platform::URLSessionResponseHandler)> onResponse = [](auto handler) {
        handler(platform::NSURLSessionResponseAllow);
    };
    std::function<void(const platform::URLAuthenticationChallengePtr&, platform::URLSessionChallengeHandler)>
        onChallenge = [](auto&, auto handler) {
            handler(platform::NSURLSessionAuthChallengePerformDefaultHandling, nullptr);
        };
    std::function<void(platform::URLRequest, platform::URLSessionRedirectHandler)> onRedirect =
        [](platform::URLRequest request, auto handler) { handler(std::move(request)); };
    std::function<void(const platform::CachedURLResponsePtr&, platform::URLSessionCacheHandler)> onCache =
        [](auto& proposed, auto handler) { handler(proposed); };

    std::vector<Event> events() const;
    std::vector<std::string> kinds() const;
    bool waitForCompletion(std::chrono::milliseconds deadline = std::chrono::seconds(30)) const {
        return waitFor("complete", deadline);
    }
    bool waitFor(const std::string& kind,
                 std::chrono::milliseconds deadline = std::chrono::seconds(30)) const;
    std::string body() const; // the data pieces joined
    size_t pieces() const;

    void URLSessionDidBecomeInvalidWithError(const platform::URLSessionPtr& session,
                                             const platform::ErrorPtr& error) override;
    void URLSessionTaskWillPerformHTTPRedirection(
        const platform::URLSessionPtr& session, const platform::URLSessionTaskPtr& task,
        const platform::HTTPURLResponsePtr& response, platform::URLRequest newRequest,
        platform::URLSessionRedirectHandler completionHandler) override;
    void URLSessionTaskDidReceiveChallenge(const platform::URLSessionPtr& session,
                                           const platform::URLSessionTaskPtr& task,
                                           const platform::URLAuthenticationChallengePtr& challenge,
                                           platform::URLSessionChallengeHandler completionHandler) override;
    void URLSessionTaskDidCompleteWithError(const platform::URLSessionPtr& session,
                                            const platform::URLSessionTaskPtr& task,
                                            const platform::ErrorPtr& error) override;
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

private:
    void record(Event event);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Event> m_events;
};

// Invalidates a delegate session and waits until the delegate has heard so: nothing of the session
// may still be running on a worker when the test (or the process) ends.
void finishAndWait(const platform::URLSessionPtr& session,
                   const std::shared_ptr<RecordingDelegate>& delegate);

// An ephemeral configuration (own cookies and cache), so tests do not see each other's state.
inline platform::URLSessionConfiguration isolatedConfiguration() {
    return platform::URLSessionConfiguration::ephemeralSessionConfiguration();
}

inline platform::URLPtr url(const HttpServer& server, std::string_view path) {
    return platform::URL::create(server.url(path));
}

} // namespace liveapp::test
