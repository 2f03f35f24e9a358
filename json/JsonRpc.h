#pragma once
// JsonRpc: GET and POST of paths under one base URL, and JSON-RPC calls (1.0 style and 2.0) posted
// to the base URL itself, over JsonHttpClient. An RPC error object in the reply becomes an error in
// MappedModelErrorDomain whose code is the server's RPC code and whose description is its message.
//
// Promises: completions run on the main queue, once, and an empty completion is skipped. Request ids
// come from one process-wide atomic counter, so calls from any thread get distinct, increasing ids
// (the first is 1). The base URL may be set from any thread; a call uses it as it stands when made.
//
//     JsonRpc::setAPIBaseURLWithString("http://127.0.0.1:8080/rpc");
//     JsonRpc::rpc2WithMethodName("room.info", Value::dictionary({{"id", 7}}),
//         [](platform::Value result, platform::ErrorPtr error) { ... });

#include "json/JsonHttpClient.h"
#include "json/MappedModel.h"
#include <cstdint>
#include <string>
#include <string_view>

// The error object of a JSON-RPC reply: {"code": -32601, "message": "...", "data": ...}.
class JsonRpcErrorModel : public MappedModel {
    MAPPED_MODEL(JsonRpcErrorModel)
public:
    int32_t code{0};
    std::optional<std::string> message;
    platform::Value data; // any JSON value, optional

    // Registers the model class; JsonRpc does it before its first reply. Safe to call again.
    static void registerClass();
};

class JsonRpc {
public:
    JsonRpc() = delete;

    static void setAPIBaseURLWithString(std::string baseURLString);
    static std::string baseURLString();
    // The JSON HTTP client's request content type (process-wide).
    static void setContentType(std::string contentType);

    // GET / POST of base URL + path with the parameters (a dictionary, or nil).
    static void getWithPath(std::string_view path, const platform::Value& params, JSONObjectBlock completion);
    static void postWithPath(std::string_view path, const platform::Value& params,
                             JSONObjectBlock completion);

    // {"id": n, "params": arguments or [], "method": name}. The completion gets the reply's "result".
    static void rpcWithMethodName(std::string_view methodName, const platform::Value& arguments,
                                  JSONObjectBlock completion);
    // {"jsonrpc": "2.0", "id": n, "params": params or [], "method": name}.
    static void rpc2WithMethodName(std::string_view methodName, const platform::Value& params,
                                   JSONObjectBlock completion);
    // Posts `request` as compact JSON to the base URL and reads the reply as an RPC reply. A request
    // that cannot be written as JSON reaches the completion as the writer's error, unsent.
    static void rpcRequestWithObject(const platform::Value& request, JSONObjectBlock completion);

    // The ids handed out so far (the last id used).
    static int64_t requestCount();

    // An RPC reply read: the result, or nil and the error. A non-null "result" wins over "error"; a
    // null one counts as a result unless the reply carries an error object (the 1.0 style error reply).
    static std::pair<platform::Value, platform::ErrorPtr>
    resultOfReply(const platform::Value& reply, const platform::ErrorPtr& transportError);

private:
    static int64_t nextRequestId();
};
