#include "platform/foundation/URL.h"

#include "platform/foundation/Text.h"

#include <filesystem>

namespace platform {

struct URL::Parts {
    struct Authority {
        std::string raw; // as written between "//" and the path
        std::optional<std::string> user;
        std::optional<std::string> password;
        std::string host; // without the brackets of an IP literal
        std::optional<uint16_t> port;
    };

    std::optional<std::string> scheme;
    std::optional<Authority> authority;
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    std::string compose() const {
        std::string out;
        if (scheme)
            out += *scheme + ":";
        if (authority)
            out += "//" + authority->raw;
        out += path;
        if (query)
            out += "?" + *query;
        if (fragment)
            out += "#" + *fragment;
        return out;
    }
};

namespace {

bool isAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHex(char c) {
    return isDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
int hexValue(char c) {
    return isDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
}
bool isUnreserved(char c) {
    return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool isSubDelim(char c) {
    return std::string_view("!$&'()*+,;=").find(c) != std::string_view::npos;
}

// Every character is unreserved, a sub-delimiter, one of `extra`, or part of a "%XX" escape.
bool isValidComponent(std::string_view text, std::string_view extra) {
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))
                return false;
            i += 2;
        } else if (!isUnreserved(c) && !isSubDelim(c) && extra.find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

bool isIPv4(std::string_view text) {
    int parts = 0;
    for (size_t start = 0; start <= text.size(); ++parts) {
        size_t dot = std::min(text.find('.', start), text.size());
        auto part = text.substr(start, dot - start);
        if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0'))
            return false;
        int value = 0;
        for (char c : part) {
            if (!isDigit(c))
                return false;
            value = value * 10 + (c - '0');
        }
        if (value > 255)
            return false;
        start = dot + 1;
    }
    return parts == 4;
}

bool isIPv6(std::string_view text) {
    size_t gap = text.find("::");
    if (gap != std::string_view::npos && text.find("::", gap + 1) != std::string_view::npos)
        return false;
    auto countGroups = [](std::string_view groups, bool allowIPv4Tail, int& count) {
        if (groups.empty())
            return true;
        for (size_t start = 0; start <= groups.size();) {
            size_t colon = std::min(groups.find(':', start), groups.size());
            auto group = groups.substr(start, colon - start);
            if (colon == groups.size() && allowIPv4Tail && group.find('.') != std::string_view::npos) {
                if (!isIPv4(group))
                    return false;
                count += 2;
                return true;
            }
            if (group.empty() || group.size() > 4)
                return false;
            for (char c : group)
                if (!isHex(c))
                    return false;
            ++count;
            start = colon + 1;
        }
        return true;
    };
    int count = 0;
    if (gap == std::string_view::npos)
        return countGroups(text, true, count) && count == 8;
    return countGroups(text.substr(0, gap), false, count) && countGroups(text.substr(gap + 2), true, count) &&
           count <= 7;
}

bool isIPLiteral(std::string_view text) {
    if (!text.empty() && (text[0] == 'v' || text[0] == 'V')) {
        size_t dot = text.find('.');
        if (dot == std::string_view::npos || dot == 1 || dot + 1 >= text.size())
            return false;
        for (char c : text.substr(1, dot - 1))
            if (!isHex(c))
                return false;
        return isValidComponent(text.substr(dot + 1), ":") && text.find('%') == std::string_view::npos;
    }
    // A zone (RFC 6874) follows "%25": "fe80::1%25eth0".
    size_t zone = text.find("%25");
    if (zone != std::string_view::npos &&
        (zone + 3 >= text.size() || !isValidComponent(text.substr(zone + 3), "")))
        return false;
    return isIPv6(text.substr(0, zone));
}

std::optional<URL::Parts::Authority> parseAuthority(std::string_view raw) {
    URL::Parts::Authority authority;
    authority.raw = std::string(raw);
    std::string_view hostPort = raw;
    if (size_t at = raw.rfind('@'); at != std::string_view::npos) {
        auto userInfo = raw.substr(0, at);
        if (!isValidComponent(userInfo, ":"))
            return std::nullopt;
        size_t colon = userInfo.find(':');
        authority.user = std::string(userInfo.substr(0, colon));
        if (colon != std::string_view::npos)
            authority.password = std::string(userInfo.substr(colon + 1));
        hostPort = raw.substr(at + 1);
    }
    std::string_view port;
    bool hasPort = false;
    if (!hostPort.empty() && hostPort[0] == '[') {
        size_t close = hostPort.find(']');
        if (close == std::string_view::npos || !isIPLiteral(hostPort.substr(1, close - 1)))
            return std::nullopt;
        authority.host = std::string(hostPort.substr(1, close - 1));
        auto rest = hostPort.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':')
                return std::nullopt;
            hasPort = true;
            port = rest.substr(1);
        }
    } else {
        size_t colon = hostPort.find(':');
        auto host = hostPort.substr(0, colon);
        if (!isValidComponent(host, ""))
            return std::nullopt;
        authority.host = std::string(host);
        if (colon != std::string_view::npos) {
            hasPort = true;
            port = hostPort.substr(colon + 1);
        }
    }
    if (hasPort && !port.empty()) {
        uint32_t value = 0;
        for (char c : port) {
            if (!isDigit(c))
                return std::nullopt;
            value = value * 10 + static_cast<uint32_t>(c - '0');
            if (value > 65535)
                return std::nullopt;
        }
        authority.port = static_cast<uint16_t>(value);
    }
    return authority;
}

// A URI reference as RFC 3986 section 4.1 reads it; nullopt for any character out of place.
std::optional<URL::Parts> parseReference(std::string_view text) {
    URL::Parts parts;
    std::string_view rest = text;
    size_t end = rest.find_first_of(":/?#");
    if (end != std::string_view::npos && rest[end] == ':' && end > 0 && isAlpha(rest[0])) {
        auto scheme = rest.substr(0, end);
        for (char c : scheme)
            if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.')
                return std::nullopt;
        parts.scheme = std::string(scheme);
        rest.remove_prefix(end + 1);
    }
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        size_t authorityEnd = std::min(rest.find_first_of("/?#"), rest.size());
        parts.authority = parseAuthority(rest.substr(0, authorityEnd));
        if (!parts.authority)
            return std::nullopt;
        rest.remove_prefix(authorityEnd);
    }
    size_t fragment = rest.find('#');
    if (fragment != std::string_view::npos) {
        auto text = rest.substr(fragment + 1);
        if (!isValidComponent(text, ":@/?"))
            return std::nullopt;
        parts.fragment = std::string(text);
        rest = rest.substr(0, fragment);
    }
    size_t query = rest.find('?');
    if (query != std::string_view::npos) {
        auto text = rest.substr(query + 1);
        if (!isValidComponent(text, ":@/?"))
            return std::nullopt;
        parts.query = std::string(text);
        rest = rest.substr(0, query);
    }
    if (!isValidComponent(rest, ":@/"))
        return std::nullopt;
    // Without a scheme, a colon in the first segment would have made that segment the scheme.
    if (!parts.scheme && !parts.authority &&
        rest.substr(0, rest.find('/')).find(':') != std::string_view::npos)
        return std::nullopt;
    parts.path = std::string(rest);
    return parts;
}

