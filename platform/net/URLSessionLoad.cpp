#include "platform/net/URLSessionLoad.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Text.h"
#include "platform/net/HTTPCookie.h"
#include "platform/net/HTTPHeaderParser.h"
#include "platform/net/URLError.h"
#include "platform/net/URLSessionCacheRules.h"
#include "platform/net/URLSessionDelivery.h"
#include "platform/net/URLSessionEngine.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <fmt/format.h>
#include <netdb.h>

namespace platform::detail {

namespace {

constexpr int maxRedirects = 16;
// Pieces of a body are handed to the delegate at least this often, so a progressive reader sees a
// large body arrive in steps even when the network delivers it faster than the delegate reads.
constexpr size_t pieceSize = 256 * 1024;
// The body of a reply that may never be handed out (a redirect, a 401) is kept up to this much.
constexpr size_t heldBodyLimit = 1024 * 1024;
// Room made ahead for a whole body of the length a reply announces, at most this much (the server
// may announce more than it sends).
constexpr size_t wholeBodyReserveLimit = 8 * 1024 * 1024;

// A delegate's answer, sent to the load once: by the handler, or with the default answer when every
// copy of the handler is gone without a call.
template <typename T> class OnceAnswer {
public:
    OnceAnswer(std::function<void(T)> send, T fallback)
        : m_send(std::move(send))
        , m_fallback(std::move(fallback)) {}
    ~OnceAnswer() {
        if (!m_answered.exchange(true))
            m_send(std::move(m_fallback));
    }
    void answer(T value) {
        if (!m_answered.exchange(true))
            m_send(std::move(value));
    }

private:
    std::function<void(T)> m_send;
    T m_fallback;
    std::atomic<bool> m_answered{false};
};

template <typename T>
std::shared_ptr<OnceAnswer<T>> makeAnswer(URLSessionEngine& engine, uint64_t id,
                                          std::function<void(URLSessionLoad&, T)> deliver, T fallback) {
    auto send = [&engine, id, deliver = std::move(deliver)](T value) {
        engine.withLoad(id, [deliver, value = std::move(value)](URLSessionLoad& load) mutable {
            deliver(load, std::move(value));
        });
    };
    return std::make_shared<OnceAnswer<T>>(std::move(send), std::move(fallback));
}

using ChallengeAnswer = std::pair<NSURLSessionAuthChallengeDisposition, URLCredentialPtr>;

std::shared_ptr<OnceAnswer<ChallengeAnswer>> makeChallengeAnswer(URLSessionEngine& engine, uint64_t id) {
    return makeAnswer<ChallengeAnswer>(
        engine, id,
        [](URLSessionLoad& load, ChallengeAnswer a) { load.challengeAnswered(a.first, a.second); },
        ChallengeAnswer{NSURLSessionAuthChallengePerformDefaultHandling, nullptr});
}

auto challengeHandler(std::shared_ptr<OnceAnswer<ChallengeAnswer>> answer) {
    return [answer = std::move(answer)](NSURLSessionAuthChallengeDisposition d, URLCredentialPtr c) {
        answer->answer({d, std::move(c)});
    };
}

std::shared_ptr<URLSessionDataTask> asDataTask(const URLSessionTaskPtr& task) {
    return std::static_pointer_cast<URLSessionDataTask>(task);
}

Duration seconds(double value) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(value));
}

bool isIPLiteral(const std::string& host) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

uint16_t portOf(const URL& url) {
    if (auto port = url.port(); port && *port != 0)
        return *port;
    return text::lowercaseASCII(url.scheme().value_or("")) == "https" ? 443 : 80;
}

std::string schemeOf(const URL& url) {
    return text::lowercaseASCII(url.scheme().value_or(""));
}

int64_t errorForLookup(int code) {
    switch (code) {
    case EAI_AGAIN:
        // No server could be asked: as on the platform, the device counts as offline.
        return NSURLErrorNotConnectedToInternet;
    case EAI_NONAME:
    case EAI_FAIL:
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
    case EAI_SERVICE:
        return NSURLErrorCannotFindHost;
    default:
        return NSURLErrorDNSLookupFailed;
    }
}

// The most header bytes a transfer takes in all (its own limit, which it does not let us change).
constexpr uint64_t kTransferHeaderLimit = 300 * 1024;

// `inHead`: a status line was read and its header fields had not ended; `headerBytes`: the header
// lines the transfer handed over so far.
int64_t errorForTransfer(CURLcode result, long osErrno, bool inHead, uint64_t headerBytes) {
    switch (result) {
    case CURLE_OUT_OF_MEMORY:
        // A header line longer than curl accepts is reported as out of memory mid-head: the server's
        // fault, not ours.
        return inHead ? NSURLErrorBadServerResponse : NSURLErrorUnknown;
#if LIBCURL_VERSION_NUM >= 0x080600
    case CURLE_TOO_LARGE:
        return NSURLErrorBadServerResponse;
#endif
    case CURLE_OPERATION_TIMEDOUT:
        return NSURLErrorTimedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
        return NSURLErrorCannotFindHost;
    case CURLE_COULDNT_CONNECT:
        return osErrno == ENETUNREACH || osErrno == ENETDOWN ? NSURLErrorNotConnectedToInternet
                                                             : NSURLErrorCannotConnectToHost;
    case CURLE_UNSUPPORTED_PROTOCOL:
        // The scheme was checked before the transfer began: what curl refuses here is a reply
        // without an HTTP status line.
        return NSURLErrorBadServerResponse;
    case CURLE_URL_MALFORMAT:
        return NSURLErrorBadURL;
    case CURLE_PEER_FAILED_VERIFICATION:
        return NSURLErrorServerCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_USE_SSL_FAILED:
        return NSURLErrorSecureConnectionFailed;
    case CURLE_RECV_ERROR:
        // Too many header bytes in all are refused as a receive failure, after the line that went over
        // was handed to us: the count tells it from a connection that broke.
        if (inHead && headerBytes > kTransferHeaderLimit)
            return NSURLErrorBadServerResponse;
        return NSURLErrorNetworkConnectionLost;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        return NSURLErrorNetworkConnectionLost;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return NSURLErrorBadServerResponse;
    case CURLE_BAD_CONTENT_ENCODING:
        return NSURLErrorCannotDecodeContentData;
    case CURLE_TOO_MANY_REDIRECTS:
        return NSURLErrorHTTPTooManyRedirects;
    default:
        return NSURLErrorUnknown;
    }
}

