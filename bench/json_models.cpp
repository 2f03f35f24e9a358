// Importing chat envelopes into models: 100,000 envelopes of the shape the chat server sends
// (RoomChatModel { chat: ChatModel { user: UserModel } }), each from its own JSON text as the chat
// client receives them. MappedModel import (parse into Values, then the declaration-driven mapping)
// is set beside a hand-written typed decoder of the same texts over the parser library: the gap is
// what the dynamic mapping costs per envelope. Each reports allocs, the operator new calls per envelope.
#include "AllocationCount.h"
#include "platform/foundation/JSONSerialization.h"

#include "json/MappedModel.h"
#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <simdjson.h>
#include <string>
#include <vector>

using platform::Value;

namespace {

constexpr int kEnvelopes = 100000;

class UserModel : public MappedModel {
    MAPPED_MODEL(UserModel)
public:
    std::optional<std::string> uid;
    std::optional<std::string> nickname;
    std::optional<std::string> avatar;
    Value level;
    static std::shared_ptr<KeyMapper> keyMapper() {
        static const auto mapper = std::make_shared<KeyMapper>(platform::ValueDictionary{{"id", "uid"}});
        return mapper;
    }
};

class ChatModel : public MappedModel {
    MAPPED_MODEL(ChatModel)
public:
    std::optional<std::string> content;
    Value type;
    Value timestamp;
    std::shared_ptr<UserModel> user;
};

class RoomChatModel : public MappedModel {
    MAPPED_MODEL(RoomChatModel)
public:
    std::optional<std::string> cmd;
    Value roomId;
    std::shared_ptr<ChatModel> chat;
};

void registerModels() {
    MappedModel::registerModel<UserModel>("UserModel",
                                          {
                                              MAPPED_PROPERTY(UserModel, uid, "@\"NSString<Optional>\""),
                                              MAPPED_PROPERTY(UserModel, nickname, "@\"NSString<Optional>\""),
                                              MAPPED_PROPERTY(UserModel, avatar, "@\"NSString<Optional>\""),
                                              MAPPED_PROPERTY(UserModel, level, "@\"NSNumber<Optional>\""),
                                          });
    MappedModel::registerModel<ChatModel>(
        "ChatModel", {
                         MAPPED_PROPERTY(ChatModel, content, "@\"NSString<Optional>\""),
                         MAPPED_PROPERTY(ChatModel, type, "@\"NSNumber<Optional>\""),
                         MAPPED_PROPERTY(ChatModel, timestamp, "@\"NSNumber<Optional>\""),
                         MAPPED_PROPERTY(ChatModel, user, "@\"UserModel<Optional>\""),
                     });
    MappedModel::registerModel<RoomChatModel>(
        "RoomChatModel", {
                             MAPPED_PROPERTY(RoomChatModel, cmd, "@\"NSString<Optional>\""),
                             MAPPED_PROPERTY(RoomChatModel, roomId, "@\"NSNumber<Optional>\""),
                             MAPPED_PROPERTY(RoomChatModel, chat, "@\"ChatModel<Optional>\""),
                         });
}

const std::vector<std::string>& envelopes() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> out;
        out.reserve(kEnvelopes);
        for (int i = 0; i < kEnvelopes; ++i) {
            out.push_back(fmt::format(
                R"({{"cmd":"chat","roomId":{},"chat":{{"content":"{}","type":{},"timestamp":{},)"
                R"("user":{{"id":"{}","nickname":"viewer{}","avatar":"http://127.0.0.1/a/{}.png","level":{}}}}}}})",
                880000 + i % 7, i % 3 ? "hello everyone, great stream tonight!" : "\\u6211\\u6765\\u4e86",
                i % 4, 1700000000 + i, 123456 + i, i % 1000, i % 500, i % 40));
        }
        return out;
    }();
    return texts;
}

void BM_MappedModelImport(benchmark::State& state) {
    registerModels();
    const auto& texts = envelopes();
    bench::AllocationCount allocations(state, kEnvelopes);
    for (auto _ : state) {
        int64_t imported = 0;
        for (const auto& text : texts) {
            auto envelope = RoomChatModel::initWithString(text);
            imported += envelope && envelope->chat && envelope->chat->user ? 1 : 0;
            benchmark::DoNotOptimize(envelope);
        }
        if (imported != kEnvelopes)
            state.SkipWithError("import failed");
    }
    state.SetItemsProcessed(state.iterations() * kEnvelopes);
}
BENCHMARK(BM_MappedModelImport)->Unit(benchmark::kMillisecond);

