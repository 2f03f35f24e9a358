// Import: filling a model from a JSON dictionary, property by property.
#include "platform/foundation/Exception.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Text.h"

#include "json/MappedModel.h"
#include "json/MappedModelArray.h"
#include "json/MappedModelRuntime.h"
#include <algorithm>
#include <fmt/format.h>

using platform::ErrorPtr;
using platform::Value;
using platform::ValueArray;
using platform::ValueDictionary;
using Kind = MappedModelClassProperty::Kind;

namespace {

std::string capitalizedFirst(std::string_view name) {
    std::string out(name);
    if (!out.empty() && out[0] >= 'a' && out[0] <= 'z')
        out[0] = static_cast<char>(out[0] - 'a' + 'A');
    return out;
}

// __mapString:withKeyMapper:importing: for the import direction: the class's mapper first, the
// global one when the class's leaves the name as it is (or when the class has none).
std::string mapToKeyPath(const std::string& name, const std::shared_ptr<KeyMapper>& classMapper,
                         const std::shared_ptr<KeyMapper>& globalMapper) {
    if (classMapper) {
        auto answer = classMapper->convertValue(name, true);
        if ((!answer || *answer == name) && globalMapper)
            answer = globalMapper->convertValue(name, true);
        return answer ? *answer : name;
    }
    if (globalMapper) {
        auto answer = globalMapper->convertValue(name, true);
        return answer ? *answer : name;
    }
    return name;
}

// valueForKeyPath: on a JSON value. Dictionaries are entered, arrays answer the array of their
// elements' values; any other value cannot answer a key, which the platform raises and the
// caller treats by reading the whole path as one plain key.
Value valueForKey(const Value& object, std::string_view key, bool& raised) {
    if (auto* dictionary = object.dictionary())
        return dictionary->get(key);
    if (auto* array = object.array()) {
        ValueArray values;
        values.reserve(array->size());
        for (const auto& element : *array) {
            Value member = valueForKey(element, key, raised);
            if (raised)
                return {};
            values.push_back(member.isNil() ? Value::null() : std::move(member));
        }
        return Value(std::move(values));
    }
    if (!object.isNil())
        raised = true;
    return {};
}

// valueForKeyPath: with the path split beforehand (no parts: a plain key). A value found inside
// nested dictionaries is a reference into them; one that had to be made (the members of an array)
// is kept in `made`.
const Value& lookUpKeyPath(const Value& dictionary, const std::string& path,
                           const std::vector<std::string>& components, Value& made) {
    if (components.empty())
        return dictionary[path];
    bool raised = false;
    made = dictionary;
    for (const auto& component : components) {
        made = valueForKey(made, component, raised);
        if (raised)
            return dictionary[path];
        if (made.isNil())
            break;
    }
    return made;
}

// Reads a JSON object's values key after key. Objects tend to list their keys in the order the
// model declares its properties, so each search starts where the previous one ended; keys are unique,
// so where a search starts changes nothing but its length.
class EntryCursor {
public:
    explicit EntryCursor(const Value& dictionary)
        : m_dictionary(*dictionary.dictionary()) {}

    const Value& operator[](std::string_view key) {
        auto&& entries = m_dictionary.entries();
        const size_t count = entries.size();
        if (count > kScanned)
            return m_dictionary.get(key);
        for (size_t step = 0; step < count; ++step) {
            size_t index = m_next + step < count ? m_next + step : m_next + step - count;
            if (sameKey(entries[index].first, key)) {
                m_next = index + 1;
                return entries[index].second;
            }
        }
        return Value::nil();
    }

private:
    // Keys are a few bytes long and most differ in length or first byte: compared in place, a
    // mismatch costs no library call.
    static bool sameKey(const std::string& entry, std::string_view key) {
        if (entry.size() != key.size())
            return false;
        for (size_t i = 0; i < key.size(); ++i) {
            if (entry[i] != key[i])
                return false;
        }
        return true;
    }