bool isRedirectStatus(int64_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool isHeaderName(std::string_view name) {
    if (name.empty())
        return false;
    for (unsigned char c : name)
        if (c <= 0x20 || c >= 0x7F || c == ':' || c == '(' || c == ')' || c == '<' || c == '>' || c == '@' ||
            c == ',' || c == ';' || c == '\\' || c == '"' || c == '/' || c == '[' || c == ']' || c == '?' ||
            c == '=' || c == '{' || c == '}')
            return false;
    return true;
}

bool isHeaderValue(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// The scheme and realm of the strongest challenge a 401 offers that we can answer.
std::optional<std::pair<std::string, std::optional<std::string>>>
parseChallenge(const HTTPURLResponse& response) {
    std::optional<std::pair<std::string, std::optional<std::string>>> best;
    for (const auto& line : response.allHeaderFields().values("WWW-Authenticate")) {
        std::string trimmed = text::trimmingWhitespace(line);
        std::string scheme = text::lowercaseASCII(trimmed.substr(0, trimmed.find(' ')));
        std::string method;
        if (scheme == "digest")
            method = NSURLAuthenticationMethodHTTPDigest;
        else if (scheme == "basic")
            method = NSURLAuthenticationMethodHTTPBasic;
        else
            continue;
        std::optional<std::string> realm;
        auto at = text::lowercaseASCII(trimmed).find("realm=");
        if (at != std::string::npos) {
            std::string_view rest = std::string_view(trimmed).substr(at + 6);
            if (!rest.empty() && rest.front() == '"') {
                auto close = rest.find('"', 1);
                realm = std::string(
                    rest.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
            } else {
                realm = std::string(rest.substr(0, rest.find(',')));
            }
        }
        if (!best || method == NSURLAuthenticationMethodHTTPDigest)
            best = std::make_pair(method, realm);
    }
    return best;
}

// The header lines of a request with no fields of its own and no body, the same for every one: the
// encodings curl can decode (what it would otherwise format anew for each transfer, in its own order)
// and the agent.
curl_slist* makePlainHeaderLines(const std::string& agent) {
    const curl_version_info_data* curl = curl_version_info(CURLVERSION_NOW);
    std::string encodings;
    auto add = [&](bool supported, const char* names) {
        if (supported)
            encodings += encodings.empty() ? names : std::string(", ") + names;
    };
    add(curl->features & CURL_VERSION_LIBZ, "deflate, gzip");
    add(curl->features & CURL_VERSION_BROTLI, "br");
    add(curl->features & CURL_VERSION_ZSTD, "zstd");
    curl_slist* lines = nullptr;
    if (!encodings.empty()) // else curl's own line, whatever it says without any decoder
        lines = curl_slist_append(lines, ("Accept-Encoding: " + encodings).c_str());
    return curl_slist_append(lines, ("User-Agent: " + agent).c_str());
}

std::string userAgent() {
    static const std::string agent =
        fmt::format("{}/{} URLSession", program_invocation_short_name, LIVEAPP_VERSION);
    return agent;
}

} // namespace

struct URLSessionLoad::Hop {
    explicit Hop(URLSessionEngine& owner)
        : engine(owner)
        , handle(owner.takeEasy())
        , easy(handle.easy) {}
    Hop(const Hop&) = delete;
    Hop& operator=(const Hop&) = delete;

    URLSessionEngine& engine;
    URLSessionEngine::EasyHandle handle;
    CURL* easy{nullptr};
    bool plain{true}; // this transfer set no other option and never paused
    curl_slist* headers{nullptr};
    bool ownsHeaders{true}; // false: lines shared by every transfer, never freed
    curl_slist* resolve{nullptr};
    Data body;
    std::string userName;
    std::string password;
    char errorText[CURL_ERROR_SIZE]{};
    HTTPHeaderParser head;
    uint64_t headerBytes{0}; // every head of the transfer, interim ones included
    HTTPURLResponsePtr response;
    Outcome outcome{Outcome::Deliver};
    MutableData held;
    bool numericHost{false}; // curl turns it into an address itself, without a lookup
    bool lookupRefused{false};
    ErrorPtr abortError; // why a callback stopped the transfer
    bool added{false};

    ~Hop() {
        if (easy)
            engine.recycleEasy(std::move(handle), plain);
        if (headers && ownsHeaders)
            curl_slist_free_all(headers);
        if (resolve)
            curl_slist_free_all(resolve);
    }
};

URLSessionLoad::URLSessionLoad(URLSessionEngine& engine, URLSessionTaskPtr task)
    : m_engine(engine)
    , m_task(std::move(task))
    , m_session(m_task->m_session)
    , m_id(m_task->taskIdentifier())
    , m_body(engine.blocks()) {}

URLSessionLoad::~URLSessionLoad() {
    endHop();
    setDeadline(URLSessionEngine::Deadline::Idle, std::nullopt);
    setDeadline(URLSessionEngine::Deadline::Resource, std::nullopt);
}

template <typename Call> void URLSessionLoad::reportToDelegate(Call call) {
    // The delegate is held until the report has run: the session holds it only weakly meanwhile.
    report([delegate = m_delegate, session = m_session, task = m_task, call = std::move(call)]() mutable {
        call(session, task);
    });
}

template <typename Block> void URLSessionLoad::report(Block block, bool evenWhenCancelling) {
    m_engine.deliver(
        m_task,
        [task = m_task, block = std::move(block), evenWhenCancelling]() mutable {
            if (!evenWhenCancelling && task->isCancelling())
                return;
            block();
        },
        URLSessionEngine::IfDropped::CancelLoad);
}

void URLSessionLoad::touch() {
    m_lastActivity = m_engine.now();
}

void URLSessionLoad::setDeadline(URLSessionEngine::Deadline kind, std::optional<MonoTime> at) {
    auto& slot = kind == URLSessionEngine::Deadline::Idle ? m_idleDeadline : m_resourceDeadline;
    if (slot == at)
        return;
    m_engine.moveDeadline(m_id, kind, slot, at);
    slot = at;
}

void URLSessionLoad::deadlinePassed(URLSessionEngine::Deadline kind) {
    // The engine has let go of the deadline that passed.
    if (kind == URLSessionEngine::Deadline::Resource) {
        m_resourceDeadline.reset();
        fail(NSURLErrorTimedOut);
        return;
    }
    m_idleDeadline.reset();
    idleTimeReached();
}

void URLSessionLoad::idleTimeReached() {
    MonoTime now = Clock::now();
    if (m_waiting != Waiting::Nothing) {
        // The delegate is thinking; the time-out counts silence on the network only.
        setDeadline(URLSessionEngine::Deadline::Idle, now + seconds(m_timeout));
        return;
    }
    MonoTime deadline = m_lastActivity + seconds(m_timeout);
    if (now >= deadline)
        fail(NSURLErrorTimedOut);
    else
        setDeadline(URLSessionEngine::Deadline::Idle, deadline);
}

void URLSessionLoad::begin() {
    const auto& configuration = m_session->configuration();
    m_request = m_task->currentRequest();
    m_delegate = m_session->delegate();
    m_taskDelegate = dynamic_cast<URLSessionTaskDelegate*>(m_delegate.get());
    m_dataDelegate = dynamic_cast<URLSessionDataDelegate*>(m_delegate.get());
    m_completionMode = m_task->m_hasCompletion;
    m_timeout = m_request.hasExplicitTimeoutInterval() ? m_request.timeoutInterval()
                                                       : configuration.timeoutIntervalForRequest();
    if (m_timeout <= 0)
        m_timeout = URLRequest::defaultTimeoutInterval;
    m_trustAccepted = configuration.allowsInvalidCertificates();
    m_cache = configuration.URLCache();

    touch();
    setDeadline(URLSessionEngine::Deadline::Idle, m_lastActivity + seconds(m_timeout));
    double resourceTimeout = configuration.timeoutIntervalForResource();
    if (resourceTimeout > 0)
        setDeadline(URLSessionEngine::Deadline::Resource, m_lastActivity + seconds(resourceTimeout));
    m_task->setBytesSent(0, m_request.HTTPBody() ? static_cast<int64_t>(m_request.HTTPBody()->length()) : 0);

    if (m_task->isCancelling()) {
        fail(NSURLErrorCancelled);
        return;
    }
    const URLPtr& url = m_request.URL();
    if (!url) {
        fail(NSURLErrorBadURL);
        return;
    }
    std::string scheme = schemeOf(*url);
    if (scheme != "http" && scheme != "https") {
        fail(NSURLErrorUnsupportedURL);
        return;
    }
    std::string host = url->host().value_or("");
    if (host.empty()) {
        fail(NSURLErrorBadURL);
        return;
    }

    if (!answerFromCache())
        startRequest(host);
}

// Serves or refuses the request from the cache as its policy says; false when the network must answer
// (perhaps to revalidate what the cache holds).
bool URLSessionLoad::answerFromCache() {
    const auto& configuration = m_session->configuration();
    NSURLRequestCachePolicy policy = m_request.cachePolicy();
    if (policy == NSURLRequestUseProtocolCachePolicy)
        policy = configuration.requestCachePolicy();
    std::optional<URLCache::Entry> entry;
    if (m_cache && !hasCallerConditionals(m_request))
        entry = m_cache->entryForRequest(m_request);
    auto stored =
        entry ? std::dynamic_pointer_cast<HTTPURLResponse>(entry->cachedResponse->response()) : nullptr;
    switch (policy) {
    case NSURLRequestReturnCacheDataElseLoad:
        if (stored) {
            serveFromCache(*entry);
            return true;
        }
        break;
    case NSURLRequestReturnCacheDataDontLoad:
        if (stored)
            serveFromCache(*entry);
        else
            fail(NSURLErrorResourceUnavailable);
        return true;
    case NSURLRequestUseProtocolCachePolicy:
        if (stored && isFresh(*stored, entry->storedAt, Date::now())) {
            serveFromCache(*entry);
            return true;
        }
        if (stored && hasValidators(*stored))
            m_revalidating = entry;
        break;
    case NSURLRequestReloadRevalidatingCacheData:
        if (stored && hasValidators(*stored))
            m_revalidating = entry;
        break;
    default:
        break;
    }
    return false;
}

void URLSessionLoad::cancel() {
    fail(NSURLErrorCancelled);
}

void URLSessionLoad::fail(int64_t code, std::string reason) {
    end(URLError::create(code, m_request.URL(), std::move(reason)));
}

void URLSessionLoad::end(ErrorPtr error) {
    if (m_ended)
        return;
    if (!error)
        flush();
    m_ended = true;
    endHop();
    setDeadline(URLSessionEngine::Deadline::Idle, std::nullopt);
    setDeadline(URLSessionEngine::Deadline::Resource, std::nullopt);
    if (m_task->claimEnd(error)) {
        std::optional<Data> data;
        if (!error && m_completionMode)
            data = wholeBody();
        m_engine.deliver(
            m_task,
            [task = m_task, data = std::move(data), error]() mutable {
                task->finish(std::move(data), error);
            },
            URLSessionEngine::IfDropped::EndTask);
    }
    m_engine.loadEnded(m_id);
}

void URLSessionLoad::endHop() {
    if (!m_hop)
        return;
    if (m_hop->added)
        m_engine.removeTransfer(m_hop->easy);
    m_hop.reset();
    m_paused = false;
}

void URLSessionLoad::startRequest() {
    startRequest(m_request.URL()->host().value_or(""));
}

void URLSessionLoad::startRequest(const std::string& host) {
    ++m_generation;
    const URL& url = *m_request.URL();
    uint16_t port = portOf(url);
    if (isIPLiteral(host)) {
        // An address needs no lookup: no trip through a worker and back before the transfer starts.
        startHop({});
        return;
    }
    auto resolver = Resolver::current();
    auto* engine = &m_engine;
    uint64_t id = m_id;
    uint64_t generation = m_generation;
    DispatchQueue::global()->async([engine, id, generation, resolver, host, port] {
        std::vector<ResolvedAddress> addresses;
        ResolveHints hints;
        hints.flags = AI_NUMERICSERV;
        int code = resolver->resolve(host, std::to_string(port), hints, addresses);
        engine->withLoad(id,
                         [generation, code, addresses = std::move(addresses)](URLSessionLoad& load) mutable {
                             load.resolved(generation, code, std::move(addresses));
                         });
    });
}

void URLSessionLoad::resolved(uint64_t generation, int code, std::vector<ResolvedAddress> addresses) {
    if (generation != m_generation || m_hop)
        return;
    if (code != 0) {
        fail(errorForLookup(code), Resolver::errorText(code));
        return;
    }
    std::erase_if(addresses,
                  [](const ResolvedAddress& a) { return a.family != AF_INET && a.family != AF_INET6; });
    if (addresses.empty()) {
        fail(NSURLErrorCannotFindHost, "the name has no address");
        return;
    }
    startHop(addresses);
}

void URLSessionLoad::startHop(const std::vector<ResolvedAddress>& addresses) {
    auto hop = std::make_unique<Hop>(m_engine);
    if (!hop->easy) {
        fail(NSURLErrorUnknown, "no transfer could be made");
        return;
    }
    pinResolvedAddresses(*hop, addresses);
    setHeaderLines(*hop);
    setTransferOptions(*hop);
    setMethodAndBody(*hop);
    setCredential(*hop);

    CURL* easy = hop->easy;
    m_hop = std::move(hop);
    if (!m_engine.addTransfer(easy)) {
        fail(NSURLErrorUnknown, "the transfer could not be started");
        return;
    }
    m_hop->added = true;
}

void URLSessionLoad::pinResolvedAddresses(Hop& hop, const std::vector<ResolvedAddress>& addresses) {
    // Curl must never look a name up itself: it gets the resolver's answer for this host and port,
    // and a resolver-start hook that refuses any lookup it would still try.
    // An address literal is the one host that comes without a lookup's answer.
    hop.numericHost = addresses.empty();
    if (hop.numericHost)
        return;
    std::string host = m_request.URL()->host().value_or("");
    std::string list;
    for (const auto& address : addresses) {
        if (!list.empty())
            list += ',';
        list += address.family == AF_INET6 ? "[" + address.numericHost() + "]" : address.numericHost();
    }
    hop.resolve =
        curl_slist_append(nullptr, fmt::format("{}:{}:{}", host, portOf(*m_request.URL()), list).c_str());
    hop.plain = false;
}

curl_slist* URLSessionLoad::plainHeaderLines() {
    static curl_slist* const plain = makePlainHeaderLines(userAgent());
    return plain;
}

void URLSessionLoad::setHeaderLines(Hop& hop) const {
    const auto& configuration = m_session->configuration();
    HTTPHeaderFields fields = configuration.HTTPAdditionalHeaders();
    if (!m_request.allHTTPHeaderFields().empty())
        fields.merge(m_request.allHTTPHeaderFields());
    fields.remove("Content-Length"); // curl writes the body's true length
    fields.remove("Expect");
    auto storage = configuration.HTTPCookieStorage();
    if (storage && configuration.HTTPShouldSetCookies() && m_request.HTTPShouldHandleCookies() &&
        !fields.contains("Cookie"))
        if (auto cookies = storage->cookiesForURL(m_request.URL()); !cookies.empty())
            fields.merge(HTTPCookie::requestHeaderFieldsWithCookies(cookies));
    if (m_revalidating)
        if (auto stored =
                std::dynamic_pointer_cast<HTTPURLResponse>(m_revalidating->cachedResponse->response()))
            addValidators(fields, *stored);
    bool withBody = sendsBody();
    if (fields.empty() && !withBody) {
        // Nearly every request: the lines are the same each time, made once and lent to each transfer.
        hop.headers = plainHeaderLines();
        hop.ownsHeaders = false;
        return;
    }
    if (!fields.contains("User-Agent"))
        fields.setValue(userAgent(), "User-Agent");
    curl_slist* lines = nullptr;
    for (const auto& [name, value] : fields) {
        if (!isHeaderName(name) || !isHeaderValue(value))
            continue; // a field that could split the request is never sent
        std::string line(name);
        if (value.empty())
            line += ';';
        else
            line.append(": ").append(value);
        lines = curl_slist_append(lines, line.c_str());
    }
    if (withBody)
        lines = curl_slist_append(lines, "Expect:"); // the body goes at once, never after a wait
    hop.headers = lines;
}

bool URLSessionLoad::sendsBody() const {
    const std::string& method = m_request.HTTPMethod();
    return method != "GET" && method != "HEAD" && (method == "POST" || m_request.HTTPBody());
}

void URLSessionLoad::setTransferOptions(Hop& hop) {
    CURL* easy = hop.easy;
    if (!hop.handle.configured) {
        // What every transfer sets the same way: a handle kept from a plain transfer still has it.
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        // No request goes through a proxy, whatever the environment names. Curl reads the no-proxy
        // list of the environment on every transfer unless it is given one; with every host spared
        // the proxy there is nothing left for it to look up.
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(easy, CURLOPT_RESOLVER_START_FUNCTION, &URLSessionLoad::resolverStartCallback);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &URLSessionLoad::headerCallback);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &URLSessionLoad::writeCallback);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    }
    // The fragment is never sent.
    const std::string& absolute = m_request.URL()->absoluteString();
    m_engine.setAddress(hop.handle, std::string_view(absolute).substr(0, absolute.find('#')));
    curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, hop.errorText);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, hop.headers);
    if (hop.resolve)
        curl_easy_setopt(easy, CURLOPT_RESOLVE, hop.resolve);
    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_DATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    if (m_trustAccepted) {
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
        hop.plain = false;
    }
}