// RFC 3986 section 5.2.4.
std::string removeDotSegments(std::string_view input) {
    std::string output;
    while (!input.empty()) {
        if (input.starts_with("../")) {
            input.remove_prefix(3);
        } else if (input.starts_with("./")) {
            input.remove_prefix(2);
        } else if (input.starts_with("/./")) {
            input.remove_prefix(2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.starts_with("/../") || input == "/..") {
            input = input.size() == 3 ? std::string_view("/") : input.substr(3);
            size_t slash = output.rfind('/');
            output.resize(slash == std::string::npos ? 0 : slash);
        } else if (input == "." || input == "..") {
            input = {};
        } else {
            size_t next = input.find('/', 1);
            next = next == std::string_view::npos ? input.size() : next;
            output.append(input.substr(0, next));
            input.remove_prefix(next);
        }
    }
    return output;
}

// RFC 3986 section 5.2.2, strict: a reference with a scheme is absolute.
URL::Parts resolve(const URL::Parts& reference, const URL::Parts& base) {
    URL::Parts target;
    if (reference.scheme) {
        target = reference;
        target.path = removeDotSegments(reference.path);
    } else {
        if (reference.authority) {
            target.authority = reference.authority;
            target.path = removeDotSegments(reference.path);
            target.query = reference.query;
        } else {
            if (reference.path.empty()) {
                target.path = base.path;
                target.query = reference.query ? reference.query : base.query;
            } else {
                if (reference.path.starts_with('/')) {
                    target.path = removeDotSegments(reference.path);
                } else if (base.authority && base.path.empty()) {
                    target.path = removeDotSegments("/" + reference.path);
                } else {
                    size_t slash = base.path.rfind('/');
                    std::string merged =
                        slash == std::string::npos ? std::string() : base.path.substr(0, slash + 1);
                    target.path = removeDotSegments(merged + reference.path);
                }
                target.query = reference.query;
            }
            target.authority = base.authority;
        }
        target.scheme = base.scheme;
    }
    target.fragment = reference.fragment;
    return target;
}

URLPtr make(URL::Parts parts) {
    // Keep a built path from reading back as something else: "//x" as an authority, "a:b" as a
    // scheme. The added dot segment names the same path.
    if (!parts.authority && parts.path.starts_with("//"))
        parts.path.insert(0, "/.");
    else if (!parts.scheme && !parts.authority &&
             parts.path.substr(0, parts.path.find('/')).find(':') != std::string::npos)
        parts.path.insert(0, "./");
    auto text = parts.compose();
    return std::make_shared<const URL>(std::move(text), std::make_unique<URL::Parts>(std::move(parts)));
}

std::string decodedOr(std::string_view text) {
    if (text.find('%') == std::string_view::npos)
        return std::string(text); // nothing to decode: a host or path nearly always
    auto decoded = URL::percentDecode(text);
    return decoded ? std::move(*decoded) : std::string(text);
}

// The path up to its last component (trailing slashes aside), built whole: assigned piecewise over the
// path it reads from, g++ 12 takes the copies for overlapping ones (-Wrestrict).
std::string pathWithoutLastComponent(std::string_view path, bool hasAuthority) {
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    if (path == "/" || (path.empty() && hasAuthority))
        return "/";
    if (size_t slash = path.rfind('/'); slash != std::string_view::npos)
        return std::string(path.substr(0, slash + 1));
    return path.empty() ? "../" : "./";
}

} // namespace

