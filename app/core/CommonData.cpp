#include "app/core/CommonData.h"

#include "app/core/ServiceModels.h"
#include "app/core/UserDefaultsAccess.h"
#include "platform/foundation/Paths.h"

#include <mutex>

namespace {

constexpr const char* kBeautyEffectKey = "beatyEffect";

std::mutex& sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<CommonData>& sharedSlot() {
    static std::shared_ptr<CommonData> shared;
    return shared;
}

} // namespace

std::shared_ptr<CommonData> CommonData::sharedInstance() {
    std::lock_guard lock(sharedMutex());
    auto& shared = sharedSlot();
    if (!shared)
        shared = std::make_shared<CommonData>(PrivateTag());
    return shared;
}

void CommonData::resetSharedInstanceForTesting() {
    std::shared_ptr<CommonData> old;
    {
        std::lock_guard lock(sharedMutex());
        old = std::move(sharedSlot());
    }
}

CommonData::CommonData(PrivateTag)
    : m_userDefaults(platform::UserDefaults::standardUserDefaults()) {
    // The records are archives of the service's models: their classes must be known before the
    // first one is read, whoever made the state first.
    static std::once_flag registered;
    std::call_once(registered, registerServiceModels);
}

CommonData::~CommonData() = default;

std::filesystem::path CommonData::systemDocumentsFolder() {
    return platform::Paths::documents();
}

bool CommonData::havingDataForKey(std::string_view key) const {
    return detail::havingDataForKey(*m_userDefaults, key);
}

void CommonData::setStringObject(const platform::Value& object, std::string_view key) {
    detail::setStringObject(*m_userDefaults, object, key);
}

platform::Value CommonData::stringObjectForKey(std::string_view key) const {
    return m_userDefaults->objectForKey(key);
}

void CommonData::setIntegerValue(int64_t value, std::string_view key) {
    detail::setIntegerValue(*m_userDefaults, value, key);
}

int64_t CommonData::integerValueForKey(std::string_view key) const {
    return m_userDefaults->integerForKey(key);
}

void CommonData::setBoolValue(bool value, std::string_view key) {
    detail::setBoolValue(*m_userDefaults, value, key);
}

bool CommonData::boolValueForKey(std::string_view key) const {
    return m_userDefaults->boolForKey(key);
}

void CommonData::setBeatyEffect(float bright, float smooth, float pink) {
    setStringObject(platform::Value(platform::ValueDictionary{
                        {"bright", platform::Value(bright)},
                        {"smooth", platform::Value(smooth)},
                        {"pink", platform::Value(pink)},
                    }),
                    kBeautyEffectKey);
}

namespace {

double beautyLevel(const platform::UserDefaults& defaults, std::string_view name) {
    auto levels = defaults.dictionaryForKey(kBeautyEffectKey);
    return levels ? levels->get(name).doubleOr(0.0) : 0.0;
}

} // namespace

double CommonData::bright() const {
    return beautyLevel(*m_userDefaults, "bright");
}

double CommonData::smooth() const {
    return beautyLevel(*m_userDefaults, "smooth");
}

double CommonData::pink() const {
    return beautyLevel(*m_userDefaults, "pink");
}
