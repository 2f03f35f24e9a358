#pragma once
// MappedModel: the base of every data model filled from JSON. A model class declares its properties
// (name, the runtime's attribute text, get and set by key) and registers them once, explicitly, at
// start-up or in a test; the first use of the class inspects those declarations into
// MappedModelClassProperty records that import, export, archiving and the lazy arrays work from.
//
//     class UserModel : public MappedModel {
//         MAPPED_MODEL(UserModel)
//     public:
//         std::optional<std::string> uid;
//         std::optional<std::string> nickname;
//         int64_t level { 0 };
//         static std::shared_ptr<KeyMapper> keyMapper();      // optional class hooks, hiding the base's
//     };
//     MappedModel::registerModel<UserModel>("UserModel", {
//         MAPPED_PROPERTY(UserModel, uid, "@\"NSString<Optional>\""),
//         MAPPED_PROPERTY(UserModel, nickname, "@\"NSString<Optional>\""),
//         MAPPED_PROPERTY(UserModel, level, "q"),
//     });
//     auto user = UserModel::initWithDictionary(json, &error);   // null and `error` on failure
//
// Threads: the class caches (property records, key mapper, required names) are built once under a
// lock, so one model class may be imported and exported on several threads at once; one model object
// is used by one thread at a time. Data problems come back as MappedModelError values; mistakes in the
// declarations (a type that cannot be mapped, a protocol that names no class, no conversion for a
// declared class) raise named platform::Exception values.

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include "json/KeyMapper.h"
#include "json/MappedModelClassProperty.h"
#include "json/MappedModelError.h"
#include "json/ModelPropertyValue.h"
#include "json/TextEncoding.h"
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

class MappedModel;

// A custom setter ("setTitleWithNSString:") or getter ("JSONObjectForTitle") a model class offers.
struct MappedModelMethod {
    std::string selector;
    std::function<void(MappedModel&, const platform::Value&)> setter;
    std::function<platform::Value(const MappedModel&)> getter;
};

class MappedModel : public platform::Object, public platform::Coding {
public:
    using PropertyList = std::vector<std::shared_ptr<const MappedModelClassProperty>>;

    MappedModel();
    ~MappedModel() override;

    // Registration. `T` must carry MAPPED_MODEL(T); `Super` (MappedModel or a registered model) is
    // its base. The class hooks are T's statics (a subclass that declares none inherits its base's).
    // Registering a name again replaces the class and forgets what was inspected of it.
    template <typename T, typename Super = MappedModel>
    static void registerModel(std::string name, std::vector<platform::PropertyInfo> properties,
                              std::vector<MappedModelMethod> methods = {},
                              std::vector<std::string> protocols = {});
    // MappedModel itself (registerModel does this first, once).
    static void registerBaseClass();

    // Declaration helpers behind the MAPPED_PROPERTY / MAPPED_SETTER / MAPPED_GETTER macros.
    template <typename C, typename M>
    static platform::PropertyInfo property(std::string name, std::string attributes, M C::*member);
    template <typename C>
    static MappedModelMethod customSetter(std::string selector, void (C::*method)(const platform::Value&));
    template <typename C>
    static MappedModelMethod customGetter(std::string selector, platform::Value (C::*method)() const);

    // ---- Import (initWithDictionary:error: and friends) ----
    // A new model of the named class, or null with `error` set. MAPPED_MODEL gives each class
    // typed versions of these: UserModel::initWithDictionary(json, &error).
    static std::shared_ptr<MappedModel> initWithDictionary(std::string_view className,
                                                           const platform::Value& dictionary,
                                                           platform::ErrorPtr* error = nullptr);
    static std::shared_ptr<MappedModel> initWithData(std::string_view className,
                                                     const std::optional<platform::Data>& data,
                                                     platform::ErrorPtr* error = nullptr);
    // initWithString is this with UTF-8. A text the encoding cannot carry gives no bytes, hence
    // MappedModelErrorInputIsNil, as an absent one does.
    static std::shared_ptr<MappedModel> initWithString(std::string_view className,
                                                       std::optional<std::string_view> string,
                                                       platform::ErrorPtr* error = nullptr);
    static std::shared_ptr<MappedModel> initWithStringUsingEncoding(std::string_view className,
                                                                    std::optional<std::string_view> string,
                                                                    NSStringEncoding encoding,
                                                                    platform::ErrorPtr* error = nullptr);
    // An array of models of the named class (Value objects), nil on failure.
    static platform::Value arrayOfModelsFromDictionaries(std::string_view className,
                                                         const platform::Value& array,
                                                         platform::ErrorPtr* error = nullptr);
    static platform::Value arrayOfModelsFromData(std::string_view className,
                                                 const std::optional<platform::Data>& data,
                                                 platform::ErrorPtr* error = nullptr);
    static platform::Value arrayOfModelsFromString(std::string_view className,
                                                   std::optional<std::string_view> string,
                                                   platform::ErrorPtr* error = nullptr);

