// Decodes any bytes as GIF: every image it holds, with the checks of image_common.h. The decoder is
// called directly so mutations of the leading bytes still reach it.
#include "image_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    platform::Data data(bytes, size);
    imagefuzz::run(platform::detail::makeGIFDecoder(data, imagefuzz::options()));
    return 0;
}
