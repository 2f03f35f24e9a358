#include "app/core/RequestCore.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLError.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLSession.h"

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

} // namespace

void RequestCore::GET(std::optional<std::string_view> urlText, const Value&, SuccessBlock success,
                      FailureBlock failure, double resourceTimeout) {
    Blocks blocks{std::move(success), std::move(failure), resourceTimeout};
    auto url = parseURL(urlText, blocks);
    if (!url)
        return;
    DispatchQueue::global()->async([url, blocks = std::move(blocks)] {
        platform::MutableURLRequest request(url, platform::NSURLRequestUseProtocolCachePolicy,
                                            kTimeoutInterval);
        request.setHTTPMethod("GET");
        send(request, blocks);
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
    Blocks blocks{std::move(success), std::move(failure), resourceTimeout};
    auto url = parseURL(urlText, blocks);
    if (!url)
        return;
    DispatchQueue::global()->async([url, interface = std::string(interface), params,
                                    blocks = std::move(blocks)] {
        auto body = envelope(interface, params);
        if (!body) {
            // Parameters that JSON cannot carry (a date, a model object): nothing sensible to send.
            deliver(blocks, std::nullopt,
                    platform::Error::withDescription(platform::NSCocoaErrorDomain,
                                                     platform::JSONSerialization::writeInvalidErrorCode,
                                                     "The request parameters cannot be written as JSON."));
            return;
        }
        platform::MutableURLRequest request(url, platform::NSURLRequestUseProtocolCachePolicy,
                                            kTimeoutInterval);
        request.setHTTPMethod("POST");
        request.setValue(fmt::format("{}", body->length()), "Content-Length");
        request.setValue("application/json", "Content-Type");
        request.setValue("application/json", "Accept");
        request.setHTTPBody(body);
        request.setHTTPShouldHandleCookies(true);
        send(request, blocks);
    });
}