void URLSessionLoad::setMethodAndBody(Hop& hop) {
    CURL* easy = hop.easy;
    const std::string& method = m_request.HTTPMethod();
    if (method == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        return;
    }
    hop.plain = false;
    if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        return;
    }
    if (sendsBody()) {
        static const char empty[] = "";
        hop.body = m_request.HTTPBody().value_or(Data());
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(hop.body.length()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS,
                         hop.body.empty() ? empty : reinterpret_cast<const char*>(hop.body.bytes()));
        // Only a body sent counts as progress worth hearing of: a transfer without one is spared the
        // callback on each of its steps.
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &URLSessionLoad::progressCallback);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    }
    if (method != "POST")
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
}

void URLSessionLoad::setCredential(Hop& hop) {
    if (!m_credential || !m_credential->user())
        return;
    hop.plain = false;
    hop.userName = *m_credential->user();
    hop.password = m_credential->password().value_or("");
    curl_easy_setopt(hop.easy, CURLOPT_USERNAME, hop.userName.c_str());
    curl_easy_setopt(hop.easy, CURLOPT_PASSWORD, hop.password.c_str());
    curl_easy_setopt(hop.easy, CURLOPT_HTTPAUTH,
                     m_authMethod == NSURLAuthenticationMethodHTTPDigest ? CURLAUTH_DIGEST : CURLAUTH_BASIC);
}

