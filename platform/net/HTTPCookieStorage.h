#pragma once
// A cookie jar. The shared one (sharedHTTPCookieStorage) is the process-wide store every default
// session reads and fills: a cookie one reply sets goes out with later requests to that host from any
// session that handles cookies. Ephemeral sessions make their own.
//
// Promises: thread-safe; expiry is judged by the installed Clock's wall time, so an expired cookie is
// never handed out. A cookie replaces the stored one of the same name, domain and path; an already
// expired one deletes it. Kept in memory only. Each domain keeps at most its 180 newest cookies.

#include "platform/foundation/Date.h"
#include "platform/foundation/URL.h"
#include "platform/net/HTTPCookie.h"

#include <memory>
#include <mutex>
#include <vector>

namespace platform {

enum NSHTTPCookieAcceptPolicy : uint64_t {
    NSHTTPCookieAcceptPolicyAlways = 0,
    NSHTTPCookieAcceptPolicyNever = 1,
    NSHTTPCookieAcceptPolicyOnlyFromMainDocumentDomain = 2,
};

class HTTPCookieStorage : public std::enable_shared_from_this<HTTPCookieStorage> {
public:
    static std::shared_ptr<HTTPCookieStorage> sharedHTTPCookieStorage();
    static std::shared_ptr<HTTPCookieStorage> create();

    // Every unexpired cookie, oldest first.
    std::vector<HTTPCookiePtr> cookies() const;
    // The cookies that go out with a request for `url`: longer paths first, then older first.
    std::vector<HTTPCookiePtr> cookiesForURL(const URLPtr& url) const;

    void setCookie(const HTTPCookiePtr& cookie);
    void deleteCookie(const HTTPCookiePtr& cookie);
    void removeCookiesSinceDate(Date date);
    // setCookies:forURL:mainDocumentURL: — stores the cookies the accept policy lets `url` set.
    void setCookies(const std::vector<HTTPCookiePtr>& cookies, const URLPtr& url,
                    const URLPtr& mainDocumentURL);

    NSHTTPCookieAcceptPolicy cookieAcceptPolicy() const;
    void setCookieAcceptPolicy(NSHTTPCookieAcceptPolicy policy);

private:
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    explicit HTTPCookieStorage(PrivateTag) {}

private:
    void removeExpiredLocked(Date now);

    mutable std::mutex m_mutex;
    std::vector<HTTPCookiePtr> m_cookies; // in insertion order
    NSHTTPCookieAcceptPolicy m_policy{NSHTTPCookieAcceptPolicyAlways};
};

} // namespace platform
