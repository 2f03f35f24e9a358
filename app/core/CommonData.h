#pragma once
// CommonData: the application-wide state. It holds the logged-in user, the anchor's room, the stream
// key with its failure count, the chosen resolution preset and the presets, answers the live
// parameters ("LiveParameters_new.plist" among the resources, read at every query), and owns the
// local records: four keyed archives in the documents folder (".user.persistent",
// ".room.persistent", ".secret_key.persistent", ".resolution.persistent") and a few user defaults
// (the first-live flag per user, the beauty levels).
//
// Threads: sharedInstance() may be called from any thread; everything else belongs to the main
// thread (screens and the service's main-queue completions). Setters of the user, room, key and
// preset archive at once; user-default writes synchronise at once. Archive writes report nothing.

#include "app/core/ResolutionDataModel.h"
#include "app/core/RoomModel.h"
#include "app/core/SecretKeyModel.h"
#include "app/core/UserModel.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class AppSetting;

class CommonData : public platform::Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    static std::shared_ptr<CommonData> sharedInstance();
    // Making a CommonData yields the shared instance.
    static std::shared_ptr<CommonData> create() { return sharedInstance(); }
    // Tests: forget the shared instance, so the next sharedInstance() starts as a new process would
    // (it reads the same home's records and defaults).
    static void resetSharedInstanceForTesting();

    explicit CommonData(PrivateTag);
    ~CommonData() override;

    const std::shared_ptr<platform::UserDefaults>& userDefaults() const { return m_userDefaults; }
    static std::filesystem::path systemDocumentsFolder();

    // User-defaults helpers; setters synchronise.
    bool havingDataForKey(std::string_view key) const;
    void setStringObject(const platform::Value& object, std::string_view key);
    platform::Value stringObjectForKey(std::string_view key) const;
    void setIntegerValue(int64_t value, std::string_view key);
    int64_t integerValueForKey(std::string_view key) const;
    void setBoolValue(bool value, std::string_view key);
    bool boolValueForKey(std::string_view key) const;

    // Beauty levels under "beatyEffect" ({"bright", "smooth", "pink"}); 0.0 when absent.
    void setBeatyEffect(float bright, float smooth, float pink);
    double bright() const;
    double smooth() const;
    double pink() const;

    // ---- User, room, stream key ----
    std::shared_ptr<UserModel> loginUser() const { return m_loginUser; }
    void setLoginUser(std::shared_ptr<UserModel> user); // nil is logout; archives either way
    std::shared_ptr<RoomModel> roomInfo() const { return m_roomInfo; }
    void setRoomInfo(std::shared_ptr<RoomModel> room);
    std::shared_ptr<SecretKeyModel> secretKeyModel() const { return m_secretKeyModel; }
    void setSecretKeyModel(std::shared_ptr<SecretKeyModel> key);
    uint64_t secretKeyFailedTimes();
    void setSecretKeyFailedTimes(uint64_t times);

    std::filesystem::path userPersistentFilePath() const;
    std::filesystem::path roomInfoPersistentFilePath() const;
    std::filesystem::path secretKeyPersistentFilePath() const;

    void loadLoginUser(); // setLoginUser(readLoginUser()), which rewrites what it read
    std::shared_ptr<UserModel> readLoginUser() const;
    void loadRoomInfo();
    std::shared_ptr<RoomModel> readRoomInfo() const;
    void readLocalSecretKey();
    std::shared_ptr<SecretKeyModel> readSecretKey() const;
    void saveLoginUser();
    void saveRoomInfo();
    void saveLocalSecretKey();

    // The first-live flag under "User_<uid>". Without a logged-in user id there is no key: the
    // answer is YES and saving does nothing.
    bool isFirstTimeLive() const;
    void saveFirstTimeLive();

    // "<server>/<uid>?key=<key>" when the key names a server, "rtmp://<ingest host>/live/<uid>?key=<key>"
    // when it does not; nothing without a key or without a logged-in user id.
    std::optional<std::string> pushStreamInterface() const;

    // Asks the service for the stream key. Success stores (and archives) it and resets the failure
    // count; each failure counts, and the fourth in a row restores the archived key (when the
    // archive holds one) and starts counting again.
    void requestSecretKey();
    // The two outcomes of requestSecretKey, for the service's completions (and tests).
    void secretKeyRequestSucceeded(std::shared_ptr<SecretKeyModel> key);
    void secretKeyRequestFailed();

    // ---- Live parameters and presets ----
    platform::Value configDictionary() const; // read anew at each call; nil when unreadable
    bool isAlwaysLogin() const;
    bool shouldSkipCellphoneIdentifying() const;
    float liveRoomRefreshingInterval() const;

    const std::vector<std::shared_ptr<ResolutionDataModel>>& resolutionDataSource();
    std::vector<std::shared_ptr<ResolutionDataModel>> readResolutionDataSource() const;
    // The chosen preset: the archived choice, else the first preset (which is then archived); null
    // when there are no presets.
    std::shared_ptr<ResolutionDataModel> resolutionData();
    void setResolutionData(std::shared_ptr<ResolutionDataModel> preset);
    std::shared_ptr<ResolutionDataModel> readResolutionData();
    void saveResolutionData();
    std::filesystem::path resolutionPersistentFilePath() const;

    // ---- Application settings (made on first use) ----
    static std::shared_ptr<AppSetting> appSetting();
    void setAppSetting(std::shared_ptr<AppSetting> setting);

private:
    std::shared_ptr<AppSetting> ownAppSetting();

    std::shared_ptr<platform::UserDefaults> m_userDefaults;
    std::shared_ptr<UserModel> m_loginUser;
    std::shared_ptr<RoomModel> m_roomInfo;
    std::shared_ptr<SecretKeyModel> m_secretKeyModel;
    std::optional<uint64_t> m_secretKeyFailedTimes;
    std::optional<std::vector<std::shared_ptr<ResolutionDataModel>>> m_resolutionDataSource;
    std::shared_ptr<ResolutionDataModel> m_resolutionData;
    std::shared_ptr<AppSetting> m_appSetting;
};
