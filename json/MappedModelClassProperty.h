#pragma once
// One mapped property of a model class, as inspection reads it from the declared attribute text.
// Made once per class and shared by all its instances and threads: the declared fields are fixed
// after inspection; the two look-up memos (custom setters by source class, the custom getter) are
// guarded, so imports and exports of one class may run on several threads at once.

#include "platform/foundation/Object.h"

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

class MappedModelClassProperty final : public platform::Object {
public:
    // What import and export do with the property, settled by inspection.
    enum class Kind {
        Primitive, // a number in C (int, double, BOOL...)
        Untyped,   // an object of no (or no known) class: assigned as it comes
        Object,    // an object of a known class
        Struct,    // a struct, or a BOOL declared with the "c" code
    };

    bool isOptional{false};
    bool isStandardJSONType{false};
    bool isMutable{false};
    bool convertsOnDemand{false};
    bool isIndex{false};
    std::string name;
    std::optional<std::string> type; // the declared class's name
    std::optional<std::string> structName;
    std::optional<std::string> protocol;
    Kind kind{Kind::Untyped};

    // getterType: 0 not looked up yet, 1 found, 2 none.
    int getterType() const;
    std::optional<std::string> customGetter() const;
    void setCustomGetter(std::optional<std::string> selector) const;

    // The setter memo: nothing when not looked up yet for that source class; an empty string when
    // the model has none.
    std::optional<std::string> customSetter(std::string_view sourceClassName) const;
    void setCustomSetter(std::string sourceClassName, std::string selector) const;
    bool hasSetterCache() const;

    // "@property NSString* <ChatModel> rooms (Optional, Standard JSON type)"
    std::string description() const override;

private:
    mutable std::mutex m_mutex;
    mutable int m_getterType{0};
    mutable std::optional<std::string> m_customGetter;
    mutable std::optional<std::map<std::string, std::string, std::less<>>> m_customSetters;
    mutable std::atomic<bool> m_hasSetterCache{false};
};
