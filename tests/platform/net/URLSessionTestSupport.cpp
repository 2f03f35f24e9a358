#include "tests/platform/net/URLSessionTestSupport.h"

#include "platform/runloop/RunLoop.h"

#include <gtest/gtest.h>
#include <thread>

namespace liveapp::test {

using namespace platform;

bool waitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= end)
            return predicate();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

URLSessionDataTaskCompletion Completion::handler() {
    return [this](std::optional<Data> data, URLResponsePtr response, ErrorPtr error) {
        std::lock_guard lock(mutex);
        ++calls;
        this->data = std::move(data);
        this->response = std::move(response);
        this->error = std::move(error);
        onMainThread = RunLoop::isMainThread();
    };
}

bool Completion::wait(std::chrono::milliseconds deadline) const {
    return waitUntil(
        [this] {
            std::lock_guard lock(mutex);
            return calls > 0;
        },
        deadline);
}

int Completion::callCount() const {
    std::lock_guard lock(mutex);
    return calls;
}

int64_t Completion::status() const {
    std::lock_guard lock(mutex);
    auto http = std::dynamic_pointer_cast<HTTPURLResponse>(response);
    return http ? http->statusCode() : 0;
}

std::string Completion::body() const {
    std::lock_guard lock(mutex);
    return data ? data->toString() : std::string();
}

int64_t Completion::errorCode() const {
    std::lock_guard lock(mutex);
    return error ? error->code() : 0;
}

void RecordingDelegate::record(Event event) {
    event.onMainThread = RunLoop::isMainThread();
    event.thread = Thread::current();
    std::lock_guard lock(m_mutex);
    m_events.push_back(std::move(event));
    m_changed.notify_all();
}

std::vector<RecordingDelegate::Event> RecordingDelegate::events() const {
    std::lock_guard lock(m_mutex);
    return m_events;
}

std::vector<std::string> RecordingDelegate::kinds() const {
    std::vector<std::string> result;
    std::string last;
    for (const auto& event : events()) {
        // Runs of data pieces count once, so tests do not depend on how the body was cut.
        if (event.kind == "data" && last == "data")
            continue;
        result.push_back(event.kind);
        last = event.kind;
    }
    return result;
}

bool RecordingDelegate::waitFor(const std::string& kind, std::chrono::milliseconds deadline) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, deadline, [&] {
        return std::any_of(m_events.begin(), m_events.end(), [&](const Event& e) { return e.kind == kind; });
    });
}

std::string RecordingDelegate::body() const {
    std::string result;
    for (const auto& event : events())
        if (event.kind == "data")
            result += event.data.view();
    return result;
}

size_t RecordingDelegate::pieces() const {
    size_t count = 0;
    for (const auto& event : events())
        count += event.kind == "data";
    return count;
}

void RecordingDelegate::URLSessionDidBecomeInvalidWithError(const URLSessionPtr&, const ErrorPtr& error) {
    record({.kind = "invalid", .error = error});
}

void RecordingDelegate::URLSessionTaskWillPerformHTTPRedirection(
    const URLSessionPtr&, const URLSessionTaskPtr&, const HTTPURLResponsePtr& response, URLRequest newRequest,
    URLSessionRedirectHandler completionHandler) {
    record({.kind = "redirect", .response = response});
    onRedirect(std::move(newRequest), std::move(completionHandler));
}

void RecordingDelegate::URLSessionTaskDidReceiveChallenge(const URLSessionPtr&, const URLSessionTaskPtr&,
                                                          const URLAuthenticationChallengePtr& challenge,
                                                          URLSessionChallengeHandler completionHandler) {
    record({.kind = "challenge", .challenge = challenge});
    onChallenge(challenge, std::move(completionHandler));
}

void RecordingDelegate::URLSessionTaskDidCompleteWithError(const URLSessionPtr&, const URLSessionTaskPtr&,
                                                           const ErrorPtr& error) {
    record({.kind = "complete", .error = error});
}

void RecordingDelegate::URLSessionDataTaskDidReceiveResponse(const URLSessionPtr&,
                                                             const URLSessionDataTaskPtr&,
                                                             const URLResponsePtr& response,
                                                             URLSessionResponseHandler completionHandler) {
    record({.kind = "response", .response = response});
    onResponse(std::move(completionHandler));
}

void RecordingDelegate::URLSessionDataTaskDidReceiveData(const URLSessionPtr&, const URLSessionDataTaskPtr&,
                                                         const Data& data) {
    record({.kind = "data", .data = data});
}

void RecordingDelegate::URLSessionDataTaskWillCacheResponse(const URLSessionPtr&,
                                                            const URLSessionDataTaskPtr&,
                                                            const CachedURLResponsePtr& proposedResponse,
                                                            URLSessionCacheHandler completionHandler) {
    record({.kind = "cache", .response = proposedResponse ? proposedResponse->response() : nullptr});
    onCache(proposedResponse, std::move(completionHandler));
}

void finishAndWait(const URLSessionPtr& session, const std::shared_ptr<RecordingDelegate>& delegate) {
    session->finishTasksAndInvalidate();
    EXPECT_TRUE(delegate->waitFor("invalid"));
}

} // namespace liveapp::test
