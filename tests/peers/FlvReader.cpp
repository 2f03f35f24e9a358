#include "tests/peers/FlvReader.h"

#include <bit>
#include <cstring>
#include <fmt/format.h>
#include <fstream>
#include <sstream>

namespace liveapp::test {

namespace {

// Big-endian reads that fail, rather than read on, at the end of the bytes.
class Cursor {
public:
    explicit Cursor(std::string_view bytes)
        : m_bytes(bytes) {}

    size_t remaining() const { return m_bytes.size() - m_offset; }
    bool atEnd() const { return remaining() == 0; }

    std::optional<uint32_t> unsignedInt(int byteCount) {
        if (remaining() < size_t(byteCount))
            return std::nullopt;
        uint32_t value = 0;
        for (int i = 0; i < byteCount; ++i)
            value = (value << 8) | static_cast<uint8_t>(m_bytes[m_offset++]);
        return value;
    }
    std::optional<std::string_view> bytes(size_t count) {
        if (remaining() < count)
            return std::nullopt;
        auto taken = m_bytes.substr(m_offset, count);
        m_offset += count;
        return taken;
    }
    std::string_view rest() { return *bytes(remaining()); }

private:
    std::string_view m_bytes;
    size_t m_offset{0};
};

// Bits, most significant first, for the AudioSpecificConfig.
class BitCursor {
public:
    explicit BitCursor(std::string_view bytes)
        : m_bytes(bytes) {}

