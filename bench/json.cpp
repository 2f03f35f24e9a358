// JSON reading and writing on a ~1 MB array of chat messages, the shape of a busy room's history.
// JSONObjectWithData is set beside three parsers of the same bytes: the parser library's own document
// parse, which builds no Values (the difference is what building the object graph costs), and the
// DOMs of two general-purpose JSON libraries a program would otherwise pick, which build trees of
// their own as we do. Each reports allocs, the allocations per document (RapidJSON's counted at its
// pool's base allocator, which is where it calls malloc).
#include "AllocationCount.h"
#include "platform/foundation/JSONSerialization.h"

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <simdjson.h>
#include <string>

using namespace platform;

namespace {

// RapidJSON's default allocators over malloc, counting what they take.
struct CountingMalloc {
    static const bool kNeedFree = true;
    void* Malloc(size_t size) {
        if (!size)
            return nullptr;
        ++bench::allocations;
        return std::malloc(size);
    }
    void* Realloc(void* block, size_t, size_t size) {
        if (!size) {
            std::free(block);
            return nullptr;
        }
        ++bench::allocations;
        return std::realloc(block, size);
    }
    static void Free(void* block) { std::free(block); }
};
using CountedDocument =
    rapidjson::GenericDocument<rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<CountingMalloc>,
                               CountingMalloc>;

const std::string& chatHistory() {
    static const std::string text = [] {
        std::string out = "[";
        for (int i = 0; out.size() < (1 << 20); ++i) {
            if (i)
                out += ',';
            out +=
                fmt::format(R"({{"type":"chat","uid":{},"nickname":"名字{}","content":"{}","level":{},)"
                            R"("timestamp":{}.5,"badges":[{},{}],"vip":{}}})",
                            123456 + i * 7, i % 100,
                            i % 3 ? "hello everyone, great stream tonight!" : "\\u6211\\u6765\\u4e86 \\/o\\/",
                            i % 40, 1700000000 + i, i % 5, i % 11, i % 2 ? "true" : "false");
        }
        out += ']';
        return out;
    }();
    return text;
}

void BM_JSONObjectWithData(benchmark::State& state) {
    Data data{std::string_view(chatHistory())};
    bench::AllocationCount allocations(state, 1);
    for (auto _ : state) {
        Value value = JSONSerialization::JSONObjectWithData(data);
        benchmark::DoNotOptimize(value);
        if (!value.isArray())
            state.SkipWithError("parse failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.length()));
}
BENCHMARK(BM_JSONObjectWithData)->Unit(benchmark::kMillisecond);

void BM_SimdjsonDOMParse(benchmark::State& state) {
    simdjson::padded_string text(chatHistory());
    simdjson::dom::parser parser;
    bench::AllocationCount allocations(state, 1);
    for (auto _ : state) {
        simdjson::dom::element root;
        if (parser.parse(text).get(root))
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(root);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_SimdjsonDOMParse)->Unit(benchmark::kMillisecond);

void BM_RapidJSONParse(benchmark::State& state) {
    const std::string& text = chatHistory();
    bench::AllocationCount allocations(state, 1);
    for (auto _ : state) {
        CountedDocument document;
        document.Parse(text.data(), text.size());
        if (document.HasParseError() || !document.IsArray())
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_RapidJSONParse)->Unit(benchmark::kMillisecond);

void BM_NlohmannParse(benchmark::State& state) {
    const std::string& text = chatHistory();
    bench::AllocationCount allocations(state, 1);
    for (auto _ : state) {
        auto document = nlohmann::json::parse(text, nullptr, false);
        if (!document.is_array())
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_NlohmannParse)->Unit(benchmark::kMillisecond);

void BM_dataWithJSONObject(benchmark::State& state) {
    Value value = JSONSerialization::JSONObjectWithData(Data(std::string_view(chatHistory())));
    JSONWritingOptions options = state.range(0) ? NSJSONWritingPrettyPrinted : 0;
    int64_t bytes = 0;
    for (auto _ : state) {
        auto data = JSONSerialization::dataWithJSONObject(value, options);
        benchmark::DoNotOptimize(data);
        bytes += data ? static_cast<int64_t>(data->length()) : 0;
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_dataWithJSONObject)->Arg(0)->Arg(1)->ArgName("pretty")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
