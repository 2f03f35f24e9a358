#pragma once
// Media for the reader's and decoder's tests: FLV bytes built tag by tag, and a short stream encoded
// here with libavcodec (libx264 and the AAC encoder) as the media road sends it: the AVC sequence header
// and AVCC video packets, the AAC sequence header and raw AAC frames.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace liveapp::test {

// Big-endian FLV building blocks.
std::string bigEndian(uint32_t value, int byteCount);
std::string flvHeader(bool audio = true, bool video = true);
// One tag with its previous-tag size after it.
std::string flvTag(uint8_t type, uint32_t timestamp, std::string_view data);
std::string amfString(std::string_view text); // without the type byte
std::string amfNumber(double value);          // with the type byte
std::string amfProperty(std::string_view name, std::string_view typedValue);
std::string amfEnd();

// The pictures: frame k is red on its left half and blue on its right, with a white 16x16 square at
// x = markerX(k), y = 16.
int markerX(int frame);

struct EncodedMedia {
    int width{0};
    int height{0};
    std::string avcSequenceHeader;      // video tag data
    std::vector<std::string> videoTags; // tag data, one frame each, 40 ms apart
    std::vector<bool> keyframes;
    std::string aacSequenceHeader;
    std::vector<std::string> audioTags; // 1024 samples each, a 1 kHz sine at half scale on both channels
    // The whole stream as an FLV file: metadata, the two sequence headers, then the frames by time.
    std::string flv() const;
};

// Frames at 25 fps and about the same duration of sound (44.1 kHz stereo).
EncodedMedia encodeTestMedia(int width, int height, int frames);

} // namespace liveapp::test