size_t URLSessionLoad::headerCallback(char* bytes, size_t size, size_t count, void* load) {
    return static_cast<URLSessionLoad*>(load)->onHeaderLine(std::string_view(bytes, size * count));
}

size_t URLSessionLoad::writeCallback(char* bytes, size_t size, size_t count, void* load) {
    return static_cast<URLSessionLoad*>(load)->onBody(bytes, size * count);
}

int URLSessionLoad::progressCallback(void* load, curl_off_t, curl_off_t, curl_off_t uploadTotal,
                                     curl_off_t uploaded) {
    auto* self = static_cast<URLSessionLoad*>(load);
    if (uploaded > 0) {
        self->touch();
        self->m_task->setBytesSent(uploaded, uploadTotal);
    }
    return 0;
}

int URLSessionLoad::resolverStartCallback(void*, void*, void* load) {
    auto* self = static_cast<URLSessionLoad*>(load);
    if (!self->m_hop)
        return 1;
    if (self->m_hop->numericHost)
        return 0;
    self->m_hop->lookupRefused = true;
    return 1;
}

size_t URLSessionLoad::onHeaderLine(std::string_view line) {
    size_t consumed = line.size();
    if (!m_hop)
        return consumed;
    touch();
    Hop& hop = *m_hop;
    hop.headerBytes += line.size();
    switch (hop.head.feed(line)) {
    case HTTPHeaderParser::Line::Status:
        // A new reply on this transfer: after a 1xx, or the second leg of an authentication.
        hop.held = MutableData();
        hop.outcome = Outcome::Deliver;
        return consumed;
    case HTTPHeaderParser::Line::HeadEnd:
        headersComplete();
        return hop.abortError ? 0 : consumed;
    default:
        return consumed;
    }
}

