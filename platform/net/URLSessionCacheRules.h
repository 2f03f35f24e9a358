#pragma once
// The HTTP caching rules a session applies around its URLCache: which replies may be stored, when a
// stored reply is still fresh, and how a stored reply is revalidated (If-None-Match /
// If-Modified-Since, refreshed by a 304). A private cache's view: max-age, Expires, no-cache,
// no-store and the usual heuristic of a tenth of the time since Last-Modified (at most a day).
// Stateless; any thread.

#include "platform/foundation/Date.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

#include <optional>
#include <string>

namespace platform::detail {

struct CacheControl {
    bool noStore{false};
    bool noCache{false};
    std::optional<double> maxAge;
};

CacheControl parseCacheControl(const std::optional<std::string>& value);

// A GET reply of a cacheable status, without no-store on either side.
bool mayStore(const URLRequest& request, const HTTPURLResponse& response);
// Whether the caller made the request conditional itself (then its 304 is the caller's business).
bool hasCallerConditionals(const URLRequest& request);
bool isFresh(const HTTPURLResponse& response, Date storedAt, Date now);
bool hasValidators(const HTTPURLResponse& response);
void addValidators(HTTPHeaderFields& fields, const HTTPURLResponse& stored);
// The stored reply with the header fields a 304 sent in its place.
HTTPURLResponsePtr refreshedResponse(const HTTPURLResponse& stored, const HTTPURLResponse& notModified);

} // namespace platform::detail
