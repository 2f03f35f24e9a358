#include "platform/foundation/Paths.h"
#include "tools/images/ImageCatalog.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::images;

namespace {

// The committed PNGs must be what the generator draws now: an entry changed without running the
// generator, or a file edited by hand, shows up here.
TEST(CatalogTest, CommittedResourcesMatchTheDrawings) {
    for (const auto& entry : catalog()) {
        for (int scale : catalogScales()) {
            const auto name = fileName(entry, scale);
            auto committed = UIImage::imageWithContentsOfFile(Paths::resources() / name);
            auto drawn = render(entry, scale);
            ASSERT_TRUE(committed) << name << " is missing from resources/";
            ASSERT_TRUE(drawn) << name;
            EXPECT_EQ(committed->scale(), scale) << name;
            EXPECT_EQ(committed->size(), entry.size) << name;
            const auto& a = *committed->CGImage();
            const auto& b = *drawn->CGImage();
            ASSERT_EQ(a.width(), b.width()) << name;
            ASSERT_EQ(a.height(), b.height()) << name;
            int differing = 0;
            for (int y = 0; y < a.height(); ++y)
                for (int x = 0; x < a.width(); ++x)
                    differing += !(a.colorAt(x, y) == b.colorAt(x, y));
            EXPECT_EQ(differing, 0) << name << ": run liveapp_images resources/";
        }
    }
}

} // namespace
