#pragma once
// The LZW decompression of one GIF frame's image data, from its data sub-blocks joined into one buffer.
// Streams as encoders write them are decoded by copying each string from where it was written before.
// Everything else decodes as the platform's GIF reader has always decoded it, so that no picture
// changes: a code not in the table yet stands for the previous string and index 2 (and the entry it
// defines is made of those); a string whose chain is broken, an end code before the frame is full, or a
// code whose bits the data does not hold stops decoding. What came before that code is kept, so a cut
// or broken frame shows the pixels it got.
// Not thread-safe; one decoder serves one frame at a time and keeps its tables between frames.

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform::detail {

class GIFLZWDecoder {
public:
    // Bytes that must follow the data and the output (any values): the reader loads whole words and
    // short strings are copied in one fixed-size move.
    static constexpr size_t inputSlack = 8;
    static constexpr size_t outputSlack = 16;

    // Decodes codes of `minimumCodeSize` (0 to 8) into out, at most pixelCount indices; returns how many
    // were made before the data stopped or broke.
    size_t decode(int minimumCodeSize, const uint8_t* data, size_t length, uint8_t* out, size_t pixelCount);

private:
    static constexpr uint32_t tableSize = 4096;
    static constexpr uint16_t noCode = 4098;

    struct Run;
    bool copyCode(Run& run, uint32_t code);
    bool chainCode(Run& run, uint32_t code);
    uint32_t firstIndexOf(uint32_t code, uint32_t clearCode) const;

    // Where each string defined since the last clear lies in the output: every entry is an earlier
    // string plus the first index of the one after it, and the two were written side by side.
    struct Entry {
        uint32_t start{0};
        uint32_t length{0};
    };
    std::array<Entry, tableSize> m_table{};
    // The same entries as a prefix code and a last index, for the strings that cannot be copied.
    std::array<uint16_t, tableSize> m_prefix{};
    std::array<uint8_t, tableSize> m_suffix{};
    std::array<uint8_t, tableSize> m_stack{};
};

} // namespace platform::detail
