#pragma once
// FlvReader: an FLV file (what the ingest records of a published stream) read tag by tag, with parsed
// views of what the media road sends: H.264 in AVC packets, AAC, and the onMetaData script tag.
//
// Promises: next() answers the tags in file order and stops (nullopt) at the end of the bytes or at the
// first thing that does not parse, with error() naming it and where; the tags before it stay good, so a
// recording cut short mid-tag still reads up to the cut. No input, however broken, is read past its end.
// Tags own their bytes; the reader only borrows the input (it must outlive the reader). Not thread-safe.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace liveapp::test {

enum class FlvTagType : uint8_t { Audio = 8, Video = 9, Script = 18 };

struct AvcDecoderConfiguration {
    uint8_t profile{0};
    uint8_t compatibility{0};
    uint8_t level{0};
    int nalLengthSize{4};
    std::vector<std::string> sps;
    std::vector<std::string> pps;
};

struct FlvVideo {
    uint8_t frameType{0}; // 1 keyframe, 2 inter frame
    uint8_t codecId{0};   // 7 AVC
    // The AVC fields, for codec 7 only: 0 sequence header, 1 NAL units, 2 end of sequence.
    uint8_t avcPacketType{0};
    int32_t compositionTime{0};
    std::optional<AvcDecoderConfiguration> configuration; // packet type 0
    std::vector<std::string> nalUnits;                    // packet type 1, without their lengths
    std::string payload; // what follows the AVC header (or the first byte, for other codecs)

    bool keyframe() const { return frameType == 1; }
};

struct AudioSpecificConfig {
    int objectType{0}; // 2 AAC LC
    int sampleRateIndex{0};
    int sampleRate{0};
    int channelConfiguration{0};
};

struct FlvAudio {
    uint8_t soundFormat{0};                           // 10 AAC
    int soundRate{0};                                 // Hz, from the tag's two rate bits
    int soundSize{0};                                 // bits per sample
    int channels{0};                                  // 1 or 2
    std::optional<uint8_t> aacPacketType;             // 0 sequence header, 1 raw frame (AAC only)
    std::optional<AudioSpecificConfig> configuration; // packet type 0
    std::string payload; // the AudioSpecificConfig or the raw frame for AAC, else what follows the first byte
};

// AMF0 values as onMetaData carries them; nulls and nested values read as monostate.
using AmfValue = std::variant<std::monostate, double, bool, std::string>;

struct FlvScript {
    // The handler's name ("onMetaData"); a "@setDataFrame" wrapper is looked through.
    std::string name;
    std::map<std::string, AmfValue> values;

    std::optional<double> number(const std::string& key) const;
};

struct FlvTag {
    FlvTagType type{FlvTagType::Script};
    uint32_t timestamp{0}; // ms
    std::string data;
    std::optional<FlvVideo> video;
    std::optional<FlvAudio> audio;
    std::optional<FlvScript> script;
};

struct FlvHeader {
    uint8_t version{0};
    bool hasAudio{false};
    bool hasVideo{false};
};

class FlvReader {
public:
    explicit FlvReader(std::string_view bytes);

    const FlvHeader& header() const { return m_header; }
    std::optional<FlvTag> next();
    // Empty while the bytes read well; else what stopped the reading.
    const std::string& error() const { return m_error; }

private:
    std::optional<FlvTag> fail(std::string message);
    bool parseBody(FlvTag& tag);

    std::string_view m_bytes;
    size_t m_offset{0};
    FlvHeader m_header;
    int m_nalLengthSize{4};
    std::string m_error;
};

// A whole file's tags, with the error that stopped the reading (empty when it was read to its end).
struct FlvFile {
    FlvHeader header;
    std::vector<FlvTag> tags;
    std::string error;
};
FlvFile readFlv(std::string_view bytes);
FlvFile readFlvFile(const std::filesystem::path& path);

// Parsers of the two codec configurations, shared by the reader and the decoders; nullopt when the
// bytes do not hold one.
std::optional<AvcDecoderConfiguration> parseAvcDecoderConfiguration(std::string_view bytes);
std::optional<AudioSpecificConfig> parseAudioSpecificConfig(std::string_view bytes);

} // namespace liveapp::test
