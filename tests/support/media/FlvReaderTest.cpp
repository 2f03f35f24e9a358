// The FLV reader over hand-made files: what it parses from each kind of tag, and that broken or hostile
// files stop the reading with an error, never a read past the bytes.
#include "tests/peers/FlvReader.h"

#include "tests/support/media/TestMedia.h"

#include <gtest/gtest.h>

using namespace liveapp::test;

namespace {

const std::string kSps("\x67\x42\xC0\x1E\xDA\x02", 6);
const std::string kPps("\x68\xCE\x3C\x80", 4);

std::string avcRecord() {
    return std::string("\x01\x42\xC0\x1E\xFF\xE1", 6) + bigEndian(6, 2) + kSps + '\x01' + bigEndian(4, 2) +
           kPps;
}

std::string metadata() {
    return '\x02' + amfString("onMetaData") + '\x08' + bigEndian(4, 4) +
           amfProperty("width", amfNumber(720)) + amfProperty("encoder", '\x02' + amfString("live")) +
           amfProperty("stereo", std::string("\x01\x01", 2)) +
           amfProperty("nothing", std::string(1, '\x05')) + amfEnd();
}

// A file with one tag of each kind the media road sends.
std::string sampleFile() {
    return flvHeader() + flvTag(18, 0, metadata()) +
           flvTag(9, 0, std::string("\x17\x00\x00\x00\x00", 5) + avcRecord()) +
           flvTag(9, 40,
                  std::string("\x27\x01\xFF\xFF\xFE", 5) + bigEndian(3, 4) + "\x41\x9A\x01" +
                      bigEndian(2, 4) + "\x06\x05") +
           flvTag(8, 0x01020304, std::string("\xAF\x00\x12\x10", 4)) +
           flvTag(8, 0x01020305, std::string("\xAF\x01\x21\x00", 4));
}

} // namespace

TEST(FlvReader, ReadsEachKindOfTagWithItsParsedView) {
    FlvFile file = readFlv(sampleFile());
    ASSERT_EQ(file.error, "");
    EXPECT_TRUE(file.header.hasAudio);
    EXPECT_TRUE(file.header.hasVideo);
    ASSERT_EQ(file.tags.size(), 5u);

    const auto& script = file.tags[0].script;
    ASSERT_TRUE(script);
    EXPECT_EQ(script->name, "onMetaData");
    EXPECT_EQ(script->number("width"), 720.0);
    EXPECT_EQ(std::get<std::string>(script->values.at("encoder")), "live");
    EXPECT_EQ(std::get<bool>(script->values.at("stereo")), true);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(script->values.at("nothing")));

    const auto& header = file.tags[1].video;
    ASSERT_TRUE(header && header->configuration);
    EXPECT_TRUE(header->keyframe());
    EXPECT_EQ(header->codecId, 7);
    EXPECT_EQ(header->avcPacketType, 0);
    EXPECT_EQ(header->configuration->profile, 0x42);
    EXPECT_EQ(header->configuration->level, 0x1E);
    EXPECT_EQ(header->configuration->nalLengthSize, 4);
    EXPECT_EQ(header->configuration->sps, std::vector<std::string>{kSps});
    EXPECT_EQ(header->configuration->pps, std::vector<std::string>{kPps});

    const auto& frame = file.tags[2].video;
    ASSERT_TRUE(frame);
    EXPECT_EQ(file.tags[2].timestamp, 40u);
    EXPECT_FALSE(frame->keyframe());
    EXPECT_EQ(frame->avcPacketType, 1);
    EXPECT_EQ(frame->compositionTime, -2);
    EXPECT_EQ(frame->nalUnits, (std::vector<std::string>{"\x41\x9A\x01", "\x06\x05"}));

    const auto& aacHeader = file.tags[3].audio;
    ASSERT_TRUE(aacHeader && aacHeader->configuration);
    EXPECT_EQ(file.tags[3].timestamp, 0x01020304u);
    EXPECT_EQ(aacHeader->soundFormat, 10);
    EXPECT_EQ(aacHeader->soundRate, 44100);
    EXPECT_EQ(aacHeader->soundSize, 16);
    EXPECT_EQ(aacHeader->channels, 2);
    EXPECT_EQ(aacHeader->aacPacketType, 0);
    EXPECT_EQ(aacHeader->configuration->objectType, 2);
    EXPECT_EQ(aacHeader->configuration->sampleRateIndex, 4);
    EXPECT_EQ(aacHeader->configuration->sampleRate, 44100);
    EXPECT_EQ(aacHeader->configuration->channelConfiguration, 2);

    const auto& aacFrame = file.tags[4].audio;
    ASSERT_TRUE(aacFrame);
    EXPECT_EQ(aacFrame->aacPacketType, 1);
    EXPECT_EQ(aacFrame->payload, std::string("\x21\x00", 2));
}