// Only the first half of an import: the texts parsed into Values, no models made.
void BM_ParseIntoValues(benchmark::State& state) {
    const auto& texts = envelopes();
    bench::AllocationCount allocations(state, kEnvelopes);
    for (auto _ : state) {
        for (const auto& text : texts) {
            Value value =
                platform::JSONSerialization::JSONObjectWithData(platform::Data(std::string_view(text)));
            benchmark::DoNotOptimize(value);
        }
    }
    state.SetItemsProcessed(state.iterations() * kEnvelopes);
}
BENCHMARK(BM_ParseIntoValues)->Unit(benchmark::kMillisecond);

// Only the second half: models made from the envelopes parsed beforehand.
void BM_ModelsFromValues(benchmark::State& state) {
    registerModels();
    std::vector<Value> parsed;
    parsed.reserve(kEnvelopes);
    for (const auto& text : envelopes())
        parsed.push_back(
            platform::JSONSerialization::JSONObjectWithData(platform::Data(std::string_view(text))));
    bench::AllocationCount allocations(state, kEnvelopes);
    for (auto _ : state) {
        for (const auto& value : parsed) {
            auto envelope = RoomChatModel::initWithDictionary(value);
            benchmark::DoNotOptimize(envelope);
        }
    }
    state.SetItemsProcessed(state.iterations() * kEnvelopes);
}
BENCHMARK(BM_ModelsFromValues)->Unit(benchmark::kMillisecond);

// The same envelopes decoded by hand into plain structs, for comparison.
struct User {
    std::string uid, nickname, avatar;
    int64_t level{0};
};
struct Chat {
    std::string content;
    int64_t type{0};
    int64_t timestamp{0};
    User user;
};
struct RoomChat {
    std::string cmd;
    int64_t roomId{0};
    Chat chat;
};

bool decode(simdjson::ondemand::parser& parser, const simdjson::padded_string& text, RoomChat& out) {
    simdjson::ondemand::document doc;
    if (parser.iterate(text).get(doc))
        return false;
    simdjson::ondemand::object root;
    if (doc.get_object().get(root))
        return false;
    for (auto field : root) {
        std::string_view key;
        if (field.unescaped_key().get(key))
            return false;
        if (key == "cmd") {
            std::string_view v;
            if (field.value().get_string().get(v))
                return false;
            out.cmd = v;
        } else if (key == "roomId") {
            if (field.value().get_int64().get(out.roomId))
                return false;
        } else if (key == "chat") {
            simdjson::ondemand::object chat;
            if (field.value().get_object().get(chat))
                return false;
            for (auto c : chat) {
                std::string_view ck;
                if (c.unescaped_key().get(ck))
                    return false;
                if (ck == "content") {
                    std::string_view v;
                    if (c.value().get_string().get(v))
                        return false;
                    out.chat.content = v;
                } else if (ck == "type") {
                    if (c.value().get_int64().get(out.chat.type))
                        return false;
                } else if (ck == "timestamp") {
                    if (c.value().get_int64().get(out.chat.timestamp))
                        return false;
                } else if (ck == "user") {
                    simdjson::ondemand::object user;
                    if (c.value().get_object().get(user))
                        return false;
                    for (auto u : user) {
                        std::string_view uk;
                        std::string_view v;
                        if (u.unescaped_key().get(uk))
                            return false;
                        if (uk == "level") {
                            if (u.value().get_int64().get(out.chat.user.level))
                                return false;
                            continue;
                        }
                        if (u.value().get_string().get(v))
                            return false;
                        if (uk == "id")
                            out.chat.user.uid = v;
                        else if (uk == "nickname")
                            out.chat.user.nickname = v;
                        else if (uk == "avatar")
                            out.chat.user.avatar = v;
                    }
                }
            }
        }
    }
    return true;
}

void BM_TypedSimdjsonDecode(benchmark::State& state) {
    std::vector<simdjson::padded_string> texts;
    for (const auto& text : envelopes())
        texts.emplace_back(text);
    simdjson::ondemand::parser parser;
    bench::AllocationCount allocations(state, kEnvelopes);
    for (auto _ : state) {
        int64_t decoded = 0;
        for (const auto& text : texts) {
            RoomChat envelope;
            decoded += decode(parser, text, envelope) ? 1 : 0;
            benchmark::DoNotOptimize(envelope);
        }
        if (decoded != kEnvelopes)
            state.SkipWithError("decode failed");
    }
    state.SetItemsProcessed(state.iterations() * kEnvelopes);
}
BENCHMARK(BM_TypedSimdjsonDecode)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
