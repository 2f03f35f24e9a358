#include "app/core/CommonData.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Text.h"

#include <system_error>

namespace {

bool boolOf(const platform::Value& value) {
    if (auto* number = value.number())
        return number->boolValue();
    if (auto* text = value.string())
        return platform::text::boolValue(*text);
    return false;
}

double doubleOf(const platform::Value& value) {
    if (auto* number = value.number())
        return number->doubleValue();
    if (auto* text = value.string())
        return platform::text::doubleValue(*text);
    return 0.0;
}

} // namespace

platform::Value CommonData::configDictionary() const {
    auto path = platform::Bundle::mainBundle()->pathForResource("LiveParameters_new", "plist");
    if (!path)
        return {};
    platform::Value plist = platform::PropertyList::readFile(*path);
    return plist.isDictionary() ? plist : platform::Value();
}

bool CommonData::isAlwaysLogin() const {
    return boolOf(configDictionary()["AlwaysLogin"]);
}

bool CommonData::shouldSkipCellphoneIdentifying() const {
    return boolOf(configDictionary()["SkipCellphoneIdentifying"]);
}

float CommonData::liveRoomRefreshingInterval() const {
    return static_cast<float>(doubleOf(configDictionary()["LiveRoomRefreshingInterval"]));
}

const std::vector<std::shared_ptr<ResolutionDataModel>>& CommonData::resolutionDataSource() {
    if (!m_resolutionDataSource)
        m_resolutionDataSource = readResolutionDataSource();
    return *m_resolutionDataSource;
}

std::vector<std::shared_ptr<ResolutionDataModel>> CommonData::readResolutionDataSource() const {
    std::vector<std::shared_ptr<ResolutionDataModel>> presets;
    const platform::Value config = configDictionary();
    if (auto* entries = config["Resolution"].array()) {
        for (const auto& entry : *entries) {
            if (!entry.isDictionary())
                continue;
            auto preset = std::make_shared<ResolutionDataModel>();
            preset->setValuesForKeysWithDictionary(entry);
            presets.push_back(std::move(preset));
        }
    }
    return presets;
}

std::shared_ptr<ResolutionDataModel> CommonData::resolutionData() {
    if (!m_resolutionData) {
        if (auto preset = readResolutionData())
            setResolutionData(std::move(preset));
    }
    return m_resolutionData;
}

void CommonData::setResolutionData(std::shared_ptr<ResolutionDataModel> preset) {
    m_resolutionData = std::move(preset);
    saveResolutionData();
}

std::shared_ptr<ResolutionDataModel> CommonData::readResolutionData() {
    std::error_code error;
    if (std::filesystem::exists(resolutionPersistentFilePath(), error)) {
        if (auto archived = std::dynamic_pointer_cast<ResolutionDataModel>(
                platform::KeyedUnarchiver::unarchiveObjectWithFile(resolutionPersistentFilePath())))
            return archived;
    }
    const auto& presets = resolutionDataSource();
    return presets.empty() ? nullptr : presets.front();
}

void CommonData::saveResolutionData() {
    if (m_resolutionData) {
        platform::KeyedArchiver::archiveRootObject(m_resolutionData, resolutionPersistentFilePath());
    } else {
        std::error_code ignored;
        std::filesystem::remove(resolutionPersistentFilePath(), ignored);
    }
}

std::filesystem::path CommonData::resolutionPersistentFilePath() const {
    return systemDocumentsFolder() / ".resolution.persistent";
}