TEST(FlvReader, ScriptAndCodecConfigurationVariants) {
    // The form a publisher sends (the "@setDataFrame" wrapper), as an object rather than an ECMA array,
    // with nested values and a long string; the AAC configuration with an explicit rate.
    std::string nested = '\x03' + amfProperty("inner", amfNumber(1)) + amfEnd();
    std::string array = std::string("\x0A", 1) + bigEndian(2, 4) + amfNumber(1) + std::string("\x05", 1);
    std::string wrapped = '\x02' + amfString("@setDataFrame") + '\x02' + amfString("onMetaData") + '\x03' +
                          amfProperty("nested", nested) + amfProperty("list", array) +
                          amfProperty("date", '\x0B' + std::string(10, '\0')) +
                          amfProperty("long", '\x0C' + bigEndian(3, 4) + "abc") +
                          amfProperty("fps", amfNumber(25)) + amfEnd();
    // Object type 2, rate index 15 with 48000 spelled out, channel configuration 1.
    std::string explicitRate("\xAF\x00\x17\x80\x5D\xC0\x08", 7);
    FlvFile file = readFlv(flvHeader() + flvTag(18, 0, wrapped) + flvTag(8, 0, explicitRate));
    ASSERT_EQ(file.error, "");
    ASSERT_EQ(file.tags.size(), 2u);
    EXPECT_EQ(file.tags[0].script->name, "onMetaData");
    EXPECT_EQ(file.tags[0].script->number("fps"), 25.0);
    EXPECT_EQ(std::get<std::string>(file.tags[0].script->values.at("long")), "abc");
    EXPECT_EQ(file.tags[0].script->values.count("inner"), 0u);
    const auto& config = file.tags[1].audio->configuration;
    ASSERT_TRUE(config);
    EXPECT_EQ(config->sampleRateIndex, 15);
    EXPECT_EQ(config->sampleRate, 48000);
    EXPECT_EQ(config->channelConfiguration, 1);
}

