// JSON-RPC calls and model networking against the loopback test server: request objects and ids on
// the wire, results and RPC error objects in replies, and models loaded from and posted to URLs.

#include "platform/foundation/JSONSerialization.h"
#include "tests/peers/HttpServer.h"
#include "tests/peers/LoopbackPeer.h"
#include "tests/support/HttpReplies.h"
#include "tests/support/MainLoop.h"

#include "json/JsonRpc.h"
#include "json/MappedModel+Networking.h"
#include "json/MappedModelError.h"
#include <atomic>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>

using platform::ErrorPtr;
using platform::Value;
using namespace liveapp::test;

namespace {

struct Reply {
    bool done{false};
    int calls{0};
    Value json;
    ErrorPtr error;

    JSONObjectBlock block() {
        return
            [this](Value j, ErrorPtr e) { ++calls, done = true, json = std::move(j), error = std::move(e); };
    }
    bool wait() {
        return pumpMainLoopUntil([this] { return done; }, std::chrono::seconds(60));
    }
};

Value parsed(const std::string& body) {
    return platform::JSONSerialization::JSONObjectWithData(platform::Data(std::string_view(body)));
}

class RPCTest : public testing::Test {
protected:
    void SetUp() override {
        JsonHttpClient::resetSettings();
        JsonRpc::setAPIBaseURLWithString(server.url("/rpc"));
    }
    void TearDown() override { JsonHttpClient::resetSettings(); }

    void answer(std::string body, int status = 200) {
        server.route("POST", "/rpc", HttpResponse::json(std::move(body), status));
    }
    Reply call(std::string_view method = "ping") {
        Reply reply;
        JsonRpc::rpc2WithMethodName(method, Value(), reply.block());
        EXPECT_TRUE(reply.wait());
        return reply;
    }

    HttpServer server;
};

} // namespace

// One call at a time: ids are taken when a call is made (from one in a fresh process), whatever
// order replies come in.
TEST_F(RPCTest, RequestObjectsGoOutAsCompactJSONWithIncreasingIds) {
    answer(R"({"result":1})");
    int64_t id = JsonRpc::requestCount() + 1;
    EXPECT_EQ(id, 1);
    Reply v1, v2;
    JsonRpc::rpcWithMethodName("room.list", Value::array({1, "x"}), v1.block());
    ASSERT_TRUE(v1.wait());
    auto request = server.requests().back();
    EXPECT_EQ(request.path, "/rpc");
    EXPECT_EQ(request.body, fmt::format(R"({{"id":{},"params":[1,"x"],"method":"room.list"}})", id));
    EXPECT_EQ(request.header("Content-Type"), "application/json; charset=utf-8");

    JsonRpc::setContentType("application/json-rpc");
    JsonRpc::rpc2WithMethodName("room.info", Value(), v2.block());
    ASSERT_TRUE(v2.wait());
    EXPECT_EQ(server.requests().back().body,
              fmt::format(R"({{"jsonrpc":"2.0","id":{},"params":[],"method":"room.info"}})", id + 1));
    EXPECT_EQ(server.requests().back().header("Content-Type"), "application/json-rpc");
    EXPECT_EQ(JsonRpc::requestCount(), id + 1);
}

