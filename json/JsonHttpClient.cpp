#include "json/JsonHttpClient.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Text.h"
#include "platform/net/URLError.h"
#include "platform/net/URLResponse.h"
#include "platform/net/URLSession.h"

#include "json/MappedModelError.h"
#include <algorithm>
#include <fmt/format.h>
#include <mutex>

using platform::Data;
using platform::ErrorPtr;
using platform::HTTPHeaderFields;
using platform::Value;

namespace {

struct Settings {
    NSStringEncoding defaultTextEncoding{NSUTF8StringEncoding};
    platform::NSURLRequestCachePolicy cachingPolicy{platform::NSURLRequestReloadIgnoringLocalCacheData};
    int64_t timeoutInSeconds{60};
    std::string requestContentType{kContentTypeAutomatic};
    HTTPHeaderFields requestHeaders;
};

std::mutex& settingsMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

// Never destroyed: a request's completion may still read it while static destructors run at exit.
Settings& settings() {
    static auto* instance = new Settings;
    return *instance;
}

Settings snapshot() {
    std::lock_guard lock(settingsMutex());
    return settings();
}

template <typename F> void change(F&& apply) {
    std::lock_guard lock(settingsMutex());
    apply(settings());
}

// compare: on texts orders by UTF-16 code units.
bool precedes(const std::string& a, const std::string& b) {
    return platform::text::toUTF16(a) < platform::text::toUTF16(b);
}

bool isSuccessStatus(const platform::URLResponsePtr& response) {
    auto http = std::dynamic_pointer_cast<platform::HTTPURLResponse>(response);
    return http && http->statusCode() >= 200 && http->statusCode() <= 299;
}

} // namespace

NSStringEncoding JsonHttpClient::defaultTextEncoding() {
    return snapshot().defaultTextEncoding;
}

void JsonHttpClient::setDefaultTextEncoding(NSStringEncoding encoding) {
    change([&](Settings& s) { s.defaultTextEncoding = encoding; });
}

platform::NSURLRequestCachePolicy JsonHttpClient::cachingPolicy() {
    return snapshot().cachingPolicy;
}

void JsonHttpClient::setCachingPolicy(platform::NSURLRequestCachePolicy policy) {
    change([&](Settings& s) { s.cachingPolicy = policy; });
}

int64_t JsonHttpClient::timeoutInSeconds() {
    return snapshot().timeoutInSeconds;
}

void JsonHttpClient::setTimeoutInSeconds(int64_t seconds) {
    change([&](Settings& s) { s.timeoutInSeconds = seconds; });
}

std::string JsonHttpClient::requestContentType() {
    return snapshot().requestContentType;
}

void JsonHttpClient::setRequestContentType(std::string contentType) {
    change([&](Settings& s) { s.requestContentType = std::move(contentType); });
}

HTTPHeaderFields JsonHttpClient::requestHeaders() {
    return snapshot().requestHeaders;
}

void JsonHttpClient::setRequestHeader(std::string_view name, std::optional<std::string> value) {
    change([&](Settings& s) { s.requestHeaders.setValue(std::move(value), name); });
}

void JsonHttpClient::resetSettings() {
    change([](Settings& s) { s = Settings{}; });
}

std::string JsonHttpClient::contentTypeForRequestString(std::string_view requestString) {
    std::string contentType = requestContentType();
    if (contentType == kContentTypeAutomatic && !requestString.empty()) {
        char first = requestString.front();
        char last = requestString.back();
        bool looksLikeJSON = (first == '{' && last == '}') || (first == '[' && last == ']');
        contentType = looksLikeJSON ? kContentTypeJSON : kContentTypeWWWEncoded;
    }
    return fmt::format("{}; charset={}", contentType, "utf-8");
}

std::string JsonHttpClient::urlEncode(const Value& value) {
    std::string text;
    if (auto* string = value.string())
        text = *string;
    else if (auto* number = value.number())
        text = number->stringValue();
    else if (auto url = value.url())
        text = url->absoluteString();
    else
        text = value.description();
    return platform::URL::percentEncode(text);
}

std::string JsonHttpClient::parameterString(const Value& params) {
    auto* dictionary = params.dictionary();
    if (!dictionary)
        return {};
    auto names = dictionary->keys();
    std::stable_sort(names.begin(), names.end(), precedes);
    std::string text;
    for (auto& name : names) {
        if (!text.empty())
            text += '&';
        text += name;
        text += '=';
        text += urlEncode(dictionary->get(name));
    }
    return text;
}

