// Frame decompression, held to what giflib's own line reader makes of the same bytes: every row it
// reads comes out with the same indices, a frame it cannot finish keeps exactly the rows it read, and a
// complete-image decode refuses exactly the frames it cannot finish. Broken streams included: their
// pictures must not change.
#include "platform/graphics/ImageSource.h"

#include <cstring>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace platform;

namespace {

using Indices = std::vector<std::vector<uint8_t>>;

// Index i is drawn as grey i, so a decoded pixel names its index.
uint32_t pixelOf(uint8_t index) {
    return 0xFF000000u | uint32_t(index) * 0x010101u;
}

struct Stream {
    int minimum{2};
    int width{1};
    int height{1};
    bool interlaced{false};
    std::vector<uint8_t> packed;
};

// Codes packed at the widths a decoder reads them: one bit wider each time the table reaches the next
// power of two, back to the start at a clear code, twelve bits at most.
std::vector<uint8_t> pack(int minimum, const std::vector<uint32_t>& codes) {
    std::vector<uint8_t> out;
    uint64_t buffer = 0;
    int filled = 0;
    uint32_t clear = 1u << minimum, next = clear + 2;
    int bits = minimum + 1;
    bool first = true;
    for (uint32_t code : codes) {
        buffer |= uint64_t(code) << filled;
        filled += bits;
        for (; filled >= 8; filled -= 8, buffer >>= 8)
            out.push_back(uint8_t(buffer));
        if (code == clear) {
            next = clear + 2;
            bits = minimum + 1;
            first = true;
            continue;
        }
        if (!first && next < 4096)
            ++next;
        first = false;
        if (next >= (1u << bits) && bits < 12)
            ++bits;
    }
    if (filled > 0)
        out.push_back(uint8_t(buffer));
    return out;
}

// One frame filling the screen, its data in sub-blocks of `blockSize` bytes; `keep` bytes of the file.
std::vector<uint8_t> gifOf(const Stream& stream, size_t blockSize = 255, std::optional<size_t> keep = {}) {
    std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    auto appendShort = [&](int v) { out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    appendShort(stream.width);
    appendShort(stream.height);
    out.insert(out.end(), {0xF7, 0, 0});
    for (int i = 0; i < 256; ++i)
        out.insert(out.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
    out.push_back(0x2C);
    appendShort(0);
    appendShort(0);
    appendShort(stream.width);
    appendShort(stream.height);
    out.push_back(stream.interlaced ? 0x40 : 0);
    out.push_back(uint8_t(stream.minimum));
    for (size_t at = 0; at < stream.packed.size(); at += blockSize) {
        size_t n = std::min(blockSize, stream.packed.size() - at);
        out.push_back(uint8_t(n));
        out.insert(out.end(), stream.packed.begin() + long(at), stream.packed.begin() + long(at + n));
    }
    out.insert(out.end(), {0, 0x3B});
    if (keep)
        out.resize(std::min(*keep, out.size()));
    return out;
}

struct Reader {
    const std::vector<uint8_t>* bytes;
    size_t position{0};
};

int readFrom(GifFileType* gif, GifByteType* out, int wanted) {
    auto* reader = static_cast<Reader*>(gif->UserData);
    size_t n = std::min(size_t(wanted), reader->bytes->size() - reader->position);
    std::memcpy(out, reader->bytes->data() + reader->position, n);
    reader->position += n;
    return int(n);
}

// The rows giflib reads, in the order they are stored, up to the first it cannot.
Indices giflibRows(const std::vector<uint8_t>& bytes, int width, int height) {
    Reader reader{&bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, readFrom, &error);
    Indices rows;
    GifRecordType type;
    if (gif && DGifGetRecordType(gif, &type) != GIF_ERROR && type == IMAGE_DESC_RECORD_TYPE &&
        DGifGetImageDesc(gif) != GIF_ERROR) {
        std::vector<uint8_t> row(static_cast<size_t>(width));
        for (int y = 0; y < height && DGifGetLine(gif, row.data(), width) != GIF_ERROR; ++y)
            rows.push_back(row);
    }
    if (gif)
        DGifCloseFile(gif, &error);
    return rows;
}

// Stored rows in picture order: the passes of an interlaced frame, or as they come.
std::vector<int> pictureRows(int height, bool interlaced) {
    std::vector<int> order;
    static constexpr int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass)
        for (int y = interlaced ? start[pass] : 0; y < height; y += interlaced ? step[pass] : 1)
            order.push_back(y);
    return order;
}

std::vector<uint32_t> screenOf(const Indices& stored, int width, int height, bool interlaced) {
    std::vector<uint32_t> screen(size_t(width) * size_t(height), 0);
    std::vector<int> rows = pictureRows(height, interlaced);
    for (size_t i = 0; i < stored.size(); ++i)
        for (int x = 0; x < width; ++x)
            screen[size_t(rows[i]) * size_t(width) + size_t(x)] = pixelOf(stored[i][size_t(x)]);
    return screen;
}

std::optional<std::vector<uint32_t>> decoded(const std::vector<uint8_t>& bytes, bool requireComplete) {
    ImageDecodeOptions options;
    options.requireComplete = requireComplete;
    auto source = ImageSource::create(Data(bytes.data(), bytes.size()), options);
    CGImageRef image = source ? source->createImageAtIndex(0) : nullptr;
    if (!image)
        return std::nullopt;
    std::vector<uint32_t> screen;
    for (int y = 0; y < image->height(); ++y)
        screen.insert(screen.end(), image->row(y), image->row(y) + image->width());
    return screen;
}

// Both decodes of the bytes against what giflib reads; a message naming the first difference, or empty.
std::string differenceFromGiflib(const std::vector<uint8_t>& bytes, const Stream& stream) {
    Indices rows = giflibRows(bytes, stream.width, stream.height);
    std::vector<uint32_t> expected = screenOf(rows, stream.width, stream.height, stream.interlaced);
    std::optional<std::vector<uint32_t>> partial = decoded(bytes, false);
    if (!partial)
        return "no image where giflib read " + std::to_string(rows.size()) + " rows";
    if (*partial != expected)
        return "pixels differ; giflib read " + std::to_string(rows.size()) + " rows";
    bool whole = rows.size() == size_t(stream.height);
    if (decoded(bytes, true).has_value() != whole)
        return whole ? "a whole frame refused" : "a broken frame accepted as complete";
    return {};
}

// Streams with every kind of code: literals, table entries, the entry being defined, clears, codes not
// in the table, early end codes; a third of them mostly literals with no clear, which fill the table.
std::vector<uint32_t> randomCodes(std::mt19937& random, int minimum, size_t pixels) {
    auto below = [&](uint32_t n) { return uint32_t(random() % n); };
    const uint32_t clear = 1u << minimum, end = clear + 1;
    const bool literalsMostly = below(3) == 0;
    std::vector<uint32_t> codes;
    std::vector<uint32_t> lengths(4096, 1);
    uint32_t next = clear + 2, bits = uint32_t(minimum) + 1, previousLength = 0;
    bool previous = false;
    if (below(4))
        codes.push_back(clear);
    size_t produced = 0, target = below(5) == 0 ? below(uint32_t(pixels) + 1) : pixels + below(20);
    while (produced < target) {
        uint32_t roll = below(1000), code, length = 1;
        if (roll < 3 && !literalsMostly) {
            codes.push_back(clear);
            next = clear + 2, bits = uint32_t(minimum) + 1, previous = false;
            continue;
        }
        if (roll < 4 && !literalsMostly)
            code = end;
        else if (next == 4096 && below(8) == 0)
            code = 4095 - below(3); // a full table's last entries
        else if (roll < 8)
            code = std::min(next + 1 + below(3), (1u << bits) - 1); // not in the table
        else if (!previous || below(100) < (literalsMostly ? 90u : 20u))
            code = below(std::min(clear, 256u));
        else if (below(6) == 0 && next < 4096)
            code = next, length = previousLength + 1;
        else
            code = next > end + 1 ? end + 1 + below(next - end - 1) : below(std::min(clear, 256u));
        if (code > end && code < next)
            length = lengths[code];
        codes.push_back(code);
        if (previous && next < 4096) {
            lengths[next] = previousLength + 1;
            if (++next >= (1u << bits) && bits < 12)
                ++bits;
        }
        previous = true, previousLength = length, produced += length;
    }
    if (below(3))
        codes.push_back(end);
    return codes;
}

} // namespace

TEST(CodecGIFDecompression, BrokenStreamsDecodeAsTheyAlwaysHave) {
    struct Case {
        const char* what;
        int minimum;
        std::vector<uint32_t> codes;
        Indices rows; // 4 wide, in picture order; fewer than 2 when the frame breaks off
    };
    const Case cases[] = {
        {"the entry being defined is the previous string and its first index",
         2,
         {4, 1, 2, 7, 0, 0, 0, 0, 0},
         {{1, 2, 2, 2}, {0, 0, 0, 0}}},
        {"a code not in the table is the previous string and index 2",
         2,
         {4, 1, 7, 0, 0, 0, 0, 0, 0},
         {{1, 1, 2, 0}, {0, 0, 0, 0}}},
        {"the entry such a code defines ends in index 2 too",
         2,
         {4, 1, 7, 6, 0, 0, 0, 0, 0},
         {{1, 1, 2, 1}, {2, 0, 0, 0}}},
        {"a clear forgets the entries before it",
         2,
         {4, 1, 2, 3, 4, 1, 7, 0, 0, 0, 0, 0},
         {{1, 2, 3, 1}, {1, 2, 0, 0}}},
        {"a string made after such a code breaks the frame", 2, {4, 1, 7, 7, 0, 0, 0, 0, 0}, {}},
        {"a first code that is no literal breaks the frame", 2, {4, 6, 0, 0, 0, 0, 0, 0, 0}, {}},
        {"an end code before the last row keeps the rows before it",
         2,
         {4, 1, 1, 1, 1, 5, 0, 0, 0},
         {{1, 1, 1, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Stream stream{c.minimum, 4, 2, false, pack(c.minimum, c.codes)};
        std::vector<uint8_t> bytes = gifOf(stream);
        EXPECT_EQ(decoded(bytes, false), screenOf(c.rows, 4, 2, false));
        EXPECT_EQ(differenceFromGiflib(bytes, stream), "");
    }
}

TEST(CodecGIFDecompression, AFullTableKeepsItsEntriesUntilTheNextClear) {
    // Literals 0 1 2 3 0 1 ... define entries 6 to 4095, each the pair of literals before and at it.
    std::vector<uint32_t> codes = {4};
    std::vector<uint8_t> expected;
    for (uint32_t k = 0; k < 4091; ++k) {
        codes.push_back(k % 4);
        expected.push_back(uint8_t(k % 4));
    }
    // Three more literals define nothing; the last two entries still hold their pairs.
    codes.insert(codes.end(), {3, 3, 3, 4095, 4094});
    expected.insert(expected.end(), {3, 3, 3, 1, 2, 0, 1});
    Stream stream{2, 683, 6, false, pack(2, codes)};
    ASSERT_EQ(expected.size(), size_t(683 * 6));
    Indices rows;
    for (size_t at = 0; at < expected.size(); at += 683)
        rows.emplace_back(expected.begin() + long(at), expected.begin() + long(at + 683));
    std::vector<uint8_t> bytes = gifOf(stream);
    EXPECT_EQ(decoded(bytes, true), screenOf(rows, 683, 6, false));
    EXPECT_EQ(differenceFromGiflib(bytes, stream), "");
}

TEST(CodecGIFDecompression, DataCutAfterTheLastPixelsLosesTheLastRow) {
    Stream stream{2, 4, 2, false, pack(2, {4, 1, 2, 3, 0, 1, 2, 3, 0, 5})};
    std::vector<uint8_t> whole = gifOf(stream);
    // Without the block that ends the image data, the reader never finishes the frame.
    std::vector<uint8_t> cut(whole.begin(), whole.end() - 2);
    EXPECT_EQ(decoded(cut, false), screenOf({{1, 2, 3, 0}}, 4, 2, false));
    EXPECT_FALSE(decoded(cut, true));
    EXPECT_EQ(decoded(whole, true), screenOf({{1, 2, 3, 0}, {1, 2, 3, 0}}, 4, 2, false));
}

TEST(CodecGIFDecompression, RandomStreamsDecodeAsGiflibReadsThem) {
    std::mt19937 random(20240611);
    auto below = [&](uint32_t n) { return uint32_t(random() % n); };
    for (int round = 0; round < 2500; ++round) {
        Stream stream;
        stream.minimum = below(12) == 0 ? int(below(2)) : int(2 + below(7));
        bool large = below(4) == 0;
        stream.width = int(1 + below(large ? 160 : 40));
        stream.height = int(1 + below(large ? 160 : 40));
        stream.interlaced = below(4) == 0;
        stream.packed = pack(stream.minimum, randomCodes(random, stream.minimum,
                                                         size_t(stream.width) * size_t(stream.height)));
        size_t blockSize = below(2) ? 255 : 1 + below(255);
        std::optional<size_t> keep;
        if (below(4) == 0)
            keep =
                800 + stream.packed.size() - below(uint32_t(std::min<size_t>(stream.packed.size(), 60)) + 1);
        std::vector<uint8_t> bytes = gifOf(stream, blockSize, keep);
        std::string difference = differenceFromGiflib(bytes, stream);
        ASSERT_EQ(difference, "") << "round " << round << ", minimum code size " << stream.minimum << ", "
                                  << stream.width << "x" << stream.height;
    }
}
