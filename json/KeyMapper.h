#pragma once
// KeyMapper translates between JSON key paths and model property names, both ways. A model class
// hands one out from its keyMapper() hook; one may also serve the whole process
// (MappedModel::setGlobalKeyMapper). Function mappers remember every answer; the memo is guarded, so
// one mapper may serve every model on every thread at once. Immutable apart from that memo.
//
//     auto mapper = std::make_shared<KeyMapper>(platform::ValueDictionary{{"id", "uid"}});
//     mapper->convertValue("uid", true);   // "id": the JSON key path that feeds the property
//     mapper->convertValue("id", false);   // "uid"

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class KeyMapper : public platform::Object {
public:
    using KeyBlock = std::function<std::string(const std::string&)>;

    // init: no functions; every conversion answers nothing.
    KeyMapper();
    // initWithJSONToModelBlock:modelToJSONBlock: (either may be empty).
    KeyMapper(KeyBlock toModel, KeyBlock toJSON);
    // initWithDictionary: JSON key path -> property name; the other way through the inverse map.
    explicit KeyMapper(const platform::ValueDictionary& map);

    // The memoising functions (empty when none was given).
    const KeyBlock& JSONToModelKeyBlock() const { return m_toModel; }
    const KeyBlock& modelToJSONKeyBlock() const { return m_toJSON; }

    // importing true: property name -> JSON key path; false: JSON key path -> property name.
    std::optional<std::string> convertValue(std::string_view value, bool importing) const;

    static std::shared_ptr<KeyMapper> mapperFromUnderscoreCaseToCamelCase();
    static std::shared_ptr<KeyMapper> mapperFromUpperCaseToLowerCase();
    // mapper:withExceptions: the exceptions (JSON key -> property name) win both ways.
    static std::shared_ptr<KeyMapper> mapper(const std::shared_ptr<KeyMapper>& baseKeyMapper,
                                             const platform::ValueDictionary& exceptions);

    // Each value becomes a key holding its old key; when two keys share a value the later one wins.
    static platform::ValueDictionary
    swapKeysAndValuesInDictionary(const platform::ValueDictionary& dictionary);

    // The two case conversions of mapperFromUnderscoreCaseToCamelCase, on their own.
    static std::string underscoreCaseToCamelCase(std::string_view key);
    static std::string camelCaseToUnderscoreCase(std::string_view name);

private:
    KeyBlock m_toModel;
    KeyBlock m_toJSON;
};
