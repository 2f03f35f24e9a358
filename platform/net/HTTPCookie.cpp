#include "platform/net/HTTPCookie.h"

#include "platform/foundation/Text.h"
#include "platform/net/HTTPDate.h"

#include <arpa/inet.h>
#include <fmt/format.h>

namespace platform {

namespace {

// Browsers refuse larger cookies; refusing them here also bounds what a hostile server can store.
constexpr size_t maxNameAndValue = 4096;
constexpr size_t maxAttributeValue = 1024;

bool hasControlCharacter(std::string_view text) {
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\t') || c == 0x7F)
            return true;
    return false;
}

bool isIPAddress(std::string_view host) {
    std::string bare(host);
    if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']')
        bare = bare.substr(1, bare.size() - 2);
    unsigned char buffer[16];
    return inet_pton(AF_INET, bare.c_str(), buffer) == 1 || inet_pton(AF_INET6, bare.c_str(), buffer) == 1;
}

std::string hostOf(const URL& url) {
    return text::lowercaseASCII(url.host().value_or(""));
}

// The path as written in the URL (not decoded, trailing "/" kept), "/" when there is none.
std::string rawPathOf(const URL& url) {
    const std::string& text = url.absoluteString();
    size_t start = text.find("://");
    start = start == std::string::npos ? 0 : text.find('/', start + 3);
    if (start == std::string::npos)
        return "/";
    size_t end = text.find_first_of("?#", start);
    std::string path = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    return path.empty() ? "/" : path;
}

std::string defaultPath(const URL& url) {
    std::string path = rawPathOf(url);
    size_t slash = path.rfind('/');
    if (path.empty() || path.front() != '/' || slash == 0 || slash == std::string::npos)
        return "/";
    return path.substr(0, slash);
}

bool domainMatches(std::string_view host, std::string_view domain) {
    if (host == domain)
        return true;
    return host.size() > domain.size() && host.ends_with(domain) &&
           host[host.size() - domain.size() - 1] == '.' && !isIPAddress(host);
}

bool pathMatches(std::string_view requestPath, std::string_view cookiePath) {
    if (requestPath == cookiePath)
        return true;
    if (!requestPath.starts_with(cookiePath))
        return false;
    return cookiePath.ends_with('/') || requestPath[cookiePath.size()] == '/';
}

std::optional<double> parseMaxAge(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    bool negative = text.front() == '-';
    size_t start = negative ? 1 : 0;
    if (start >= text.size())
        return std::nullopt;
    double value = 0;
    for (size_t i = start; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = std::min(value * 10 + (text[i] - '0'), 1e12); // far beyond any date we can hold
    }
    return negative ? -value : value;
}

} // namespace

HTTPCookie::HTTPCookie(Fields fields)
    : m_fields(std::move(fields)) {}

bool HTTPCookie::isExpired(Date now) const {
    return m_fields.expiresDate && *m_fields.expiresDate <= now;
}

bool HTTPCookie::matchesURL(const URL& url) const {
    std::string host = hostOf(url);
    if (host.empty())
        return false;
    if (isHostOnly()) {
        if (host != m_fields.domain)
            return false;
    } else if (!domainMatches(host, std::string_view(m_fields.domain).substr(1))) {
        return false;
    }
    if (m_fields.secure && text::lowercaseASCII(url.scheme().value_or("")) != "https")
        return false;
    std::string path = rawPathOf(url);
    if (auto decoded = URL::percentDecode(path))
        path = *decoded;
    return pathMatches(path, m_fields.path);
}

HTTPCookiePtr HTTPCookie::cookieFromSetCookieLine(std::string_view line, const URLPtr& url) {
    if (!url)
        return nullptr;
    std::string host = hostOf(*url);
    if (host.empty())
        return nullptr;
    size_t semicolon = line.find(';');
    std::string_view pair = line.substr(0, semicolon);
    size_t equals = pair.find('=');
    if (equals == std::string_view::npos)
        return nullptr;
    Fields fields;
    fields.name = text::trimmingWhitespace(pair.substr(0, equals));
    fields.value = text::trimmingWhitespace(pair.substr(equals + 1));
    if (fields.name.empty() || fields.name.size() + fields.value.size() > maxNameAndValue ||
        hasControlCharacter(fields.name) || hasControlCharacter(fields.value))
        return nullptr;

    std::optional<std::string> domainAttribute;
    std::optional<std::string> pathAttribute;
    std::optional<Date> expires;
    std::optional<double> maxAge;
    Date now = Date::now();
    std::string_view rest =
        semicolon == std::string_view::npos ? std::string_view() : line.substr(semicolon + 1);
    while (!rest.empty()) {
        size_t next = rest.find(';');
        std::string_view attribute = rest.substr(0, next);
        rest = next == std::string_view::npos ? std::string_view() : rest.substr(next + 1);
        size_t eq = attribute.find('=');
        std::string key = text::lowercaseASCII(text::trimmingWhitespace(attribute.substr(0, eq)));
        std::string value =
            eq == std::string_view::npos ? std::string() : text::trimmingWhitespace(attribute.substr(eq + 1));
        if (value.size() > maxAttributeValue || hasControlCharacter(value))
            continue;
        if (key == "expires") {
            if (auto date = detail::parseHTTPDate(value))
                expires = date;
        } else if (key == "max-age") {
            if (auto seconds = parseMaxAge(value))
                maxAge = seconds;
        } else if (key == "domain") {
            std::string domain = text::lowercaseASCII(value);
            while (!domain.empty() && domain.front() == '.')
                domain.erase(domain.begin());
            if (!domain.empty())
                domainAttribute = domain;
        } else if (key == "path") {
            pathAttribute = value;
        } else if (key == "secure") {
            fields.secure = true;
        } else if (key == "httponly") {
            fields.HTTPOnly = true;
        } else if (key == "samesite") {
            fields.sameSitePolicy = text::lowercaseASCII(value);
        }
    }

    if (domainAttribute) {
        // A host may set a cookie for itself or a domain it lies in, never for a bare top-level name
        // or for a sibling.
        if (!domainMatches(host, *domainAttribute))
            return nullptr;
        if (domainAttribute->find('.') == std::string::npos && *domainAttribute != host)
            return nullptr;
        fields.domain = "." + *domainAttribute;
    } else {
        fields.domain = host;
    }
    fields.path = pathAttribute && !pathAttribute->empty() && pathAttribute->front() == '/'
                      ? *pathAttribute
                      : defaultPath(*url);
    if (maxAge)
        fields.expiresDate = *maxAge <= 0 ? Date::distantPast() : now.dateByAddingTimeInterval(*maxAge);
    else if (expires)
        fields.expiresDate = expires;
    fields.created = now;
    return std::make_shared<const HTTPCookie>(std::move(fields));
}

