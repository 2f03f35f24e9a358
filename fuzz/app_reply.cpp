// Reads any bytes as a reply of the service, the way the application decodes replies: the general
// decoding of RequestCore::requestResult for every service model class (and for none), the success
// code and the refusal's message, each operation's model imported from the reply or its "data", and
// a chat envelope with the line it carries. Beyond not crashing: requestResult answers once, with the
// raw bytes exactly when they are not JSON and only models of the class asked for; and every model
// that imports exports JSON that reads back and imports again.
#include "app/core/RequestCore.h"
#include "app/core/RequestService.h"
#include "app/core/ServiceModels.h"
#include "platform/foundation/JSONSerialization.h"

#include <cstdio>
#include <cstdlib>

using platform::Data;
using platform::Value;

namespace {

const char* const kModelClasses[] = {"UserModel", "RoomModel",     "CategoryListModel",
                                     "ChatModel", "RoomChatModel", "SecretKeyModel"};

void require(bool condition, const char* what, const char* detail = "") {
    if (!condition) {
        std::fprintf(stderr, "fuzz_app_reply: %s %s\n", what, detail);
        std::abort();
    }
}

void requireRoundTrip(const std::shared_ptr<MappedModel>& model, const char* className) {
    if (!model)
        return;
    require(model->isKindOf(className), "a model of another class", className);
    auto exported = model->toJSONData();
    require(exported.has_value(), "an imported model does not export", className);
    Value again = platform::JSONSerialization::JSONObjectWithData(*exported, 0);
    require(again.isDictionary(), "an export that does not read back as an object", className);
    require(MappedModel::initWithDictionary(className, again) != nullptr, "an export that does not import",
            className);
}

void decodeGenerally(const Data& data, bool isJSON) {
    for (const char* className : kModelClasses) {
        int answers = 0;
        RequestCore::requestResult(
            data,
            [&](const Value& result) {
                ++answers;
                if (!isJSON) {
                    require(result.data() && *result.data() == data, "bytes that are not JSON changed");
                } else if (result.isObject()) {
                    requireRoundTrip(result.objectAs<MappedModel>(), className);
                } else if (auto* models = result.array()) {
                    for (const Value& model : *models)
                        require(model.isObject() && model.object()->isKindOf(className),
                                "an array holding something else than models", className);
                }
            },
            className);
        require(answers == 1, "requestResult must answer exactly once");
    }
    RequestCore::requestResult(
        data, [](const Value&) {}, std::nullopt);
    RequestCore::requestResult(
        data, [](const Value&) {}, "NotAModelClass");
}

void decodeAsOperations(const Value& reply) {
    (void)RequestService::isSuccessCode(reply);
    (void)RequestService::errorMessage(reply);
    requireRoundTrip(UserModel::initWithDictionary(reply["data"]), "UserModel");
    requireRoundTrip(RoomModel::initWithDictionary(reply), "RoomModel");
    requireRoundTrip(RoomModel::initWithDictionary(reply["data"]), "RoomModel");
    requireRoundTrip(SecretKeyModel::initWithDictionary(reply["data"]), "SecretKeyModel");
    if (auto* list = reply["data"].array()) {
        for (const Value& element : *list)
            requireRoundTrip(CategoryListModel::initWithDictionary(element), "CategoryListModel");
    }
    if (auto envelope = RoomChatModel::initWithDictionary(reply)) {
        requireRoundTrip(envelope, "RoomChatModel");
        if (auto line = envelope->chatModel()) {
            (void)line->text();
            (void)line->chatRoomType();
            requireRoundTrip(line, "ChatModel");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    static bool registered = (registerServiceModels(), true);
    (void)registered;
    Data data(bytes, size);
    Value reply =
        platform::JSONSerialization::JSONObjectWithData(data, platform::NSJSONReadingMutableContainers);
    decodeGenerally(data, !reply.isNil());
    decodeAsOperations(reply);
    return 0;
}