URL::URL(std::string absolute)
    : m_absolute(std::move(absolute)) {
    auto parts = parseReference(m_absolute);
    if (!parts) {
        parts.emplace();
        parts->path = m_absolute;
    }
    m_parts = std::make_unique<Parts>(std::move(*parts));
}

URL::URL(std::string absolute, std::unique_ptr<Parts> parts)
    : m_absolute(std::move(absolute))
    , m_parts(std::move(parts)) {}

URL::~URL() = default;

URLPtr URL::create(std::string_view text) {
    if (text.empty())
        return nullptr;
    auto parts = parseReference(text);
    if (!parts)
        return nullptr;
    return std::make_shared<const URL>(std::string(text), std::make_unique<Parts>(std::move(*parts)));
}

URLPtr URL::create(std::string_view text, const URLPtr& base) {
    if (!base)
        return create(text);
    auto reference = parseReference(text);
    if (!reference)
        return nullptr;
    return make(resolve(*reference, *base->m_parts));
}

URLPtr URL::fileURLWithPath(std::string_view path) {
    if (path.empty())
        return nullptr;
    std::string absolute(path);
    std::error_code ec;
    if (absolute.front() != '/') {
        auto current = std::filesystem::current_path(ec);
        if (ec)
            return nullptr;
        absolute = (current / absolute).string();
    }
    // The platform marks a folder with a trailing slash, so relative references resolve inside it.
    if (absolute.back() != '/' && std::filesystem::is_directory(absolute, ec))
        absolute += '/';
    return create("file://" + percentEncode(absolute, pathAllowed));
}