    // The initialisers run on this (fresh) model; false on failure. The factories above call them;
    // they are public for code that fills an object it already holds.
    bool loadFromDictionary(const platform::Value& dictionary, platform::ErrorPtr* error = nullptr);
    bool loadFromData(const std::optional<platform::Data>& data, platform::ErrorPtr* error = nullptr);
    bool loadFromString(std::optional<std::string_view> string, platform::ErrorPtr* error = nullptr);
    bool loadFromStringUsingEncoding(std::optional<std::string_view> string, NSStringEncoding encoding,
                                     platform::ErrorPtr* error = nullptr);

    // mergeFromDictionary:useKeyMapping:error: imports without validation or the required-key
    // check: absent and null values, values of the wrong kind and failing nested models are skipped.
    // With useKeyMapping false the class's key mapper is not used (a global one still is).
    bool mergeFromDictionary(const platform::Value& dictionary, bool useKeyMapping,
                             platform::ErrorPtr* error = nullptr);

    // ---- Export ----
    // Raise "Value transformer not found" for a property with no reverse conversion.
    platform::Value toDictionary() const;
    platform::Value toDictionaryWithKeys(const std::vector<std::string>& propertyNames) const;
    // Compact JSON; nothing when export or serialisation fails (nothing is raised).
    std::optional<platform::Data> toJSONData() const;
    std::optional<platform::Data> toJSONDataWithKeys(const std::vector<std::string>& propertyNames) const;
    std::optional<std::string> toJSONString() const;
    std::optional<std::string> toJSONStringWithKeys(const std::vector<std::string>& propertyNames) const;

    // An array of Value model objects (or a nil / null) to an array of dictionaries; nil when one fails.
    static platform::Value arrayOfDictionariesFromModels(const platform::Value& models);
    static platform::Value
    arrayOfDictionariesFromModels(const platform::Value& models,
                                  const std::vector<std::string>& propertyNamesToExport);
    template <typename T>
    static platform::Value arrayOfDictionariesFromModels(const std::vector<std::shared_ptr<T>>& models) {
        return arrayOfDictionariesFromModels(
            detail::ModelPropertyValue<std::vector<std::shared_ptr<T>>>::toValue(models));
    }

    // ---- Class hooks (statics a subclass hides with its own) ----
    static std::shared_ptr<KeyMapper> keyMapper() { return nullptr; }
    static bool propertyIsOptional(std::string_view) { return false; }
    static bool propertyIsIgnored(std::string_view) { return false; }
    static std::optional<std::string> protocolForArrayProperty(std::string_view) { return std::nullopt; }
    // Runs after a successful import; false makes the initialiser fail (with `error` if it sets one).
    virtual bool validate(platform::ErrorPtr* error);

    static void setGlobalKeyMapper(std::shared_ptr<KeyMapper> mapper);
    static std::shared_ptr<KeyMapper> globalKeyMapper();

    // ---- Inspection ----
    PropertyList properties() const;                        // __properties__ (order unspecified)
    std::vector<std::string> requiredPropertyNames() const; // sorted
    std::shared_ptr<KeyMapper> classKeyMapper() const;      // __keyMapper
    std::optional<std::string> indexPropertyName() const;
    static PropertyList propertiesOfClass(std::string_view className);
    static std::optional<std::string> indexPropertyNameOfClass(std::string_view className);
    // __isMappedModelSubClass: the class is MappedModel or inherits from it.
    static bool isMappedModelSubClass(std::string_view className);

    // Reading and setting by key, through the declared property (nil / false when there is none).
    platform::Value valueForKey(std::string_view name) const;
    bool setValueForKey(const platform::Value& value, std::string_view name);

    // ---- Identity, archiving, copying ----
    // Same class exactly, then the index values (when the class has an index property), else identity.
    bool isEqual(const platform::Object& other) const;
    bool isEqual(const platform::ObjectPtr& other) const { return other && isEqual(*other); }
    // NSComparisonResult (-1, 0, 1) of the index values; 0 without one.
    int64_t compare(const MappedModel& other) const;
    size_t hash() const;
    std::string description() const override;
    bool respondsTo(std::string_view selector) const override;