TEST_F(RPCTest, RepliesGiveTheResultOrTheServersErrorOrABadResponse) {
    const int bad = MappedModelErrorBadResponse;
    const struct {
        const char* body;
        int status;
        Value json;
        int code; // 0: no error
        const char* message;
    } cases[] = {
        {R"({"jsonrpc":"2.0","id":1,"result":{"rooms":[1,2]}})", 200,
         Value::dictionary({{"rooms", Value::array({1, 2})}}), 0, ""},
        {R"({"id":1,"error":{"code":-32601,"message":"Method not found","data":{"m":"x"}}})", 200, Value(),
         -32601, "Method not found"},
        {R"({"error":{"code":-32000,"message":"Server busy"}})", 500, Value(), -32000, "Server busy"},
        {R"({"result":"fine","error":{"code":1,"message":"ignored"}})", 200, Value("fine"), 0, ""},
        {R"({"result":null,"error":{"code":7,"message":"denied"},"id":1})", 200, Value(), 7, "denied"},
        {R"({"result":null,"id":1})", 200, Value::null(), 0, ""},
        {R"({"error":{"message":"no code"}})", 200, Value(), bad, nullptr},
        {R"({"error":{"code":3}})", 200, Value(), bad, nullptr},
        {R"({"error":"text"})", 200, Value(), bad, nullptr},
        {R"({"id":1})", 200, Value(), bad, nullptr},
        {R"([1,2])", 200, Value(), bad, nullptr},
    };
    for (const auto& c : cases) {
        answer(c.body, c.status);
        auto reply = call();
        EXPECT_EQ(reply.calls, 1) << c.body;
        EXPECT_EQ(reply.json, c.json) << c.body;
        if (c.code == 0) {
            EXPECT_FALSE(reply.error) << c.body;
            continue;
        }
        ASSERT_TRUE(reply.error) << c.body;
        EXPECT_EQ(reply.error->domain(), MappedModelErrorDomain) << c.body;
        EXPECT_EQ(reply.error->code(), c.code) << c.body;
        if (c.message) {
            EXPECT_EQ(reply.error->localizedDescription(), c.message) << c.body;
        }
    }
}

TEST_F(RPCTest, UnwritableRequestFailsUnsentAndTransportFailureIsABadResponse) {
    Reply unwritable;
    JsonRpc::rpc2WithMethodName("when", Value::array({Value(platform::Date(0))}), unwritable.block());
    ASSERT_TRUE(unwritable.wait());
    ASSERT_TRUE(unwritable.error);
    EXPECT_EQ(unwritable.error->code(), platform::JSONSerialization::writeInvalidErrorCode);
    EXPECT_EQ(server.requestCount(), 0u);
    server.stop();
    auto reply = call();
    ASSERT_TRUE(reply.error);
    EXPECT_EQ(reply.error->domain(), MappedModelErrorDomain);
    EXPECT_EQ(reply.error->code(), MappedModelErrorBadResponse);
}

TEST_F(RPCTest, IdsFromManyThreadsAreNeverLost) {
    constexpr int kThreads = 8;
    constexpr int kCallsEach = 50;
    int64_t before = JsonRpc::requestCount();
    std::atomic<int> failed{0};
    // Requests that cannot be written fail before anything is sent, so only the counter is shared.
    auto unwritable = Value::array({Value(platform::Date(0))});
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kCallsEach; ++i) {
                JsonRpc::rpc2WithMethodName("m", unwritable, [&](Value, ErrorPtr error) {
                    if (error)
                        ++failed;
                });
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(JsonRpc::requestCount(), before + kThreads * kCallsEach);
    EXPECT_TRUE(
        pumpMainLoopUntil([&] { return failed.load() == kThreads * kCallsEach; }, std::chrono::seconds(60)));
}

TEST(RPCReplies, HostileRepliesGiveBadResponsesNeverACrash) {
    auto parse = [](const char* text) { return parsed(text); };
    for (auto text : {R"("text")", "42", "[]", R"({"error":null})", R"({"error":[1]})",
                      R"({"error":{"code":null,"message":"m"}})", R"({"error":{"code":1,"message":null}})",
                      R"({"result":{"x":1}})"}) {
        auto [result, error] = JsonRpc::resultOfReply(parse(text), nullptr);
        if (std::string_view(text).find("result") != std::string_view::npos) {
            EXPECT_FALSE(error) << text;
            continue;
        }
        EXPECT_TRUE(result.isNil()) << text;
        ASSERT_TRUE(error) << text;
        EXPECT_EQ(error->code(), MappedModelErrorBadResponse) << text;
    }
    auto [result, error] = JsonRpc::resultOfReply(Value(), nullptr);
    EXPECT_TRUE(result.isNil());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), MappedModelErrorBadResponse);
    // Error texts and codes of other kinds still describe the error.
    auto [ignored, other] =
        JsonRpc::resultOfReply(parsed(R"({"error":{"code":"12","message":404}})"), nullptr);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->code(), 12);
    EXPECT_EQ(other->localizedDescription(), "404");
    auto [unused, empty] = JsonRpc::resultOfReply(parsed(R"({"error":{"code":5,"message":""}})"), nullptr);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->localizedDescription(), "Generic json rpc error");
}

