#pragma once
// RequestCore: the application's HTTP transport. GET sends a URL as it is; POST sends the service's
// envelope {"m": operation[, "p": parameters]} as pretty-printed JSON with Content-Length,
// Content-Type and Accept headers. Each request is built and started on the default global queue
// through a session of its own (a copy of the default configuration, so cookies are shared
// process-wide and go out with every request), with a 15-second idle time-out and a 60-second limit on
// the whole exchange: a reply that trickles in without ever completing fails like any transport
// failure (NSURLErrorTimedOut) instead of holding the request for ever.
//
// Promises: exactly one block runs, asynchronously on the main queue: failure with the transport's
// error, failure with nothing when the reply has no bytes, or success with the bytes. The HTTP status
// is not looked at: a 500 with a body is a success here. A URL text that is absent or does not parse
// fails with NSURLErrorBadURL. An empty block is skipped. Nothing orders two requests.
//
// requestResult turns raw reply bytes into models of a MappedModel class; no service operation uses
// it (they decode their replies themselves).
//
// postRequest and getRequest send a fixed sample request to the service's sample address (the
// configured service URL and kSamplePath), with the same time-outs, and read the reply as ASCII text:
// `done`, when given, gets it on the main queue (nullopt for a failure, an empty reply or bytes that
// are not ASCII); otherwise the text is dropped. Nothing in the application calls them.

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

class RequestCore : public platform::Object {
public:
    using SuccessBlock = std::function<void(const platform::Data& data)>;
    using FailureBlock = std::function<void(const platform::ErrorPtr& error)>; // null: an empty reply

    static constexpr double kTimeoutInterval = 15.0;
    static constexpr double kResourceTimeoutInterval = 60.0;
    static constexpr std::string_view kAPIPath = "/api/v1";
    static constexpr std::string_view kSamplePath = "/sample";
    static constexpr std::string_view kSamplePostBody = "test=Message&this=isNotReal";

    using SampleReplyBlock = std::function<void(const std::optional<std::string>& text)>;

    // `params` are not sent: callers put everything into the URL.
    // `resourceTimeout`: the limit on the whole exchange, in seconds.
    static void GET(std::optional<std::string_view> url, const platform::Value& params, SuccessBlock success,
                    FailureBlock failure, double resourceTimeout = kResourceTimeoutInterval);
    // `params` nil: the envelope has no "p".
    static void POST(std::optional<std::string_view> url, std::string_view interface,
                     const platform::Value& params, SuccessBlock success, FailureBlock failure,
                     double resourceTimeout = kResourceTimeoutInterval);

    // The envelope's bytes as POST sends them.
    static std::optional<platform::Data> envelope(std::string_view interface, const platform::Value& params);

    // Calls `success` at once, on the caller's thread, with: nil for no bytes; the bytes themselves
    // when they are not JSON; one model of `modelClass` (nil when it does not import) for an object;
    // the models that import, in order, for an array; the parsed value when `modelClass` is absent or
    // not a MappedModel class.
    static void requestResult(const std::optional<platform::Data>& data,
                              const std::function<void(const platform::Value& result)>& success,
                              std::optional<std::string_view> modelClass);

    void postRequest(SampleReplyBlock done = {}) const;
    void getRequest(SampleReplyBlock done = {}) const;
};
