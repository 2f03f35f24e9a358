#include "app/core/RequestCore.h"
#include "platform/foundation/JSONSerialization.h"

#include "json/MappedModel.h"

using platform::Value;

void RequestCore::requestResult(const std::optional<platform::Data>& data,
                                const std::function<void(const Value& result)>& success,
                                std::optional<std::string_view> modelClass) {
    if (!success)
        return;
    if (!data) {
        success(Value());
        return;
    }
    Value parsed =
        platform::JSONSerialization::JSONObjectWithData(*data, platform::NSJSONReadingMutableContainers);
    if (parsed.isNil()) {
        success(Value(*data));
        return;
    }
    bool isModelClass = modelClass && MappedModel::isMappedModelSubClass(*modelClass);
    if (isModelClass && parsed.isDictionary()) {
        success(Value(MappedModel::initWithDictionary(*modelClass, parsed)));
        return;
    }
    if (isModelClass && parsed.isArray()) {
        platform::ValueArray models;
        for (const Value& element : *parsed.array()) {
            if (auto model = MappedModel::initWithDictionary(*modelClass, element))
                models.push_back(Value(model));
        }
        success(Value(std::move(models)));
        return;
    }
    success(parsed);
}
