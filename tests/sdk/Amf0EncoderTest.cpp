#include "sdk/librtmp/Amf0Encoder.h"

#include "sdk/librtmp/StreamMetadata.h"

#include <gtest/gtest.h>
#include <string>

using livecore::rtmp::Amf0Encoder;

namespace {

std::vector<uint8_t> bytesOf(std::initializer_list<int> values) {
    std::vector<uint8_t> bytes;
    for (int value : values)
        bytes.push_back(static_cast<uint8_t>(value));
    return bytes;
}

void append(std::vector<uint8_t>& bytes, std::string_view text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
}

} // namespace

TEST(Amf0Encoder, StringsCarryTheirLengthAndSwitchToTheLongFormPast65535Bytes) {
    Amf0Encoder shortString;
    shortString.putString("ab");
    EXPECT_EQ(shortString.bytes(), bytesOf({0x02, 0x00, 0x02, 'a', 'b'}));

    Amf0Encoder limit;
    limit.putString(std::string(65535, 'x'));
    ASSERT_EQ(limit.bytes().size(), 3u + 65535u);
    EXPECT_EQ(limit.bytes()[0], 0x02);
    EXPECT_EQ(limit.bytes()[1], 0xff);
    EXPECT_EQ(limit.bytes()[2], 0xff);

    Amf0Encoder longString;
    longString.putString(std::string(65536, 'x'));
    ASSERT_EQ(longString.bytes().size(), 5u + 65536u);
    EXPECT_EQ(std::vector<uint8_t>(longString.bytes().begin(), longString.bytes().begin() + 5),
              bytesOf({0x0c, 0x00, 0x01, 0x00, 0x00}));
}

TEST(Amf0Encoder, EcmaArraysAndObjectsHoldNamedPairsUpToTheEndMarker) {
    Amf0Encoder encoder;
    encoder.beginEcmaArray(1);
    encoder.putName("k");
    encoder.putBoolean(true);
    encoder.endObject();
    encoder.beginObject();
    encoder.putName("n");
    encoder.putNull();
    encoder.endObject();
    EXPECT_EQ(encoder.bytes(), bytesOf({0x08, 0, 0, 0,   1,    0, 1, 'k', 0x01, 0x01, 0, 0, 0x09, //
                                        0x03, 0, 1, 'n', 0x05, 0, 0, 0x09}));
}

TEST(StreamMetadata, IsOneSetDataFrameOnMetaDataMessageWithTheStreamsShape) {
    livecore::rtmp::StreamParameters parameters;
    parameters.width = 640;
    parameters.height = 360;
    parameters.frameRate = 15;
    parameters.videoBitrate = 800000;
    parameters.audioBitrate = 128000;

    std::vector<uint8_t> expected = bytesOf({0x02, 0x00, 13});
    append(expected, "@setDataFrame");
    expected.insert(expected.end(), {0x02, 0x00, 10});
    append(expected, "onMetaData");
    expected.insert(expected.end(), {0x08, 0, 0, 0, 10});
    auto pair = [&](std::string_view name, std::initializer_list<int> number) {
        expected.push_back(0);
        expected.push_back(static_cast<uint8_t>(name.size()));
        append(expected, name);
        expected.push_back(0x00);
        for (int byte : number)
            expected.push_back(static_cast<uint8_t>(byte));
    };
    pair("width", {0x40, 0x84, 0, 0, 0, 0, 0, 0});                 // 640
    pair("height", {0x40, 0x76, 0x80, 0, 0, 0, 0, 0});             // 360
    pair("framerate", {0x40, 0x2e, 0, 0, 0, 0, 0, 0});             // 15
    pair("videodatarate", {0x40, 0x89, 0, 0, 0, 0, 0, 0});         // 800 kbit/s
    pair("videocodecid", {0x40, 0x1c, 0, 0, 0, 0, 0, 0});          // 7, AVC
    pair("audiodatarate", {0x40, 0x60, 0, 0, 0, 0, 0, 0});         // 128 kbit/s
    pair("audiosamplerate", {0x40, 0xe5, 0x88, 0x80, 0, 0, 0, 0}); // 44100
    pair("audiosamplesize", {0x40, 0x30, 0, 0, 0, 0, 0, 0});       // 16
    expected.insert(expected.end(), {0, 6});
    append(expected, "stereo");
    expected.insert(expected.end(), {0x01, 0x01});
    pair("audiocodecid", {0x40, 0x24, 0, 0, 0, 0, 0, 0}); // 10, AAC
    expected.insert(expected.end(), {0, 0, 0x09});

    EXPECT_EQ(livecore::rtmp::streamMetadataMessage(parameters), expected);
}