std::optional<std::string> URL::scheme() const {
    return m_parts->scheme;
}

std::optional<std::string> URL::host() const {
    if (!m_parts->authority || m_parts->authority->host.empty())
        return std::nullopt;
    return decodedOr(m_parts->authority->host);
}

std::optional<uint16_t> URL::port() const {
    return m_parts->authority ? m_parts->authority->port : std::nullopt;
}

std::optional<std::string> URL::user() const {
    if (!m_parts->authority || !m_parts->authority->user)
        return std::nullopt;
    return decodedOr(*m_parts->authority->user);
}

std::optional<std::string> URL::password() const {
    if (!m_parts->authority || !m_parts->authority->password)
        return std::nullopt;
    return decodedOr(*m_parts->authority->password);
}

std::string URL::path() const {
    std::string_view raw = m_parts->path;
    if (raw.size() > 1 && raw.back() == '/')
        raw.remove_suffix(1);
    return decodedOr(raw);
}

std::optional<std::string> URL::query() const {
    return m_parts->query;
}

std::optional<std::string> URL::fragment() const {
    return m_parts->fragment;
}

std::vector<std::string> URL::pathComponents() const {
    std::vector<std::string> components;
    std::string_view raw = m_parts->path;
    if (raw.starts_with('/'))
        components.emplace_back("/");
    for (size_t start = 0; start < raw.size();) {
        size_t slash = std::min(raw.find('/', start), raw.size());
        if (slash > start)
            components.push_back(decodedOr(raw.substr(start, slash - start)));
        start = slash + 1;
    }
    return components;
}

std::string URL::lastPathComponent() const {
    auto components = pathComponents();
    return components.empty() ? std::string() : components.back();
}

std::string URL::pathExtension() const {
    auto last = lastPathComponent();
    size_t dot = last.rfind('.');
    // A leading dot names a hidden file; it does not start an extension.
    if (last == "/" || dot == std::string::npos || dot == 0)
        return {};
    return last.substr(dot + 1);
}

bool URL::isFileURL() const {
    return m_parts->scheme && text::equalsIgnoringASCIICase(*m_parts->scheme, "file");
}

URLPtr URL::URLByAppendingPathComponent(std::string_view component) const {
    Parts parts = *m_parts;
    std::string encoded = percentEncode(component, pathAllowed);
    if (parts.path.empty())
        parts.path = (parts.authority ? "/" : "") + encoded;
    else if (parts.path.back() == '/')
        parts.path += encoded;
    else
        parts.path += "/" + encoded;
    return make(std::move(parts));
}

URLPtr URL::URLByDeletingLastPathComponent() const {
    Parts parts = *m_parts;
    parts.path = pathWithoutLastComponent(m_parts->path, parts.authority.has_value());
    return make(std::move(parts));
}

URLPtr URL::URLByAppendingPathExtension(std::string_view extension) const {
    if (extension.find('/') != std::string_view::npos)
        return nullptr;
    Parts parts = *m_parts;
    std::string_view path = parts.path;
    size_t trailing = 0;
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
        ++trailing;
    }
    if (path.empty() || path == "/")
        return nullptr;
    parts.path = std::string(path) + "." + percentEncode(extension, pathAllowed) + std::string(trailing, '/');
    return make(std::move(parts));
}

std::string URL::percentEncode(std::string_view text) {
    return percentEncode(text, {});
}

std::string URL::percentEncode(std::string_view text, std::string_view allowed) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<uint8_t>(c);
        if (isUnreserved(c) || (byte < 0x80 && allowed.find(c) != std::string_view::npos)) {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        }
    }
    return out;
}

std::optional<std::string> URL::percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))
            return std::nullopt;
        out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
        i += 2;
    }
    if (!text::isValidUTF8(out))
        return std::nullopt;
    return out;
}

} // namespace platform
