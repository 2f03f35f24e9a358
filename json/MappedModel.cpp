#include "json/MappedModel.h"

#include "platform/foundation/Exception.h"
#include "platform/foundation/Text.h"

#include "json/MappedModelRuntime.h"
#include <algorithm>
#include <array>
#include <atomic>
#include <cxxabi.h>
#include <fmt/format.h>
#include <mutex>

using platform::Value;

namespace {

constexpr const char* kBaseClassName = "MappedModel";

constexpr std::array<std::string_view, 9> kAllowedJSONClasses{
    "NSString",        "NSNumber",       "NSDecimalNumber",    "NSArray", "NSDictionary", "NSNull",
    "NSMutableString", "NSMutableArray", "NSMutableDictionary"};
constexpr std::array<std::string_view, 9> kAllowedPrimitiveNames{
    "BOOL", "float", "int", "long", "double", "short", "NSInteger", "NSUInteger", "Block"};

// The platform's value classes and their superclasses, for class look-up by name.
const std::unordered_map<std::string_view, std::string_view>& valueClasses() {
    static const std::unordered_map<std::string_view, std::string_view> table{
        {"NSObject", ""},
        {"NSValue", "NSObject"},
        {"NSNumber", "NSValue"},
        {"NSDecimalNumber", "NSNumber"},
        {"NSString", "NSObject"},
        {"NSMutableString", "NSString"},
        {"NSArray", "NSObject"},
        {"NSMutableArray", "NSArray"},
        {"NSDictionary", "NSObject"},
        {"NSMutableDictionary", "NSDictionary"},
        {"NSSet", "NSObject"},
        {"NSMutableSet", "NSSet"},
        {"NSNull", "NSObject"},
        {"NSDate", "NSObject"},
        {"NSURL", "NSObject"},
        {"NSData", "NSObject"},
        {"NSMutableData", "NSData"},
        {"NSTimeZone", "NSObject"},
    };
    return table;
}

std::optional<std::string> superclassNamed(std::string_view name) {
    auto& table = valueClasses();
    if (auto it = table.find(name); it != table.end())
        return it->second.empty() ? std::nullopt : std::optional<std::string>(it->second);
    if (auto info = platform::ClassRegistry::shared().classNamed(name))
        return info->superclassName.empty() ? std::optional<std::string>("NSObject") : info->superclassName;
    return std::nullopt;
}

struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
};

struct RegistryMaps {
    std::unordered_map<std::string, std::shared_ptr<MappedModelClass>, NameHash, std::equal_to<>> byName;
    std::unordered_map<std::type_index, std::shared_ptr<MappedModelClass>> byType;
};

// Classes are registered a handful of times and looked up for every model made: each registration
// publishes new maps under a new generation, and each thread reads its copy of the current maps
// without a lock until the generation moves on.
struct Registry {
    std::mutex mutex;
    std::shared_ptr<const RegistryMaps> maps{std::make_shared<RegistryMaps>()};
    std::atomic<uint64_t> generation{1};
};

Registry& registry() {
    static Registry instance;
    return instance;
}

const RegistryMaps& currentMaps() {
    struct Seen {
        uint64_t generation{0};
        std::shared_ptr<const RegistryMaps> maps;
    };
    thread_local Seen seen;
    auto& r = registry();
    if (uint64_t now = r.generation.load(std::memory_order_acquire); now != seen.generation) {
        std::lock_guard lock(r.mutex);
        seen.maps = r.maps;
        seen.generation = r.generation.load(std::memory_order_relaxed);
    }
    return *seen.maps;
}

std::string demangled(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}

std::shared_ptr<KeyMapper>& globalKeyMapperSlot() {
    static std::shared_ptr<KeyMapper> slot;
    return slot;
}
std::mutex& globalKeyMapperMutex() {
    static std::mutex mutex;
    return mutex;
}
// Every import asks for the global mapper, and most programs never set one: without one the answer
// needs no lock.
std::atomic<bool> g_hasGlobalKeyMapper{false};

