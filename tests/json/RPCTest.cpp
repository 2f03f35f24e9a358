// JSON-RPC calls and model networking against the loopback test server: request objects and ids on
// the wire, results and RPC error objects in replies, and models loaded from and posted to URLs.

#include "platform/foundation/JSONSerialization.h"
#include "tests/support/HttpReplies.h"
#include "tests/peers/HttpServer.h"
#include "tests/support/MainLoop.h"

#include "json/JsonRpc.h"
#include "json/MappedModel+Networking.h"
#include "json/MappedModelError.h"
#include <algorithm>
#include <atomic>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

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
        return [this](Value j, ErrorPtr e) {
            ++calls;
            done = true;
            json = std::move(j);
            error = std::move(e);
        };
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

TEST_F(RPCTest, ConsecutiveCallsCarryIncreasingIdsStartingAtOne) {
    answer(R"({"result":true})");
    int64_t before = JsonRpc::requestCount();
    // One call at a time: the ids are taken when a call is made, whatever order replies come in.
    Reply first, second;
    JsonRpc::rpcWithMethodName("a", Value::array({1, "x"}), first.block());
    ASSERT_TRUE(first.wait());
    JsonRpc::rpcWithMethodName("b", Value(), second.block());
    ASSERT_TRUE(second.wait());

    std::vector<int64_t> ids;
    for (auto& request : server.requests())
        ids.push_back(parsed(request.body)["id"].int64Or(-1));
    EXPECT_EQ(ids, (std::vector<int64_t>{before + 1, before + 2}));
    if (before == 0) {
        EXPECT_EQ(ids.front(), 1);
    }
    EXPECT_EQ(JsonRpc::requestCount(), before + 2);
}

TEST_F(RPCTest, RequestObjectsGoOutAsCompactJSON) {
    answer(R"({"result":1})");
    Reply v1;
    int64_t id = JsonRpc::requestCount() + 1;
    JsonRpc::rpcWithMethodName("room.list", Value::array({1, "x"}), v1.block());
    ASSERT_TRUE(v1.wait());
    auto request = server.requests().back();
    EXPECT_EQ(request.path, "/rpc");
    EXPECT_EQ(request.body, fmt::format(R"({{"id":{},"params":[1,"x"],"method":"room.list"}})", id));
    EXPECT_EQ(request.header("Content-Type"), "application/json; charset=utf-8");

    Reply v2;
    JsonRpc::rpc2WithMethodName("room.info", Value(), v2.block());
    ASSERT_TRUE(v2.wait());
    EXPECT_EQ(server.requests().back().body,
              fmt::format(R"({{"jsonrpc":"2.0","id":{},"params":[],"method":"room.info"}})", id + 1));
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

TEST_F(RPCTest, TransportFailureIsABadResponse) {
    server.stop();
    auto reply = call();
    ASSERT_TRUE(reply.error);
    EXPECT_EQ(reply.error->domain(), MappedModelErrorDomain);
    EXPECT_EQ(reply.error->code(), MappedModelErrorBadResponse);
}

TEST_F(RPCTest, RequestThatCannotBeWrittenFailsUnsent) {
    Reply reply;
    JsonRpc::rpc2WithMethodName("when", Value::array({Value(platform::Date(0))}), reply.block());
    ASSERT_TRUE(reply.wait());
    ASSERT_TRUE(reply.error);
    EXPECT_EQ(reply.error->code(), platform::JSONSerialization::writeInvalidErrorCode);
    EXPECT_EQ(server.requestCount(), 0u);
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
}

TEST(RPCReplies, ErrorTextsOfOtherKindsStillDescribeTheError) {
    auto [result, error] =
        JsonRpc::resultOfReply(parsed(R"({"error":{"code":"12","message":404}})"), nullptr);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 12);
    EXPECT_EQ(error->localizedDescription(), "404");
    auto [ignored, empty] = JsonRpc::resultOfReply(parsed(R"({"error":{"code":5,"message":""}})"), nullptr);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->localizedDescription(), "Generic json rpc error");
}

TEST_F(RPCTest, PathsResolveUnderTheBaseURL) {
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
}

TEST_F(RPCTest, AbsentCompletionsAreSkipped) {
    JsonRpc::setAPIBaseURLWithString(server.url("/api"));
    server.route("GET", "/api/x", HttpResponse::json("{}"));
    answer(R"({"result":1})");
    JsonRpc::getWithPath("/x", Value(), JSONObjectBlock());
    JsonRpc::setAPIBaseURLWithString(server.url("/rpc"));
    JsonRpc::rpcWithMethodName("quiet", Value(), JSONObjectBlock());
    ASSERT_TRUE(server.waitForRequests(2));
    auto reply = call(); // still answering afterwards
    EXPECT_EQ(reply.json, Value(1));
}

TEST_F(RPCTest, ContentTypeSettingReachesTheWire) {
    answer(R"({"result":1})");
    JsonRpc::setContentType("application/json-rpc");
    call();
    EXPECT_EQ(server.requests().back().header("Content-Type"), "application/json-rpc");
}

// ---- Model networking ----
namespace {

class NetRoomModel : public MappedModel {
    MAPPED_MODEL(NetRoomModel)
public:
    int64_t roomId{0};
    std::optional<std::string> title;
};

// A loopback port that takes connections into its backlog and never answers them: a request to it
// stays in flight until the listener closes, which resets the connection.
class SilentListener {
public:
    SilentListener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_fd, 4) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on the loopback interface");
        m_port = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(m_fd); }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    std::string url(std::string_view path) const {
        return fmt::format("http://127.0.0.1:{}{}", m_port, path);
    }