void URLSessionLoad::headersComplete() {
    Hop& hop = *m_hop;
    HTTPHeaderParser::LineViews lines;
    hop.head.lineViews(lines);
    hop.response = HTTPURLResponse::createIn(m_engine.blocks(), m_request.URL(), hop.head.status(),
                                             hop.head.version(), lines.lines);
    hop.head.clearFields();
    if (!hop.response) {
        hop.abortError =
            URLError::create(NSURLErrorBadServerResponse, m_request.URL(), "malformed status line");
        return;
    }
    storeCookies(*hop.response);
    int64_t status = hop.head.status();
    if (isRedirectStatus(status)) {
        auto location = hop.response->valueForHTTPHeaderField("Location");
        auto target = location ? URL::create(text::trimmingWhitespace(*location), m_request.URL()) : nullptr;
        if (target && (schemeOf(*target) == "http" || schemeOf(*target) == "https")) {
            hop.outcome = Outcome::Redirect;
            return;
        }
    }
    if (status == 401 && parseChallenge(*hop.response)) {
        hop.outcome = Outcome::Challenge;
        return;
    }
    if (status == 304 && m_revalidating) {
        hop.outcome = Outcome::Revalidated;
        return;
    }
    hop.outcome = Outcome::Deliver;
    beginDelivery(hop.response, true);
}

