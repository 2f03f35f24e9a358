#include "app/core/RequestCore.h"

#include "app/core/AppConfiguration.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLError.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLSession.h"

#include "json/TextEncoding.h"
#include <fmt/format.h>

using platform::Data;
using platform::DispatchQueue;
using platform::ErrorPtr;
using platform::Value;

namespace {

struct Blocks {
    RequestCore::SuccessBlock success;
    RequestCore::FailureBlock failure;
    double resourceTimeout{RequestCore::kResourceTimeoutInterval};
};

void deliver(const Blocks& blocks, std::optional<Data> data, ErrorPtr error) {
    DispatchQueue::main()->async([blocks, data = std::move(data), error = std::move(error)] {
        if (error) {
            if (blocks.failure)
                blocks.failure(error);
        } else if (!data || data->empty()) {
            if (blocks.failure)
                blocks.failure(nullptr);
        } else if (blocks.success) {
            blocks.success(*data);
        }
    });
}

// One session per request, as the transport has always worked: it lets go of itself once its only
// task has ended. The platform's own limit on a whole exchange is a week, far past any caller's
// patience: the request time-out only counts silence, so a reply that keeps trickling would hold the
// request for ever.
void send(const platform::MutableURLRequest& request, Blocks blocks) {
    auto configuration = platform::URLSessionConfiguration::defaultSessionConfiguration();
    configuration.setTimeoutIntervalForResource(blocks.resourceTimeout);
    auto session = platform::URLSession::sessionWithConfiguration(configuration);
    auto task = session->dataTaskWithRequest(
        request,
        [blocks = std::move(blocks)](std::optional<Data> data, platform::URLResponsePtr, ErrorPtr error) {
            deliver(blocks, std::move(data), std::move(error));
        });
    task->resume();
    session->finishTasksAndInvalidate();
}

// Absent or unparsable URL texts fail like any transport failure, so callers never wait for nothing.
platform::URLPtr parseURL(std::optional<std::string_view> text, const Blocks& blocks) {
    platform::URLPtr url = text ? platform::URL::create(*text) : nullptr;
    if (!url)
        deliver(blocks, std::nullopt, platform::URLError::create(platform::NSURLErrorBadURL));
    return url;
}

// Fills in the method, headers and body; an error it returns is delivered instead of sending.
using Prepare = std::function<ErrorPtr(platform::MutableURLRequest& request)>;

void start(std::optional<std::string_view> urlText, Blocks blocks, Prepare prepare) {
    auto url = parseURL(urlText, blocks);
    if (!url)
        return;
    DispatchQueue::global()->async([url, blocks = std::move(blocks), prepare = std::move(prepare)] {
        platform::MutableURLRequest request(url, platform::NSURLRequestUseProtocolCachePolicy,
                                            RequestCore::kTimeoutInterval);
        if (auto error = prepare(request)) {
            deliver(blocks, std::nullopt, std::move(error));
            return;
        }
        send(request, blocks);
    });
}

void setJSONHeaders(platform::MutableURLRequest& request, size_t bodyLength) {
    request.setValue(fmt::format("{}", bodyLength), "Content-Length");
    request.setValue("application/json", "Content-Type");
    request.setValue("application/json", "Accept");
}

Blocks sampleBlocks(RequestCore::SampleReplyBlock done) {
    if (!done)
        return {};
    return {[done](const Data& data) { done(stringWithData(data, NSASCIIStringEncoding)); },
            [done](const ErrorPtr&) { done(std::nullopt); }};
}

std::optional<std::string> sampleURL() {
    std::string service = AppConfiguration::serviceURL();
    if (service.empty())
        return std::nullopt;
    return service + std::string(RequestCore::kSamplePath);
}

} // namespace

void RequestCore::GET(std::optional<std::string_view> urlText, const Value&, SuccessBlock success,
                      FailureBlock failure, double resourceTimeout) {
    start(urlText, {std::move(success), std::move(failure), resourceTimeout},
          [](platform::MutableURLRequest& request) -> ErrorPtr {
              request.setHTTPMethod("GET");
              return nullptr;
          });
}

std::optional<Data> RequestCore::envelope(std::string_view interface, const Value& params) {
    platform::ValueDictionary body{{"m", Value(interface)}};
    if (!params.isNil())
        body.set("p", params);
    return platform::JSONSerialization::dataWithJSONObject(Value(std::move(body)),
                                                           platform::NSJSONWritingPrettyPrinted);
}

void RequestCore::POST(std::optional<std::string_view> urlText, std::string_view interface,
                       const Value& params, SuccessBlock success, FailureBlock failure,
                       double resourceTimeout) {
    start(urlText, {std::move(success), std::move(failure), resourceTimeout},
          [interface = std::string(interface), params](platform::MutableURLRequest& request) -> ErrorPtr {
              auto body = envelope(interface, params);
              if (!body) {
                  // Parameters that JSON cannot carry (a date, a model object): nothing sensible to send.
                  return platform::Error::withDescription(
                      platform::NSCocoaErrorDomain, platform::JSONSerialization::writeInvalidErrorCode,
                      "The request parameters cannot be written as JSON.");
              }
              request.setHTTPMethod("POST");
              setJSONHeaders(request, body->length());
              request.setHTTPBody(body);
              request.setHTTPShouldHandleCookies(true);
              return nullptr;
          });
}

void RequestCore::postRequest(SampleReplyBlock done) const {
    start(sampleURL(), sampleBlocks(std::move(done)), [](platform::MutableURLRequest& request) -> ErrorPtr {
        request.setHTTPMethod("POST");
        setJSONHeaders(request, kSamplePostBody.size());
        request.setHTTPBody(Data(kSamplePostBody));
        return nullptr;
    });
}

void RequestCore::getRequest(SampleReplyBlock done) const {
    start(sampleURL(), sampleBlocks(std::move(done)), [](platform::MutableURLRequest& request) -> ErrorPtr {
        request.setHTTPMethod("GET");
        return nullptr;
    });
}
