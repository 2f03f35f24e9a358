// The media road's parts on their own: the output's bounded queue, the encoder's skipping while the
// sender is busy, and the bytes the packetisers give the output.
#include "platform/media/PixelBuffer.h"
#include "sdk/engine/AACPacketizer.h"
#include "sdk/engine/H264Encode.h"
#include "sdk/engine/H264Packetizer.h"
#include "sdk/engine/IPixelBuffer.h"
#include "sdk/librtmp/RTMPPacketQueue.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using livecore::rtmp::QueuedPacket;
using livecore::rtmp::RTMPPacketQueue;

namespace {

// What reaches the end of a road: each message's type, timestamp and body.
class MessageSink final : public livecore::IOutput {
public:
    void pushBuffer(const uint8_t* data, size_t size, livecore::IMetadata& metadata) override {
        auto& message = static_cast<livecore::RTMPMetadata&>(metadata);
        messages.push_back({message.getData<livecore::kRTMPMetadataMessageType>(),
                            message.getData<livecore::kRTMPMetadataTimestamp>(),
                            std::vector<uint8_t>(data, data + size)});
    }
    std::vector<QueuedPacket> messages;
};

TEST(RTMPPacketQueue, HoldsThirtyTwoAndMakesTheNextProducerWaitUntilOneLeavesOrTheQueueCloses) {
    RTMPPacketQueue queue;
    for (int i = 0; i < 32; ++i)
        ASSERT_TRUE(queue.push({9, i, {}}));
    EXPECT_EQ(queue.size(), 32u);

    auto blocked = std::async(std::launch::async, [&] { return queue.push({9, 32, {}}); });
    while (queue.waitingProducers() == 0)
        std::this_thread::yield();
    EXPECT_EQ(blocked.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    auto first = queue.takeForSending();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->timestamp, 0);
    EXPECT_TRUE(queue.isSending());
    queue.finishedSending();
    EXPECT_TRUE(blocked.get());
    EXPECT_EQ(queue.size(), 32u);

    // Closing frees a waiting producer at once, and nothing more is taken in.
    auto waiting = std::async(std::launch::async, [&] { return queue.push({9, 33, {}}); });
    while (queue.waitingProducers() == 0)
        std::this_thread::yield();
    queue.close();
    EXPECT_FALSE(waiting.get());
    EXPECT_FALSE(queue.push({9, 34, {}}));
    EXPECT_FALSE(queue.takeForSending());
}

// The record the bitrate is judged by: since when the queue has been over half (more than 16) or
// under a quarter (fewer than 8) full, without a break.
TEST(RTMPPacketQueue, RecordsSinceWhenItHasBeenOverHalfOrUnderAQuarterFull) {
    auto clock = std::make_shared<platform::ManualClock>();
    platform::Clock::install(clock);
    const auto t0 = clock->monotonic();
    RTMPPacketQueue queue;
    EXPECT_EQ(queue.level().underQuarterSince, t0);
    auto pushUntil = [&](size_t size) {
        while (queue.size() < size)
            ASSERT_TRUE(queue.push({9, 0, {}}));
    };
    clock->advance(std::chrono::seconds(1));
    pushUntil(7);
    EXPECT_EQ(queue.level().underQuarterSince, t0) << "still under a quarter";
    pushUntil(8);
    EXPECT_FALSE(queue.level().underQuarterSince);
    pushUntil(16);
    EXPECT_FALSE(queue.level().overHalfSince);
    clock->advance(std::chrono::seconds(1));
    pushUntil(17);
    const auto full = clock->monotonic();
    EXPECT_EQ(queue.level().overHalfSince, full);
    clock->advance(std::chrono::seconds(1));
    pushUntil(32);
    EXPECT_EQ(queue.level().overHalfSince, full) << "more of the same keeps the start";
    while (queue.size() > 16)
        queue.takeForSending();
    EXPECT_FALSE(queue.level().overHalfSince);
    queue.close();
    EXPECT_EQ(queue.level().underQuarterSince, clock->monotonic());
    platform::Clock::install(nullptr);
}

TEST(H264Encode, SkipsFramesWhileTheSenderIsBusyAndStartsWithAKeyframe) {
    std::atomic<bool> sending{false};
    livecore::H264Encode::Settings settings;
    settings.width = 64;
    settings.height = 48;
    settings.frameRate = 10;
    settings.bitrate = 200000;
    settings.origin = 1000;
    auto encoder = livecore::H264Encode::create(settings, [&] { return sending.load(); });
    ASSERT_TRUE(encoder);
    EXPECT_EQ(encoder->sequenceParameterSet().front() & 0x1F, 7);
    EXPECT_EQ(encoder->pictureParameterSet().front() & 0x1F, 8);
    auto packetizer = std::make_shared<livecore::H264Packetizer>(encoder->sequenceParameterSet(),
                                                                 encoder->pictureParameterSet());
    auto sink = std::make_shared<MessageSink>();
    encoder->setOutput(packetizer);
    packetizer->setOutput(sink);

    auto push = [&](double time) {
        auto frame = platform::CVPixelBufferCreate(64, 48);
        livecore::VideoBufferMetadata metadata(time);
        metadata.setData(std::make_shared<livecore::Apple::PixelBuffer>(frame), false);
        encoder->pushBuffer(frame->pixels(), frame->byteCount(), metadata);
    };
    push(900); // captured before the stream began
    push(1000);
    sending = true;
    push(1100);
    sending = false;
    push(1200);

    EXPECT_EQ(encoder->framesSkipped(), 1u);
    EXPECT_EQ(encoder->framesEncoded(), 2u);
    ASSERT_EQ(sink->messages.size(), 3u); // the sequence header, then two frames
    const auto& header = sink->messages[0];
    EXPECT_EQ(header.messageType, 9);
    EXPECT_EQ(header.timestamp, 0);
    const auto& sps = encoder->sequenceParameterSet();
    const auto& pps = encoder->pictureParameterSet();
    std::vector<uint8_t> expected = {
        0x17, 0, 0, 0, 0, 1, sps[1], sps[2], sps[3], 0xFF, 0xE1, 0, uint8_t(sps.size())};
    expected.insert(expected.end(), sps.begin(), sps.end());
    expected.insert(expected.end(), {1, 0, uint8_t(pps.size())});
    expected.insert(expected.end(), pps.begin(), pps.end());
    EXPECT_EQ(header.body, expected);

    EXPECT_EQ((std::vector<uint8_t>(sink->messages[1].body.begin(), sink->messages[1].body.begin() + 5)),
              (std::vector<uint8_t>{0x17, 1, 0, 0, 0}));
    EXPECT_EQ(sink->messages[1].timestamp, 0);
    EXPECT_EQ((std::vector<uint8_t>(sink->messages[2].body.begin(), sink->messages[2].body.begin() + 5)),
              (std::vector<uint8_t>{0x27, 1, 0, 0, 0}));
    EXPECT_EQ(sink->messages[2].timestamp, 200);
    // Every NAL unit behind its 4-byte length, to the last byte.
    const auto& body = sink->messages[2].body;
    size_t at = 5;
    while (at + 4 <= body.size())
        at += 4 + (size_t(body[at]) << 24 | size_t(body[at + 1]) << 16 | size_t(body[at + 2]) << 8 |
                   body[at + 3]);
    EXPECT_EQ(at, body.size());
}

TEST(AACPacketizer, SendsTheConfigurationOnceThenRawFramesWithTimesThatNeverGoBack) {
    livecore::AACPacketizer packetizer({0x12, 0x10});
    auto sink = std::make_shared<MessageSink>();
    packetizer.setOutput(sink);
    const std::vector<uint8_t> frame = {0x21, 0x10};
    for (double time : {-23.2, 0.0, 23.2, 22.0}) {
        livecore::AudioBufferMetadata metadata(time);
        metadata.setData(44100, 2);
        packetizer.pushBuffer(frame.data(), frame.size(), metadata);
    }
    ASSERT_EQ(sink->messages.size(), 5u);
    EXPECT_EQ(sink->messages[0].body, (std::vector<uint8_t>{0xAF, 0, 0x12, 0x10}));
    EXPECT_EQ(sink->messages[1].body, (std::vector<uint8_t>{0xAF, 1, 0x21, 0x10}));
    std::vector<int32_t> times;
    for (const auto& message : sink->messages) {
        EXPECT_EQ(message.messageType, 8);
        times.push_back(message.timestamp);
    }
    EXPECT_EQ(times, (std::vector<int32_t>{0, 0, 0, 23, 23}));
}

} // namespace
