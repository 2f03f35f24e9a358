// Chat envelopes from the socket to the barrage list: a local chat server writes a batch of framed
// envelopes as fast as it can, and the broadcast screen's chat client reads, splits, parses and appends
// them (capped list, lock and all) until the last one is in the list. Beside it, the same bytes split
// and parsed by a hand-written loop over the JSON library's on-demand reader into plain structs, with
// no sockets, queues, models or lock: the ratio of the two rates is what the client's machinery costs
// per line.
#include "app/core/ServiceModels.h"
#include "app/screens/LiveViewController.h"
#include "tests/peers/ChatServer.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <deque>
#include <fmt/format.h>
#include <simdjson.h>
#include <string>
#include <thread>

using liveapp::test::ChatServer;

namespace {

constexpr int kBatch = 5000;

// kBatch frames; the last line's text names the batch, so its arrival marks the batch as read.
std::string batch(int number) {
    std::string bytes;
    for (int index = 0; index < kBatch; ++index) {
        const std::string text =
            index + 1 == kBatch ? fmt::format("end {}", number) : fmt::format("主播好，第{}条弹幕", index);
        bytes += ChatServer::frame(
            ChatServer::envelope(ChatServer::chatLine(fmt::format("观众{}", index % 50), text)));
    }
    return bytes;
}

bool lastLineIs(LiveViewController& screen, const std::string& text) {
    auto lines = screen.barrageDataSource();
    return !lines.empty() && lines.back()->text() == text;
}

void BM_ChatEnvelopesSocketToBarrage(benchmark::State& state) {
    registerServiceModels();
    ChatServer server;
    auto screen = LiveViewController::create();
    screen->connectBarrage(); // no service here: the route fails, the connection is made by hand
    screen->barrageListening("127.0.0.1", server.port());
    if (!server.waitForEnterRooms(1)) {
        state.SkipWithError("the client did not join");
        return;
    }
    int number = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string bytes = batch(++number);
        const std::string marker = fmt::format("end {}", number);
        state.ResumeTiming();
        server.sendRaw(bytes);
        while (!lastLineIs(*screen, marker))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kBatch);
    screen->setBackButtonPressed(true);
    screen->disconnectBarrage();
}

struct Line {
    std::string nick;
    std::string text;
    int64_t type{0};
};

void BM_ChatEnvelopesHandWrittenLoop(benchmark::State& state) {
    const std::string bytes = batch(1);
    simdjson::ondemand::parser outer;
    simdjson::ondemand::parser inner;
    std::deque<Line> list;
    for (auto _ : state) {
        size_t offset = 0;
        while (bytes.size() - offset >= 4) {
            const auto* prefix = reinterpret_cast<const uint8_t*>(bytes.data() + offset);
            const size_t length =
                size_t(prefix[0]) << 24 | size_t(prefix[1]) << 16 | size_t(prefix[2]) << 8 | prefix[3];
            simdjson::padded_string body(bytes.data() + offset + 4, length);
            offset += 4 + length;
            auto envelope = outer.iterate(body);
            std::string_view json;
            if (envelope["chat"]["json"].get_string().get(json))
                continue;
            simdjson::padded_string lineText(json);
            auto chatLine = inner.iterate(lineText);
            Line line;
            int64_t type = 0;
            std::string_view text, nick;
            if (!chatLine["type"].get_int64().get(type))
                line.type = type;
            if (!chatLine["text"].get_string().get(text))
                line.text = text;
            if (!chatLine["user"]["nick"].get_string().get(nick))
                line.nick = nick;
            if (list.size() >= 100)
                list.pop_front();
            list.push_back(std::move(line));
        }
        benchmark::DoNotOptimize(list);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kBatch);
}

} // namespace

BENCHMARK(BM_ChatEnvelopesSocketToBarrage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ChatEnvelopesHandWrittenLoop)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