// The kind of Value that stands as it is in a property of a standard JSON class.
std::optional<Value::Type> plainValueType(std::string_view declared) {
    if (declared == "NSString")
        return Value::Type::String;
    if (declared == "NSNumber")
        return Value::Type::Number;
    if (declared == "NSArray")
        return Value::Type::Array;
    if (declared == "NSDictionary")
        return Value::Type::Dictionary;
    return std::nullopt;
}

// Reads one declared property's attribute text into a record, as inspection prescribes. Answers
// null when the property is not mapped (read-only, Ignore, ignored by the hook, a block).
std::shared_ptr<MappedModelClassProperty> inspectProperty(const MappedModelClass& modelClass,
                                                          const platform::PropertyInfo& info,
                                                          std::optional<std::string>& indexName) {
    auto record = std::make_shared<MappedModelClassProperty>();
    record->name = info.name;
    std::string_view attributes = info.attributes;

    for (const auto& field : platform::text::componentsSeparatedByString(attributes, ",")) {
        if (field == "R")
            return nullptr;
    }
    if (attributes.starts_with("Tc,"))
        record->structName = "BOOL";

    bool ignored = false;
    std::string typeName;
    std::string_view rest = attributes.starts_with('T') ? attributes.substr(1) : attributes;
    if (rest.starts_with("@\"")) {
        rest.remove_prefix(2);
        size_t end = rest.find_first_of("\"<");
        std::string className(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        typeName = className;
        if (!className.empty() && MappedModelRuntime::classExists(className))
            record->type = className;
        record->isMutable = className.find("Mutable") != std::string::npos;
        record->isStandardJSONType = record->type && MappedModelRuntime::isStandardJSONClass(*record->type);
        while (rest.starts_with('<')) {
            size_t close = rest.find('>');
            std::string protocol(
                rest.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
            rest = close == std::string_view::npos ? std::string_view() : rest.substr(close + 1);
            if (protocol == "Optional") {
                record->isOptional = true;
            } else if (protocol == "Index") {
                record->isIndex = true;
                indexName = record->name;
            } else if (protocol == "ConvertOnDemand") {
                record->convertsOnDemand = true;
            } else if (protocol == "Ignore") {
                ignored = true;
            } else {
                record->protocol = protocol;
            }
        }
        record->kind =
            record->type ? MappedModelClassProperty::Kind::Object : MappedModelClassProperty::Kind::Untyped;
    } else if (rest.starts_with('{')) {
        rest.remove_prefix(1);
        size_t length = 0;
        while (length < rest.size() && (std::isalnum(static_cast<unsigned char>(rest[length])) != 0))
            ++length;
        typeName = std::string(rest.substr(0, length));
        record->structName = typeName;
        record->isStandardJSONType = false;
        record->kind = MappedModelClassProperty::Kind::Struct;
    } else {
        std::string code(rest.substr(0, rest.find(',')));
        auto primitive = MappedModelRuntime::transformer().primitiveName(code);
        if (!primitive || std::find(kAllowedPrimitiveNames.begin(), kAllowedPrimitiveNames.end(),
                                    *primitive) == kAllowedPrimitiveNames.end()) {
            throw platform::Exception("MappedModelProperty type not allowed",
                                      fmt::format("Property type of {}.{} is not supported by MappedModel.",
                                                  modelClass.name, info.name));
        }
        typeName = *primitive;
        record->kind = record->structName ? MappedModelClassProperty::Kind::Struct
                                          : MappedModelClassProperty::Kind::Primitive;
    }

    const auto& hooks = modelClass.hooks;
    if (hooks.propertyIsOptional && hooks.propertyIsOptional(record->name))
        record->isOptional = true;
    if (hooks.propertyIsIgnored && hooks.propertyIsIgnored(record->name))
        ignored = true;
    if (auto protocol =
            hooks.protocolForArrayProperty ? hooks.protocolForArrayProperty(record->name) : std::nullopt)
        record->protocol = std::move(protocol);
    if (typeName == "Block" || ignored)
        return nullptr;
    return record;
}

} // namespace

// ---- MappedModelClass ----
const MappedModelTable& MappedModelClass::table() {
    if (auto* ready = m_ready.load(std::memory_order_acquire))
        return *ready;
    std::lock_guard lock(m_mutex);
    if (!m_table) {
        m_table = inspect(); // may raise: then nothing is kept and the next use inspects again
        m_ready.store(m_table.get(), std::memory_order_release);
    }
    return *m_table;
}

std::shared_ptr<const MappedModelTable> MappedModelClass::inspect() {
    auto table = std::make_shared<MappedModelTable>();
    if (name == kBaseClassName)
        return table;
    auto& classes = platform::ClassRegistry::shared();
    std::string visiting = name;
    for (int depth = 0; depth < 256 && !visiting.empty() && visiting != kBaseClassName; ++depth) {
        auto info = classes.classNamed(visiting);
        if (!info)
            break;
        for (const auto& declared : info->properties) {
            auto record = inspectProperty(*this, declared, table->indexPropertyName);
            if (!record || table->indexOf.contains(record->name))
                continue;
            MappedModelSlot slot;
            slot.isModelType = record->type && MappedModel::isMappedModelSubClass(*record->type);
            if (record->isStandardJSONType && !record->isMutable)
                slot.plainType = plainValueType(*record->type);
            slot.property = std::move(record);
            slot.getter = declared.getter;
            slot.setter = declared.setter;
            slot.readsNil = declared.readsNil;
            table->indexOf.emplace(slot.property->name, table->slots.size());
            table->slots.push_back(std::move(slot));
        }
        visiting = info->superclassName;
    }
    for (size_t index = 0; index < table->slots.size(); ++index) {
        if (!table->slots[index].property->isOptional)
            table->requiredSlots.push_back(index);
    }
    std::sort(table->requiredSlots.begin(), table->requiredSlots.end(), [&](size_t a, size_t b) {
        return table->slots[a].property->name < table->slots[b].property->name;
    });
    for (size_t index : table->requiredSlots)
        table->requiredNames.push_back(table->slots[index].property->name);
    return table;
}

void MappedModelClass::offerKeyMapper() {
    if (m_hasKeyMapper.load(std::memory_order_acquire) || !hooks.keyMapper)
        return;
    auto mapper = hooks.keyMapper();
    if (!mapper)
        return;
    std::lock_guard lock(m_mutex);
    if (!m_keyMapper) {
        m_keyMapper = std::move(mapper);
        m_hasKeyMapper.store(true, std::memory_order_release);
    }
}

std::shared_ptr<KeyMapper> MappedModelClass::keyMapper() const {
    return m_hasKeyMapper.load(std::memory_order_acquire) ? m_keyMapper : nullptr;
}

const MappedModelImportPlan* MappedModelClass::importPlan(const std::shared_ptr<KeyMapper>& classMapper,
                                                          const std::shared_ptr<KeyMapper>& globalMapper) {
    constexpr size_t kKeptPlans = 8;
    const uint64_t generation = MappedModelRuntime::generation();
    auto matches = [&](const MappedModelImportPlan& plan) {
        return plan.classMapper == classMapper && plan.globalMapper == globalMapper &&
               plan.generation == generation;
    };
    if (auto* last = m_lastPlan.load(std::memory_order_acquire); last && matches(*last))
        return last;
    // Null with `full` set when no plan matches and no more are kept.
    auto kept = [&](bool& full) -> const MappedModelImportPlan* {
        auto found =
            std::find_if(m_plans.begin(), m_plans.end(), [&](const auto& plan) { return matches(*plan); });
        full = found == m_plans.end() && m_plans.size() == kKeptPlans;
        if (found == m_plans.end())
            return nullptr;
        m_lastPlan.store(found->get(), std::memory_order_release);
        return found->get();
    };
    bool full = false;
    {
        std::lock_guard lock(m_mutex);
        if (auto* plan = kept(full); plan || full)
            return plan;
    }
    // Made outside the lock: the mappers run the program's own functions.
    auto made = std::make_unique<const MappedModelImportPlan>(makeImportPlan(classMapper, globalMapper));
    if (made->generation != generation)
        return nullptr; // a class was registered meanwhile: the plan may not match what was asked
    std::lock_guard lock(m_mutex);
    if (auto* plan = kept(full); plan || full)
        return plan;
    m_plans.push_back(std::move(made));
    m_lastPlan.store(m_plans.back().get(), std::memory_order_release);
    return m_plans.back().get();
}

const MappedModelMethod* MappedModelClass::method(std::string_view selector) const {
    auto it = methods.find(selector);
    return it == methods.end() ? nullptr : &it->second;
}

// ---- MappedModelRuntime ----
std::shared_ptr<MappedModelClass> MappedModelRuntime::classNamed(std::string_view name) {
    MappedModel::registerBaseClass();
    const auto& maps = currentMaps();
    auto it = maps.byName.find(name);
    return it == maps.byName.end() ? nullptr : it->second;
}

std::shared_ptr<MappedModelClass> MappedModelRuntime::classOfType(const std::type_info& type) {
    MappedModel::registerBaseClass();
    // Every import of a top-level model asks for its class: the thread's last answer saves the
    // hashing of the type's name while no registration came between.
    struct LastAnswer {
        uint64_t generation{0};
        const std::type_info* type{nullptr};
        std::shared_ptr<MappedModelClass> record;
    };
    thread_local LastAnswer last;
    const uint64_t now = generation();
    if (last.type == &type && last.generation == now)
        return last.record;
    const auto& maps = currentMaps();
    auto it = maps.byType.find(std::type_index(type));
    auto record = it == maps.byType.end() ? nullptr : it->second;
    last = LastAnswer{now, &type, record};
    return record;
}

uint64_t MappedModelRuntime::generation() {
    return registry().generation.load(std::memory_order_acquire);
}

std::shared_ptr<MappedModelClass> MappedModelRuntime::classOf(const MappedModel& model) {
    if (auto record = classOfType(typeid(model)))
        return record;
    throw platform::Exception(
        platform::NSInternalInconsistencyException,
        fmt::format("{} is not a registered MappedModel class", demangled(typeid(model))));
}

void MappedModelRuntime::add(std::shared_ptr<MappedModelClass> record, const std::type_info& type) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    auto maps = std::make_shared<RegistryMaps>(*r.maps);
    for (auto it = maps->byType.begin(); it != maps->byType.end();) {
        it = it->second->name == record->name ? maps->byType.erase(it) : std::next(it);
    }
    maps->byType[std::type_index(type)] = record;
    maps->byName[record->name] = std::move(record);
    r.maps = std::move(maps);
    r.generation.fetch_add(1, std::memory_order_release);
}

