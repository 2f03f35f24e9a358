// The media road's cost, side by side with its encoders driven directly, in one process.
//
// SessionRoad<size>: a LiveSimpleSession made as the broadcast screen makes it (back camera, picture
// filling the frame, orientation locked) publishes to a private nginx-rtmp on loopback in real time.
// The same session first captures without publishing for as long: the camera stand-in drawing its
// test card (the phone's camera hardware here), the fitting to the stream's size and the preview.
// What publishing adds over that baseline is the road: H.264 and AAC encoding, packetising and
// sending. Per video frame written: cpu_ns (process CPU; nginx is another process), switches (context
// switches) and allocs (operator new calls); road_cores is the road's CPU per second of stream and
// capture_cpu_ns what capture alone costs per frame. Each frame written also gives its
// capture-to-write latency: the time of its write minus its capture time (the stream's origin plus
// its timestamp), as latency_median_ms, latency_p90_ms and latency_max_ms.
//
// DirectVideoEncoder<size> and DirectEncoders<size>: the platform's H.264 compression session (and,
// for the second, the AAC converter with one frame period of sound) fed the same test cards, made
// beforehand at the stream's size, at the same pace and settings; cpu_ns, switches and allocs per frame.
//
// StartToFirstFrame: from startRtmpSessionWithURL to the write of the first video frame (not its
// sequence header), a new start each time on a session whose camera already runs; the iteration time
// is that span; live_ms is the part until the stream was published and its encoders added (the
// stream's origin), and first_frame_ms with its min and max give the median and range of the span.
#include "platform/foundation/Clock.h"
#include "platform/media/AudioConverter.h"
#include "platform/media/TestCard.h"
#include "platform/media/VideoCompressionSession.h"
#include "platform/runloop/RunLoop.h"
#include "sdk/api/iOS/LiveSimpleSession.h"
#include "sdk/engine/AspectTransform.h"
#include "sdk/engine/IPixelBuffer.h"
#include "sdk/librtmp/RTMPPacketQueue.h"
#include "tests/peers/NginxRtmp.h"

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fmt/format.h>
#include <mutex>
#include <new>
#include <numbers>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

using liveapp::test::NginxRtmp;
using namespace std::chrono_literals;

namespace {

std::atomic<uint64_t> g_allocations{0};

} // namespace

// Counts the C++ allocations of every thread; the codec libraries allocate with malloc and are not
// counted. The other forms of new and delete forward to these. Kept out of line: inlined into a caller,
// the compiler takes free() after operator new for a mismatch.
[[gnu::noinline]] void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

[[gnu::noinline]] void operator delete(void* block) noexcept {
    std::free(block);
}