    static constexpr size_t kScanned = 16; // larger objects are searched through their index
    const platform::ValueDictionary& m_dictionary;
    size_t m_next{0};
};

std::vector<std::string> keyPathComponents(const std::string& path) {
    if (path.find('.') == std::string::npos)
        return {};
    return platform::text::componentsSeparatedByString(path, ".");
}

// Equality as the platform's isEqual: models by their own rule, collections member by member.
bool equalValues(const Value& a, const Value& b) {
    if (a.type() != b.type())
        return false; // a fresh model's members read nil
    if (a.isObject()) {
        if (auto model = a.objectAs<MappedModel>())
            return model->isEqual(*b.object());
        return a.object() == b.object();
    }
    if (a.isArray()) {
        const auto& x = *a.array();
        const auto& y = *b.array();
        if (x.size() != y.size())
            return false;
        for (size_t i = 0; i < x.size(); ++i) {
            if (!equalValues(x[i], y[i]))
                return false;
        }
        return true;
    }
    if (a.isDictionary()) {
        const auto& x = *a.dictionary();
        const auto& y = *b.dictionary();
        if (x.size() != y.size())
            return false;
        for (const auto& [key, value] : x) {
            auto* other = y.find(key);
            if (!other || !equalValues(value, *other))
                return false;
        }
        return true;
    }
    return a == b;
}

void assignUnlessEqual(MappedModel& model, const MappedModelSlot& slot, const Value& value) {
    if (!slot.setter)
        return;
    if (slot.getter) {
        // A member that reads nil (as a fresh model's do) equals nil only: its Value need not be made.
        bool equal =
            slot.readsNil && slot.readsNil(model) ? value.isNil() : equalValues(slot.getter(model), value);
        if (equal)
            return;
    }
    slot.setter(model, value);
}

// The kind of Value a declared class holds, for the classes whose values JSON conversions make.
std::optional<Value::Type> valueTypeOfClass(std::string_view name) {
    if (name == "NSString" || name == "NSMutableString")
        return Value::Type::String;
    if (name == "NSNumber" || name == "NSDecimalNumber" || name == "BOOL")
        return Value::Type::Number;
    if (name == "NSArray" || name == "NSMutableArray")
        return Value::Type::Array;
    if (name == "NSDictionary" || name == "NSMutableDictionary")
        return Value::Type::Dictionary;
    if (name == "NSSet" || name == "NSMutableSet")
        return Value::Type::Set;
    if (name == "NSDate")
        return Value::Type::Date;
    if (name == "NSURL")
        return Value::Type::URL;
    if (name == "NSData" || name == "NSMutableData")
        return Value::Type::Data;
    return std::nullopt;
}

// Whether a conversion's result can stand in a property of the declared class: a conversion that
// hands its input back (an array for a dictionary) must not plant a value of the wrong kind.
bool fitsDeclaredClass(const Value& value, std::string_view declared) {
    if (value.isNil() || value.isNull() || value.isObject())
        return true;
    auto expected = valueTypeOfClass(declared);
    if (!expected)
        return true;
    if (declared == "NSDecimalNumber")
        return value.isNumber() && value.number()->kind() == platform::Number::Kind::Decimal;
    return value.type() == *expected;
}

std::string jsonKindName(const Value& value) {
    switch (value.type()) {
    case Value::Type::String:
        return "a JSON String";
    case Value::Type::Number:
        return "a JSON Number";
    case Value::Type::Array:
        return "a JSON Array";
    case Value::Type::Dictionary:
        return "a JSON Object";
    case Value::Type::Null:
        return "null";
    default:
        return fmt::format("of class {}", MappedModelRuntime::classNameOfValue(value));
    }
}

ErrorPtr typeMismatch(const MappedModelClassProperty& property, std::string_view declared,
                      const Value& value) {
    auto error = MappedModelError::errorInvalidDataWithTypeMismatch(
        fmt::format("Property '{}' is declared as {} but the corresponding JSON value is {}.", property.name,
                    declared, jsonKindName(value)));
    return MappedModelError::errorByPrependingKeyPathComponent(error, property.name);
}

// Whether some JSON value could ever fill a property of the declared class: when none could, a
// missing conversion is a mistake in the declaration, not in the data.
bool canBeFedFromJSON(std::string_view target) {
    if (MappedModelRuntime::isStandardJSONClass(target))
        return true;
    const auto& transformer = MappedModelRuntime::transformer();
    for (std::string_view source : {"NSString", "NSNumber", "NSArray", "NSDictionary"}) {
        auto name = fmt::format("{}From{}:", target, source);
        if (transformer.responds(name) || transformer.responds("__" + name))
            return true;
    }
    return false;
}

std::shared_ptr<MappedModel> newModelOf(MappedModelClass& modelClass, const Value& dictionary,
                                        ErrorPtr* error);

} // namespace