const ValueTransformer& MappedModelRuntime::transformer() {
    static const ValueTransformer shared;
    return shared;
}

bool MappedModelRuntime::classExists(std::string_view name) {
    return valueClasses().contains(name) || classNamed(name) ||
           platform::ClassRegistry::shared().classNamed(name);
}

bool MappedModelRuntime::isKindOfClass(std::string_view name, std::string_view ofName) {
    std::optional<std::string> current(name);
    for (int depth = 0; depth < 256 && current; ++depth) {
        if (*current == ofName)
            return true;
        current = superclassNamed(*current);
    }
    return false;
}

std::string MappedModelRuntime::classNameOfValue(const Value& value) {
    switch (value.type()) {
    case Value::Type::Nil:
        return {};
    case Value::Type::Null:
        return "NSNull";
    case Value::Type::Number:
        return value.number()->kind() == platform::Number::Kind::Decimal ? "NSDecimalNumber" : "NSNumber";
    case Value::Type::String:
        return "NSString";
    case Value::Type::Data:
        return "NSData";
    case Value::Type::Date:
        return "NSDate";
    case Value::Type::URL:
        return "NSURL";
    case Value::Type::Array:
        return "NSArray";
    case Value::Type::Dictionary:
        return "NSDictionary";
    case Value::Type::Set:
        return "NSSet";
    case Value::Type::Object:
        return value.object()->className();
    }
    return {};
}

