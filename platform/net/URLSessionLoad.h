#pragma once
// One task's way through the network, on the network thread: cache lookup, name lookup through the
// resolver seam, one curl transfer per hop (redirects, retries with credentials or with an accepted
// server trust), and the reports to the task's delivery target. Every question to the delegate
// parks the load until the answer comes back through URLSessionEngine::withLoad.
//
// Network thread only. The engine owns the load and destroys it after it has ended.

#include "platform/foundation/Clock.h"
#include "platform/foundation/Data.h"
#include "platform/net/Resolver.h"
#include "platform/net/URLCache.h"
#include "platform/net/URLSession.h"
#include "platform/net/URLSessionEngine.h"

#include <curl/curl.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::detail {

class URLSessionLoad {
public:
    URLSessionLoad(URLSessionEngine& engine, URLSessionTaskPtr task);
    ~URLSessionLoad();
    URLSessionLoad(const URLSessionLoad&) = delete;
    URLSessionLoad& operator=(const URLSessionLoad&) = delete;

    void begin();
    void cancel();
    bool hasEnded() const { return m_ended; }
    const URLSessionTaskPtr& task() const { return m_task; }
    // The engine's calls: a transfer of this load finished; hand out the body received so far.
    void transferDone(CURLcode result);
    void flush();
    void deadlinePassed(URLSessionEngine::Deadline kind);

    // Answers that come back from the delegate (and from the name lookup).
    void resolved(uint64_t generation, int code, std::vector<ResolvedAddress> addresses);
    void responseAnswered(NSURLSessionResponseDisposition disposition);
    void redirectAnswered(std::optional<URLRequest> request);
    void challengeAnswered(NSURLSessionAuthChallengeDisposition disposition, URLCredentialPtr credential);
    void cacheAnswered(CachedURLResponsePtr cached);

    // The header lines a request with no fields of its own and no body goes out with (the encodings
    // curl can decode, and the agent): made once and lent to every such transfer, never changed or freed.
    static curl_slist* plainHeaderLines();

private:
    enum class Outcome { Deliver, Redirect, Challenge, Revalidated };
    enum class Waiting { Nothing, Response, Redirect, HTTPChallenge, TrustChallenge, Cache };
    struct Hop;

    bool answerFromCache();
    void startRequest();
    void startRequest(const std::string& host); // the host of the request's URL, read already
    void startHop(const std::vector<ResolvedAddress>& addresses);
    void pinResolvedAddresses(Hop& hop, const std::vector<ResolvedAddress>& addresses);
    void setHeaderLines(Hop& hop) const;
    bool sendsBody() const;
    void setTransferOptions(Hop& hop);
    void setMethodAndBody(Hop& hop);
    void setCredential(Hop& hop);
    void endHop();
    void end(ErrorPtr error);
    void fail(int64_t code, std::string reason = {});

    size_t onHeaderLine(std::string_view line);
    void headersComplete();
    size_t onBody(const char* bytes, size_t length);
    void receiveBody(const char* bytes, size_t length);
    void beginDelivery(const HTTPURLResponsePtr& response, bool fromNetwork);
    void deliverBuffered(const HTTPURLResponsePtr& response, Data body, bool fromNetwork);
    void finishBody();
    const Data& wholeBody();
    void storeCookies(const HTTPURLResponse& response);

    void askRedirect();
    void askHTTPChallenge();
    void askTrust(std::string reason);
    void retryWithCredential(const URLCredentialPtr& credential);
    void serveFromCache(const URLCache::Entry& entry);

    void touch();
    void setDeadline(URLSessionEngine::Deadline kind, std::optional<MonoTime> at);
    void idleTimeReached();
    template <typename Block> void report(Block block, bool evenWhenCancelling = false);
    // report() of a delegate call: `call(session, task)`, with the delegate kept alive until it ran.
    template <typename Call> void reportToDelegate(Call call);

    static size_t headerCallback(char* bytes, size_t size, size_t count, void* load);
    static size_t writeCallback(char* bytes, size_t size, size_t count, void* load);
    static int progressCallback(void* load, curl_off_t downloadTotal, curl_off_t downloaded,
                                curl_off_t uploadTotal, curl_off_t uploaded);
    static int resolverStartCallback(void* resolverState, void* reserved, void* load);

    URLSessionEngine& m_engine;
    const URLSessionTaskPtr m_task;
    const URLSessionPtr& m_session; // the task's own, which it keeps as long as it lives
    const uint64_t m_id;
    std::shared_ptr<URLSessionDelegate> m_delegate;
    URLSessionTaskDelegate* m_taskDelegate{nullptr};
    URLSessionDataDelegate* m_dataDelegate{nullptr};
    bool m_completionMode{false};

    URLRequest m_request;
    double m_timeout{URLRequest::defaultTimeoutInterval};
    MonoTime m_lastActivity;
    std::optional<MonoTime> m_idleDeadline;
    std::optional<MonoTime> m_resourceDeadline;
    Waiting m_waiting{Waiting::Nothing};
    uint64_t m_generation{0};
    int m_redirects{0};

    // Authentication and trust.
    int64_t m_authFailures{0};
    bool m_triedURLCredential{false};
    URLCredentialPtr m_credential; // sent with the next hop
    std::string m_authMethod;
    URLProtectionSpacePtr m_challengeSpace;
    bool m_trustAccepted{false};
    std::string m_trustReason;

    // Caching.
    std::shared_ptr<URLCache> m_cache;
    std::optional<URLCache::Entry> m_revalidating;
    bool m_storeResponse{false};
    MutableData m_cacheBody;

    // A reply kept back while the delegate decides whether it is the task's reply (redirect, 401).
    HTTPURLResponsePtr m_heldResponse;
    Data m_heldBody;

    // The reply being handed out.
    std::unique_ptr<Hop> m_hop;
    HTTPURLResponsePtr m_response;
    DataBuffer m_body;     // completion handler: the whole body, as received so far
    Data m_wholeBody;      // the same, once taken by wholeBody()
    MutableData m_pending; // delegate: what has not been handed out yet
    bool m_paused{false};
    bool m_bodyComplete{false};
    bool m_ended{false};
};

} // namespace platform::detail