private:
    int m_fd{-1};
    uint16_t m_port{0};
};

struct ModelReply {
    bool done{false};
    std::shared_ptr<NetRoomModel> model;
    ErrorPtr error;

    MappedModelBlock block() {
        return [this](std::shared_ptr<MappedModel> m, ErrorPtr e) {
            done = true;
            model = std::dynamic_pointer_cast<NetRoomModel>(m);
            error = std::move(e);
        };
    }
    std::function<void(std::shared_ptr<NetRoomModel>, ErrorPtr)> typed() {
        return [this](std::shared_ptr<NetRoomModel> m, ErrorPtr e) {
            done = true;
            model = std::move(m);
            error = std::move(e);
        };
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

TEST_F(ModelNetworkingTest, InitFromURLFillsTheSameModelAndReportsLoading) {
    auto gate = server.makeGate();
    server.route("GET", "/room",
                 replyAfter(gate, HttpResponse::json(R"({"roomId":16777217,"title":"live"})")));
    auto model = std::make_shared<NetRoomModel>();
    ModelReply reply;
    MappedModelNetworking::initFromURLWithString(model, server.url("/room"), reply.block());
    EXPECT_TRUE(MappedModelNetworking::isLoading());
    gate->open();
    ASSERT_TRUE(reply.wait());
    EXPECT_FALSE(MappedModelNetworking::isLoading());
    EXPECT_EQ(reply.model, model);
    EXPECT_FALSE(reply.error);
    EXPECT_EQ(model->roomId, 16777217);
    EXPECT_EQ(model->title, "live");
}

TEST_F(ModelNetworkingTest, LoadingHoldsUntilTheLastLoadEnds) {
    auto gate = server.makeGate();
    server.route("GET", "/a", replyAfter(gate, HttpResponse::json(R"({"roomId":1,"title":"a"})")));
    auto silent = std::make_unique<SilentListener>();
    ModelReply first, second;
    MappedModelNetworking::initFromURLWithString(std::make_shared<NetRoomModel>(), server.url("/a"),
                                                 first.block());
    MappedModelNetworking::initFromURLWithString(std::make_shared<NetRoomModel>(), silent->url("/b"),
                                                 second.block());
    ASSERT_TRUE(server.waitForRequests(1));
    gate->open();
    ASSERT_TRUE(first.wait());
    EXPECT_TRUE(MappedModelNetworking::isLoading()) << "the second load is still in flight";
    silent.reset();
    ASSERT_TRUE(second.wait());
    EXPECT_FALSE(MappedModelNetworking::isLoading());
    EXPECT_FALSE(second.model);
    EXPECT_TRUE(second.error);
}

TEST_F(ModelNetworkingTest, InitFromURLReportsTheImportErrorOrElseTheTransportError) {
    server.route("GET", "/partial", HttpResponse::json(R"({"roomId":1})"));
    ModelReply partial;
    MappedModelNetworking::initFromURLWithString(std::make_shared<NetRoomModel>(), server.url("/partial"),
                                                 partial.block());
    ASSERT_TRUE(partial.wait());
    EXPECT_FALSE(partial.model);
    ASSERT_TRUE(partial.error);
    EXPECT_EQ(partial.error->code(), MappedModelErrorInvalidData);

    server.route("GET", "/down", HttpResponse::text(503, "down"));
    ModelReply down;
    MappedModelNetworking::initFromURLWithString(std::make_shared<NetRoomModel>(), server.url("/down"),
                                                 down.block());
    ASSERT_TRUE(down.wait());
    EXPECT_FALSE(down.model);
    ASSERT_TRUE(down.error);
    EXPECT_EQ(down.error->code(), MappedModelErrorBadResponse);
    EXPECT_FALSE(MappedModelNetworking::isLoading());
}

TEST_F(ModelNetworkingTest, GetModelMakesANewModelOfTheClass) {
    server.route("GET", "/room", HttpResponse::json(R"({"roomId":7,"title":"seven"})"));
    ModelReply reply;
    MappedModelNetworking::getModelFromURLWithString<NetRoomModel>(server.url("/room"), reply.typed());
    ASSERT_TRUE(reply.wait());
    ASSERT_TRUE(reply.model);
    EXPECT_EQ(reply.model->roomId, 7);
    EXPECT_FALSE(reply.error);

    server.route("GET", "/missing", HttpResponse::json(R"({"roomId":8,"title":"eight"})", 404));
    ModelReply missing;
    MappedModelNetworking::getModelFromURLWithString("NetRoomModel", server.url("/missing"), missing.block());
    ASSERT_TRUE(missing.wait());
    EXPECT_FALSE(missing.model) << "no model is made from an error reply";
    ASSERT_TRUE(missing.error);
    EXPECT_EQ(missing.error->code(), MappedModelErrorBadResponse);
}

TEST_F(ModelNetworkingTest, PostModelSendsItsJSONAndReadsTheReplyAsAModel) {
    server.route("POST", "/rooms", HttpResponse::json(R"({"roomId":9,"title":"saved"})"));
    auto model = std::make_shared<NetRoomModel>();
    model->roomId = 3;
    model->title = "draft";
    ModelReply reply;
    MappedModelNetworking::postModel<NetRoomModel>(model, server.url("/rooms"), reply.typed());
    ASSERT_TRUE(reply.wait());
    ASSERT_TRUE(reply.model);
    EXPECT_EQ(reply.model->title, "saved");
    EXPECT_NE(reply.model, model);
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
