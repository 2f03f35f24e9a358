#include "json/MappedModelError.h"

#include <fmt/format.h>
#include <memory>

using platform::ErrorPtr;
using platform::Value;
using platform::ValueDictionary;

namespace {

// Keys of the associated objects that carry what the platform's error class has no room for.
const char kMarkKey = 0;
const char kHTTPResponseKey = 0;
const char kResponseDataKey = 0;

ErrorPtr make(std::string domain, int64_t code, Value userInfo, platform::ObjectPtr response = nullptr,
              Value responseData = {}) {
    auto error = std::make_shared<platform::Error>(std::move(domain), code, std::move(userInfo));
    error->setAssociatedObject(&kMarkKey, Value(true));
    if (response)
        error->setAssociatedObject(&kHTTPResponseKey, Value(std::move(response)));
    if (!responseData.isNil())
        error->setAssociatedObject(&kResponseDataKey, responseData);
    return error;
}

ErrorPtr described(int64_t code, std::string description, ValueDictionary extra = {}) {
    extra.set(platform::NSLocalizedDescriptionKey, Value(std::move(description)));
    return make(MappedModelErrorDomain, code, Value(std::move(extra)));
}

} // namespace

ErrorPtr MappedModelError::errorInvalidDataWithMessage(std::string_view message) {
    return described(MappedModelErrorInvalidData, fmt::format("Invalid JSON data: {}", message));
}

ErrorPtr MappedModelError::errorInvalidDataWithMissingKeys(const std::vector<std::string>& keys) {
    platform::ValueArray missing(keys.begin(), keys.end());
    return described(MappedModelErrorInvalidData,
                     "Invalid JSON data. Required JSON keys are missing from the input. Check the error user "
                     "information.",
                     ValueDictionary{{kMappedModelMissingKeys, Value(std::move(missing))}});
}

ErrorPtr MappedModelError::errorInvalidDataWithTypeMismatch(std::string_view mismatch) {
    return described(MappedModelErrorInvalidData,
                     "Invalid JSON data. The JSON type mismatches the expected type. Check the error user "
                     "information.",
                     ValueDictionary{{kMappedModelTypeMismatch, Value(mismatch)}});
}

ErrorPtr MappedModelError::errorBadResponse() {
    return described(MappedModelErrorBadResponse,
                     "Bad network response. Probably the JSON URL is unreachable.");
}

ErrorPtr MappedModelError::errorBadJSON() {
    return described(MappedModelErrorBadJSON, "Malformed JSON. Check the MappedModel data input.");
}

ErrorPtr MappedModelError::errorModelIsInvalid() {
    return described(MappedModelErrorModelIsInvalid,
                     "Model does not validate. The custom validation for the input data failed.");
}

ErrorPtr MappedModelError::errorInputIsNil() {
    return described(MappedModelErrorInputIsNil, "Initializing model with nil input object.");
}

ErrorPtr MappedModelError::errorWithDomain(std::string domain, int64_t code, Value userInfo) {
    return make(std::move(domain), code, std::move(userInfo));
}

ErrorPtr MappedModelError::errorByPrependingKeyPathComponent(const ErrorPtr& error,
                                                             std::string_view component) {
    if (!error)
        return nullptr;
    ValueDictionary userInfo;
    if (auto* existing = error->userInfo().dictionary())
        userInfo = *existing;
    std::string path(component);
    if (auto* old = userInfo.get(kMappedModelKeyPath).string()) {
        if (!old->starts_with('['))
            path += '.';
        path += *old;
    }
    userInfo.set(kMappedModelKeyPath, Value(std::move(path)));
    return make(error->domain(), error->code(), Value(std::move(userInfo)));
}

ErrorPtr MappedModelError::errorWithResponse(const ErrorPtr& error, platform::ObjectPtr httpResponse,
                                             Value responseData) {
    if (!error)
        return nullptr;
    return make(error->domain(), error->code(), error->userInfo(), std::move(httpResponse),
                std::move(responseData));
}

bool MappedModelError::isMappedModelError(const ErrorPtr& error) {
    return error && !error->associatedObject(&kMarkKey).isNil();
}

platform::ObjectPtr MappedModelError::httpResponse(const ErrorPtr& error) {
    return error ? error->associatedObject(&kHTTPResponseKey).object() : nullptr;
}

Value MappedModelError::responseData(const ErrorPtr& error) {
    return error ? error->associatedObject(&kResponseDataKey) : Value();
}
