#include "json/JsonRpc.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/JSONSerialization.h"

#include "json/MappedModelError.h"
#include <atomic>
#include <mutex>

using platform::ErrorPtr;
using platform::Value;

namespace {

struct Shared {
    std::mutex mutex;
    std::string baseURLString;
    std::atomic<int64_t> requestCounter{0};
};

// Never destroyed: a completion may still run while static destructors run at exit.
Shared& shared() {
    static auto* instance = new Shared;
    return *instance;
}

void deliver(JSONObjectBlock completion, Value result, ErrorPtr error) {
    if (!completion)
        return;
    platform::DispatchQueue::main()->async([completion = std::move(completion), result = std::move(result),
                                            error = std::move(error)] { completion(result, error); });
}

} // namespace

void JsonRpcErrorModel::registerClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::vector<platform::PropertyInfo> properties{
            MAPPED_PROPERTY(JsonRpcErrorModel, code, "i"),
            MAPPED_PROPERTY(JsonRpcErrorModel, message, "@\"NSString\""),
            MAPPED_PROPERTY(JsonRpcErrorModel, data, "@\"<Optional>\""),
        };
        MappedModel::registerModel<JsonRpcErrorModel>("JsonRpcErrorModel", std::move(properties));
    });
}

void JsonRpc::setAPIBaseURLWithString(std::string baseURLString) {
    auto& s = shared();
    std::lock_guard lock(s.mutex);
    s.baseURLString = std::move(baseURLString);
}

std::string JsonRpc::baseURLString() {
    auto& s = shared();
    std::lock_guard lock(s.mutex);
    return s.baseURLString;
}

void JsonRpc::setContentType(std::string contentType) {
    JsonHttpClient::setRequestContentType(std::move(contentType));
}

void JsonRpc::getWithPath(std::string_view path, const Value& params, JSONObjectBlock completion) {
    JsonHttpClient::getJSONFromURLWithString(baseURLString() + std::string(path), params,
                                             std::move(completion));
}

void JsonRpc::postWithPath(std::string_view path, const Value& params, JSONObjectBlock completion) {
    JsonHttpClient::postJSONFromURLWithString(baseURLString() + std::string(path), params,
                                              std::move(completion));
}

int64_t JsonRpc::nextRequestId() {
    return shared().requestCounter.fetch_add(1) + 1;
}

int64_t JsonRpc::requestCount() {
    return shared().requestCounter.load();
}

void JsonRpc::rpcWithMethodName(std::string_view methodName, const Value& arguments,
                                JSONObjectBlock completion) {
    Value request = Value::dictionary({
        {"id", nextRequestId()},
        {"params", arguments.isNil() ? Value::array({}) : arguments},
        {"method", std::string(methodName)},
    });
    rpcRequestWithObject(request, std::move(completion));
}

void JsonRpc::rpc2WithMethodName(std::string_view methodName, const Value& params,
                                 JSONObjectBlock completion) {
    Value request = Value::dictionary({
        {"jsonrpc", "2.0"},
        {"id", nextRequestId()},
        {"params", params.isNil() ? Value::array({}) : params},
        {"method", std::string(methodName)},
    });
    rpcRequestWithObject(request, std::move(completion));
}

void JsonRpc::rpcRequestWithObject(const Value& request, JSONObjectBlock completion) {
    ErrorPtr writeError;
    auto body = platform::JSONSerialization::dataWithJSONObject(request, 0, &writeError);
    if (!body) {
        deliver(std::move(completion), Value(), writeError);
        return;
    }
    JsonRpcErrorModel::registerClass();
    JsonHttpClient::postJSONFromURLWithStringBodyString(
        baseURLString(), body->toString(), [completion = std::move(completion)](Value json, ErrorPtr error) {
            if (!completion)
                return;
            auto [result, failure] = resultOfReply(json, error);
            completion(result, failure);
        });
}

std::pair<Value, ErrorPtr> JsonRpc::resultOfReply(const Value& reply, const ErrorPtr& transportError) {
    const Value& result = reply["result"];
    const Value& errorObject = reply["error"];
    // A 1.0 style server answers a failed call with "result": null beside the error object; only a
    // null result with no error object is a call that succeeded with nothing to say.
    bool failedWithNullResult = result.isNull() && errorObject.isDictionary();
    if (!result.isNil() && !failedWithNullResult)
        return {result, transportError};

    JsonRpcErrorModel::registerClass();
    auto rpcError = JsonRpcErrorModel::initWithDictionary(errorObject);
    if (!rpcError)
        return {Value(), MappedModelError::errorBadResponse()};
    std::string message = rpcError->message.value_or("");
    if (message.empty())
        message = "Generic json rpc error";
    auto error = MappedModelError::errorWithDomain(
        MappedModelErrorDomain, rpcError->code,
        Value::dictionary({{platform::NSLocalizedDescriptionKey, message}}));
    return {Value(), error};
}