bool MappedModelRuntime::isStandardJSONClass(std::string_view name) {
    return std::find(kAllowedJSONClasses.begin(), kAllowedJSONClasses.end(), name) !=
           kAllowedJSONClasses.end();
}

bool MappedModelRuntime::isAllowedJSONValue(const Value& value) {
    switch (value.type()) {
    case Value::Type::Null:
    case Value::Type::Number:
    case Value::Type::String:
    case Value::Type::Array:
    case Value::Type::Dictionary:
        return true;
    case Value::Type::Object: {
        auto name = value.object()->className();
        return std::any_of(kAllowedJSONClasses.begin(), kAllowedJSONClasses.end(),
                           [&](std::string_view allowed) { return isKindOfClass(name, allowed); });
    }
    default:
        return false;
    }
}

// ---- MappedModel: registration and the class side ----
MappedModel::MappedModel() = default;
MappedModel::~MappedModel() = default;

void MappedModel::registerBaseClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        platform::ClassRegistry::shared().registerClass<MappedModel>(kBaseClassName, "NSObject");
        auto record = std::make_shared<MappedModelClass>();
        record->name = kBaseClassName;
        record->factory = [] { return std::make_shared<MappedModel>(); };
        record->hooks.keyMapper = [] { return MappedModel::keyMapper(); };
        record->hooks.propertyIsOptional = [](std::string_view n) {
            return MappedModel::propertyIsOptional(n);
        };
        record->hooks.propertyIsIgnored = [](std::string_view n) {
            return MappedModel::propertyIsIgnored(n);
        };
        record->hooks.protocolForArrayProperty = [](std::string_view n) {
            return MappedModel::protocolForArrayProperty(n);
        };
        MappedModelRuntime::add(std::move(record), typeid(MappedModel));
    });
}