TEST_F(RPCTest, PathsResolveUnderTheBaseURLAndAbsentCompletionsAreSkipped) {
    JsonRpc::setAPIBaseURLWithString(server.url("/api"));
    server.route("GET", "/api/rooms", HttpResponse::json(R"({"n":1})"));
    server.route("POST", "/api/rooms", HttpResponse::json(R"({"n":2})"));
    Reply get, post;
    JsonRpc::getWithPath("/rooms", Value::dictionary({{"page", 2}}), get.block());
    ASSERT_TRUE(get.wait());
    EXPECT_EQ(get.json, Value::dictionary({{"n", 1}}));
    EXPECT_EQ(server.requests().back().target, "/api/rooms?page=2");

    JsonRpc::postWithPath("/rooms", Value::dictionary({{"title", "a b"}}), post.block());
    ASSERT_TRUE(post.wait());
    EXPECT_EQ(post.json, Value::dictionary({{"n", 2}}));
    EXPECT_EQ(server.requests().back().body, "title=a%20b");
    // Absent completions are skipped, and calls are still answered afterwards.
    answer(R"({"result":1})");
    JsonRpc::getWithPath("/rooms", Value(), JSONObjectBlock());
    JsonRpc::setAPIBaseURLWithString(server.url("/rpc"));
    JsonRpc::rpcWithMethodName("quiet", Value(), JSONObjectBlock());
    ASSERT_TRUE(server.waitForRequests(4));
    EXPECT_EQ(call().json, Value(1));
}

// ---- Model networking ----
namespace {

class NetRoomModel : public MappedModel {
    MAPPED_MODEL(NetRoomModel)
public:
    int64_t roomId{0};
    std::optional<std::string> title;
};

struct ModelReply {
    bool done{false};
    std::shared_ptr<NetRoomModel> model;
    ErrorPtr error;

    MappedModelBlock block() {
        return [this](std::shared_ptr<MappedModel> m, ErrorPtr e) {
            typed()(std::dynamic_pointer_cast<NetRoomModel>(m), std::move(e));
        };
    }
    std::function<void(std::shared_ptr<NetRoomModel>, ErrorPtr)> typed() {
        return [this](std::shared_ptr<NetRoomModel> m, ErrorPtr e) { done = true, model = m, error = e; };
    }
    bool wait() {
        return pumpMainLoopUntil([this] { return done; }, std::chrono::seconds(60));
    }
};

class ModelNetworkingTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        MappedModel::registerModel<NetRoomModel>("NetRoomModel",
                                                 {
                                                     MAPPED_PROPERTY(NetRoomModel, roomId, "q"),
                                                     MAPPED_PROPERTY(NetRoomModel, title, "@\"NSString\""),
                                                 });
    }
    void SetUp() override { JsonHttpClient::resetSettings(); }

    HttpServer server;
};

} // namespace

TEST_F(ModelNetworkingTest, InitFromURLFillsTheSameModelAndLoadingHoldsUntilTheLastLoadEnds) {
    auto gate = server.makeGate();
    server.route("GET", "/room",
                 replyAfter(gate, HttpResponse::json(R"({"roomId":16777217,"title":"live"})")));
    // Takes the connection into its backlog and never answers: in flight until the listener closes.
    auto silent = RawListener::create(AF_INET, 4);
    ASSERT_TRUE(silent);
    auto model = std::make_shared<NetRoomModel>();
    ModelReply first, second;
    MappedModelNetworking::initFromURLWithString(model, server.url("/room"), first.block());
    EXPECT_TRUE(MappedModelNetworking::isLoading());
    MappedModelNetworking::initFromURLWithString(std::make_shared<NetRoomModel>(),
                                                 fmt::format("http://127.0.0.1:{}/b", silent->port()),
                                                 second.block());
    ASSERT_TRUE(server.waitForRequests(1));
    gate->open();
    ASSERT_TRUE(first.wait());
    EXPECT_TRUE(MappedModelNetworking::isLoading()) << "the second load is still in flight";
    EXPECT_EQ(first.model, model);
    EXPECT_FALSE(first.error);
    EXPECT_EQ(model->roomId, 16777217);
    EXPECT_EQ(model->title, "live");
    silent.reset();
    ASSERT_TRUE(second.wait());
    EXPECT_FALSE(MappedModelNetworking::isLoading());
    EXPECT_FALSE(second.model);
    EXPECT_TRUE(second.error);
}