MappedModelImportPlan MappedModelClass::makeImportPlan(const std::shared_ptr<KeyMapper>& classMapper,
                                                       const std::shared_ptr<KeyMapper>& globalMapper) {
    const auto& table = this->table();
    MappedModelImportPlan plan{classMapper, globalMapper, MappedModelRuntime::generation(), {}};
    const bool mapping = classMapper || globalMapper;
    plan.steps.reserve(table.slots.size());
    for (const auto& slot : table.slots) {
        const auto& property = *slot.property;
        MappedModelImportPlan::Step step;
        step.keyPath = mapping ? mapToKeyPath(property.name, classMapper, globalMapper) : property.name;
        if (mapping)
            step.components = keyPathComponents(step.keyPath);
        if (slot.isModelType)
            step.nestedClass = MappedModelRuntime::classNamed(*property.type);
        plan.steps.push_back(std::move(step));
    }
    return plan;
}

namespace {

class Importer {
public:
    Importer(MappedModel& model, MappedModelClass& modelClass, std::shared_ptr<KeyMapper> classMapper,
             bool validation)
        : m_model(model)
        , m_class(modelClass)
        , m_table(modelClass.table())
        , m_validation(validation) {
        auto globalMapper = MappedModel::globalKeyMapper();
        m_plan = modelClass.importPlan(classMapper, globalMapper);
        if (!m_plan) {
            m_ownPlan = modelClass.makeImportPlan(classMapper, globalMapper);
            m_plan = &*m_ownPlan;
        }
    }

    // __doesDictionary:matchModelWithKeyMapper:error:
    bool requiredKeysPresent(const Value& dictionary, ErrorPtr* error) {
        if (m_table.requiredSlots.empty())
            return true;
        std::vector<std::string> missing;
        const bool mapping = m_plan->classMapper || m_plan->globalMapper;
        const auto& keys = *dictionary.dictionary();
        Value made;
        for (size_t index : m_table.requiredSlots) {
            const auto& step = m_plan->steps[index];
            bool present = mapping ? !lookUpKeyPath(dictionary, step.keyPath, step.components, made).isNil()
                                   : keys.contains(step.keyPath);
            if (!present)
                missing.push_back(m_table.slots[index].property->name);
        }
        if (missing.empty())
            return true;
        platform::setError(error, MappedModelError::errorInvalidDataWithMissingKeys(missing));
        return false;
    }

    // __importDictionary:withKeyMapper:validation:error:
    bool importDictionary(const Value& dictionary, ErrorPtr* error) {
        const auto& slots = m_table.slots;
        Value made;
        EntryCursor cursor(dictionary);
        for (size_t index = 0; index < slots.size(); ++index) {
            const auto& step = m_plan->steps[index];
            const Value& value = step.components.empty()
                                     ? cursor[step.keyPath]
                                     : lookUpKeyPath(dictionary, step.keyPath, step.components, made);
            if (!importValue(slots[index], step, value, error))
                return false;
        }
        return true;
    }

private:
    bool fail(ErrorPtr* error, ErrorPtr reason) {
        platform::setError(error, std::move(reason));
        return false;
    }

    // A value of the wrong kind from the server: an error when validating, skipped when merging.
    bool mismatch(ErrorPtr* error, const MappedModelClassProperty& property, std::string_view declared,
                  const Value& value) {
        if (!m_validation)
            return true;
        return fail(error, typeMismatch(property, declared, value));
    }