    std::optional<uint32_t> bits(int count) {
        if (m_bit + size_t(count) > m_bytes.size() * 8)
            return std::nullopt;
        uint32_t value = 0;
        for (int i = 0; i < count; ++i, ++m_bit)
            value = (value << 1) | ((static_cast<uint8_t>(m_bytes[m_bit / 8]) >> (7 - m_bit % 8)) & 1);
        return value;
    }

private:
    std::string_view m_bytes;
    size_t m_bit{0};
};

constexpr int kAacSampleRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                   22050, 16000, 12000, 11025, 8000,  7350};
constexpr int kFlvSoundRates[] = {5512, 11025, 22050, 44100};
// Deeper nesting than any real metadata; it bounds the recursion hostile bytes could ask for.
constexpr int kMaxAmfDepth = 16;

enum AmfType : uint8_t {
    Number = 0,
    Boolean = 1,
    String = 2,
    Object = 3,
    Null = 5,
    Undefined = 6,
    EcmaArray = 8,
    ObjectEnd = 9,
    StrictArray = 10,
    Date = 11,
    LongString = 12,
};

bool readAmfProperties(Cursor& cursor, std::map<std::string, AmfValue>* into, int depth);

std::optional<AmfValue> readAmfValue(Cursor& cursor, int depth);

std::optional<AmfValue> readAmfValueOfType(uint32_t type, Cursor& cursor, int depth) {
    if (depth > kMaxAmfDepth)
        return std::nullopt;
    switch (type) {
    case Number: {
        auto bits = cursor.unsignedInt(4);
        auto low = cursor.unsignedInt(4);
        if (!bits || !low)
            return std::nullopt;
        return AmfValue(std::bit_cast<double>(uint64_t(*bits) << 32 | *low));
    }
    case Boolean: {
        auto value = cursor.unsignedInt(1);
        return value ? std::optional<AmfValue>(*value != 0) : std::nullopt;
    }
    case String:
    case LongString: {
        auto length = cursor.unsignedInt(type == String ? 2 : 4);
        auto text = length ? cursor.bytes(*length) : std::nullopt;
        return text ? std::optional<AmfValue>(std::string(*text)) : std::nullopt;
    }
    case Null:
    case Undefined:
        return AmfValue();
    case Date:
        return cursor.bytes(10) ? std::optional<AmfValue>(AmfValue()) : std::nullopt;
    case EcmaArray:
        if (!cursor.unsignedInt(4))
            return std::nullopt;
        [[fallthrough]];
    case Object:
        return readAmfProperties(cursor, nullptr, depth + 1) ? std::optional<AmfValue>(AmfValue())
                                                             : std::nullopt;
    case StrictArray: {
        auto count = cursor.unsignedInt(4);
        if (!count)
            return std::nullopt;
        for (uint32_t i = 0; i < *count; ++i)
            if (!readAmfValue(cursor, depth + 1))
                return std::nullopt;
        return AmfValue();
    }
    default:
        return std::nullopt;
    }
}

std::optional<AmfValue> readAmfValue(Cursor& cursor, int depth) {
    auto type = cursor.unsignedInt(1);
    return type ? readAmfValueOfType(*type, cursor, depth) : std::nullopt;
}

// Name/value pairs up to the end marker (0x00 0x00 0x09). Some writers leave the marker out of the last
// ECMA array, so the end of the bytes ends the properties too.
bool readAmfProperties(Cursor& cursor, std::map<std::string, AmfValue>* into, int depth) {
    while (!cursor.atEnd()) {
        auto length = cursor.unsignedInt(2);
        auto name = length ? cursor.bytes(*length) : std::nullopt;
        auto type = name ? cursor.unsignedInt(1) : std::nullopt;
        if (!type)
            return false;
        if (name->empty() && *type == ObjectEnd)
            return true;
        auto value = readAmfValueOfType(*type, cursor, depth);
        if (!value)
            return false;
        if (into)
            (*into)[std::string(*name)] = std::move(*value);
    }
    return true;
}

std::optional<FlvScript> parseScript(std::string_view data) {
    Cursor cursor(data);
    FlvScript script;
    auto name = readAmfValue(cursor, 0);
    if (!name || !std::holds_alternative<std::string>(*name))
        return std::nullopt;
    script.name = std::get<std::string>(*name);
    if (cursor.atEnd())
        return script;
    if (script.name == "@setDataFrame") {
        auto inner = readAmfValue(cursor, 0);
        if (!inner || !std::holds_alternative<std::string>(*inner))
            return std::nullopt;
        script.name = std::get<std::string>(*inner);
    }
    auto type = cursor.unsignedInt(1);
    if (type == EcmaArray && !cursor.unsignedInt(4))
        return std::nullopt;
    if (type != EcmaArray && type != Object)
        return std::nullopt;
    if (!readAmfProperties(cursor, &script.values, 1))
        return std::nullopt;
    return script;
}

std::optional<FlvVideo> parseVideo(std::string_view data, int& nalLengthSize) {
    Cursor cursor(data);
    auto first = cursor.unsignedInt(1);
    if (!first)
        return std::nullopt;
    FlvVideo video;
    video.frameType = *first >> 4;
    video.codecId = *first & 0x0F;
    if (video.codecId != 7) {
        video.payload = cursor.rest();
        return video;
    }
    auto packetType = cursor.unsignedInt(1);
    auto composition = cursor.unsignedInt(3);
    if (!packetType || !composition)
        return std::nullopt;
    video.avcPacketType = *packetType;
    // A signed 24-bit value.
    video.compositionTime = int32_t(*composition << 8) >> 8;
    video.payload = cursor.rest();
    if (video.avcPacketType == 0) {
        video.configuration = parseAvcDecoderConfiguration(video.payload);
        if (!video.configuration)
            return std::nullopt;
        nalLengthSize = video.configuration->nalLengthSize;
    } else if (video.avcPacketType == 1) {
        Cursor units(video.payload);
        while (!units.atEnd()) {
            auto length = units.unsignedInt(nalLengthSize);
            auto unit = length ? units.bytes(*length) : std::nullopt;
            if (!unit)
                return std::nullopt;
            video.nalUnits.emplace_back(*unit);
        }
    }
    return video;
}

std::optional<FlvAudio> parseAudio(std::string_view data) {
    Cursor cursor(data);
    auto first = cursor.unsignedInt(1);
    if (!first)
        return std::nullopt;
    FlvAudio audio;
    audio.soundFormat = *first >> 4;
    audio.soundRate = kFlvSoundRates[(*first >> 2) & 3];
    audio.soundSize = (*first & 2) ? 16 : 8;
    audio.channels = (*first & 1) ? 2 : 1;
    if (audio.soundFormat == 10) {
        auto packetType = cursor.unsignedInt(1);
        if (!packetType)
            return std::nullopt;
        audio.aacPacketType = uint8_t(*packetType);
    }
    audio.payload = cursor.rest();
    if (audio.aacPacketType == 0) {
        audio.configuration = parseAudioSpecificConfig(audio.payload);
        if (!audio.configuration)
            return std::nullopt;
    }
    return audio;
}

} // namespace

std::optional<double> FlvScript::number(const std::string& key) const {
    auto found = values.find(key);
    if (found == values.end() || !std::holds_alternative<double>(found->second))
        return std::nullopt;
    return std::get<double>(found->second);
}

std::optional<AvcDecoderConfiguration> parseAvcDecoderConfiguration(std::string_view bytes) {
    Cursor cursor(bytes);
    auto version = cursor.unsignedInt(1);
    auto profile = cursor.unsignedInt(1);
    auto compatibility = cursor.unsignedInt(1);
    auto level = cursor.unsignedInt(1);
    auto lengthSize = cursor.unsignedInt(1);
    if (version != 1u || !profile || !compatibility || !level || !lengthSize)
        return std::nullopt;
    AvcDecoderConfiguration configuration;
    configuration.profile = uint8_t(*profile);
    configuration.compatibility = uint8_t(*compatibility);
    configuration.level = uint8_t(*level);
    // Lengths of 1, 2 or 4 bytes; 3 is not a size the format allows.
    configuration.nalLengthSize = int(*lengthSize & 3) + 1;
    if (configuration.nalLengthSize == 3)
        return std::nullopt;
    for (auto* sets : {&configuration.sps, &configuration.pps}) {
        auto count = cursor.unsignedInt(1);
        if (!count)
            return std::nullopt;
        for (uint32_t i = 0; i < (sets == &configuration.sps ? (*count & 0x1F) : *count); ++i) {
            auto length = cursor.unsignedInt(2);
            auto set = length ? cursor.bytes(*length) : std::nullopt;
            if (!set)
                return std::nullopt;
            sets->emplace_back(*set);
        }
    }
    return configuration;
}