void MappedModel::registerModelClass(std::string name, const std::type_info& type,
                                     const std::type_info& superType,
                                     std::function<std::shared_ptr<MappedModel>()> factory, Hooks hooks,
                                     std::vector<platform::PropertyInfo> properties,
                                     std::vector<MappedModelMethod> methods,
                                     std::vector<std::string> protocols) {
    registerBaseClass();
    auto super = MappedModelRuntime::classOfType(superType);
    if (!super) {
        throw platform::Exception(
            platform::NSInternalInconsistencyException,
            fmt::format("The superclass of {} ({}) is not a registered MappedModel class", name,
                        demangled(superType)));
    }
    auto record = std::make_shared<MappedModelClass>();
    record->name = name;
    record->superclassName = super->name;
    record->factory = factory;
    record->hooks = std::move(hooks);
    record->methods = super->methods;
    for (auto& method : methods)
        record->methods.insert_or_assign(method.selector, std::move(method));

    platform::ClassInfo info;
    info.name = name;
    info.superclassName = super->name;
    info.type = std::type_index(type);
    if (factory)
        info.factory = [factory] { return std::static_pointer_cast<platform::Object>(factory()); };
    info.protocols = std::move(protocols);
    info.properties = std::move(properties);
    platform::ClassRegistry::shared().registerClass(std::move(info));
    MappedModelRuntime::add(std::move(record), type);
}

std::string MappedModel::classNameOfType(const std::type_info& type) {
    if (auto record = MappedModelRuntime::classOfType(type))
        return record->name;
    if (auto info = platform::ClassRegistry::shared().classOf(type))
        return info->name;
    return demangled(type);
}

bool MappedModel::validate(platform::ErrorPtr*) {
    return true;
}

void MappedModel::setGlobalKeyMapper(std::shared_ptr<KeyMapper> mapper) {
    std::lock_guard lock(globalKeyMapperMutex());
    g_hasGlobalKeyMapper.store(mapper != nullptr, std::memory_order_release);
    globalKeyMapperSlot() = std::move(mapper);
}

