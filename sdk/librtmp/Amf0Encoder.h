#pragma once
// Writes AMF0 values, the encoding of RTMP command and data messages: numbers as big-endian doubles,
// strings with a 16-bit length (the long form past 65535 bytes), ECMA arrays and objects as
// name/value pairs closed by the object-end marker. The caller keeps the structure balanced; the
// encoder only appends bytes. Not thread-safe; use one per message.

#include <cstdint>
#include <string_view>
#include <vector>

namespace livecore::rtmp {

class Amf0Encoder {
public:
    void putNumber(double value);
    void putBoolean(bool value);
    void putString(std::string_view value);
    void putNull();

    // An ECMA array announcing `count` pairs, then putName/value pairs, then endObject().
    void beginEcmaArray(uint32_t count);
    void beginObject();
    // A pair's name: no type marker, a 16-bit length.
    void putName(std::string_view name);
    void endObject();

    void putNamedNumber(std::string_view name, double value);

    const std::vector<uint8_t>& bytes() const { return m_bytes; }

private:
    void putUint16(uint16_t value);
    void putUint32(uint32_t value);

    std::vector<uint8_t> m_bytes;
};

} // namespace livecore::rtmp
