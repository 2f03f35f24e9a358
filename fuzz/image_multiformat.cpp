// The image loader's decoding of downloaded and cached bytes: wi_imageWithData over any bytes (GIF
// animations, EXIF orientations, every still format), then the forced decode the cache applies. Seeds are
// the image corpora of the codec targets. The complete-image decode a finished download uses may refuse
// what the forgiving one accepts, never the other way round.
#include "imagecache/UIImage+ForceDecode.h"
#include "imagecache/UIImage+MultiFormat.h"
#include "platform/foundation/Fatal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    platform::Data data(bytes, size);
    platform::UIImagePtr image = wi_imageWithData(data);
    platform::ImageDecodeOptions whole;
    whole.requireComplete = true;
    platform::UIImagePtr complete = wi_imageWithData(data, whole);
    platform::fatalUnless(!complete || image, "image fuzz: a complete image the forgiving decode refused");
    if (!image)
        return 0;
    platform::UIImagePtr decoded = decodedImageWithImage(image);
    platform::fatalUnless(decoded && decoded->size() == image->size(),
                          "image fuzz: the forced decode changed the image's size");
    return 0;
}