// No model comes from a reply that does not import, a failing status, nor (for a new model) an error
// reply with a body that would import.
TEST_F(ModelNetworkingTest, LoadsReportTheImportErrorOrElseABadResponse) {
    server.route("GET", "/partial", HttpResponse::json(R"({"roomId":1})"));
    server.route("GET", "/down", HttpResponse::text(503, "down"));
    server.route("GET", "/missing", HttpResponse::json(R"({"roomId":8,"title":"eight"})", 404));
    const std::pair<const char*, int> cases[] = {{"/partial", MappedModelErrorInvalidData},
                                                 {"/down", MappedModelErrorBadResponse},
                                                 {"/missing", MappedModelErrorBadResponse}};
    for (auto [path, code] : cases) {
        SCOPED_TRACE(path);
        ModelReply init, get;
        MappedModelNetworking::initFromURLWithString(std::make_shared<NetRoomModel>(), server.url(path),
                                                     init.block());
        MappedModelNetworking::getModelFromURLWithString("NetRoomModel", server.url(path), get.block());
        ASSERT_TRUE(init.wait() && get.wait());
        EXPECT_FALSE(get.model);
        EXPECT_TRUE(!init.model || std::string_view(path) == "/missing");
        for (auto* reply : {&init, &get}) {
            ASSERT_TRUE(reply->error);
            EXPECT_EQ(reply->error->code(), code);
        }
    }
    EXPECT_FALSE(MappedModelNetworking::isLoading());
}

TEST_F(ModelNetworkingTest, GetAndPostMakeNewModelsOfTheClass) {
    server.route("GET", "/room", HttpResponse::json(R"({"roomId":7,"title":"seven"})"));
    server.route("POST", "/rooms", HttpResponse::json(R"({"roomId":9,"title":"saved"})"));
    ModelReply got, posted;
    MappedModelNetworking::getModelFromURLWithString<NetRoomModel>(server.url("/room"), got.typed());
    ASSERT_TRUE(got.wait());
    ASSERT_TRUE(got.model);
    EXPECT_EQ(got.model->roomId, 7);
    EXPECT_FALSE(got.error);
    auto model = std::make_shared<NetRoomModel>();
    model->roomId = 3;
    model->title = "draft";
    MappedModelNetworking::postModel<NetRoomModel>(model, server.url("/rooms"), posted.typed());
    ASSERT_TRUE(posted.wait());
    ASSERT_TRUE(posted.model);
    EXPECT_EQ(posted.model->title, "saved");
    EXPECT_NE(posted.model, model);
    auto request = server.requests().back();
    EXPECT_EQ(parsed(request.body), Value::dictionary({{"roomId", 3}, {"title", "draft"}}));
    EXPECT_EQ(request.header("Content-Type"), "application/json; charset=utf-8");
}

TEST_F(ModelNetworkingTest, AbsentCompletionIsSkipped) {
    server.route("GET", "/room", HttpResponse::json(R"({"roomId":1,"title":"a"})"));
    auto model = std::make_shared<NetRoomModel>();
    // Only this load is shown to have ended (isLoading): a load nobody can see ending would still be
    // running when the test program exits.
    MappedModelNetworking::initFromURLWithString(model, server.url("/room"), MappedModelBlock());
    ASSERT_TRUE(
        pumpMainLoopUntil([] { return !MappedModelNetworking::isLoading(); }, std::chrono::seconds(60)));
    EXPECT_EQ(model->title, "a");
}
