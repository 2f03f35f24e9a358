#pragma once
// Fixtures for the codec tests: images made by Pillow (Debian's /usr/bin/python3) at test time, a small
// GIF writer that gives full control over frames (offsets, palettes, disposal, delays, interlace), PNG
// chunk helpers for hand-made headers, and bitmap patterns.

#include "platform/foundation/Data.h"
#include "platform/foundation/Paths.h"
#include "platform/graphics/Bitmap.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace codectest {

using platform::Bitmap;
using platform::Data;

// Runs `body` after "from PIL import Image, ImageDraw; import io; out = io.BytesIO()"; whatever the body
// writes to `out` comes back. Empty when Python or Pillow is missing or the script fails.
inline std::optional<Data> pillow(std::string_view body) {
    std::filesystem::path script = platform::Paths::temporary() / "fixture.py";
    {
        std::ofstream file(script);
        file << "import io, sys, struct, zlib\nfrom PIL import Image, ImageDraw\nout = io.BytesIO()\n"
             << body << "\nsys.stdout.buffer.write(out.getvalue())\n";
    }
    std::string command = "/usr/bin/python3 '" + script.string() + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::vector<uint8_t> bytes;
    std::array<uint8_t, 65536> chunk;
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
    if (pclose(pipe) != 0 || bytes.empty())
        return std::nullopt;
    return Data(std::move(bytes));
}

#define PILLOW_OR_SKIP(var, body)                                                                            \
    std::optional<platform::Data> var##Maybe = codectest::pillow(body);                                      \
    if (!var##Maybe)                                                                                         \
        GTEST_SKIP() << "Pillow under /usr/bin/python3 is needed for this fixture";                          \
    const platform::Data& var = *var##Maybe

inline uint32_t crc32(const uint8_t* bytes, size_t length, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

inline void appendBigEndian(std::vector<uint8_t>& out, uint32_t v) {
    out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

inline void appendPNGChunk(std::vector<uint8_t>& out, const char type[4],
                           const std::vector<uint8_t>& payload) {
    appendBigEndian(out, uint32_t(payload.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), payload.begin(), payload.end());
    appendBigEndian(out, crc32(out.data() + start, out.size() - start));
}

// A PNG signature and IHDR of any size, nothing else.
inline std::vector<uint8_t> pngHeader(uint32_t width, uint32_t height, uint8_t depth = 8,
                                      uint8_t colorType = 6) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    appendBigEndian(ihdr, width);
    appendBigEndian(ihdr, height);
    ihdr.insert(ihdr.end(), {depth, colorType, 0, 0, 0});
    appendPNGChunk(out, "IHDR", ihdr);
    return out;
}

// A PNG writer in Python that covers what Pillow cannot write: every depth, tRNS on any type, Adam7.
// Each case is printed as a 4-byte length and the file.
inline constexpr const char* rawPNGWriter = R"(
def chunk(t, d):
    return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)

def rawpng(w, h, depth, ctype, pixels, interlace=0, extra=b''):
    spp = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ctype]
    def pack_row(row):
        if depth >= 8:
            return struct.pack('>' + ('B' if depth == 8 else 'H') * (len(row) * spp), *[s for px in row for s in px])
        bits = ''.join(format(px[0], '0%db' % depth) for px in row)
        bits += '0' * (-len(bits) % 8)
        return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))
    raw = b''
    if interlace:
        for (x0, y0, dx, dy) in [(0,0,8,8), (4,0,8,8), (0,4,4,8), (2,0,4,4), (0,2,2,4), (1,0,2,2), (0,1,1,2)]:
            for y in range(y0, h, dy):
                row = [pixels[y][x] for x in range(x0, w, dx)]
                if row:
                    raw += b'\0' + pack_row(row)
    else:
        for y in range(h):
            raw += b'\0' + pack_row(pixels[y])
    ihdr = struct.pack('>IIBBBBB', w, h, depth, ctype, 0, 0, interlace)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + extra + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b'')

def emit(png):
    out.write(struct.pack('>I', len(png)) + png)
)";

// Splits what a fixture script emitted (each case a 4-byte big-endian length and the bytes).
inline std::vector<Data> splitCases(const Data& all) {
    std::vector<Data> cases;
    size_t at = 0;
    while (at + 4 <= all.length()) {
        const uint8_t* b = all.bytes() + at;
        size_t n = (size_t(b[0]) << 24) | (size_t(b[1]) << 16) | (size_t(b[2]) << 8) | b[3];
        cases.push_back(all.subdata(at + 4, n));
        at += 4 + n;
    }
    return cases;
}

// Straight RGBA for pattern making; packed into the bitmap's premultiplied words.
inline std::shared_ptr<Bitmap> patternBitmap(int width, int height, bool alpha) {
    auto bitmap = Bitmap::create(width, height,
                                 alpha ? platform::kCGImageAlphaPremultipliedFirst
                                       : platform::kCGImageAlphaNoneSkipFirst);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t a = alpha ? uint8_t((x * 37 + y * 11) % 256) : 255;
            bitmap->mutableRow(y)[x] =
                Bitmap::premultiply(uint8_t(x * 255 / std::max(1, width - 1)),
                                    uint8_t(y * 255 / std::max(1, height - 1)), uint8_t((x + y) * 7), a);
        }
    }
    return bitmap;
}

