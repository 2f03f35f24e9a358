#include "app/core/ServiceModels.h"

#include "platform/foundation/ClassRegistry.h"

namespace {

// The declaration macros paste these into the attribute text, so they are literals.
#define kText "@\"NSString<Optional>\""
#define kNumber "@\"NSNumber<Optional>\""
#define kDictionary "@\"NSDictionary<Optional>\""
#define kUser "@\"UserModel<Optional>\""

// A text property whose getter has rules of its own (a placeholder, a fixed text): export and
// reading by key go through that getter, as they would through the property's accessor.
template <typename C, std::string (C::*Getter)()>
platform::PropertyInfo textPropertyWithGetter(std::string name, std::optional<std::string> C::*member) {
    auto info = MappedModel::property(name, std::string("T") + kText + ",&,N,V_" + name, member);
    info.getter = [](const platform::Object& object) {
        // Models live in shared_ptrs and are never const objects, so the storing getter may run
        // behind a const reference (the runtime reads every property that way).
        return platform::Value((const_cast<C&>(static_cast<const C&>(object)).*Getter)());
    };
    return info;
}

} // namespace

void registerServiceModels() {
    MappedModel::registerModel<UserModel>("UserModel", {
                                                           MAPPED_PROPERTY(UserModel, avatar, kText),
                                                           MAPPED_PROPERTY(UserModel, email, kText),
                                                           MAPPED_PROPERTY(UserModel, mobile, kText),
                                                           MAPPED_PROPERTY(UserModel, nick, kText),
                                                           MAPPED_PROPERTY(UserModel, uid, kNumber),
                                                           MAPPED_PROPERTY(UserModel, isAnchor, kNumber),
                                                           MAPPED_PROPERTY(UserModel, money, kNumber),
                                                           MAPPED_PROPERTY(UserModel, neiku, kNumber),
                                                           MAPPED_PROPERTY(UserModel, nextRankScore, kNumber),
                                                           MAPPED_PROPERTY(UserModel, rank, kNumber),
                                                           MAPPED_PROPERTY(UserModel, score, kNumber),
                                                           MAPPED_PROPERTY(UserModel, superAdmin, kNumber),
                                                           MAPPED_PROPERTY(UserModel, unreadMsg, kNumber),
                                                       });
    MappedModel::registerModel<RoomModel>(
        "RoomModel", {
                         MAPPED_PROPERTY(RoomModel, uid, kText),
                         textPropertyWithGetter<RoomModel, &RoomModel::title>("title", &RoomModel::m_title),
                         MAPPED_PROPERTY(RoomModel, nick, kText),
                         MAPPED_PROPERTY(RoomModel, category_id, kText),
                         MAPPED_PROPERTY(RoomModel, category_name, kText),
                         MAPPED_PROPERTY(RoomModel, view, kText),
                         MAPPED_PROPERTY(RoomModel, follow, kNumber),
                         MAPPED_PROPERTY(RoomModel, slug, kText),
                         MAPPED_PROPERTY(RoomModel, announcement, kText),
                         MAPPED_PROPERTY(RoomModel, categoryId, kText),
                         MAPPED_PROPERTY(RoomModel, intro, kText),
                         textPropertyWithGetter<RoomModel, &RoomModel::categoryName>(
                             "categoryName", &RoomModel::m_categoryName),
                     });
    MappedModel::registerModel<SecretKeyModel>("SecretKeyModel",
                                               {
                                                   MAPPED_PROPERTY(SecretKeyModel, server, kText),
                                                   MAPPED_PROPERTY(SecretKeyModel, secretKey, kText),
                                               });
    MappedModel::registerModel<CategoryListModel>("CategoryListModel",
                                                  {
                                                      MAPPED_PROPERTY(CategoryListModel, category_id, kText),
                                                      MAPPED_PROPERTY(CategoryListModel, thumb, kText),
                                                      MAPPED_PROPERTY(CategoryListModel, name, kText),
                                                      MAPPED_PROPERTY(CategoryListModel, image, kText),
                                                      MAPPED_PROPERTY(CategoryListModel, categoryId, kText),
                                                      MAPPED_PROPERTY(CategoryListModel, categoryName, kText),
                                                  });
    MappedModel::registerModel<ChatModel>(
        "ChatModel", {
                         textPropertyWithGetter<ChatModel, &ChatModel::text>("text", &ChatModel::m_text),
                         MAPPED_PROPERTY(ChatModel, customColor, kText),
                         MAPPED_PROPERTY(ChatModel, room, kText),
                         MAPPED_PROPERTY(ChatModel, time, kNumber),
                         MAPPED_PROPERTY(ChatModel, type, kNumber),
                         MAPPED_PROPERTY(ChatModel, user, kUser),
                     });
    MappedModel::registerModel<RoomChatModel>("RoomChatModel",
                                              {
                                                  MAPPED_PROPERTY(RoomChatModel, rid, kText),
                                                  MAPPED_PROPERTY(RoomChatModel, os, kNumber),
                                                  MAPPED_PROPERTY(RoomChatModel, pid, kNumber),
                                                  MAPPED_PROPERTY(RoomChatModel, chat, kDictionary),
                                              });
    platform::ClassRegistry::shared().registerClass<ResolutionDataModel>("ResolutionDataModel", "NSObject");
}