std::optional<AudioSpecificConfig> parseAudioSpecificConfig(std::string_view bytes) {
    BitCursor bits(bytes);
    AudioSpecificConfig config;
    auto objectType = bits.bits(5);
    if (objectType == 31u) {
        auto extended = bits.bits(6);
        objectType = extended ? std::optional<uint32_t>(32 + *extended) : std::nullopt;
    }
    auto rateIndex = bits.bits(4);
    if (!objectType || !rateIndex)
        return std::nullopt;
    config.objectType = int(*objectType);
    config.sampleRateIndex = int(*rateIndex);
    if (*rateIndex == 15) {
        auto explicitRate = bits.bits(24);
        if (!explicitRate)
            return std::nullopt;
        config.sampleRate = int(*explicitRate);
    } else if (*rateIndex < std::size(kAacSampleRates)) {
        config.sampleRate = kAacSampleRates[*rateIndex];
    } else {
        return std::nullopt;
    }
    auto channels = bits.bits(4);
    if (!channels)
        return std::nullopt;
    config.channelConfiguration = int(*channels);
    return config;
}

FlvReader::FlvReader(std::string_view bytes)
    : m_bytes(bytes) {
    Cursor cursor(bytes);
    auto signature = cursor.bytes(3);
    auto version = cursor.unsignedInt(1);
    auto flags = cursor.unsignedInt(1);
    auto dataOffset = cursor.unsignedInt(4);
    if (!signature || *signature != "FLV" || !version || !flags || !dataOffset) {
        fail("not an FLV file");
        return;
    }
    m_header = {uint8_t(*version), (*flags & 4) != 0, (*flags & 1) != 0};
    if (*dataOffset < 9 || *dataOffset + 4 > bytes.size()) {
        fail(fmt::format("data offset {} past the end", *dataOffset));
        return;
    }
    // The first previous-tag size follows the header and is always zero.
    m_offset = *dataOffset + 4;
}

std::optional<FlvTag> FlvReader::fail(std::string message) {
    if (m_error.empty())
        m_error = std::move(message);
    return std::nullopt;
}

std::optional<FlvTag> FlvReader::next() {
    if (!m_error.empty() || m_offset >= m_bytes.size())
        return std::nullopt;
    const size_t start = m_offset;
    Cursor cursor(m_bytes.substr(start));
    auto kind = cursor.unsignedInt(1);
    auto size = cursor.unsignedInt(3);
    auto timestamp = cursor.unsignedInt(3);
    auto extended = cursor.unsignedInt(1);
    auto streamId = cursor.unsignedInt(3);
    auto data = size ? cursor.bytes(*size) : std::nullopt;
    auto previousSize = cursor.unsignedInt(4);
    if (!kind || !size || !timestamp || !extended || !streamId || !data || !previousSize)
        return fail(fmt::format("tag at offset {} cut short", start));
    if (*kind & 0x20)
        return fail(fmt::format("encrypted tag at offset {}", start));
    if (*kind != 8 && *kind != 9 && *kind != 18)
        return fail(fmt::format("tag of unknown type {} at offset {}", *kind, start));
    if (*previousSize != 11 + *size)
        return fail(fmt::format("tag at offset {} of {} bytes followed by a size of {}", start, 11 + *size,
                                *previousSize));
    FlvTag tag;
    tag.type = FlvTagType(*kind);
    tag.timestamp = *extended << 24 | *timestamp;
    tag.data = *data;
    if (!parseBody(tag))
        return fail(fmt::format("malformed {} tag at offset {}",
                                tag.type == FlvTagType::Video   ? "video"
                                : tag.type == FlvTagType::Audio ? "audio"
                                                                : "script",
                                start));
    m_offset = start + 11 + *size + 4;
    return tag;
}

bool FlvReader::parseBody(FlvTag& tag) {
    switch (tag.type) {
    case FlvTagType::Video:
        tag.video = parseVideo(tag.data, m_nalLengthSize);
        return tag.video.has_value();
    case FlvTagType::Audio:
        tag.audio = parseAudio(tag.data);
        return tag.audio.has_value();
    case FlvTagType::Script:
        tag.script = parseScript(tag.data);
        return tag.script.has_value();
    }
    return false;
}

FlvFile readFlv(std::string_view bytes) {
    FlvReader reader(bytes);
    FlvFile file;
    while (auto tag = reader.next())
        file.tags.push_back(std::move(*tag));
    file.header = reader.header();
    file.error = reader.error();
    return file;
}

FlvFile readFlvFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {{}, {}, "cannot open " + path.string()};
    std::stringstream bytes;
    bytes << in.rdbuf();
    return readFlv(bytes.str());
}

} // namespace liveapp::test