    // copyWithZone: archive and unarchive; null when the model does not survive that round trip.
    std::shared_ptr<MappedModel> copy() const;
    static bool supportsSecureCoding() { return true; }
    void encodeWithCoder(platform::KeyedArchiver& coder) const override;
    bool initWithCoder(platform::KeyedUnarchiver& coder) override;

    // The registered name of a model class's C++ type (its C++ name when it was never registered).
    template <typename T> static std::string classNameOf() { return classNameOfType(typeid(T)); }
    static std::string classNameOfType(const std::type_info& type);

    template <typename T>
    static std::shared_ptr<T> makeModel(const platform::Value& dictionary, platform::ErrorPtr* error) {
        auto model = std::make_shared<T>();
        return model->loadFromDictionary(dictionary, error) ? model : nullptr;
    }
    template <typename T>
    static std::optional<std::vector<std::shared_ptr<T>>> typedArray(const platform::Value& models) {
        if (models.isNil())
            return std::nullopt;
        std::vector<std::shared_ptr<T>> result;
        detail::ModelPropertyValue<std::vector<std::shared_ptr<T>>>::assign(result, models);
        return result;
    }

    // The class hooks as the runtime calls them (registerModel fills them from T's statics).
    struct Hooks {
        std::function<std::shared_ptr<KeyMapper>()> keyMapper;
        std::function<bool(std::string_view)> propertyIsOptional;
        std::function<bool(std::string_view)> propertyIsIgnored;
        std::function<std::optional<std::string>(std::string_view)> protocolForArrayProperty;
    };

private:
    static void registerModelClass(std::string name, const std::type_info& type,
                                   const std::type_info& superType,
                                   std::function<std::shared_ptr<MappedModel>()> factory, Hooks hooks,
                                   std::vector<platform::PropertyInfo> properties,
                                   std::vector<MappedModelMethod> methods,
                                   std::vector<std::string> protocols);
};

// Inside a model class's body: its typed initialisers and copy.
#define MAPPED_MODEL(Class)                                                                                  \
public:                                                                                                      \
    static std::shared_ptr<Class> initWithDictionary(const platform::Value& dictionary,                      \
                                                     platform::ErrorPtr* error = nullptr) {                  \
        return ::MappedModel::makeModel<Class>(dictionary, error);                                           \
    }                                                                                                        \
    static std::shared_ptr<Class> initWithData(const std::optional<platform::Data>& data,                    \
                                               platform::ErrorPtr* error = nullptr) {                        \
        auto model = std::make_shared<Class>();                                                              \
        return model->loadFromData(data, error) ? model : nullptr;                                           \
    }                                                                                                        \
    static std::shared_ptr<Class> initWithString(std::optional<std::string_view> string,                     \
                                                 platform::ErrorPtr* error = nullptr) {                      \
        auto model = std::make_shared<Class>();                                                              \
        return model->loadFromString(string, error) ? model : nullptr;                                       \
    }                                                                                                        \
    static std::shared_ptr<Class> initWithStringUsingEncoding(std::optional<std::string_view> string,        \
                                                              NSStringEncoding encoding,                     \
                                                              platform::ErrorPtr* error = nullptr) {         \
        auto model = std::make_shared<Class>();                                                              \
        return model->loadFromStringUsingEncoding(string, encoding, error) ? model : nullptr;                \
    }                                                                                                        \
    static std::optional<std::vector<std::shared_ptr<Class>>> arrayOfModelsFromDictionaries(                 \
        const platform::Value& array, platform::ErrorPtr* error = nullptr) {                                 \
        return ::MappedModel::typedArray<Class>(::MappedModel::arrayOfModelsFromDictionaries(                \
            ::MappedModel::classNameOf<Class>(), array, error));                                             \
    }                                                                                                        \
    static std::optional<std::vector<std::shared_ptr<Class>>> arrayOfModelsFromData(                         \
        const std::optional<platform::Data>& data, platform::ErrorPtr* error = nullptr) {                    \
        return ::MappedModel::typedArray<Class>(                                                             \
            ::MappedModel::arrayOfModelsFromData(::MappedModel::classNameOf<Class>(), data, error));         \
    }                                                                                                        \
    static std::optional<std::vector<std::shared_ptr<Class>>> arrayOfModelsFromString(                       \
        std::optional<std::string_view> string, platform::ErrorPtr* error = nullptr) {                       \
        return ::MappedModel::typedArray<Class>(                                                             \
            ::MappedModel::arrayOfModelsFromString(::MappedModel::classNameOf<Class>(), string, error));     \
    }                                                                                                        \
    std::shared_ptr<Class> copy() const {                                                                    \
        return std::static_pointer_cast<Class>(::MappedModel::copy());                                       \
    }                                                                                                        \
                                                                                                             \
