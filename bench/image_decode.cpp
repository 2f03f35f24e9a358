// Image decoding: a 1080 x 1920 JPEG (a phone-sized photo) and a 30-frame 400 x 400 GIF (an animated
// gift), both made in setup. Each is measured through ImageSource (what the image cache and downloads
// use) and through the plain library decode of the same bytes: libjpeg-turbo into a BGRA buffer, and
// giflib's DGifSlurp (every frame's indices, no compositing). The ratio is our overhead: for JPEG the
// bitmap and checks, for GIF the composition of each frame onto the screen. The GIF benchmarks report
// allocs, the operator new calls per GIF (giflib's own mallocs are not among them).
#include "AllocationCount.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/ImageEncoder.h"
#include "platform/graphics/ImageSource.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <gif_lib.h>
#include <jpeglib.h>
#include <vector>

using namespace platform;

namespace {

const Data& photoJPEG() {
    static const Data data = [] {
        auto bitmap = Bitmap::create(1080, 1920, kCGImageAlphaNoneSkipFirst);
        uint32_t noise = 12345;
        for (int y = 0; y < 1920; ++y) {
            uint32_t* row = bitmap->mutableRow(y);
            for (int x = 0; x < 1080; ++x) {
                noise = noise * 1103515245 + 12345;
                int n = int((noise >> 16) & 15);
                int r = int(128 + 100 * std::sin(x / 90.0)) + n;
                int g = int(128 + 100 * std::cos(y / 140.0)) + n;
                int b = (x + y) / 12 % 256;
                row[x] = Bitmap::premultiply(uint8_t(std::clamp(r, 0, 255)), uint8_t(std::clamp(g, 0, 255)),
                                             uint8_t(b), 255);
            }
        }
        return *encodeJPEG(*bitmap, 0.85);
    }();
    return data;
}

int appendTo(GifFileType* gif, const GifByteType* bytes, int length) {
    static_cast<std::vector<uint8_t>*>(gif->UserData)
        ->insert(static_cast<std::vector<uint8_t>*>(gif->UserData)->end(), bytes, bytes + length);
    return length;
}

const Data& animatedGIF() {
    static const Data data = [] {
        constexpr int side = 400, frames = 30, sprite = 200;
        std::vector<uint8_t> out;
        int error = 0;
        GifFileType* gif = EGifOpen(&out, appendTo, &error);
        EGifSetGifVersion(gif, true);
        GifColorType colours[256];
        for (int i = 0; i < 256; ++i)
            colours[i] = {GifByteType(i), GifByteType(255 - i), GifByteType(i * 7)};
        ColorMapObject* map = GifMakeMapObject(256, colours);
        EGifPutScreenDesc(gif, side, side, 8, 0, map);
        const GifByteType loop[] = {1, 0, 0};
        EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
        EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
        EGifPutExtensionBlock(gif, 3, loop);
        EGifPutExtensionTrailer(gif);
        std::vector<GifPixelType> line(side);
        for (int f = 0; f < frames; ++f) {
            // The first frame paints the whole screen; the rest move a sprite with a transparent corner.
            int size = f == 0 ? side : sprite;
            int left = f == 0 ? 0 : (f * 7) % (side - sprite), top = f == 0 ? 0 : (f * 13) % (side - sprite);
            const GifByteType control[] = {GifByteType((1 << 2) | 1), 4, 0, 0};
            EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control);
            EGifPutImageDesc(gif, left, top, size, size, false, nullptr);
            for (int y = 0; y < size; ++y) {
                for (int x = 0; x < size; ++x)
                    line[size_t(x)] = (x < 20 && y < 20) ? 0 : GifPixelType(((x / 8) ^ (y / 8)) * 3 + f);
                EGifPutLine(gif, line.data(), size);
            }
        }
        EGifCloseFile(gif, &error);
        GifFreeMapObject(map);
        return Data(std::move(out));
    }();
    return data;
}