    bool importValue(const MappedModelSlot& slot, const MappedModelImportPlan::Step& step, const Value& value,
                     ErrorPtr* error) {
        const auto& property = *slot.property;
        if (value.isNil() || value.isNull()) {
            if (property.isOptional || !m_validation)
                return true;
            auto reason = MappedModelError::errorInvalidDataWithMessage(
                fmt::format("Value of required model key {} is null", property.name));
            return fail(error, MappedModelError::errorByPrependingKeyPathComponent(reason, property.name));
        }
        if (!value.isString() && !value.isNumber() && !MappedModelRuntime::isAllowedJSONValue(value)) {
            auto reason = MappedModelError::errorInvalidDataWithMessage(
                fmt::format("Type {} is not allowed in JSON.", MappedModelRuntime::classNameOfValue(value)));
            return fail(error, MappedModelError::errorByPrependingKeyPathComponent(reason, property.name));
        }
        if (customSetValue(property, value))
            return true;

        if (property.kind == Kind::Primitive || property.kind == Kind::Untyped) {
            if (property.kind == Kind::Primitive && !value.isNumber() && !value.isString())
                return mismatch(error, property, "a number", value);
            assignUnlessEqual(m_model, slot, value);
            return true;
        }

        static const std::string undeclared;
        const std::string& declared = property.type         ? *property.type
                                      : property.structName ? *property.structName
                                                            : undeclared;
        if (slot.isModelType) {
            ErrorPtr nestedError;
            auto nested = step.nestedClass ? newModelOf(*step.nestedClass, value, &nestedError)
                                           : MappedModel::initWithDictionary(declared, value, &nestedError);
            if (!nested) {
                if (property.isOptional || !m_validation)
                    return true;
                if (nestedError)
                    platform::setError(error, MappedModelError::errorByPrependingKeyPathComponent(
                                                  nestedError, property.name));
                return false;
            }
            assignUnlessEqual(m_model, slot, Value(std::move(nested)));
            return true;
        }

        if (!property.protocol)
            return assignDeclared(slot, declared, value, error);
        ErrorPtr transformError;
        Value transformed = transform(value, property, &transformError);
        if (transformed.isNil()) {
            if (!transformError) {
                auto reason = MappedModelError::errorInvalidDataWithMessage(
                    fmt::format("Failed to transform value, but no error was set during transformation. ({})",
                                property.description()));
                transformError = MappedModelError::errorByPrependingKeyPathComponent(reason, property.name);
            }
            return fail(error, transformError);
        }
        return assignDeclared(slot, declared, transformed, error);
    }

    // What a value that reached the declared class's own rules becomes: itself, or its conversion.
    bool assignDeclared(const MappedModelSlot& slot, const std::string& declared, const Value& value,
                        ErrorPtr* error) {
        const auto& property = *slot.property;
        if (slot.plainType && value.type() == *slot.plainType) {
            assignUnlessEqual(m_model, slot, value);
            return true;
        }
        std::string valueClass = MappedModelRuntime::classNameOfValue(value);
        bool ofDeclaredClass = property.type && MappedModelRuntime::isKindOfClass(valueClass, *property.type);
        if (property.isStandardJSONType && ofDeclaredClass && !property.isMutable) {
            assignUnlessEqual(m_model, slot, value);
            return true;
        }
        if (!ofDeclaredClass || property.isMutable || property.structName) {
            auto source = ValueTransformer::classByResolvingClusterClasses(valueClass);
            auto name = fmt::format("{}From{}:", declared, source);
            const auto& transformer = MappedModelRuntime::transformer();
            auto conversion = transformer.conversion(name);
            if (!conversion)
                conversion = transformer.conversion("__" + name);
            if (!conversion) {
                if (!canBeFedFromJSON(declared)) {
                    throw platform::Exception("Type not allowed",
                                              fmt::format("{} type not supported for {}.{}", declared,
                                                          m_class.name, property.name));
                }
                return mismatch(error, property, declared, value);
            }
            Value converted = (*conversion)(value);
            if (!fitsDeclaredClass(converted, declared))
                return mismatch(error, property, declared, value);
            assignUnlessEqual(m_model, slot, converted);
            return true;
        }
        assignUnlessEqual(m_model, slot, value);
        return true;
    }