private:

// A declared property: `type` is the attribute text's type encoding, without the leading "T":
// "@\"NSString<Optional>\"", "@\"NSArray<ChatModel><Optional>\"" (each protocol in its own <...>),
// "q", "B", "{CGPoint=dd}".
#define MAPPED_PROPERTY(Class, member, type)                                                                 \
    ::MappedModel::property(#member, "T" type ",&,N,V_" #member, &Class::member)
#define MAPPED_READONLY_PROPERTY(Class, member, type)                                                        \
    ::MappedModel::property(#member, "T" type ",R,N,V_" #member, &Class::member)
// The whole attribute text, for declarations the two above cannot write ("Tc,N,V_flag").
#define MAPPED_PROPERTY_ATTRIBUTES(Class, member, attributes)                                                \
    ::MappedModel::property(#member, attributes, &Class::member)
// set<Name>With<SourceClass>: taking the JSON value; JSONObjectFor<Name> answering the JSON value.
#define MAPPED_SETTER(Class, method) ::MappedModel::customSetter(#method ":", &Class::method)
#define MAPPED_GETTER(Class, method) ::MappedModel::customGetter(#method, &Class::method)

// ---- templates ----
template <typename T, typename Super>
void MappedModel::registerModel(std::string name, std::vector<platform::PropertyInfo> properties,
                                std::vector<MappedModelMethod> methods, std::vector<std::string> protocols) {
    static_assert(std::is_base_of_v<MappedModel, Super> && std::is_base_of_v<Super, T>,
                  "a model class derives from MappedModel or another model");
    Hooks hooks;
    hooks.keyMapper = [] { return T::keyMapper(); };
    hooks.propertyIsOptional = [](std::string_view n) { return T::propertyIsOptional(n); };
    hooks.propertyIsIgnored = [](std::string_view n) { return T::propertyIsIgnored(n); };
    hooks.protocolForArrayProperty = [](std::string_view n) { return T::protocolForArrayProperty(n); };
    std::function<std::shared_ptr<MappedModel>()> factory;
    if constexpr (std::is_default_constructible_v<T>)
        factory = [] { return std::static_pointer_cast<MappedModel>(std::make_shared<T>()); };
    registerModelClass(std::move(name), typeid(T), typeid(Super), std::move(factory), std::move(hooks),
                       std::move(properties), std::move(methods), std::move(protocols));
}

template <typename C, typename M>
platform::PropertyInfo MappedModel::property(std::string name, std::string attributes, M C::*member) {
    platform::PropertyInfo info;
    info.name = std::move(name);
    info.attributes = std::move(attributes);
    info.getter = [member](const platform::Object& object) {
        return detail::ModelPropertyValue<M>::toValue(static_cast<const C&>(object).*member);
    };
    info.setter = [member](platform::Object& object, const platform::Value& value) {
        detail::ModelPropertyValue<M>::assign(static_cast<C&>(object).*member, value);
    };
    if constexpr (requires(const M& m) { detail::ModelPropertyValue<M>::readsNil(m); }) {
        info.readsNil = [member](const platform::Object& object) {
            return detail::ModelPropertyValue<M>::readsNil(static_cast<const C&>(object).*member);
        };
    }
    return info;
}

template <typename C>
MappedModelMethod MappedModel::customSetter(std::string selector, void (C::*method)(const platform::Value&)) {
    MappedModelMethod info;
    info.selector = std::move(selector);
    info.setter = [method](MappedModel& model, const platform::Value& value) {
        (static_cast<C&>(model).*method)(value);
    };
    return info;
}

template <typename C>
MappedModelMethod MappedModel::customGetter(std::string selector, platform::Value (C::*method)() const) {
    MappedModelMethod info;
    info.selector = std::move(selector);
    info.getter = [method](const MappedModel& model) { return (static_cast<const C&>(model).*method)(); };
    return info;
}
