// Export (model to JSON), description, archiving and copying.
#include "platform/foundation/Exception.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Text.h"

#include "json/MappedModel.h"
#include "json/MappedModelArray.h"
#include "json/MappedModelRuntime.h"
#include <algorithm>
#include <fmt/format.h>

using platform::Value;
using platform::ValueArray;
using platform::ValueDictionary;

namespace {

std::string capitalizedFirst(std::string_view name) {
    std::string out(name);
    if (!out.empty() && out[0] >= 'a' && out[0] <= 'z')
        out[0] = static_cast<char>(out[0] - 'a' + 'A');
    return out;
}

std::string mapToKeyPath(const std::string& name, const std::shared_ptr<KeyMapper>& classMapper,
                         const std::shared_ptr<KeyMapper>& globalMapper) {
    std::optional<std::string> answer;
    if (classMapper)
        answer = classMapper->convertValue(name, true);
    if ((!classMapper || !answer || *answer == name) && globalMapper)
        answer = globalMapper->convertValue(name, true);
    return answer ? *answer : name;
}

// setValue:forKeyPath: on nested dictionaries. Intermediate dictionaries are made on the way
// (__createDictionariesForKeyPath:inDictionary:); an entry in the way that is not a dictionary is
// replaced by one.
void setAtKeyPath(ValueDictionary& root, const std::vector<std::string>& components, size_t at, Value value) {
    if (at + 1 == components.size()) {
        root.set(components[at], std::move(value));
        return;
    }
    Value* next = root.find(components[at]);
    if (!next || !next->isDictionary()) {
        root.set(components[at], Value(ValueDictionary{}));
        next = root.find(components[at]);
    }
    setAtKeyPath(*next->mutableDictionary(), components, at + 1, std::move(value));
}

void createDictionariesForKeyPath(ValueDictionary& root, const std::vector<std::string>& components,
                                  size_t at) {
    if (at + 1 >= components.size())
        return;
    Value* next = root.find(components[at]);
    if (!next || !next->isDictionary()) {
        root.set(components[at], Value(ValueDictionary{}));
        next = root.find(components[at]);
    }
    createDictionariesForKeyPath(*next->mutableDictionary(), components, at + 1);
}

Value exportedModel(const Value& value) {
    if (auto model = value.objectAs<MappedModel>())
        return model->toDictionary();
    return value;
}

// __reverseTransform:forProperty: arrays and dictionaries of models to arrays and dictionaries of
// JSON dictionaries.
Value reverseTransform(const Value& value, const MappedModelClassProperty& property) {
    const std::string& element = *property.protocol;
    if (!MappedModelRuntime::classExists(element) || !MappedModel::isMappedModelSubClass(element) ||
        !property.type)
        return value;
    const std::string& declared = *property.type;
    if (declared == "NSArray" || declared == "NSMutableArray") {
        if (auto lazy = value.objectAs<MappedModelArray>())
            return lazy->toJSONArray();
        if (auto* array = value.array()) {
            ValueArray out;
            out.reserve(array->size());
            for (const auto& member : *array)
                out.push_back(exportedModel(member));
            return Value(std::move(out));
        }
        return value;
    }
    if (declared == "NSDictionary" || declared == "NSMutableDictionary") {
        if (auto* dictionary = value.dictionary()) {
            ValueDictionary out;
            for (const auto& [key, member] : *dictionary)
                out.set(key, exportedModel(member));
            return Value(std::move(out));
        }
    }
    return value;
}

// __customGetValue:forProperty: JSONObjectFor<Name> when the model offers one.
const MappedModelMethod* customGetter(const MappedModelClass& modelClass,
                                      const MappedModelClassProperty& property) {
    int state = property.getterType();
    if (state == 0) {
        auto selector = fmt::format("JSONObjectFor{}", capitalizedFirst(property.name));
        auto* method = modelClass.method(selector);
        property.setCustomGetter(method && method->getter ? std::optional(selector) : std::nullopt);
        return method && method->getter ? method : nullptr;
    }
    if (state == 2)
        return nullptr;
    auto selector = property.customGetter();
    return selector ? modelClass.method(*selector) : nullptr;
}

Value exportDictionary(const MappedModel& model, const std::vector<std::string>* keys) {
    auto modelClass = MappedModelRuntime::classOf(model);
    const auto& table = modelClass->table();
    modelClass->offerKeyMapper(); // a model made without importing has not asked its class yet
    auto classMapper = modelClass->keyMapper();
    auto globalMapper = MappedModel::globalKeyMapper();
    bool mapping = classMapper || globalMapper;
    const auto& transformer = MappedModelRuntime::transformer();

    ValueDictionary out;
    for (const auto& slot : table.slots) {
        const auto& property = *slot.property;
        if (keys && std::find(keys->begin(), keys->end(), property.name) == keys->end())
            continue;
        std::string keyPath =
            mapping ? mapToKeyPath(property.name, classMapper, globalMapper) : property.name;
        Value value = slot.getter ? slot.getter(model) : Value();
        std::vector<std::string> components;
        if (keyPath.find('.') != std::string::npos) {
            components = platform::text::componentsSeparatedByString(keyPath, ".");
            createDictionariesForKeyPath(out, components, 0);
        } else {
            components.push_back(keyPath);
        }

        if (auto* getter = customGetter(*modelClass, property)) {
            setAtKeyPath(out, components, 0, getter->getter(model));
            continue;
        }
        if (value.isNil() || value.isNull()) {
            if (property.isOptional)
                out.remove(keyPath);
            else
                setAtKeyPath(out, components, 0, Value::null());
            continue;
        }
        if (auto nested = value.objectAs<MappedModel>()) {
            setAtKeyPath(out, components, 0, nested->toDictionary());
            continue;
        }
        if (property.protocol)
            value = reverseTransform(value, property);
        if (property.structName || (!property.isStandardJSONType && property.type)) {
            auto name =
                fmt::format("JSONObjectFrom{}:", property.type ? *property.type : *property.structName);
            auto conversion = transformer.conversion(name);
            if (!conversion)
                conversion = transformer.conversion("__" + name);
            if (!conversion)
                throw platform::Exception("Value transformer not found",
                                          fmt::format("[ValueTransformer __{}] not found", name));
            value = (*conversion)(value);
        }
        setAtKeyPath(out, components, 0, std::move(value));
    }
    return Value(std::move(out));
}

} // namespace