[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace {

constexpr auto kWindow = 3s;    // each measured span of real-time capture
constexpr auto kSettle = 1s;    // before measuring: the encoders' first frames, the caches
constexpr auto kGenerous = 30s; // a road that stalls this long has failed
constexpr int kStarts = 8;

struct Preset {
    int width;
    int height;
    int frameRate;
    int bitrate; // bit/s

    std::string name() const { return fmt::format("{}x{}", width, height); }
};

// The application's resolution presets.
constexpr Preset kPresets[] = {{360, 640, 20, 600000}, {540, 960, 25, 1000000}, {720, 1280, 25, 1800000}};
constexpr Preset kStartPreset = kPresets[2];
constexpr int kAudioSampleRate = 44100;
constexpr int kAudioChannels = 2;
constexpr int kAudioBitrate = 128000;

// What the process has used so far: CPU of every thread, context switches, allocations.
struct Usage {
    double wallSeconds{0};
    double cpuSeconds{0};
    double switches{0};
    double allocations{0};

    static Usage now() {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        auto seconds = [](timeval t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
        return {std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(),
                seconds(usage.ru_utime) + seconds(usage.ru_stime), double(usage.ru_nvcsw + usage.ru_nivcsw),
                double(g_allocations.load(std::memory_order_relaxed))};
    }
    Usage operator-(const Usage& earlier) const {
        return {wallSeconds - earlier.wallSeconds, cpuSeconds - earlier.cpuSeconds,
                switches - earlier.switches, allocations - earlier.allocations};
    }
    // This usage scaled to another span of wall time.
    Usage over(double seconds) const {
        const double scale = wallSeconds > 0 ? seconds / wallSeconds : 0;
        return {seconds, cpuSeconds * scale, switches * scale, allocations * scale};
    }
};

void perUnit(benchmark::State& state, const Usage& usage, double units) {
    if (units <= 0)
        return;
    state.counters["cpu_ns"] = usage.cpuSeconds * 1e9 / units;
    state.counters["switches"] = usage.switches / units;
    state.counters["allocs"] = usage.allocations / units;
}

// The session delivers its states and preview redraws on the main queue, which runs only while the
// main loop does (this program's first thread is the main thread).
bool pumpMainLoopUntil(const std::function<bool()>& done, platform::Duration limit = kGenerous) {
    auto loop = platform::RunLoop::main();
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        const auto left = end - std::chrono::steady_clock::now();
        if (left <= platform::Duration::zero())
            return done();
        loop->runModeForRealTime(platform::RunLoop::defaultMode, std::min<platform::Duration>(left, 10ms),
                                 true);
    }
    return true;
}

void pumpMainLoopFor(platform::Duration span) {
    const auto end = std::chrono::steady_clock::now() + span;
    pumpMainLoopUntil([&] { return std::chrono::steady_clock::now() >= end; }, span + 1s);
}

class LastState : public LiveSessionDelegate {
public:
    bool respondsTo(std::string_view selector) const override {
        return selector == "connectionStatusChanged:";
    }
    void connectionStatusChanged(LiveSessionState state) override { m_state = state; }
    LiveSessionState state() const { return m_state; }

private:
    std::atomic<LiveSessionState> m_state{LiveSessionStateNone};
};

// What one output wrote, as its send thread reports it, on the platform clock.
class WriteLog {
public:
    struct Frame {
        platform::MonoTime written;
        int32_t timestamp; // ms since the stream's origin
    };

    void written(const livecore::rtmp::QueuedPacket& packet) {
        const auto now = platform::Clock::now();
        // The AVC packet type: 0 the sequence header, 1 a frame.
        if (packet.messageType != 9 || packet.body.size() < 2 || packet.body[1] != 1)
            return;
        std::lock_guard lock(m_mutex);
        m_frames.push_back({now, packet.timestamp});
    }

    size_t frameCount() const {
        std::lock_guard lock(m_mutex);
        return m_frames.size();
    }
    std::vector<Frame> framesFrom(size_t index) const {
        std::lock_guard lock(m_mutex);
        return {m_frames.begin() + std::ptrdiff_t(std::min(index, m_frames.size())), m_frames.end()};
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Frame> m_frames;
};

double milliseconds(platform::Duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

// The value below which `fraction` of the sorted values lie.
double quantile(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty())
        return 0;
    const double position = fraction * double(sorted.size() - 1);
    const size_t below = size_t(position);
    const size_t above = std::min(below + 1, sorted.size() - 1);
    return sorted[below] + (sorted[above] - sorted[below]) * (position - double(below));
}

// A private ingest and a session whose camera has been capturing for a while, as the broadcast screen
// has them before going live.
struct Stage {
    explicit Stage(const Preset& preset)
        : session(LiveSimpleSession::create({double(preset.width), double(preset.height)}, preset.frameRate,
                                            preset.bitrate, true, LiveCameraStateBack)) {
        session->setOrientationLocked(true);
        session->setAspectMode(LiveAspectModeFill);
        session->setDelegate(delegate);
        pumpMainLoopFor(kSettle);
    }

    NginxRtmp ingest;
    std::shared_ptr<LastState> delegate{std::make_shared<LastState>()};
    std::shared_ptr<LiveSimpleSession> session;
};

std::unique_ptr<Stage> makeStage(benchmark::State& state, const Preset& preset) {
    if (!NginxRtmp::available()) {
        state.SkipWithError("nginx with the RTMP module is not installed");
        return nullptr;
    }
    return std::make_unique<Stage>(preset);
}

std::shared_ptr<WriteLog> observeWrites(LiveSimpleSession& session) {
    auto log = std::make_shared<WriteLog>();
    LiveSimpleSession::OutputOptions options;
    options.written = [log](const livecore::rtmp::QueuedPacket& packet) { log->written(packet); };
    session.setOutputOptions(std::move(options));
    return log;
}

// Ends publishing and waits until the output has stopped and every state reached the delegate.
bool endPublishing(LiveSimpleSession& session, const LastState& delegate) {
    session.endRtmpSession();
    session.graphQueue()->sync([] {});
    return pumpMainLoopUntil([&] { return delegate.state() == LiveSessionStateEnded; });
}

void reportLatencies(benchmark::State& state, const std::vector<WriteLog::Frame>& frames,
                     platform::MonoTime origin) {
    std::vector<double> latencies;
    for (const auto& frame : frames)
        latencies.push_back(
            milliseconds(frame.written - (origin + std::chrono::milliseconds(frame.timestamp))));
    std::sort(latencies.begin(), latencies.end());
    state.counters["latency_median_ms"] = quantile(latencies, 0.5);
    state.counters["latency_p90_ms"] = quantile(latencies, 0.9);
    state.counters["latency_max_ms"] = latencies.empty() ? 0 : latencies.back();
}

void SessionRoad(benchmark::State& state, Preset preset) {
    auto stage = makeStage(state, preset);
    if (!stage)
        return;
    auto& session = stage->session;
    auto log = observeWrites(*session);

    const auto captureStart = Usage::now();
    pumpMainLoopFor(kWindow);
    const auto capturing = Usage::now() - captureStart;

    session->startRtmpSessionWithURL(stage->ingest.url("/live/road?key=k"));
    if (!pumpMainLoopUntil([&] { return log->frameCount() > 0; })) {
        state.SkipWithError("no video frame was written");
        return;
    }
    const auto origin = session->streamOrigin();
    pumpMainLoopFor(kSettle);

    Usage publishing;
    size_t firstFrame = 0;
    uint64_t droppedBefore = 0;
    for (auto _ : state) {
        firstFrame = log->frameCount();
        droppedBefore = session->framesDropped();
        const auto start = Usage::now();
        pumpMainLoopFor(kWindow);
        publishing = Usage::now() - start;
    }
    const auto frames = log->framesFrom(firstFrame);
    const uint64_t dropped = session->framesDropped() - droppedBefore;
    endPublishing(*session, *stage->delegate);

    // Capture goes on while publishing: what it cost alone, over the same span, is not the road's.
    const auto baseline = capturing.over(publishing.wallSeconds);
    Usage road = publishing - baseline;
    perUnit(state, road, double(frames.size()));
    state.counters["road_cores"] = road.cpuSeconds / publishing.wallSeconds;
    state.counters["process_cores"] = publishing.cpuSeconds / publishing.wallSeconds;
    state.counters["capture_cpu_ns"] =
        capturing.cpuSeconds * 1e9 / (capturing.wallSeconds * preset.frameRate);
    state.counters["frames_per_s"] = double(frames.size()) / publishing.wallSeconds;
    state.counters["frames_dropped"] = double(dropped);
    if (origin)
        reportLatencies(state, frames, *origin);
}

// Test cards as the camera draws them (portrait, sensor-sized), filled into the stream's size.
std::vector<platform::CVPixelBufferRef> cameraFrames(const Preset& preset, int count) {
    class Collect final : public livecore::IOutput {
    public:
        void pushBuffer(const uint8_t*, size_t, livecore::IMetadata& metadata) override {
            const auto& frame = static_cast<livecore::VideoBufferMetadata&>(metadata)
                                    .getData<livecore::kVideoMetadataPixelBuffer>();
            frames.push_back(frame->cvBuffer());
        }
        std::vector<platform::CVPixelBufferRef> frames;
    };
    auto collect = std::make_shared<Collect>();
    livecore::AspectTransform fill(preset.width, preset.height, livecore::AspectTransform::AspectMode::Fill);
    fill.setOutput(collect);
    platform::TestCard card;
    const auto start = platform::Clock::now();
    for (int index = 0; index < count; ++index) {
        const auto time = start + std::chrono::milliseconds(index * 1000 / preset.frameRate);
        livecore::VideoBufferMetadata metadata(livecore::millisecondsOf(time));
        metadata.setData(
            std::make_shared<livecore::Apple::PixelBuffer>(card.draw(720, 1280, time, preset.frameRate, {})),
            false);
        fill.pushBuffer(nullptr, 0, metadata);
    }
    return collect->frames;
}

// A 440 Hz tone, interleaved stereo, one second long.
std::vector<int16_t> tone() {
    std::vector<int16_t> samples(size_t(kAudioSampleRate) * kAudioChannels);
    for (size_t frame = 0; frame < size_t(kAudioSampleRate); ++frame) {
        const auto value =
            int16_t(8000 * std::sin(2 * std::numbers::pi * 440 * double(frame) / kAudioSampleRate));
        samples[frame * kAudioChannels] = samples[frame * kAudioChannels + 1] = value;
    }
    return samples;
}

// Encodes at the stream's pace, as the road does, so the two meet the same wake-ups and caches.
void DirectEncoding(benchmark::State& state, Preset preset, bool withSound) {
    const auto frames = cameraFrames(preset, 2 * preset.frameRate);
    platform::VideoCompressionSession::Settings settings;
    settings.width = preset.width;
    settings.height = preset.height;
    settings.frameRate = preset.frameRate;
    settings.bitrate = preset.bitrate;
    settings.keyframeInterval = 2 * preset.frameRate;
    auto video = platform::VideoCompressionSession::create(settings);
    auto audio = platform::AudioConverter::create(kAudioSampleRate, kAudioChannels, kAudioBitrate);
    if (!video || !audio || frames.empty()) {
        state.SkipWithError("the encoders cannot be made");
        return;
    }
    const auto sound = tone();
    const size_t soundPerFrame = size_t(kAudioSampleRate / preset.frameRate);
    const auto period = std::chrono::nanoseconds(1'000'000'000 / preset.frameRate);
    size_t index = 0;
    size_t soundAt = 0;
    size_t bytes = 0;
    auto due = std::chrono::steady_clock::now();
    auto encodeNext = [&] {
        std::this_thread::sleep_until(due);
        due += period;
        const double time = double(index) * 1000.0 / preset.frameRate;
        auto encoded = video->encode(frames[index % frames.size()], std::llround(time));
        bytes += encoded ? encoded->data.size() : 0;
        if (withSound) {
            if (soundAt + soundPerFrame > size_t(kAudioSampleRate))
                soundAt = 0;
            for (auto& frame : audio->convert(sound.data() + soundAt * kAudioChannels, soundPerFrame, time))
                bytes += frame.data.size();
            soundAt += soundPerFrame;
        }
        ++index;
    };
    // Measured from the same point of the keyframe interval as the road, after the same settling.
    for (int frame = 0; frame < preset.frameRate * int(kSettle.count()); ++frame)
        encodeNext();
    bytes = 0;
    const auto start = Usage::now();
    for (auto _ : state)
        encodeNext();
    const auto used = Usage::now() - start;
    perUnit(state, used, double(state.iterations()));
    state.counters["cores"] = used.cpuSeconds / used.wallSeconds;
    state.SetBytesProcessed(int64_t(bytes));
}

void StartToFirstFrame(benchmark::State& state) {
    auto stage = makeStage(state, kStartPreset);
    if (!stage)
        return;
    auto& session = stage->session;
    std::vector<double> live, firsts;
    int number = 0;
    for (auto _ : state) {
        auto log = observeWrites(*session);
        const auto start = platform::Clock::now();
        session->startRtmpSessionWithURL(stage->ingest.url(fmt::format("/live/start{}?key=k", ++number)));
        if (!pumpMainLoopUntil([&] { return log->frameCount() > 0; })) {
            state.SkipWithError("no video frame was written");
            return;
        }
        const auto first = log->framesFrom(0).front().written;
        state.SetIterationTime(std::chrono::duration<double>(first - start).count());
        firsts.push_back(milliseconds(first - start));
        live.push_back(milliseconds(session->streamOrigin().value_or(first) - start));
        if (!endPublishing(*session, *stage->delegate)) {
            state.SkipWithError("publishing did not end");
            return;
        }
    }
    for (auto* values : {&live, &firsts})
        std::sort(values->begin(), values->end());
    state.counters["live_ms"] = quantile(live, 0.5);
    state.counters["first_frame_ms"] = quantile(firsts, 0.5);
    state.counters["first_frame_min_ms"] = firsts.empty() ? 0 : firsts.front();
    state.counters["first_frame_max_ms"] = firsts.empty() ? 0 : firsts.back();
}

// Each size gets names of its own (no "/..." suffix), so that bench/pairs can pair them.
const bool registered = [] {
    for (const auto& preset : kPresets) {
        benchmark::RegisterBenchmark(("SessionRoad" + preset.name()).c_str(), SessionRoad, preset)
            ->Iterations(1)
            ->UseRealTime()
            ->Unit(benchmark::kSecond);
        const int frames =
            int(std::chrono::duration_cast<std::chrono::seconds>(kWindow).count()) * preset.frameRate;
        benchmark::RegisterBenchmark(("DirectVideoEncoder" + preset.name()).c_str(), DirectEncoding, preset,
                                     false)
            ->Iterations(frames)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("DirectEncoders" + preset.name()).c_str(), DirectEncoding, preset, true)
            ->Iterations(frames)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("StartToFirstFrame", StartToFirstFrame)
        ->Iterations(kStarts)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace

BENCHMARK_MAIN();