    // __customSetValue:forProperty: set<Name>With<SourceClass>: when the model offers one.
    bool customSetValue(const MappedModelClassProperty& property, const Value& value) {
        if (m_class.methods.empty()) {
            if (!property.hasSetterCache())
                property.setCustomSetter(ValueTransformer::classByResolvingClusterClassesOfValue(value), {});
            return false;
        }
        auto source = ValueTransformer::classByResolvingClusterClassesOfValue(value);
        auto selector = property.customSetter(source);
        if (!selector) {
            auto candidate = fmt::format("set{}With{}:", capitalizedFirst(property.name), source);
            auto* method = m_class.method(candidate);
            selector = method && method->setter ? candidate : std::string();
            property.setCustomSetter(source, *selector);
        }
        if (selector->empty())
            return false;
        auto* method = m_class.method(*selector);
        if (!method || !method->setter)
            return false;
        method->setter(m_model, value);
        return true;
    }

    // __transform:forProperty:error: JSON dictionaries to models of the property's protocol class.
    Value transform(const Value& value, const MappedModelClassProperty& property, ErrorPtr* error) {
        const std::string& element = *property.protocol;
        if (!MappedModelRuntime::classExists(element)) {
            if (value.isArray()) {
                throw platform::Exception(
                    "Bad property protocol declaration",
                    fmt::format(
                        "<{}> is not allowed MappedModel property protocol, and not a MappedModel class.",
                        element));
            }
            return value;
        }
        if (!MappedModel::isMappedModelSubClass(element) || !property.type)
            return value;
        if (MappedModelRuntime::isKindOfClass(*property.type, "NSArray")) {
            if (!value.isArray()) {
                auto reason = MappedModelError::errorInvalidDataWithTypeMismatch(
                    fmt::format("Property '{}' is declared as NSArray<{}>* but the corresponding JSON value "
                                "is not a JSON Array.",
                                property.name, element));
                platform::setError(
                    error, MappedModelError::errorByPrependingKeyPathComponent(reason, property.name));
                return {};
            }
            if (property.convertsOnDemand)
                return Value(std::make_shared<MappedModelArray>(value, element));
            ErrorPtr arrayError;
            Value models = MappedModel::arrayOfModelsFromDictionaries(element, value, &arrayError);
            if (arrayError) {
                platform::setError(
                    error, MappedModelError::errorByPrependingKeyPathComponent(arrayError, property.name));
                return {};
            }
            return models;
        }
        if (MappedModelRuntime::isKindOfClass(*property.type, "NSDictionary")) {
            if (!value.isDictionary()) {
                auto reason = MappedModelError::errorInvalidDataWithTypeMismatch(
                    fmt::format("Property '{}' is declared as NSDictionary<{}>* but the corresponding JSON "
                                "value is not a JSON "
                                "Object.",
                                property.name, element));
                platform::setError(
                    error, MappedModelError::errorByPrependingKeyPathComponent(reason, property.name));
                return {};
            }
            ValueDictionary models;
            for (const auto& [key, entry] : *value.dictionary()) {
                ErrorPtr entryError;
                auto model = MappedModel::initWithDictionary(element, entry, &entryError);
                if (!model) {
                    if (entryError) {
                        entryError = MappedModelError::errorByPrependingKeyPathComponent(entryError, key);
                        platform::setError(error, MappedModelError::errorByPrependingKeyPathComponent(
                                                      entryError, property.name));
                    }
                    return {};
                }
                models.set(key, Value(std::move(model)));
            }
            return Value(std::move(models));
        }
        return value;
    }