// ---- export ----
Value MappedModel::toDictionary() const {
    return exportDictionary(*this, nullptr);
}

Value MappedModel::toDictionaryWithKeys(const std::vector<std::string>& propertyNames) const {
    return exportDictionary(*this, &propertyNames);
}

std::optional<platform::Data> MappedModel::toJSONData() const {
    try {
        return platform::JSONSerialization::dataWithJSONObject(toDictionary());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<platform::Data>
MappedModel::toJSONDataWithKeys(const std::vector<std::string>& propertyNames) const {
    try {
        return platform::JSONSerialization::dataWithJSONObject(toDictionaryWithKeys(propertyNames));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::string> MappedModel::toJSONString() const {
    auto data = toJSONData();
    return data ? std::optional(data->toString()) : std::nullopt;
}

std::optional<std::string>
MappedModel::toJSONStringWithKeys(const std::vector<std::string>& propertyNames) const {
    auto data = toJSONDataWithKeys(propertyNames);
    return data ? std::optional(data->toString()) : std::nullopt;
}

Value MappedModel::arrayOfDictionariesFromModels(const Value& models) {
    auto* array = models.array();
    if (!array)
        return {};
    ValueArray out;
    out.reserve(array->size());
    for (const auto& member : *array) {
        auto model = member.objectAs<MappedModel>();
        if (!model)
            return {};
        Value dictionary = model->toDictionary();
        if (dictionary.isNil())
            return {};
        out.push_back(std::move(dictionary));
    }
    return Value(std::move(out));
}

Value MappedModel::arrayOfDictionariesFromModels(const Value& models,
                                                 const std::vector<std::string>& propertyNamesToExport) {
    auto* array = models.array();
    if (!array)
        return {};
    ValueArray out;
    out.reserve(array->size());
    for (const auto& member : *array) {
        auto model = member.objectAs<MappedModel>();
        if (!model)
            return {};
        out.push_back(model->toDictionaryWithKeys(propertyNamesToExport));
    }
    return Value(std::move(out));
}

// ---- description ----
std::string MappedModel::description() const {
    auto modelClass = MappedModelRuntime::classOfType(typeid(*this));
    std::string name = modelClass ? modelClass->name : className();
    std::string out = fmt::format("<{}> \n", name);
    if (modelClass) {
        for (const auto& slot : modelClass->table().slots) {
            const auto& property = *slot.property;
            Value value = property.name == "description" || !slot.getter ? Value() : slot.getter(*this);
            std::string text = value.isNil() ? std::string("<nil>") : value.description();
            bool isCollection = value.isArray() || value.isDictionary() || value.isSet();
            if (property.isStandardJSONType && !isCollection && !property.convertsOnDemand &&
                platform::text::utf16Length(text) >= 61)
                text = platform::text::substringToIndex(text, 59) + "...";
            text = platform::text::stringByReplacingOccurrencesOfString(text, "\n", "\n   ");
            out += fmt::format("   [{}]: {}\n", property.name, text);
        }
    }
    out += fmt::format("</{}>", name);
    return out;
}

// ---- coding and copying ----
void MappedModel::encodeWithCoder(platform::KeyedArchiver& coder) const {
    auto json = toJSONString();
    coder.encodeObject(json ? Value(*json) : Value(), "json");
}

bool MappedModel::initWithCoder(platform::KeyedUnarchiver& coder) {
    Value json = coder.decodeObjectForKey("json");
    if (!json.isString())
        return false;
    return loadFromString(*json.string(), nullptr);
}

std::shared_ptr<MappedModel> MappedModel::copy() const {
    auto self =
        std::const_pointer_cast<MappedModel>(std::static_pointer_cast<const MappedModel>(shared_from_this()));
    auto archive = platform::KeyedArchiver::archivedDataWithRootObject(self);
    if (archive.empty())
        return nullptr;
    return std::dynamic_pointer_cast<MappedModel>(
        platform::KeyedUnarchiver::unarchiveObjectWithData(archive));
}