// A smooth picture (what lossy codecs keep well): horizontal and vertical ramps.
inline std::shared_ptr<Bitmap> smoothBitmap(int width, int height) {
    auto bitmap = Bitmap::create(width, height, platform::kCGImageAlphaNoneSkipFirst);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bitmap->mutableRow(y)[x] = Bitmap::premultiply(uint8_t(x * 255 / (width - 1)),
                                                           uint8_t(y * 255 / (height - 1)), 128, 255);
    return bitmap;
}

// Writes GIF89a files frame by frame. The image data is LZW with a clear code before the table would grow,
// so every index costs one code of (minimum size + 1) bits: valid, simple and independent of any encoder.
class GifWriter {
public:
    struct Frame {
        int left{0};
        int top{0};
        int width{0};
        int height{0};
        std::vector<uint32_t> localPalette; // 0xRRGGBB; empty: the global one
        int transparent{-1};
        int disposal{0};
        std::optional<int> delayCentiseconds; // none: no graphic control block at all
        bool interlaced{false};
        std::vector<uint8_t> indices; // width * height, row by row in picture order
    };

    GifWriter(int width, int height, std::vector<uint32_t> globalPalette) {
        append("GIF89a");
        appendShort(width);
        appendShort(height);
        bool global = !globalPalette.empty();
        m_out.push_back(uint8_t(global ? 0x80 | 0x70 | (paletteBits(globalPalette.size()) - 1) : 0));
        m_out.push_back(0);
        m_out.push_back(0);
        if (global)
            appendPalette(globalPalette);
    }

    void loop(int count) {
        m_out.insert(m_out.end(), {0x21, 0xFF, 11});
        append("NETSCAPE2.0");
        m_out.insert(m_out.end(), {3, 1});
        appendShort(count);
        m_out.push_back(0);
    }

    void add(const Frame& f) {
        if (f.delayCentiseconds || f.transparent >= 0 || f.disposal) {
            m_out.insert(m_out.end(), {0x21, 0xF9, 4});
            m_out.push_back(uint8_t((f.disposal << 2) | (f.transparent >= 0 ? 1 : 0)));
            appendShort(f.delayCentiseconds.value_or(0));
            m_out.push_back(uint8_t(f.transparent >= 0 ? f.transparent : 0));
            m_out.push_back(0);
        }
        m_out.push_back(0x2C);
        appendShort(f.left);
        appendShort(f.top);
        appendShort(f.width);
        appendShort(f.height);
        bool local = !f.localPalette.empty();
        m_out.push_back(uint8_t((local ? 0x80 | (paletteBits(f.localPalette.size()) - 1) : 0) |
                                (f.interlaced ? 0x40 : 0)));
        if (local)
            appendPalette(f.localPalette);
        std::vector<uint8_t> order;
        if (f.interlaced) {
            static constexpr int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (int y = start[pass]; y < f.height; y += step[pass])
                    order.insert(order.end(), f.indices.begin() + y * f.width,
                                 f.indices.begin() + (y + 1) * f.width);
        } else {
            order = f.indices;
        }
        appendImageData(order);
    }

    // Header plus frames only: no trailer, for data that stops early.
    Data bytesSoFar() const { return Data(m_out.data(), m_out.size()); }
    Data finish() {
        m_out.push_back(0x3B);
        return Data(m_out.data(), m_out.size());
    }

private:
    static int paletteBits(size_t entries) {
        int bits = 1;
        while ((size_t(1) << bits) < entries)
            ++bits;
        return bits;
    }

    void append(std::string_view text) { m_out.insert(m_out.end(), text.begin(), text.end()); }
    void appendShort(int v) {
        m_out.push_back(uint8_t(v & 0xFF));
        m_out.push_back(uint8_t((v >> 8) & 0xFF));
    }
    void appendPalette(const std::vector<uint32_t>& palette) {
        size_t entries = size_t(1) << paletteBits(palette.size());
        for (size_t i = 0; i < entries; ++i) {
            uint32_t c = i < palette.size() ? palette[i] : 0;
            m_out.insert(m_out.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
        }
    }

    void appendImageData(const std::vector<uint8_t>& indices) {
        const int minimum = 8;
        const int codeBits = minimum + 1;
        const uint32_t clear = 1u << minimum, end = clear + 1;
        std::vector<uint8_t> packed;
        uint32_t buffer = 0;
        int filled = 0;
        auto put = [&](uint32_t code) {
            buffer |= code << filled;
            filled += codeBits;
            while (filled >= 8) {
                packed.push_back(uint8_t(buffer & 0xFF));
                buffer >>= 8;
                filled -= 8;
            }
        };
        // The decoder adds a table entry per code after the first; clearing well before 512 keeps 9 bits.
        int sinceClear = 0;
        put(clear);
        for (uint8_t index : indices) {
            if (sinceClear == 250) {
                put(clear);
                sinceClear = 0;
            }
            put(index);
            ++sinceClear;
        }
        put(end);
        if (filled > 0)
            packed.push_back(uint8_t(buffer & 0xFF));
        m_out.push_back(uint8_t(minimum));
        for (size_t i = 0; i < packed.size(); i += 255) {
            size_t n = std::min<size_t>(255, packed.size() - i);
            m_out.push_back(uint8_t(n));
            m_out.insert(m_out.end(), packed.begin() + i, packed.begin() + i + n);
        }
        m_out.push_back(0);
    }

    std::vector<uint8_t> m_out;
};

inline GifWriter::Frame solidFrame(int left, int top, int width, int height, uint8_t index) {
    GifWriter::Frame f;
    f.left = left;
    f.top = top;
    f.width = width;
    f.height = height;
    f.indices.assign(size_t(width) * size_t(height), index);
    return f;
}

} // namespace codectest
