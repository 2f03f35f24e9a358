// GIF through giflib's record-level reader. A first pass walks the structure without decompressing any
// pixels (frame rectangles, palettes, graphic control blocks, the loop count), so counting frames and
// reading their properties is cheap. Pixels come from a second reader that moves forwards through the
// frames, compositing each onto the logical screen; asking for an earlier frame starts it again. That
// reader takes each frame's image data as raw sub-blocks and decompresses them itself, a whole frame at
// a time, and draws the frame straight onto the pixels of the image it becomes, so that making the
// frames' memory is most of what decoding an animation costs. giflib reports errors by return value and
// prints nothing.

#include "platform/graphics/ImageDecoder.h"
#include "platform/graphics/ImageDecoderGIFLZW.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <gif_lib.h>
#include <sys/mman.h>
#include <vector>

namespace platform::detail {
namespace {

// More frames than this is not an animation anyone can watch; the rest are ignored.
constexpr size_t maxFrames = 100000;

struct Reader {
    const uint8_t* bytes{nullptr};
    size_t length{0};
    size_t position{0};
};

int readBytes(GifFileType* gif, GifByteType* out, int wanted) {
    auto* reader = static_cast<Reader*>(gif->UserData);
    size_t n = std::min(size_t(std::max(wanted, 0)), reader->length - reader->position);
    if (n == 0)
        return 0;
    std::memcpy(out, reader->bytes + reader->position, n);
    reader->position += n;
    return int(n);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

GifHandle open(Reader& reader) {
    int error = 0;
    return GifHandle(DGifOpen(&reader, readBytes, &error));
}

struct Frame {
    int left{0};
    int top{0};
    int width{0};
    int height{0};
    bool interlaced{false};
    // Each index's pixel; 0 (never a palette colour, which is opaque) leaves what is under it.
    std::array<uint32_t, 256> colours{};
    int disposal{0};
    std::optional<double> delay;
};

// Skips the rest of a record's sub-blocks; false when the data ends first.
bool skipExtension(GifFileType* gif) {
    GifByteType* block = nullptr;
    do {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
            return false;
    } while (block);
    return true;
}

bool skipImageData(GifFileType* gif) {
    int codeSize = 0;
    GifByteType* block = nullptr;
    if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR)
        return false;
    while (block) {
        if (DGifGetCodeNext(gif, &block) == GIF_ERROR)
            return false;
    }
    return true;
}

class GIFDecoder final : public ImageDecoder {
public:
    GIFDecoder(Data data, const ImageDecodeOptions& options)
        : m_data(std::move(data))
        , m_budget(options)
        , m_requireComplete(options.requireComplete) {}

    size_t count() override {
        scan();
        return m_frames.size();
    }

    std::optional<ImageProperties> properties(size_t index) override {
        scan();
        if (index >= m_frames.size())
            return std::nullopt;
        ImageProperties p;
        p.pixelWidth = m_width;
        p.pixelHeight = m_height;
        p.hasAlpha = true;
        p.colorModel = kCGColorSpaceModelIndexed;
        p.depth = 8;
        p.gifDelayTime = m_frames[index].delay;
        p.loopCount = m_loopCount;
        return p;
    }

