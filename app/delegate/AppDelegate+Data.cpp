#include "app/core/CommonData.h"
#include "app/delegate/AppDelegate.h"

void AppDelegate::setupDataSource() {
    const auto& data = CommonData::sharedInstance();
    data->loadLoginUser();
    data->loadRoomInfo();
}
