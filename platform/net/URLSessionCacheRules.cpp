#include "platform/net/URLSessionCacheRules.h"

#include "platform/foundation/Text.h"
#include "platform/net/HTTPDate.h"

#include <algorithm>
#include <charconv>

namespace platform::detail {

namespace {

std::optional<double> parseSeconds(std::string_view text) {
    int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end != text.data() + text.size() || value < 0)
        return std::nullopt;
    if (ec == std::errc::result_out_of_range)
        return 1e12;
    if (ec != std::errc())
        return std::nullopt;
    return static_cast<double>(value);
}

std::optional<Date> headerDate(const HTTPURLResponse& response, std::string_view name) {
    auto value = response.valueForHTTPHeaderField(name);
    return value ? parseHTTPDate(*value) : std::nullopt;
}

} // namespace

CacheControl parseCacheControl(const std::optional<std::string>& value) {
    CacheControl control;
    if (!value)
        return control;
    for (auto& directive : text::componentsSeparatedByString(*value, ",")) {
        auto equals = directive.find('=');
        std::string name = text::lowercaseASCII(text::trimmingWhitespace(directive.substr(0, equals)));
        std::string argument = equals == std::string::npos
                                   ? std::string()
                                   : text::trimmingWhitespace(directive.substr(equals + 1));
        if (argument.size() >= 2 && argument.front() == '"' && argument.back() == '"')
            argument = argument.substr(1, argument.size() - 2);
        if (name == "no-store")
            control.noStore = true;
        else if (name == "no-cache")
            control.noCache = true;
        else if (name == "max-age")
            control.maxAge = parseSeconds(argument);
    }
    return control;
}

bool mayStore(const URLRequest& request, const HTTPURLResponse& response) {
    static constexpr int64_t cacheable[] = {200, 203, 300, 301, 308, 410};
    if (request.HTTPMethod() != "GET" ||
        std::find(std::begin(cacheable), std::end(cacheable), response.statusCode()) == std::end(cacheable))
        return false;
    if (parseCacheControl(request.valueForHTTPHeaderField("Cache-Control")).noStore)
        return false;
    return !parseCacheControl(response.valueForHTTPHeaderField("Cache-Control")).noStore;
}

bool hasCallerConditionals(const URLRequest& request) {
    const auto& fields = request.allHTTPHeaderFields();
    return fields.contains("If-None-Match") || fields.contains("If-Modified-Since") ||
           fields.contains("If-Match") || fields.contains("If-Unmodified-Since") ||
           fields.contains("If-Range") || fields.contains("Range");
}

bool isFresh(const HTTPURLResponse& response, Date storedAt, Date now) {
    auto control = parseCacheControl(response.valueForHTTPHeaderField("Cache-Control"));
    if (control.noCache ||
        response.valueForHTTPHeaderField("Pragma").value_or("").find("no-cache") != std::string::npos)
        return false;
    Date served = headerDate(response, "Date").value_or(storedAt);
    double lifetime = 0;
    if (control.maxAge) {
        lifetime = *control.maxAge;
    } else if (auto expiresText = response.valueForHTTPHeaderField("Expires")) {
        auto expires = parseHTTPDate(*expiresText);
        lifetime = expires ? expires->timeIntervalSinceDate(served) : 0;
    } else if (auto modified = headerDate(response, "Last-Modified")) {
        lifetime = std::min(served.timeIntervalSinceDate(*modified) / 10, 24 * 3600.0);
    }
    double age = now.timeIntervalSinceDate(storedAt);
    if (auto ageHeader = response.valueForHTTPHeaderField("Age"))
        age += parseSeconds(text::trimmingWhitespace(*ageHeader)).value_or(0);
    return age < lifetime;
}

bool hasValidators(const HTTPURLResponse& response) {
    return response.valueForHTTPHeaderField("ETag") || response.valueForHTTPHeaderField("Last-Modified");
}

void addValidators(HTTPHeaderFields& fields, const HTTPURLResponse& stored) {
    if (auto etag = stored.valueForHTTPHeaderField("ETag"))
        fields.setValue(*etag, "If-None-Match");
    if (auto modified = stored.valueForHTTPHeaderField("Last-Modified"))
        fields.setValue(*modified, "If-Modified-Since");
}

HTTPURLResponsePtr refreshedResponse(const HTTPURLResponse& stored, const HTTPURLResponse& notModified) {
    HTTPHeaderFields fields = stored.allHeaderFields();
    for (const auto& [name, value] : notModified.allHeaderFields()) {
        if (text::equalsIgnoringASCIICase(name, "Content-Length") ||
            text::equalsIgnoringASCIICase(name, "Content-Encoding") ||
            text::equalsIgnoringASCIICase(name, "Transfer-Encoding") ||
            text::equalsIgnoringASCIICase(name, "Content-Type"))
            continue;
        fields.setValue(notModified.valueForHTTPHeaderField(name), name);
    }
    return HTTPURLResponse::create(stored.URL(), stored.statusCode(), stored.HTTPVersion(),
                                   std::move(fields));
}

} // namespace platform::detail