    MappedModel& m_model;
    MappedModelClass& m_class;
    const MappedModelTable& m_table;
    bool m_validation{true};
    const MappedModelImportPlan* m_plan{nullptr};
    std::optional<MappedModelImportPlan> m_ownPlan;
};

bool appendModels(std::string_view className, const ValueArray& input, ValueArray& out, ErrorPtr* error) {
    for (size_t i = 0; i < input.size(); ++i) {
        const Value& element = input[i];
        ErrorPtr elementError;
        if (element.isDictionary()) {
            auto model = MappedModel::initWithDictionary(className, element, &elementError);
            if (!model) {
                if (elementError)
                    platform::setError(error, MappedModelError::errorByPrependingKeyPathComponent(
                                                  elementError, fmt::format("[{}]", i)));
                return false;
            }
            out.emplace_back(std::move(model));
        } else if (element.isArray()) {
            if (!appendModels(className, *element.array(), out, &elementError)) {
                if (elementError)
                    platform::setError(error, MappedModelError::errorByPrependingKeyPathComponent(
                                                  elementError, fmt::format("[{}]", i)));
                return false;
            }
        }
    }
    return true;
}

// initWithDictionary:error:'s first two steps.
bool isDictionaryInput(const Value& dictionary, ErrorPtr* error) {
    if (dictionary.isNil()) {
        platform::setError(error, MappedModelError::errorInputIsNil());
        return false;
    }
    if (!dictionary.isDictionary()) {
        platform::setError(error,
                           MappedModelError::errorInvalidDataWithMessage(
                               "Attempt to initialize MappedModel object using initWithDictionary:error: but "
                               "the dictionary parameter was not an 'NSDictionary'."));
        return false;
    }
    return true;
}

// The rest of initWithDictionary:error:, on a model of the given class.
bool importIntoModel(MappedModel& model, MappedModelClass& modelClass, const Value& dictionary,
                     ErrorPtr* error) {
    modelClass.table();
    modelClass.offerKeyMapper();
    Importer importer(model, modelClass, modelClass.keyMapper(), true);
    ErrorPtr failure;
    if (!importer.requiredKeysPresent(dictionary, &failure) ||
        !importer.importDictionary(dictionary, &failure)) {
        platform::setError(error, failure);
        return false;
    }
    ErrorPtr invalid;
    if (!model.validate(&invalid)) {
        platform::setError(error, invalid);
        return false;
    }
    return true;
}

std::shared_ptr<MappedModel> newModelOf(MappedModelClass& modelClass, const Value& dictionary,
                                        ErrorPtr* error) {
    if (!modelClass.factory) {
        throw platform::Exception(platform::NSInternalInconsistencyException,
                                  fmt::format("{} is not a registered MappedModel class", modelClass.name));
    }
    auto model = modelClass.factory();
    if (!model) {
        platform::setError(error, MappedModelError::errorModelIsInvalid());
        return nullptr;
    }
    if (!isDictionaryInput(dictionary, error) || !importIntoModel(*model, modelClass, dictionary, error))
        return nullptr;
    return model;
}

// initWithData:error:'s reading: nil with code 5 for no bytes, code 3 for bytes that do not parse.
Value inputObject(std::optional<std::string_view> bytes, ErrorPtr* error) {
    if (!bytes) {
        platform::setError(error, MappedModelError::errorInputIsNil());
        return {};
    }
    ErrorPtr parseError;
    Value object = platform::JSONSerialization::JSONObjectWithBytes(*bytes, 0, &parseError);
    if (object.isNil())
        platform::setError(error, MappedModelError::errorBadJSON());
    return object;
}

std::optional<std::string_view> bytesOf(const std::optional<platform::Data>& data) {
    return data ? std::optional(data->view()) : std::nullopt;
}

// A text's bytes in an encoding, nothing when the encoding cannot carry it. A UTF-8 text is its own
// bytes and is read where it is; another encoding's bytes are made in `made`.
std::optional<std::string_view> bytesOf(std::string_view text, NSStringEncoding encoding,
                                        std::optional<platform::Data>& made) {
    if (encoding == NSUTF8StringEncoding)
        return text;
    made = dataUsingEncoding(text, encoding);
    return bytesOf(made);
}

Value arrayOfModelsFromBytes(std::string_view className, std::string_view bytes, ErrorPtr* error) {
    Value object = platform::JSONSerialization::JSONObjectWithBytes(bytes, 0, error);
    if (!object.isArray())
        return {};
    return MappedModel::arrayOfModelsFromDictionaries(className, object, error);
}

} // namespace

// ---- initialisers ----
bool MappedModel::loadFromDictionary(const Value& dictionary, ErrorPtr* error) {
    if (!isDictionaryInput(dictionary, error))
        return false;
    return importIntoModel(*this, *MappedModelRuntime::classOf(*this), dictionary, error);
}

