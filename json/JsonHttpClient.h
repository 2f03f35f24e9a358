#pragma once
// JsonHttpClient: a class-level client that sends one HTTP request through the shared URL session,
// parses the JSON reply and hands the object or an error to a completion on the main queue. Its
// settings and extra request headers are process-wide; they are guarded, so any thread may change
// them, though a request takes them as they stand when it is made.
//
// Promises: the JSON operations call their completion exactly once, asynchronously on the main
// queue, or never when it is empty. Failures are errors: a transport error rewrapped as a
// MappedModelError (domain and code kept), MappedModelErrorBadResponse for a status outside 200-299
// or an empty reply (the HTTP response and the parsed reply ride along on the error), the JSON
// reader's own error for an unreadable successful reply. An error reply with a JSON body still
// hands over the parsed body.
//
//     JsonHttpClient::getJSONFromURLWithString("http://127.0.0.1:8080/rooms", ValueDictionary{{"page", 2}},
//         [weak = std::weak_ptr(screen)](platform::Value json, platform::ErrorPtr error) { ... });

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URLRequest.h"

#include "json/TextEncoding.h"
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

inline constexpr const char* kHTTPMethodGET = "GET";
inline constexpr const char* kHTTPMethodPOST = "POST";
inline constexpr const char* kContentTypeAutomatic = "mappedmodel/automatic";
inline constexpr const char* kContentTypeJSON = "application/json";
inline constexpr const char* kContentTypeWWWEncoded = "application/x-www-form-urlencoded";

// The parsed reply (nil when none) and the error (null on success).
using JSONObjectBlock = std::function<void(platform::Value json, platform::ErrorPtr error)>;
// The raw reply (nullopt when empty) and the error; runs on the shared session's delivery queue.
using RequestResultBlock = std::function<void(std::optional<platform::Data> data, platform::ErrorPtr error)>;

class JsonHttpClient {
public:
    JsonHttpClient() = delete;

    // ---- Settings ----
    static NSStringEncoding defaultTextEncoding();
    static void setDefaultTextEncoding(NSStringEncoding encoding); // only UTF-8, ASCII and Latin-1 read
    static platform::NSURLRequestCachePolicy cachingPolicy();
    static void setCachingPolicy(platform::NSURLRequestCachePolicy policy);
    static int64_t timeoutInSeconds();
    static void setTimeoutInSeconds(int64_t seconds);
    static std::string requestContentType();
    static void setRequestContentType(std::string contentType);
    // The extra header fields sent with every request (a snapshot), and changes to them: a nullopt
    // value removes the field.
    static platform::HTTPHeaderFields requestHeaders();
    static void setRequestHeader(std::string_view name, std::optional<std::string> value);
    static void resetSettings(); // back to the defaults, with no extra headers

    // ---- Request building ----
    // "application/json" for a body that looks like a JSON object or array, else
    // "application/x-www-form-urlencoded", when the content type setting is automatic; the setting
    // otherwise. Always with "; charset=utf-8".
    static std::string contentTypeForRequestString(std::string_view requestString);
    // A text (a number in its text form) with every byte but A-Z a-z 0-9 - . _ ~ percent-encoded, so
    // a value can never add or end a parameter.
    static std::string urlEncode(const platform::Value& value);
    // "a=1&b=2": names sorted, as given; values through urlEncode. Nil params give "".
    static std::string parameterString(const platform::Value& params);

    // The request core: sends `requestBody` (nullopt: none) with the call's `headers` (winning over
    // the shared ones). A null `url` fails with NSURLErrorBadURL.
    static void requestDataFromURL(const platform::URLPtr& url, std::string_view method,
                                   const std::optional<platform::Data>& requestBody,
                                   const platform::HTTPHeaderFields& headers, RequestResultBlock handler);
    // The parameter form: `params` (a dictionary, or nil for none) go into the query for GET, into the
    // body for POST; other methods send no body.
    static void requestDataFromURLWithParams(const platform::URLPtr& url, std::string_view method,
                                             const platform::Value& params,
                                             const platform::HTTPHeaderFields& headers,
                                             RequestResultBlock handler);

    // ---- JSON operations ----
    static void JSONFromURLWithString(std::string_view urlString, std::string_view method,
                                      const platform::Value& params,
                                      const std::optional<platform::Data>& bodyData,
                                      const platform::HTTPHeaderFields& headers, JSONObjectBlock completion);
    static void JSONFromURLWithStringBodyString(std::string_view urlString, std::string_view method,
                                                const platform::Value& params,
                                                const std::optional<std::string>& bodyString,
                                                const platform::HTTPHeaderFields& headers,
                                                JSONObjectBlock completion);

    static void getJSONFromURLWithString(std::string_view urlString, JSONObjectBlock completion);
    static void getJSONFromURLWithString(std::string_view urlString, const platform::Value& params,
                                         JSONObjectBlock completion);
    static void postJSONFromURLWithString(std::string_view urlString, const platform::Value& params,
                                          JSONObjectBlock completion);
    static void postJSONFromURLWithStringBodyString(std::string_view urlString,
                                                    const std::optional<std::string>& bodyString,
                                                    JSONObjectBlock completion);
    // The data is read as text in the default text encoding; bytes that do not read send no body.
    static void postJSONFromURLWithStringBodyData(std::string_view urlString,
                                                  const std::optional<platform::Data>& bodyData,
                                                  JSONObjectBlock completion);
};