size_t URLSessionLoad::onBody(const char* bytes, size_t length) {
    if (!m_hop)
        return length;
    touch();
    Hop& hop = *m_hop;
    if (!hop.head.headDone()) {
        hop.abortError =
            URLError::create(NSURLErrorBadServerResponse, m_request.URL(), "body before the header");
        return 0;
    }
    switch (hop.outcome) {
    case Outcome::Redirect:
    case Outcome::Challenge:
        if (hop.held.length() + length <= heldBodyLimit)
            hop.held.appendBytes(bytes, length);
        return length;
    case Outcome::Revalidated:
        return length;
    case Outcome::Deliver:
        break;
    }
    if (m_waiting == Waiting::Response) {
        // Nothing of the body goes out before the delegate has allowed the response.
        m_paused = true;
        hop.plain = false;
        return CURL_WRITEFUNC_PAUSE;
    }
    receiveBody(bytes, length);
    return length;
}

void URLSessionLoad::receiveBody(const char* bytes, size_t length) {
    if (length == 0)
        return;
    if (m_storeResponse && !m_completionMode) {
        if (m_cacheBody.length() + length > m_cache->memoryCapacity() / 20) {
            m_storeResponse = false;
            m_cacheBody = MutableData();
        } else {
            m_cacheBody.appendBytes(bytes, length);
        }
    }
    if (m_completionMode) {
        m_body.append(bytes, length);
    } else {
        if (m_pending.empty())
            m_engine.flushSoon(m_id);
        m_pending.appendBytes(bytes, length);
        if (m_pending.length() >= pieceSize)
            flush();
    }
    m_task->addBytesReceived(static_cast<int64_t>(length));
}

const Data& URLSessionLoad::wholeBody() {
    if (!m_body.empty()) {
        // Bytes come after a body already handed out only if a caller breaks the order; kept anyway.
        if (!m_wholeBody.empty()) {
            DataBuffer joined(m_engine.blocks());
            joined.reserve(m_wholeBody.length() + m_body.length());
            joined.append(m_wholeBody.bytes(), m_wholeBody.length());
            Data rest = m_body.take();
            joined.append(rest.bytes(), rest.length());
            m_body = std::move(joined);
        }
        m_wholeBody = m_body.take();
    }
    return m_wholeBody;
}

void URLSessionLoad::flush() {
    if (m_ended || m_pending.empty() || m_waiting == Waiting::Response)
        return;
    Data piece = m_pending.data();
    m_pending = MutableData();
    if (!m_dataDelegate)
        return;
    reportToDelegate([dataDelegate = m_dataDelegate, piece](const auto& session, const auto& task) {
        dataDelegate->URLSessionDataTaskDidReceiveData(session, asDataTask(task), piece);
    });
}

void URLSessionLoad::beginDelivery(const HTTPURLResponsePtr& response, bool fromNetwork) {
    m_response = response;
    m_task->setResponse(response, response->expectedContentLength());
    m_storeResponse = fromNetwork && m_cache && mayStore(m_request, *response);
    if (m_storeResponse &&
        response->expectedContentLength() > static_cast<int64_t>(m_cache->memoryCapacity() / 20))
        m_storeResponse = false;
    if (m_completionMode && response->expectedContentLength() > 0)
        m_body.reserve(std::min<size_t>(response->expectedContentLength(), wholeBodyReserveLimit));
    if (m_completionMode || !m_dataDelegate)
        return;
    m_waiting = Waiting::Response;
    auto answer = makeAnswer<NSURLSessionResponseDisposition>(
        m_engine, m_id,
        [](URLSessionLoad& load, NSURLSessionResponseDisposition d) { load.responseAnswered(d); },
        NSURLSessionResponseAllow);
    URLResponsePtr reply = response;
    reportToDelegate([dataDelegate = m_dataDelegate, reply, answer](const auto& session, const auto& task) {
        dataDelegate->URLSessionDataTaskDidReceiveResponse(
            session, asDataTask(task), reply,
            [answer](NSURLSessionResponseDisposition d) { answer->answer(d); });
    });
}

void URLSessionLoad::responseAnswered(NSURLSessionResponseDisposition disposition) {
    if (m_waiting != Waiting::Response)
        return;
    m_waiting = Waiting::Nothing;
    touch();
    if (disposition == NSURLSessionResponseCancel) {
        fail(NSURLErrorCancelled);
        return;
    }
    flush();
    if (m_paused && m_hop) {
        m_paused = false;
        curl_easy_pause(m_hop->easy, CURLPAUSE_CONT); // hands over what curl held back, right here
        flush();
    }
    if (m_bodyComplete)
        finishBody();
}

void URLSessionLoad::deliverBuffered(const HTTPURLResponsePtr& response, Data body, bool fromNetwork) {
    beginDelivery(response, fromNetwork);
    receiveBody(reinterpret_cast<const char*>(body.bytes()), body.length());
    m_bodyComplete = true;
    if (m_waiting != Waiting::Response)
        finishBody();
}