void JsonHttpClient::requestDataFromURL(const platform::URLPtr& url, std::string_view method,
                                        const std::optional<Data>& requestBody,
                                        const HTTPHeaderFields& headers, RequestResultBlock handler) {
    if (!url) {
        auto error = MappedModelError::errorWithDomain(
            platform::NSURLErrorDomain, platform::NSURLErrorBadURL,
            platform::URLError::create(platform::NSURLErrorBadURL)->userInfo());
        platform::DispatchQueue::global()->async([handler = std::move(handler), error] {
            if (handler)
                handler(std::nullopt, error);
        });
        return;
    }

    auto current = snapshot();
    platform::MutableURLRequest request(url, current.cachingPolicy,
                                        static_cast<double>(current.timeoutInSeconds));
    request.setHTTPMethod(std::string(method));

    if (current.requestContentType != kContentTypeAutomatic) {
        request.setValue(current.requestContentType, "Content-type");
    } else if (requestBody) {
        auto text = stringWithData(*requestBody, NSUTF8StringEncoding);
        request.setValue(contentTypeForRequestString(text.value_or(std::string())), "Content-type");
    }
    for (const auto& [name, value] : current.requestHeaders)
        request.setValue(std::string(value), name);
    for (const auto& [name, value] : headers)
        request.setValue(std::string(value), name);
    if (requestBody) {
        request.setHTTPBody(*requestBody);
        request.setValue(fmt::format("{}", requestBody->length()), "Content-Length");
    }

    auto task = platform::URLSession::sharedSession()->dataTaskWithRequest(
        request, [handler = std::move(handler),
                  url](std::optional<Data> data, platform::URLResponsePtr response, ErrorPtr transportError) {
            ErrorPtr error;
            if (transportError) {
                error = MappedModelError::errorWithDomain(transportError->domain(), transportError->code(),
                                                          transportError->userInfo());
                if (transportError->code() == platform::NSURLErrorUserCancelledAuthentication)
                    response = platform::HTTPURLResponse::create(url, 401, "HTTP/1.1", {});
            } else if (!isSuccessStatus(response)) {
                error = MappedModelError::errorBadResponse();
            }
            if (error)
                error = MappedModelError::errorWithResponse(error, response, Value());
            if (data && data->empty())
                data.reset();
            if (handler)
                handler(std::move(data), std::move(error));
        });
    task->resume();
}

void JsonHttpClient::requestDataFromURLWithParams(const platform::URLPtr& url, std::string_view method,
                                                  const Value& params, const HTTPHeaderFields& headers,
                                                  RequestResultBlock handler) {
    bool hasParams = params.isDictionary();
    std::string paramsString = parameterString(params);
    platform::URLPtr target = url;
    std::optional<Data> body;
    if (method == kHTTPMethodGET && hasParams && url) {
        const char* separator = url->query() ? "&" : "?";
        target = platform::URL::create(fmt::format("{}{}{}", url->absoluteString(), separator, paramsString));
    }
    if (method == kHTTPMethodPOST && hasParams)
        body = Data(std::string_view(paramsString));
    requestDataFromURL(target, method, body, headers, std::move(handler));
}

void JsonHttpClient::JSONFromURLWithString(std::string_view urlString, std::string_view method,
                                           const Value& params, const std::optional<Data>& bodyData,
                                           const HTTPHeaderFields& headers, JSONObjectBlock completion) {
    auto handler = [completion = std::move(completion)](std::optional<Data> data, ErrorPtr error) {
        Value object;
        if (!data && !error) {
            error = MappedModelError::errorBadResponse();
        } else if (error) {
            if (data) {
                object = platform::JSONSerialization::JSONObjectWithData(*data);
                error = MappedModelError::errorWithResponse(error, MappedModelError::httpResponse(error),
                                                            Value(*data));
            }
        } else {
            ErrorPtr parseError;
            object = platform::JSONSerialization::JSONObjectWithData(*data, 0, &parseError);
            if (object.isNil())
                error = parseError;
        }
        if (!completion)
            return;
        platform::DispatchQueue::main()->async([completion, object = std::move(object),
                                                error = std::move(error)] { completion(object, error); });
    };
    auto url = platform::URL::create(urlString);
    if (bodyData)
        requestDataFromURL(url, method, bodyData, headers, std::move(handler));
    else
        requestDataFromURLWithParams(url, method, params, headers, std::move(handler));
}

void JsonHttpClient::JSONFromURLWithStringBodyString(std::string_view urlString, std::string_view method,
                                                     const Value& params,
                                                     const std::optional<std::string>& bodyString,
                                                     const HTTPHeaderFields& headers,
                                                     JSONObjectBlock completion) {
    std::optional<Data> body;
    if (bodyString)
        body = Data(std::string_view(*bodyString));
    JSONFromURLWithString(urlString, method, params, body, headers, std::move(completion));
}

void JsonHttpClient::getJSONFromURLWithString(std::string_view urlString, JSONObjectBlock completion) {
    JSONFromURLWithString(urlString, kHTTPMethodGET, Value(), std::nullopt, {}, std::move(completion));
}

void JsonHttpClient::getJSONFromURLWithString(std::string_view urlString, const Value& params,
                                              JSONObjectBlock completion) {
    JSONFromURLWithString(urlString, kHTTPMethodGET, params, std::nullopt, {}, std::move(completion));
}

void JsonHttpClient::postJSONFromURLWithString(std::string_view urlString, const Value& params,
                                               JSONObjectBlock completion) {
    JSONFromURLWithString(urlString, kHTTPMethodPOST, params, std::nullopt, {}, std::move(completion));
}

void JsonHttpClient::postJSONFromURLWithStringBodyString(std::string_view urlString,
                                                         const std::optional<std::string>& bodyString,
                                                         JSONObjectBlock completion) {
    JSONFromURLWithStringBodyString(urlString, kHTTPMethodPOST, Value(), bodyString, {},
                                    std::move(completion));
}

void JsonHttpClient::postJSONFromURLWithStringBodyData(std::string_view urlString,
                                                       const std::optional<Data>& bodyData,
                                                       JSONObjectBlock completion) {
    std::optional<std::string> text;
    if (bodyData)
        text = stringWithData(*bodyData, defaultTextEncoding());
    postJSONFromURLWithStringBodyString(urlString, text, std::move(completion));
}