    CGImageRef decode(size_t index) override {
        scan();
        if (index >= m_frames.size())
            return nullptr;
        if (!m_cursor || index < m_next)
            restart();
        while (m_cursor && m_next <= index) {
            if (!compositeNext())
                m_cursor.reset(); // the data ends inside this frame: what was drawn stays, nothing follows
        }
        if (m_next <= index || (m_requireComplete && m_cutFrame && *m_cutFrame <= index))
            return nullptr;
        if (!m_budget.spend(m_width, m_height))
            return nullptr;
        // The screen becomes the image; the next frame is drawn on a copy of it.
        if (!m_shown)
            m_shown = Bitmap::createWithPixels(m_width, m_height, size_t(m_width) * 4, std::move(m_screen),
                                               kCGImageAlphaPremultipliedFirst, kCGColorSpaceModelRGB);
        m_screen.clear();
        return m_shown;
    }

private:
    void scan() {
        if (m_scanned)
            return;
        m_scanned = true;
        Reader reader{m_data.bytes(), m_data.length()};
        GifHandle gif = open(reader);
        if (!gif)
            return;
        m_width = gif->SWidth;
        m_height = gif->SHeight;
        m_global = readPalette(gif->SColorMap);
        Frame pending;
        int transparent = -1;
        bool done = false;
        while (!done && m_frames.size() < maxFrames) {
            GifRecordType type;
            if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR)
                break;
            switch (type) {
            case EXTENSION_RECORD_TYPE: {
                int code = 0;
                GifByteType* block = nullptr;
                if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR)
                    done = true;
                else if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
                    pending.disposal = (block[1] >> 2) & 7;
                    pending.delay = (block[2] | (block[3] << 8)) / 100.0;
                    transparent = (block[1] & 1) ? block[4] : -1;
                } else if (code == APPLICATION_EXT_FUNC_CODE && block && block[0] >= 11 &&
                           std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0) {
                    if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) {
                        done = true;
                        break;
                    }
                    if (block && block[0] >= 3 && block[1] == 1)
                        m_loopCount = block[2] | (block[3] << 8);
                }
                if (!done && block && !skipExtension(gif.get()))
                    done = true;
                break;
            }
            case IMAGE_DESC_RECORD_TYPE: {
                if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
                    done = true;
                    break;
                }
                const GifImageDesc& d = gif->Image;
                Frame frame = pending;
                pending = Frame{};
                frame.left = d.Left;
                frame.top = d.Top;
                frame.width = d.Width;
                frame.height = d.Height;
                frame.interlaced = d.Interlace;
                frame.colours = d.ColorMap ? readPalette(d.ColorMap) : m_global;
                if (transparent >= 0)
                    frame.colours[size_t(transparent)] = 0;
                transparent = -1;
                // A frame no image could hold ends the animation before its pixels cost anything.
                if (frame.width > 0 && frame.height > 0 && !m_budget.allows(frame.width, frame.height)) {
                    done = true;
                    break;
                }
                if (m_frames.empty() && (m_width <= 0 || m_height <= 0)) {
                    m_width = frame.left + frame.width;
                    m_height = frame.top + frame.height;
                }
                m_frames.push_back(frame);
                if (!skipImageData(gif.get()))
                    done = true;
                break;
            }
            case TERMINATE_RECORD_TYPE:
            default:
                done = true;
                break;
            }
        }
        // A screen no image may have means no frames at all.
        if (!m_budget.allows(m_width, m_height))
            m_frames.clear();
    }

    // Indices past the end of the palette draw nothing.
    static std::array<uint32_t, 256> readPalette(const ColorMapObject* map) {
        std::array<uint32_t, 256> palette{};
        if (!map || !map->Colors)
            return palette;
        int size = std::clamp(map->ColorCount, 0, 256);
        for (int i = 0; i < size; ++i) {
            const GifColorType& c = map->Colors[i];
            palette[i] = 0xFF000000u | (uint32_t(c.Red) << 16) | (uint32_t(c.Green) << 8) | c.Blue;
        }
        return palette;
    }

    void restart() {
        m_cursor.reset();
        m_cursorReader = Reader{m_data.bytes(), m_data.length()};
        m_cursor = open(m_cursorReader);
        m_next = 0;
        m_screen.clear();
        m_shown.reset();
        m_saved.clear();
    }

    // Reads up to and through the next frame's pixels, drawing them; false when the data ends or breaks.
    bool compositeNext() {
        GifFileType* gif = m_cursor.get();
        for (;;) {
            GifRecordType type;
            if (DGifGetRecordType(gif, &type) == GIF_ERROR)
                return false;
            if (type == EXTENSION_RECORD_TYPE) {
                int code = 0;
                GifByteType* block = nullptr;
                if (DGifGetExtension(gif, &code, &block) == GIF_ERROR || (block && !skipExtension(gif)))
                    return false;
                continue;
            }
            if (type != IMAGE_DESC_RECORD_TYPE)
                return false;
            if (DGifGetImageDesc(gif) == GIF_ERROR)
                return false;
            break;
        }
        const Frame& frame = m_frames[m_next];
        // Over a screen handed out with nothing to undo or keep, the frame is drawn into the copy row by
        // row as the rows are copied, while they are still in the cache.
        bool drawWhileCopying = m_screen.empty() && m_shown && frame.disposal != 3 &&
                                (m_next == 0 || !undoes(m_frames[m_next - 1]));
        if (!drawWhileCopying) {
            prepareScreen();
            if (m_next > 0)
                dispose(m_frames[m_next - 1]);
            if (frame.disposal == 3)
                m_saved = m_screen;
        }
        ++m_next;
        if (!drawFrame(gif, frame, drawWhileCopying)) {
            m_cutFrame = m_next - 1;
            return false;
        }
        return true;
    }

    bool drawFrame(GifFileType* gif, const Frame& frame, bool whileCopying) {
        size_t lines = 0;
        bool whole;
        if (frame.width > 0 && frame.height > 0) {
            lines = decodeRows(gif, frame);
            whole = lines == size_t(frame.height);
        } else {
            whole = skipImageData(gif);
        }
        if (whileCopying)
            copyScreenDrawing(frame, lines);
        else
            drawRows(frame, lines);
        return whole;
    }

    // The frame's indices in m_indices, row after row as stored; the number of whole rows read.
    size_t decodeRows(GifFileType* gif, const Frame& frame) {
        int codeSize = 0;
        bool whole = readImageData(gif, codeSize);
        size_t width = size_t(frame.width);
        size_t pixelCount = width * size_t(frame.height);
        if (m_indicesCapacity < pixelCount + GIFLZWDecoder::outputSlack) {
            // Left uninitialised: a frame whose data breaks off early touches only what it wrote.
            m_indicesCapacity = pixelCount + GIFLZWDecoder::outputSlack;
            m_indices.reset(new uint8_t[m_indicesCapacity]);
        }
        size_t produced =
            m_lzw.decode(codeSize, m_imageData.data(), m_imageData.size() - GIFLZWDecoder::inputSlack,
                         m_indices.get(), pixelCount);
        size_t lines = produced / width;
        // The data is read to its end with the last line, so a frame whose data breaks off after its
        // pixels still lacks that line (and the next record could not be found).
        if (lines == size_t(frame.height) && !whole)
            --lines;
        return lines;
    }

    static constexpr int passStart[] = {0, 4, 2, 1};
    static constexpr int passStep[] = {8, 8, 4, 2};

    void drawRows(const Frame& frame, size_t lines) {
        int passes = frame.interlaced ? 4 : 1;
        size_t line = 0;
        for (int pass = 0; pass < passes; ++pass) {
            int start = frame.interlaced ? passStart[pass] : 0;
            int step = frame.interlaced ? passStep[pass] : 1;
            for (int y = start; y < frame.height && line < lines; y += step, ++line)
                drawRow(frame, y, m_indices.get() + line * size_t(frame.width));
        }
    }

    // Where the frame's row y comes in the stored order: interlaced rows come pass by pass.
    static size_t storedRow(const Frame& frame, int y) {
        if (!frame.interlaced)
            return size_t(y);
        size_t before = 0;
        for (int pass = 0; pass < 4; ++pass) {
            if (y % passStep[pass] == passStart[pass])
                return before + size_t((y - passStart[pass]) / passStep[pass]);
            if (frame.height > passStart[pass])
                before += size_t((frame.height - passStart[pass] + passStep[pass] - 1) / passStep[pass]);
        }
        return before;
    }

    static bool undoes(const Frame& frame) { return frame.disposal == 2 || frame.disposal == 3; }

    void copyScreenDrawing(const Frame& frame, size_t lines) {
        const uint8_t* from = m_shown->pixels();
        size_t rowBytes = size_t(m_width) * 4;
        reserveScreen();
        int64_t top = std::clamp<int64_t>(frame.top, 0, m_height);
        int64_t bottom = std::clamp<int64_t>(int64_t(frame.top) + (lines ? frame.height : 0), top, m_height);
        m_screen.insert(m_screen.end(), from, from + size_t(top) * rowBytes);
        for (int64_t y = top; y < bottom; ++y) {
            m_screen.insert(m_screen.end(), from + size_t(y) * rowBytes, from + size_t(y + 1) * rowBytes);
            int frameRow = int(y - frame.top);
            size_t line = storedRow(frame, frameRow);
            if (line < lines)
                drawRow(frame, frameRow, m_indices.get() + line * size_t(frame.width));
        }
        m_screen.insert(m_screen.end(), from + size_t(bottom) * rowBytes, from + size_t(m_height) * rowBytes);
        m_shown.reset();
    }

    // The frame's image data sub-blocks joined in m_imageData (with the decoder's slack after them);
    // false when the data breaks off before the block that ends them.
    bool readImageData(GifFileType* gif, int& codeSize) {
        m_imageData.clear();
        m_imageData.reserve(imageDataLengthAhead() + GIFLZWDecoder::inputSlack);
        GifByteType* block = nullptr;
        bool whole = DGifGetCode(gif, &codeSize, &block) != GIF_ERROR;
        while (whole && block) {
            m_imageData.insert(m_imageData.end(), block + 1, block + 1 + block[0]);
            whole = DGifGetCodeNext(gif, &block) != GIF_ERROR;
        }
        m_imageData.resize(m_imageData.size() + GIFLZWDecoder::inputSlack, 0);
        return whole;
    }

    // How many bytes the sub-blocks from the reader's position hold, walked in the bytes themselves so
    // that they are gathered in one allocation. Only a hint: giflib reads each block as it is needed.
    size_t imageDataLengthAhead() const {
        size_t at = m_cursorReader.position, total = 0;
        while (at < m_data.length() && m_data.bytes()[at] != 0) {
            total += m_data.bytes()[at];
            at += 1 + size_t(m_data.bytes()[at]);
        }
        return total;
    }

    // The screen a frame is drawn on: the one the frames before left, drawn on where it is still ours,
    // copied where it was handed out as an image. Each frame of an animation is kept, so a copy lands
    // in memory the process has not touched yet: its pages are made in one call rather than one fault
    // at a time as the copy reaches them.
    void prepareScreen() {
        if (!m_screen.empty())
            return;
        size_t length = reserveScreen();
        if (m_shown)
            m_screen.assign(m_shown->pixels(), m_shown->pixels() + length);
        else
            m_screen.assign(length, 0);
        m_shown.reset();
    }

    // An empty screen with room for every pixel, its pages made.
    size_t reserveScreen() {
        size_t length = size_t(m_width) * size_t(m_height) * 4;
        m_screen.clear();
        m_screen.reserve(length);
        const uintptr_t pageSize = 4096;
        uintptr_t start = (reinterpret_cast<uintptr_t>(m_screen.data()) + pageSize - 1) & ~(pageSize - 1);
        uintptr_t end = (reinterpret_cast<uintptr_t>(m_screen.data()) + length) & ~(pageSize - 1);
        if (end > start)
            ::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE); // a hint: may fail
        return length;
    }

    uint32_t* screen() { return reinterpret_cast<uint32_t*>(m_screen.data()); }

    void drawRow(const Frame& frame, int y, const uint8_t* indices) {
        int64_t canvasY = int64_t(frame.top) + y;
        if (canvasY < 0 || canvasY >= m_height)
            return;
        int x0 = std::max(0, -frame.left);
        int x1 = int(std::min<int64_t>(frame.width, int64_t(m_width) - frame.left));
        uint32_t* row = screen() + size_t(canvasY) * size_t(m_width) + frame.left;
        const uint32_t* colours = frame.colours.data();
        for (int x = x0; x < x1; ++x) {
            uint32_t colour = colours[indices[x]];
            if (colour)
                row[x] = colour;
        }
    }

    void dispose(const Frame& previous) {
        if (previous.disposal == 2) {
            int64_t x0 = std::max<int64_t>(0, previous.left), y0 = std::max<int64_t>(0, previous.top);
            int64_t x1 = std::min<int64_t>(m_width, int64_t(previous.left) + previous.width);
            int64_t y1 = std::min<int64_t>(m_height, int64_t(previous.top) + previous.height);
            for (int64_t y = y0; y < y1; ++y)
                std::fill_n(screen() + y * m_width + x0, std::max<int64_t>(0, x1 - x0), 0u);
        } else if (previous.disposal == 3 && !m_saved.empty()) {
            std::copy(m_saved.begin(), m_saved.end(), m_screen.begin());
        }
    }

    Data m_data;
    PixelBudget m_budget;
    bool m_scanned{false};
    int m_width{0};
    int m_height{0};
    std::array<uint32_t, 256> m_global{};
    std::optional<int32_t> m_loopCount;
    std::vector<Frame> m_frames;
    bool m_requireComplete{false};
    std::optional<size_t> m_cutFrame; // the first frame whose data breaks off

    Reader m_cursorReader;
    GifHandle m_cursor;
    size_t m_next{0};
    // The screen as the frames so far left it: pixels still being drawn, or the image last handed out.
    std::vector<uint8_t> m_screen;
    CGImageRef m_shown;
    std::vector<uint8_t> m_saved;
    GIFLZWDecoder m_lzw;
    std::vector<uint8_t> m_imageData;
    std::unique_ptr<uint8_t[]> m_indices;
    size_t m_indicesCapacity{0};
};

} // namespace

std::unique_ptr<ImageDecoder> makeGIFDecoder(Data data, const ImageDecodeOptions& options) {
    return std::make_unique<GIFDecoder>(std::move(data), options);
}

} // namespace platform::detail