bool MappedModel::loadFromData(const std::optional<platform::Data>& data, ErrorPtr* error) {
    Value object = inputObject(bytesOf(data), error);
    return !object.isNil() && loadFromDictionary(object, error);
}

bool MappedModel::loadFromString(std::optional<std::string_view> string, ErrorPtr* error) {
    return loadFromStringUsingEncoding(string, NSUTF8StringEncoding, error);
}

bool MappedModel::loadFromStringUsingEncoding(std::optional<std::string_view> string,
                                              NSStringEncoding encoding, ErrorPtr* error) {
    if (!string) {
        platform::setError(error, MappedModelError::errorInputIsNil());
        return false;
    }
    std::optional<platform::Data> made;
    Value object = inputObject(bytesOf(*string, encoding, made), error);
    return !object.isNil() && loadFromDictionary(object, error);
}

bool MappedModel::mergeFromDictionary(const Value& dictionary, bool useKeyMapping, ErrorPtr* error) {
    if (!dictionary.isDictionary())
        return false;
    auto modelClass = MappedModelRuntime::classOf(*this);
    modelClass->offerKeyMapper();
    Importer importer(*this, *modelClass, useKeyMapping ? modelClass->keyMapper() : nullptr, false);
    ErrorPtr failure;
    if (!importer.importDictionary(dictionary, &failure)) {
        platform::setError(error, failure);
        return false;
    }
    return true;
}

std::shared_ptr<MappedModel> MappedModel::initWithDictionary(std::string_view className,
                                                             const Value& dictionary, ErrorPtr* error) {
    auto modelClass = MappedModelRuntime::classNamed(className);
    if (!modelClass) {
        throw platform::Exception(platform::NSInternalInconsistencyException,
                                  fmt::format("{} is not a registered MappedModel class", className));
    }
    return newModelOf(*modelClass, dictionary, error);
}

std::shared_ptr<MappedModel> MappedModel::initWithData(std::string_view className,
                                                       const std::optional<platform::Data>& data,
                                                       ErrorPtr* error) {
    Value object = inputObject(bytesOf(data), error);
    return object.isNil() ? nullptr : initWithDictionary(className, object, error);
}

std::shared_ptr<MappedModel> MappedModel::initWithString(std::string_view className,
                                                         std::optional<std::string_view> string,
                                                         ErrorPtr* error) {
    return initWithStringUsingEncoding(className, string, NSUTF8StringEncoding, error);
}

std::shared_ptr<MappedModel> MappedModel::initWithStringUsingEncoding(std::string_view className,
                                                                      std::optional<std::string_view> string,
                                                                      NSStringEncoding encoding,
                                                                      ErrorPtr* error) {
    if (!string) {
        platform::setError(error, MappedModelError::errorInputIsNil());
        return nullptr;
    }
    std::optional<platform::Data> made;
    Value object = inputObject(bytesOf(*string, encoding, made), error);
    return object.isNil() ? nullptr : initWithDictionary(className, object, error);
}

// ---- arrays ----
Value MappedModel::arrayOfModelsFromDictionaries(std::string_view className, const Value& array,
                                                 ErrorPtr* error) {
    if (array.isNil() || array.isNull())
        return {};
    if (!array.isArray()) {
        platform::setError(
            error, MappedModelError::errorInvalidDataWithTypeMismatch(fmt::format(
                       "Expected a JSON Array of {} objects but got {}.", className, jsonKindName(array))));
        return {};
    }
    ValueArray models;
    models.reserve(array.count());
    ErrorPtr failure;
    if (!appendModels(className, *array.array(), models, &failure)) {
        platform::setError(error, failure);
        return {};
    }
    return Value(std::move(models));
}

Value MappedModel::arrayOfModelsFromData(std::string_view className,
                                         const std::optional<platform::Data>& data, ErrorPtr* error) {
    if (!data)
        return {};
    return arrayOfModelsFromBytes(className, data->view(), error);
}

Value MappedModel::arrayOfModelsFromString(std::string_view className, std::optional<std::string_view> string,
                                           ErrorPtr* error) {
    if (!string)
        return {};
    return arrayOfModelsFromBytes(className, *string, error);
}
