#include "sdk/librtmp/Amf0Encoder.h"

#include <bit>
#include <limits>

namespace livecore::rtmp {

namespace {

enum Marker : uint8_t {
    Number = 0x00,
    Boolean = 0x01,
    String = 0x02,
    Object = 0x03,
    Null = 0x05,
    EcmaArray = 0x08,
    ObjectEnd = 0x09,
    LongString = 0x0c,
};

} // namespace

void Amf0Encoder::putNumber(double value) {
    m_bytes.push_back(Number);
    auto bits = std::bit_cast<uint64_t>(value);
    for (int shift = 56; shift >= 0; shift -= 8)
        m_bytes.push_back(static_cast<uint8_t>(bits >> shift));
}

void Amf0Encoder::putBoolean(bool value) {
    m_bytes.push_back(Boolean);
    m_bytes.push_back(value ? 1 : 0);
}

void Amf0Encoder::putString(std::string_view value) {
    if (value.size() > std::numeric_limits<uint16_t>::max()) {
        m_bytes.push_back(LongString);
        putUint32(static_cast<uint32_t>(value.size()));
    } else {
        m_bytes.push_back(String);
        putUint16(static_cast<uint16_t>(value.size()));
    }
    m_bytes.insert(m_bytes.end(), value.begin(), value.end());
}

void Amf0Encoder::putNull() {
    m_bytes.push_back(Null);
}

void Amf0Encoder::beginEcmaArray(uint32_t count) {
    m_bytes.push_back(EcmaArray);
    putUint32(count);
}

void Amf0Encoder::beginObject() {
    m_bytes.push_back(Object);
}

void Amf0Encoder::putName(std::string_view name) {
    // Names have no long form; a longer one would not be a name any peer reads.
    auto length = std::min<size_t>(name.size(), std::numeric_limits<uint16_t>::max());
    putUint16(static_cast<uint16_t>(length));
    m_bytes.insert(m_bytes.end(), name.begin(), name.begin() + static_cast<std::ptrdiff_t>(length));
}

void Amf0Encoder::endObject() {
    putUint16(0);
    m_bytes.push_back(ObjectEnd);
}

void Amf0Encoder::putNamedNumber(std::string_view name, double value) {
    putName(name);
    putNumber(value);
}

void Amf0Encoder::putUint16(uint16_t value) {
    m_bytes.push_back(static_cast<uint8_t>(value >> 8));
    m_bytes.push_back(static_cast<uint8_t>(value));
}

void Amf0Encoder::putUint32(uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        m_bytes.push_back(static_cast<uint8_t>(value >> shift));
}

} // namespace livecore::rtmp
