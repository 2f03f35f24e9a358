#include "platform/dispatch/DispatchQueue.h"

#include "json/MappedModel+Networking.h"
#include <atomic>
#include <chrono>

using platform::ErrorPtr;
using platform::Value;

namespace {

std::atomic<int64_t> loadsInFlight{0};

} // namespace

bool MappedModelNetworking::isLoading() {
    return loadsInFlight.load() > 0;
}

void MappedModelNetworking::initFromURLWithString(const std::shared_ptr<MappedModel>& model,
                                                  std::string_view urlString, MappedModelBlock completion) {
    ++loadsInFlight;
    JsonHttpClient::getJSONFromURLWithString(
        urlString, [model, completion = std::move(completion)](Value json, ErrorPtr transportError) {
            ErrorPtr importError;
            bool imported = model && model->loadFromDictionary(json, &importError);
            --loadsInFlight;
            if (!completion)
                return;
            auto result = imported ? model : nullptr;
            auto error = transportError ? transportError : importError;
            platform::DispatchQueue::main()->after(
                std::chrono::milliseconds(1), [completion, result, error] { completion(result, error); });
        });
}

JSONObjectBlock MappedModelNetworking::modelReply(std::string className, MappedModelBlock completion) {
    return [className = std::move(className), completion = std::move(completion)](Value json,
                                                                                  ErrorPtr transportError) {
        if (!completion)
            return;
        std::shared_ptr<MappedModel> model;
        ErrorPtr importError;
        if (!transportError)
            model = MappedModel::initWithDictionary(className, json, &importError);
        auto error = transportError ? transportError : importError;
        platform::DispatchQueue::main()->async([completion, model, error] { completion(model, error); });
    };
}

void MappedModelNetworking::getModelFromURLWithString(std::string className, std::string_view urlString,
                                                      MappedModelBlock completion) {
    JsonHttpClient::getJSONFromURLWithString(urlString,
                                             modelReply(std::move(className), std::move(completion)));
}

void MappedModelNetworking::postModel(std::string className, const std::shared_ptr<MappedModel>& model,
                                      std::string_view urlString, MappedModelBlock completion) {
    std::optional<std::string> body;
    if (model)
        body = model->toJSONString();
    JsonHttpClient::postJSONFromURLWithStringBodyString(
        urlString, body, modelReply(std::move(className), std::move(completion)));
}
