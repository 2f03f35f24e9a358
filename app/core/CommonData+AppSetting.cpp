#include "app/core/AppSetting.h"
#include "app/core/CommonData.h"

std::shared_ptr<AppSetting> CommonData::appSetting() {
    return sharedInstance()->ownAppSetting();
}

void CommonData::setAppSetting(std::shared_ptr<AppSetting> setting) {
    m_appSetting = std::move(setting);
}

std::shared_ptr<AppSetting> CommonData::ownAppSetting() {
    if (!m_appSetting)
        m_appSetting = std::make_shared<AppSetting>();
    return m_appSetting;
}