TEST(FlvReader, BrokenFilesStopWithAnErrorAfterTheGoodTags) {
    const std::string header = flvHeader();
    const std::string good = flvTag(8, 0, std::string("\xAF\x01\x21", 3));
    auto video = [](std::string data) { return flvTag(9, 0, data); };
    auto script = [](std::string data) { return flvTag(18, 0, data); };
    std::string deep = '\x02' + amfString("onMetaData");
    for (int i = 0; i < 20; ++i)
        deep += std::string("\x03\x00\x01x", 4);
    deep += amfNumber(1);
    struct Case {
        const char* name;
        std::string bytes;
        size_t goodTags;
        const char* error;
    } cases[] = {
        {"empty", "", 0, "not an FLV file"},
        {"wrong signature", "FLX" + header.substr(3), 0, "not an FLV file"},
        {"header cut short", header.substr(0, 7), 0, "not an FLV file"},
        {"data offset past the end", "FLV\x01\x05" + bigEndian(0x7FFFFFF0, 4) + bigEndian(0, 4), 0,
         "data offset 2147483632 past the end"},
        {"size past the end", header + good + std::string("\x08\x7F\xFF\xFF", 4) + std::string(20, '\0'), 1,
         "tag at offset 31 cut short"},
        {"cut mid-tag", header + good + good.substr(0, 12), 1, "tag at offset 31 cut short"},
        {"previous size wrong", header + good.substr(0, good.size() - 1) + "\x10" + good, 0,
         "tag at offset 13 of 14 bytes followed by a size of 16"},
        {"unknown type", header + good + char(7) + good.substr(1), 1, "tag of unknown type 7 at offset 31"},
        {"encrypted", header + char(0x28) + good.substr(1), 0, "encrypted tag at offset 13"},
        {"empty video tag", header + video(""), 0, "malformed video tag at offset 13"},
        {"AVC header cut short", header + video(std::string("\x17\x00\x00", 3)), 0,
         "malformed video tag at offset 13"},
        {"AVC record cut short",
         header + video(std::string("\x17\x00\x00\x00\x00", 5) + avcRecord().substr(0, 12)), 0,
         "malformed video tag at offset 13"},
        {"AVC record of another version",
         header + video(std::string("\x17\x00\x00\x00\x00\x02", 6) + avcRecord().substr(1)), 0,
         "malformed video tag at offset 13"},
        {"NAL unit past the end",
         header + good + video(std::string("\x27\x01\x00\x00\x00", 5) + bigEndian(9, 4) + "ab"), 1,
         "malformed video tag at offset 31"},
        {"AAC header without its type", header + flvTag(8, 0, "\xAF"), 0, "malformed audio tag at offset 13"},
        {"AAC reserved rate", header + flvTag(8, 0, std::string("\xAF\x00\x16\x90", 4)), 0,
         "malformed audio tag at offset 13"},
        {"AAC configuration cut short", header + flvTag(8, 0, std::string("\xAF\x00\x12", 3)), 0,
         "malformed audio tag at offset 13"},
        {"script name not a string", header + script(amfNumber(1)), 0, "malformed script tag at offset 13"},
        {"script string past the end", header + script('\x02' + bigEndian(50, 2) + "on"), 0,
         "malformed script tag at offset 13"},
        {"unknown AMF type",
         header + script('\x02' + amfString("onMetaData") + '\x03' + amfProperty("x", "\x11")), 0,
         "malformed script tag at offset 13"},
        {"nesting too deep", header + script(deep), 0, "malformed script tag at offset 13"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FlvFile file = readFlv(c.bytes);
        EXPECT_EQ(file.tags.size(), c.goodTags);
        EXPECT_EQ(file.error, c.error);
    }
}

// Every prefix of a real file (a recording cut at any byte) reads its whole tags and then either ends
// cleanly, exactly at a tag's end, or names the cut.
TEST(FlvReader, EveryPrefixOfAFileReadsItsWholeTags) {
    const std::string whole = sampleFile();
    std::vector<size_t> tagEnds;
    {
        FlvReader reader(whole);
        size_t end = 13;
        while (auto tag = reader.next())
            tagEnds.push_back(end += 15 + tag->data.size());
    }
    ASSERT_EQ(tagEnds.back(), whole.size());
    for (size_t length = 0; length <= whole.size(); ++length) {
        FlvFile file = readFlv(std::string_view(whole).substr(0, length));
        const size_t whole_tags =
            size_t(std::upper_bound(tagEnds.begin(), tagEnds.end(), length) - tagEnds.begin());
        ASSERT_EQ(file.tags.size(), whole_tags) << "length " << length;
        const bool clean = length == 13 || std::find(tagEnds.begin(), tagEnds.end(), length) != tagEnds.end();
        ASSERT_EQ(file.error.empty(), clean) << "length " << length << ": " << file.error;
    }
}