void URLSessionLoad::transferDone(CURLcode result) {
    if (!m_hop || m_ended)
        return;
    long osErrno = 0;
    curl_easy_getinfo(m_hop->easy, CURLINFO_OS_ERRNO, &osErrno);
    auto hop = std::move(m_hop);
    m_engine.removeTransfer(hop->easy);
    hop->added = false;
    if (hop->abortError) {
        end(hop->abortError);
        return;
    }
    if (hop->lookupRefused) {
        fail(NSURLErrorCannotFindHost, "a name lookup outside the resolver was refused");
        return;
    }
    if (result != CURLE_OK) {
        if (result == CURLE_PEER_FAILED_VERIFICATION && !m_trustAccepted) {
            askTrust(hop->errorText);
            return;
        }
        fail(errorForTransfer(result, osErrno, hop->head.inHead(), hop->headerBytes), hop->errorText);
        return;
    }
    if (!hop->response) {
        fail(NSURLErrorBadServerResponse, "no reply");
        return;
    }
    switch (hop->outcome) {
    case Outcome::Deliver:
        m_bodyComplete = true;
        if (m_waiting != Waiting::Response)
            finishBody();
        return;
    case Outcome::Redirect:
        m_heldResponse = hop->response;
        m_heldBody = hop->held.data();
        askRedirect();
        return;
    case Outcome::Challenge:
        m_heldResponse = hop->response;
        m_heldBody = hop->held.data();
        askHTTPChallenge();
        return;
    case Outcome::Revalidated: {
        auto entry = *m_revalidating;
        auto stored = std::static_pointer_cast<HTTPURLResponse>(entry.cachedResponse->response());
        auto refreshed = refreshedResponse(*stored, *hop->response);
        auto cached = std::make_shared<CachedURLResponse>(refreshed, entry.cachedResponse->data(),
                                                          entry.cachedResponse->userInfo(),
                                                          entry.cachedResponse->storagePolicy());
        m_cache->storeCachedResponse(cached, m_request);
        serveFromCache(URLCache::Entry{cached, Date::now()});
        return;
    }
    }
}

void URLSessionLoad::finishBody() {
    flush();
    if (m_storeResponse && m_cache && m_response) {
        Data body = m_completionMode ? wholeBody() : m_cacheBody.data();
        bool secure = schemeOf(*m_request.URL()) == "https";
        auto proposed = std::make_shared<CachedURLResponse>(m_response, body, Value(),
                                                            secure ? NSURLCacheStorageAllowedInMemoryOnly
                                                                   : NSURLCacheStorageAllowed);
        if (!m_completionMode && m_dataDelegate) {
            m_waiting = Waiting::Cache;
            auto answer = makeAnswer<CachedURLResponsePtr>(
                m_engine, m_id,
                [](URLSessionLoad& load, CachedURLResponsePtr c) { load.cacheAnswered(std::move(c)); },
                proposed);
            reportToDelegate(
                [dataDelegate = m_dataDelegate, proposed, answer](const auto& session, const auto& task) {
                    dataDelegate->URLSessionDataTaskWillCacheResponse(
                        session, asDataTask(task), proposed,
                        [answer](CachedURLResponsePtr c) { answer->answer(std::move(c)); });
                });
            return;
        }
        m_cache->storeCachedResponse(proposed, m_request);
    }
    end(nullptr);
}

void URLSessionLoad::cacheAnswered(CachedURLResponsePtr cached) {
    if (m_waiting != Waiting::Cache)
        return;
    m_waiting = Waiting::Nothing;
    if (cached && m_cache)
        m_cache->storeCachedResponse(cached, m_request);
    end(nullptr);
}

void URLSessionLoad::storeCookies(const HTTPURLResponse& response) {
    const auto& configuration = m_session->configuration();
    auto storage = configuration.HTTPCookieStorage();
    if (!storage || !configuration.HTTPShouldSetCookies() || !m_request.HTTPShouldHandleCookies())
        return;
    auto cookies = HTTPCookie::cookiesWithResponseHeaderFields(response.allHeaderFields(), m_request.URL());
    if (cookies.empty())
        return;
    switch (configuration.HTTPCookieAcceptPolicy()) {
    case NSHTTPCookieAcceptPolicyNever:
        return;
    case NSHTTPCookieAcceptPolicyOnlyFromMainDocumentDomain:
        if (m_request.mainDocumentURL()) {
            auto mainHost = text::lowercaseASCII(m_request.mainDocumentURL()->host().value_or(""));
            auto host = text::lowercaseASCII(m_request.URL()->host().value_or(""));
            if (mainHost != host && !host.ends_with("." + mainHost) && !mainHost.ends_with("." + host))
                return;
        }
        break;
    case NSHTTPCookieAcceptPolicyAlways:
        break;
    }
    for (const auto& cookie : cookies)
        storage->setCookie(cookie);
}

void URLSessionLoad::askRedirect() {
    if (m_redirects >= maxRedirects) {
        fail(NSURLErrorHTTPTooManyRedirects);
        return;
    }
    auto location = m_heldResponse->valueForHTTPHeaderField("Location");
    URLPtr target = URL::create(text::trimmingWhitespace(location.value_or("")), m_request.URL());
    MutableURLRequest next(m_request);
    next.setURL(target);
    int64_t status = m_heldResponse->statusCode();
    const std::string& method = m_request.HTTPMethod();
    if ((status == 303 && method != "HEAD") || ((status == 301 || status == 302) && method == "POST")) {
        next.setHTTPMethod("GET");
        next.setHTTPBody(std::nullopt);
        next.setValue(std::nullopt, "Content-Type");
    }
    if (text::lowercaseASCII(target->host().value_or("")) !=
        text::lowercaseASCII(m_request.URL()->host().value_or("")))
        next.setValue(std::nullopt, "Authorization");
    m_waiting = Waiting::Redirect;
    if (!m_taskDelegate) {
        redirectAnswered(URLRequest(next));
        return;
    }
    auto answer = makeAnswer<std::optional<URLRequest>>(
        m_engine, m_id,
        [](URLSessionLoad& load, std::optional<URLRequest> r) { load.redirectAnswered(std::move(r)); },
        URLRequest(next));
    reportToDelegate([taskDelegate = m_taskDelegate, response = m_heldResponse, proposed = URLRequest(next),
                      answer](const auto& session, const auto& task) {
        taskDelegate->URLSessionTaskWillPerformHTTPRedirection(
            session, task, response, proposed,
            [answer](std::optional<URLRequest> r) { answer->answer(std::move(r)); });
    });
}