std::shared_ptr<KeyMapper> MappedModel::globalKeyMapper() {
    if (!g_hasGlobalKeyMapper.load(std::memory_order_acquire))
        return nullptr;
    std::lock_guard lock(globalKeyMapperMutex());
    return globalKeyMapperSlot();
}

MappedModel::PropertyList MappedModel::propertiesOfClass(std::string_view className) {
    auto record = MappedModelRuntime::classNamed(className);
    if (!record)
        return {};
    PropertyList list;
    for (const auto& slot : record->table().slots)
        list.push_back(slot.property);
    return list;
}

std::optional<std::string> MappedModel::indexPropertyNameOfClass(std::string_view className) {
    auto record = MappedModelRuntime::classNamed(className);
    return record ? record->table().indexPropertyName : std::nullopt;
}

bool MappedModel::isMappedModelSubClass(std::string_view className) {
    return MappedModelRuntime::classNamed(className) != nullptr;
}

MappedModel::PropertyList MappedModel::properties() const {
    auto record = MappedModelRuntime::classOf(*this);
    PropertyList list;
    for (const auto& slot : record->table().slots)
        list.push_back(slot.property);
    return list;
}

std::vector<std::string> MappedModel::requiredPropertyNames() const {
    return MappedModelRuntime::classOf(*this)->table().requiredNames;
}

std::shared_ptr<KeyMapper> MappedModel::classKeyMapper() const {
    auto modelClass = MappedModelRuntime::classOf(*this);
    modelClass->offerKeyMapper();
    return modelClass->keyMapper();
}

std::optional<std::string> MappedModel::indexPropertyName() const {
    return MappedModelRuntime::classOf(*this)->table().indexPropertyName;
}

Value MappedModel::valueForKey(std::string_view name) const {
    auto record = MappedModelRuntime::classOf(*this);
    auto& classes = platform::ClassRegistry::shared();
    for (auto info = classes.classNamed(record->name); info; info = classes.superclassOf(*info)) {
        for (const auto& property : info->properties) {
            if (property.name == name && property.getter)
                return property.getter(*this);
        }
    }
    return {};
}

bool MappedModel::setValueForKey(const Value& value, std::string_view name) {
    auto record = MappedModelRuntime::classOf(*this);
    auto& classes = platform::ClassRegistry::shared();
    for (auto info = classes.classNamed(record->name); info; info = classes.superclassOf(*info)) {
        for (const auto& property : info->properties) {
            if (property.name == name && property.setter) {
                property.setter(*this, value);
                return true;
            }
        }
    }
    return false;
}

bool MappedModel::respondsTo(std::string_view selector) const {
    auto record = MappedModelRuntime::classOfType(typeid(*this));
    auto* method = record ? record->method(selector) : nullptr;
    return method && (method->setter || method->getter);
}

// ---- Identity ----
bool MappedModel::isEqual(const platform::Object& other) const {
    if (typeid(other) != typeid(*this))
        return false;
    auto index = indexPropertyName();
    if (!index)
        return &other == this;
    Value mine = valueForKey(*index);
    if (mine.isNil())
        return false;
    return mine == static_cast<const MappedModel&>(other).valueForKey(*index);
}

int64_t MappedModel::compare(const MappedModel& other) const {
    auto index = indexPropertyName();
    if (!index)
        return 0;
    Value mine = valueForKey(*index);
    Value theirs = other.valueForKey(*index);
    std::partial_ordering order = std::partial_ordering::unordered;
    if (mine.number() && theirs.number())
        order = mine.number()->compare(*theirs.number());
    else if (mine.string() && theirs.string())
        order = platform::text::toUTF16(*mine.string()) <=> platform::text::toUTF16(*theirs.string());
    else if (mine.date() && theirs.date())
        order = *mine.date() <=> *theirs.date();
    if (order == std::partial_ordering::less)
        return -1;
    if (order == std::partial_ordering::greater)
        return 1;
    return 0;
}

size_t MappedModel::hash() const {
    if (auto index = indexPropertyName()) {
        Value value = valueForKey(*index);
        if (!value.isNil())
            return value.hash();
    }
    return std::hash<const void*>()(this);
}
