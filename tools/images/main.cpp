// Draws the committed images of the resources folder: `liveapp_images <resources folder>`.
#include "tools/images/ImageCatalog.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <resources folder>\n", argv[0]);
        return 2;
    }
    std::string error;
    if (!liveapp::images::writeCatalog(argv[1], &error)) {
        std::fprintf(stderr, "liveapp_images: %s\n", error.c_str());
        return 1;
    }
    for (const auto& image : liveapp::images::catalog())
        for (int scale : liveapp::images::catalogScales())
            std::printf("%s\n", liveapp::images::fileName(image, scale).c_str());
    return 0;
}
