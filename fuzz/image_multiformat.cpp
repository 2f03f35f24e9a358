// The image loader's decoding of downloaded and cached bytes: wi_imageWithData over any bytes (GIF
// animations, EXIF orientations, every still format), then the forced decode the cache applies. Seeds are
// the image corpora of the codec targets.
#include "imagecache/UIImage+ForceDecode.h"
#include "imagecache/UIImage+MultiFormat.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    platform::Data data(bytes, size);
    platform::UIImagePtr image = wi_imageWithData(data);
    if (!image)
        return 0;
    platform::UIImagePtr decoded = decodedImageWithImage(image);
    if (!decoded || decoded->size() != image->size()) {
        std::fprintf(stderr, "image fuzz: the forced decode changed the image's size\n");
        std::abort();
    }
    return 0;
}