void URLSessionLoad::redirectAnswered(std::optional<URLRequest> request) {
    if (m_waiting != Waiting::Redirect)
        return;
    m_waiting = Waiting::Nothing;
    touch();
    if (!request || !request->URL()) {
        deliverBuffered(m_heldResponse, m_heldBody, true);
        return;
    }
    std::string scheme = schemeOf(*request->URL());
    if ((scheme != "http" && scheme != "https") || request->URL()->host().value_or("").empty()) {
        m_request = *request;
        fail(NSURLErrorUnsupportedURL);
        return;
    }
    ++m_redirects;
    m_request = std::move(*request);
    m_task->setCurrentRequest(m_request);
    m_revalidating.reset();
    m_credential = nullptr;
    m_authFailures = 0;
    m_triedURLCredential = false;
    startRequest();
}

void URLSessionLoad::askHTTPChallenge() {
    auto offered = parseChallenge(*m_heldResponse);
    const URL& url = *m_request.URL();
    m_authMethod = offered->first;
    m_challengeSpace =
        std::make_shared<const URLProtectionSpace>(text::lowercaseASCII(url.host().value_or("")), portOf(url),
                                                   schemeOf(url), offered->second, offered->first);
    auto challenge = std::make_shared<const URLAuthenticationChallenge>(
        m_challengeSpace, m_credential, m_authFailures, m_heldResponse, nullptr);
    m_waiting = Waiting::HTTPChallenge;
    if (!m_taskDelegate) {
        challengeAnswered(NSURLSessionAuthChallengePerformDefaultHandling, nullptr);
        return;
    }
    auto answer = makeChallengeAnswer(m_engine, m_id);
    reportToDelegate([taskDelegate = m_taskDelegate, challenge, answer](const auto& session,
                                                                        const auto& task) {
        taskDelegate->URLSessionTaskDidReceiveChallenge(session, task, challenge, challengeHandler(answer));
    });
}

void URLSessionLoad::askTrust(std::string reason) {
    const URL& url = *m_request.URL();
    std::string host = text::lowercaseASCII(url.host().value_or(""));
    auto trust = std::make_shared<const URLServerTrust>(host, portOf(url), reason);
    auto space =
        std::make_shared<const URLProtectionSpace>(host, portOf(url), NSURLProtectionSpaceHTTPS, std::nullopt,
                                                   NSURLAuthenticationMethodServerTrust, trust);
    auto challenge = std::make_shared<const URLAuthenticationChallenge>(
        space, nullptr, 0, nullptr,
        URLError::create(NSURLErrorServerCertificateUntrusted, m_request.URL(), reason));
    m_trustReason = std::move(reason);
    m_waiting = Waiting::TrustChallenge;
    if (!m_delegate) {
        challengeAnswered(NSURLSessionAuthChallengePerformDefaultHandling, nullptr);
        return;
    }
    auto answer = makeChallengeAnswer(m_engine, m_id);
    reportToDelegate([delegate = m_delegate, taskDelegate = m_taskDelegate, challenge,
                      answer](const auto& session, const auto& task) {
        if (taskDelegate)
            taskDelegate->URLSessionTaskDidReceiveChallenge(session, task, challenge,
                                                            challengeHandler(answer));
        else
            delegate->URLSessionDidReceiveChallenge(session, challenge, challengeHandler(answer));
    });
}

void URLSessionLoad::challengeAnswered(NSURLSessionAuthChallengeDisposition disposition,
                                       URLCredentialPtr credential) {
    if (m_waiting == Waiting::TrustChallenge) {
        m_waiting = Waiting::Nothing;
        touch();
        if (disposition == NSURLSessionAuthChallengeCancelAuthenticationChallenge) {
            fail(NSURLErrorCancelled);
        } else if (disposition == NSURLSessionAuthChallengeUseCredential && credential &&
                   credential->serverTrust()) {
            m_trustAccepted = true;
            startRequest();
        } else {
            fail(NSURLErrorServerCertificateUntrusted, m_trustReason);
        }
        return;
    }
    if (m_waiting != Waiting::HTTPChallenge)
        return;
    m_waiting = Waiting::Nothing;
    touch();
    switch (disposition) {
    case NSURLSessionAuthChallengeUseCredential:
        if (credential && credential->user()) {
            retryWithCredential(credential);
            return;
        }
        break; // no credential: go on without one
    case NSURLSessionAuthChallengePerformDefaultHandling:
        if (m_authFailures == 0)
            if (auto remembered = m_session->rememberedCredential(*m_challengeSpace)) {
                retryWithCredential(remembered);
                return;
            }
        if (!m_triedURLCredential && m_request.URL()->user()) {
            m_triedURLCredential = true;
            retryWithCredential(std::make_shared<URLCredential>(*m_request.URL()->user(),
                                                                m_request.URL()->password().value_or(""),
                                                                NSURLCredentialPersistenceNone));
            return;
        }
        break;
    case NSURLSessionAuthChallengeCancelAuthenticationChallenge:
        fail(NSURLErrorUserCancelledAuthentication);
        return;
    case NSURLSessionAuthChallengeRejectProtectionSpace:
        break;
    }
    deliverBuffered(m_heldResponse, m_heldBody, true);
}

void URLSessionLoad::retryWithCredential(const URLCredentialPtr& credential) {
    if (credential->persistence() == NSURLCredentialPersistenceForSession ||
        credential->persistence() == NSURLCredentialPersistencePermanent ||
        credential->persistence() == NSURLCredentialPersistenceSynchronizable)
        m_session->rememberCredential(m_challengeSpace, credential);
    m_credential = credential;
    ++m_authFailures;
    startRequest();
}

void URLSessionLoad::serveFromCache(const URLCache::Entry& entry) {
    auto response = std::dynamic_pointer_cast<HTTPURLResponse>(entry.cachedResponse->response());
    deliverBuffered(response, entry.cachedResponse->data(), false);
}

} // namespace platform::detail
