#pragma once
// A fresh application state for one test, and "a new launch" on the same home: the state and the
// user defaults forgotten, so the next use reads back what the last one stored.

#include "app/core/CommonData.h"
#include "app/core/ServiceModels.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/UserDefaults.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace liveapp::test {

class CommonDataFixture : public testing::Test {
protected:
    void SetUp() override {
        registerServiceModels();
        relaunch();
    }
    void TearDown() override {
        CommonData::resetSharedInstanceForTesting();
        platform::UserDefaults::resetStandardForTesting();
    }

    static void relaunch() {
        CommonData::resetSharedInstanceForTesting();
        platform::UserDefaults::resetStandardForTesting();
    }

    static std::shared_ptr<CommonData> data() { return CommonData::sharedInstance(); }

    static std::shared_ptr<UserModel> user(std::string_view json) {
        return UserModel::initWithDictionary(
            platform::JSONSerialization::JSONObjectWithData(platform::Data(json)));
    }
    static std::shared_ptr<UserModel> userWithId(int64_t uid) {
        auto model = std::make_shared<UserModel>();
        model->uid = platform::Value(uid);
        model->nick = "anchor";
        return model;
    }
    static std::shared_ptr<SecretKeyModel> key(std::optional<std::string> secretKey,
                                               std::optional<std::string> server = std::nullopt) {
        auto model = std::make_shared<SecretKeyModel>();
        model->secretKey = std::move(secretKey);
        model->server = std::move(server);
        return model;
    }
};

} // namespace liveapp::test
