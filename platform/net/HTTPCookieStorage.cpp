#include "platform/net/HTTPCookieStorage.h"

#include "platform/foundation/Immortal.h"
#include "platform/foundation/Text.h"

#include <algorithm>

namespace platform {

namespace {

constexpr size_t maxCookiesPerDomain = 180;

bool sameSlot(const HTTPCookie& a, const HTTPCookie& b) {
    return a.name() == b.name() && a.domain() == b.domain() && a.path() == b.path();
}

// The registrable part a host's cookies are counted under ("a.b.example.com" and ".example.com" both
// count under "example.com"); good enough to keep one server from crowding out the rest.
std::string domainKey(std::string_view domain) {
    while (!domain.empty() && domain.front() == '.')
        domain.remove_prefix(1);
    size_t last = domain.rfind('.');
    if (last == std::string_view::npos || last == 0)
        return std::string(domain);
    size_t previous = domain.rfind('.', last - 1);
    return std::string(previous == std::string_view::npos ? domain : domain.substr(previous + 1));
}

} // namespace

std::shared_ptr<HTTPCookieStorage> HTTPCookieStorage::sharedHTTPCookieStorage() {
    // Kept for the life of the process: the network thread may still reach it while static destructors
    // run.
    static detail::Immortal<std::shared_ptr<HTTPCookieStorage>> shared{create()};
    return shared.get();
}

std::shared_ptr<HTTPCookieStorage> HTTPCookieStorage::create() {
    return std::make_shared<HTTPCookieStorage>(PrivateTag{});
}

void HTTPCookieStorage::removeExpiredLocked(Date now) {
    std::erase_if(m_cookies, [now](const HTTPCookiePtr& cookie) { return cookie->isExpired(now); });
}

std::vector<HTTPCookiePtr> HTTPCookieStorage::cookies() const {
    Date now = Date::now();
    std::lock_guard lock(m_mutex);
    std::vector<HTTPCookiePtr> result;
    for (const auto& cookie : m_cookies)
        if (!cookie->isExpired(now))
            result.push_back(cookie);
    return result;
}

std::vector<HTTPCookiePtr> HTTPCookieStorage::cookiesForURL(const URLPtr& url) const {
    if (!url)
        return {};
    Date now = Date::now();
    std::vector<HTTPCookiePtr> result;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& cookie : m_cookies)
            if (!cookie->isExpired(now) && cookie->matchesURL(*url))
                result.push_back(cookie);
    }
    std::stable_sort(result.begin(), result.end(), [](const HTTPCookiePtr& a, const HTTPCookiePtr& b) {
        if (a->path().size() != b->path().size())
            return a->path().size() > b->path().size();
        return a->creationDate() < b->creationDate();
    });
    return result;
}

void HTTPCookieStorage::setCookie(const HTTPCookiePtr& cookie) {
    if (!cookie)
        return;
    Date now = Date::now();
    std::lock_guard lock(m_mutex);
    if (m_policy == NSHTTPCookieAcceptPolicyNever)
        return;
    auto existing = std::find_if(m_cookies.begin(), m_cookies.end(),
                                 [&](const HTTPCookiePtr& stored) { return sameSlot(*stored, *cookie); });
    if (cookie->isExpired(now)) {
        if (existing != m_cookies.end())
            m_cookies.erase(existing);
        return;
    }
    if (existing != m_cookies.end()) {
        // A replacement keeps the first cookie's creation date, so the order of a Cookie line is stable.
        auto fields =
            HTTPCookie::Fields{cookie->name(),       cookie->value(),          cookie->domain(),
                               cookie->path(),       cookie->expiresDate(),    cookie->isSecure(),
                               cookie->isHTTPOnly(), cookie->sameSitePolicy(), (*existing)->creationDate()};
        *existing = std::make_shared<const HTTPCookie>(std::move(fields));
        return;
    }
    removeExpiredLocked(now);
    std::string key = domainKey(cookie->domain());
    size_t count = std::count_if(m_cookies.begin(), m_cookies.end(), [&](const HTTPCookiePtr& stored) {
        return domainKey(stored->domain()) == key;
    });
    if (count >= maxCookiesPerDomain) {
        auto oldest = std::find_if(m_cookies.begin(), m_cookies.end(), [&](const HTTPCookiePtr& stored) {
            return domainKey(stored->domain()) == key;
        });
        m_cookies.erase(oldest);
    }
    m_cookies.push_back(cookie);
}

void HTTPCookieStorage::deleteCookie(const HTTPCookiePtr& cookie) {
    if (!cookie)
        return;
    std::lock_guard lock(m_mutex);
    std::erase_if(m_cookies, [&](const HTTPCookiePtr& stored) { return sameSlot(*stored, *cookie); });
}

void HTTPCookieStorage::removeCookiesSinceDate(Date date) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_cookies, [&](const HTTPCookiePtr& stored) { return stored->creationDate() >= date; });
}

void HTTPCookieStorage::setCookies(const std::vector<HTTPCookiePtr>& cookies, const URLPtr& url,
                                   const URLPtr& mainDocumentURL) {
    NSHTTPCookieAcceptPolicy policy = cookieAcceptPolicy();
    if (policy == NSHTTPCookieAcceptPolicyNever)
        return;
    if (policy == NSHTTPCookieAcceptPolicyOnlyFromMainDocumentDomain && mainDocumentURL && url) {
        std::string mainHost = text::lowercaseASCII(mainDocumentURL->host().value_or(""));
        std::string host = text::lowercaseASCII(url->host().value_or(""));
        if (domainKey(mainHost) != domainKey(host))
            return;
    }
    for (const auto& cookie : cookies)
        setCookie(cookie);
}

NSHTTPCookieAcceptPolicy HTTPCookieStorage::cookieAcceptPolicy() const {
    std::lock_guard lock(m_mutex);
    return m_policy;
}

void HTTPCookieStorage::setCookieAcceptPolicy(NSHTTPCookieAcceptPolicy policy) {
    std::lock_guard lock(m_mutex);
    m_policy = policy;
}

} // namespace platform