void BM_ImageSourceJPEG(benchmark::State& state) {
    const Data& data = photoJPEG();
    for (auto _ : state) {
        auto bitmap = ImageSource::create(data)->createImageAtIndex(0);
        if (!bitmap || bitmap->height() != 1920)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(bitmap);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.length()));
}
BENCHMARK(BM_ImageSourceJPEG)->Unit(benchmark::kMillisecond);

void BM_LibjpegTurboJPEG(benchmark::State& state) {
    const Data& data = photoJPEG();
    std::vector<uint8_t> pixels(size_t(1080) * 1920 * 4);
    for (auto _ : state) {
        jpeg_decompress_struct cinfo;
        jpeg_error_mgr error;
        cinfo.err = jpeg_std_error(&error);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, data.bytes(), data.length());
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_EXT_BGRA;
        jpeg_start_decompress(&cinfo);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = pixels.data() + size_t(cinfo.output_scanline) * cinfo.output_width * 4;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.length()));
}
BENCHMARK(BM_LibjpegTurboJPEG)->Unit(benchmark::kMillisecond);

void BM_ImageSourceGIFAllFrames(benchmark::State& state) {
    const Data& data = animatedGIF();
    bench::AllocationCount allocations(state, 1);
    for (auto _ : state) {
        auto source = ImageSource::create(data);
        size_t count = source->count();
        if (count != 30)
            state.SkipWithError("wrong frame count");
        for (size_t i = 0; i < count; ++i) {
            auto frame = source->createImageAtIndex(i);
            if (!frame)
                state.SkipWithError("frame failed");
            benchmark::DoNotOptimize(frame);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 30);
}
BENCHMARK(BM_ImageSourceGIFAllFrames)->Unit(benchmark::kMillisecond);

int readFrom(GifFileType* gif, GifByteType* out, int wanted) {
    auto* reader = static_cast<std::pair<const Data*, size_t>*>(gif->UserData);
    size_t n = std::min(size_t(wanted), reader->first->length() - reader->second);
    std::memcpy(out, reader->first->bytes() + reader->second, n);
    reader->second += n;
    return int(n);
}

void BM_GiflibSlurp(benchmark::State& state) {
    const Data& data = animatedGIF();
    bench::AllocationCount allocations(state, 1);
    for (auto _ : state) {
        std::pair<const Data*, size_t> reader{&data, 0};
        int error = 0;
        GifFileType* gif = DGifOpen(&reader, readFrom, &error);
        if (!gif || DGifSlurp(gif) != GIF_OK || gif->ImageCount != 30)
            state.SkipWithError("slurp failed");
        benchmark::DoNotOptimize(gif->SavedImages);
        DGifCloseFile(gif, &error);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 30);
}
BENCHMARK(BM_GiflibSlurp)->Unit(benchmark::kMillisecond);

// What the image cache does with GIF data: every frame made into an image of an animation.
void BM_UIImageAnimatedGIF(benchmark::State& state) {
    const Data& data = animatedGIF();
    bench::AllocationCount allocations(state, 1);
    for (auto _ : state) {
        auto source = ImageSource::create(data);
        std::vector<UIImagePtr> frames;
        for (size_t i = 0; i < source->count(); ++i)
            frames.push_back(UIImage::imageWithCGImage(source->createImageAtIndex(i)));
        auto image = UIImage::animatedImageWithImages(std::move(frames), 1.2);
        benchmark::DoNotOptimize(image);
    }
}
BENCHMARK(BM_UIImageAnimatedGIF)->Unit(benchmark::kMillisecond);

// The floor under the animated image: only making the 30 frames' pixel memory and filling it once, as
// any decoder into kept bitmaps must. giflib's slurp keeps one byte per pixel of each frame's own
// rectangle; the frames here are four bytes per pixel of the whole screen, fresh pages every time.
void BM_AnimatedFrameMemoryFloor(benchmark::State& state) {
    bench::AllocationCount allocations(state, 1);
    for (auto _ : state) {
        std::vector<std::vector<uint8_t>> frames;
        for (int i = 0; i < 30; ++i) {
            frames.emplace_back(size_t(400) * 400 * 4);
            benchmark::DoNotOptimize(frames.back().data());
        }
    }
}
BENCHMARK(BM_AnimatedFrameMemoryFloor)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
