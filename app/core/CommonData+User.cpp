#include "app/core/AppConfiguration.h"
#include "app/core/CommonData.h"
#include "app/core/RequestService.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"

#include <system_error>

namespace {

constexpr uint64_t kSecretKeyFallbackFailures = 4;

// An archive of nothing is no file: it reads back as nil, like a record that was never written.
void archive(const platform::ObjectPtr& root, const std::filesystem::path& path) {
    if (root) {
        platform::KeyedArchiver::archiveRootObject(root, path);
    } else {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
}

template <typename T> std::shared_ptr<T> unarchive(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error))
        return nullptr;
    return std::dynamic_pointer_cast<T>(platform::KeyedUnarchiver::unarchiveObjectWithFile(path));
}

std::optional<std::string> firstLiveKey(const std::shared_ptr<UserModel>& user) {
    auto uid = user ? user->uidText() : std::nullopt;
    if (!uid)
        return std::nullopt;
    return "User_" + *uid;
}

} // namespace

void CommonData::setLoginUser(std::shared_ptr<UserModel> user) {
    m_loginUser = std::move(user);
    saveLoginUser();
}

void CommonData::setRoomInfo(std::shared_ptr<RoomModel> room) {
    m_roomInfo = std::move(room);
    saveRoomInfo();
}

void CommonData::setSecretKeyModel(std::shared_ptr<SecretKeyModel> key) {
    m_secretKeyModel = std::move(key);
    saveLocalSecretKey();
}

uint64_t CommonData::secretKeyFailedTimes() {
    if (!m_secretKeyFailedTimes)
        m_secretKeyFailedTimes = 0;
    return *m_secretKeyFailedTimes;
}

void CommonData::setSecretKeyFailedTimes(uint64_t times) {
    m_secretKeyFailedTimes = times;
}

std::filesystem::path CommonData::userPersistentFilePath() const {
    return systemDocumentsFolder() / ".user.persistent";
}

std::filesystem::path CommonData::roomInfoPersistentFilePath() const {
    return systemDocumentsFolder() / ".room.persistent";
}

std::filesystem::path CommonData::secretKeyPersistentFilePath() const {
    return systemDocumentsFolder() / ".secret_key.persistent";
}

void CommonData::loadLoginUser() {
    setLoginUser(readLoginUser());
}

std::shared_ptr<UserModel> CommonData::readLoginUser() const {
    return unarchive<UserModel>(userPersistentFilePath());
}

void CommonData::loadRoomInfo() {
    setRoomInfo(readRoomInfo());
}

std::shared_ptr<RoomModel> CommonData::readRoomInfo() const {
    return unarchive<RoomModel>(roomInfoPersistentFilePath());
}

void CommonData::readLocalSecretKey() {
    setSecretKeyModel(readSecretKey());
}

std::shared_ptr<SecretKeyModel> CommonData::readSecretKey() const {
    return unarchive<SecretKeyModel>(secretKeyPersistentFilePath());
}

void CommonData::saveLoginUser() {
    archive(m_loginUser, userPersistentFilePath());
}

void CommonData::saveRoomInfo() {
    archive(m_roomInfo, roomInfoPersistentFilePath());
}

void CommonData::saveLocalSecretKey() {
    archive(m_secretKeyModel, secretKeyPersistentFilePath());
}

bool CommonData::isFirstTimeLive() const {
    auto key = firstLiveKey(m_loginUser);
    return !key || !havingDataForKey(*key);
}

void CommonData::saveFirstTimeLive() {
    if (auto key = firstLiveKey(m_loginUser))
        setBoolValue(true, *key);
}

std::optional<std::string> CommonData::pushStreamInterface() const {
    if (!m_secretKeyModel || !m_secretKeyModel->secretKey)
        return std::nullopt;
    auto uid = m_loginUser ? m_loginUser->uidText() : std::nullopt;
    if (!uid)
        return std::nullopt;
    const std::string& key = *m_secretKeyModel->secretKey;
    if (m_secretKeyModel->server)
        return *m_secretKeyModel->server + "/" + *uid + "?key=" + key;
    return "rtmp://" + AppConfiguration::rtmpHost() + "/live/" + *uid + "?key=" + key;
}

void CommonData::requestSecretKey() {
    // A reply may arrive after a test reset replaced the shared instance; it then goes nowhere.
    std::weak_ptr<CommonData> weak = std::static_pointer_cast<CommonData>(shared_from_this());
    RequestService::requestSecretKeySuccess(
        [weak](const std::shared_ptr<SecretKeyModel>& key) {
            if (auto self = weak.lock())
                self->secretKeyRequestSucceeded(key);
        },
        [weak](const std::string&) {
            if (auto self = weak.lock())
                self->secretKeyRequestFailed();
        });
}

void CommonData::secretKeyRequestSucceeded(std::shared_ptr<SecretKeyModel> key) {
    // A success without a key would clear the key in use and overwrite the archived fallback.
    if (!key) {
        secretKeyRequestFailed();
        return;
    }
    setSecretKeyModel(std::move(key));
    setSecretKeyFailedTimes(0);
}

void CommonData::secretKeyRequestFailed() {
    uint64_t failures = secretKeyFailedTimes() + 1;
    setSecretKeyFailedTimes(failures);
    if (failures < kSecretKeyFallbackFailures)
        return;
    // An empty or unreadable archive must not take away a key we still hold.
    if (auto archived = readSecretKey())
        setSecretKeyModel(std::move(archived));
    setSecretKeyFailedTimes(0);
}