std::vector<HTTPCookiePtr> HTTPCookie::cookiesWithResponseHeaderFields(const HTTPHeaderFields& headerFields,
                                                                       const URLPtr& url) {
    std::vector<HTTPCookiePtr> cookies;
    for (const auto& line : headerFields.values("Set-Cookie"))
        if (auto cookie = cookieFromSetCookieLine(line, url))
            cookies.push_back(std::move(cookie));
    return cookies;
}

HTTPCookiePtr HTTPCookie::cookieWithProperties(const Value& properties) {
    auto* name = properties[NSHTTPCookieName].string();
    auto* value = properties[NSHTTPCookieValue].string();
    if (!name || !value || name->empty() || hasControlCharacter(*name) || hasControlCharacter(*value))
        return nullptr;
    Fields fields;
    fields.name = *name;
    fields.value = *value;
    if (auto* domain = properties[NSHTTPCookieDomain].string(); domain && !domain->empty()) {
        fields.domain = text::lowercaseASCII(*domain);
    } else {
        URLPtr origin = properties[NSHTTPCookieOriginURL].url();
        if (!origin)
            if (auto* text = properties[NSHTTPCookieOriginURL].string())
                origin = URL::create(*text);
        if (!origin || hostOf(*origin).empty())
            return nullptr;
        fields.domain = hostOf(*origin);
    }
    if (auto* path = properties[NSHTTPCookiePath].string(); path && !path->empty())
        fields.path = *path;
    fields.created = Date::now();
    const Value& secure = properties[NSHTTPCookieSecure];
    fields.secure = secure.string() ? text::boolValue(*secure.string()) : secure.boolOr(false);
    if (auto* date = properties[NSHTTPCookieExpires].date())
        fields.expiresDate = *date;
    const Value& maxAge = properties[NSHTTPCookieMaximumAge];
    if (auto* text = maxAge.string()) {
        if (auto seconds = parseMaxAge(*text))
            fields.expiresDate = fields.created.dateByAddingTimeInterval(*seconds);
    } else if (maxAge.isNumber()) {
        fields.expiresDate = fields.created.dateByAddingTimeInterval(maxAge.doubleOr(0));
    }
    const Value& discard = properties[NSHTTPCookieDiscard];
    if (discard.string() ? text::boolValue(*discard.string()) : discard.boolOr(false))
        fields.expiresDate.reset();
    return std::make_shared<const HTTPCookie>(std::move(fields));
}

HTTPHeaderFields HTTPCookie::requestHeaderFieldsWithCookies(const std::vector<HTTPCookiePtr>& cookies) {
    std::string line;
    for (const auto& cookie : cookies) {
        if (!cookie)
            continue;
        if (!line.empty())
            line += "; ";
        line += cookie->name() + "=" + cookie->value();
    }
    HTTPHeaderFields fields;
    if (!line.empty())
        fields.setValue(std::move(line), "Cookie");
    return fields;
}

Value HTTPCookie::properties() const {
    ValueDictionary result{{NSHTTPCookieName, m_fields.name},
                           {NSHTTPCookieValue, m_fields.value},
                           {NSHTTPCookieDomain, m_fields.domain},
                           {NSHTTPCookiePath, m_fields.path}};
    if (m_fields.expiresDate)
        result.set(NSHTTPCookieExpires, *m_fields.expiresDate);
    else
        result.set(NSHTTPCookieDiscard, "TRUE");
    if (m_fields.secure)
        result.set(NSHTTPCookieSecure, "TRUE");
    return Value(std::move(result));
}

std::string HTTPCookie::description() const {
    return fmt::format("<HTTPCookie {}={}; domain={}; path={}{}>", m_fields.name, m_fields.value,
                       m_fields.domain, m_fields.path, m_fields.secure ? "; secure" : "");
}

} // namespace platform
