#include "platform/security/MD5.h"

#include "CryptoTestSupport.h"
#include "tests/support/ChildProcess.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace platform;
using namespace securitytest;
using namespace liveapp::test;

namespace {
constexpr const char* kHashingAtExitVariable = "LIVEAPP_TEST_HASHING_AT_EXIT";
} // namespace

TEST(MD5Digest, KnownVectorsInEveryForm) {
    EXPECT_EQ(md5Hex(std::string_view("")), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex(std::string_view("abc")), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex(std::string_view("The quick brown fox jumps over the lazy dog"), HexCase::Upper),
              "9E107D9D372BB6826BD81D3542A419D6");
    auto raw = md5(std::string_view("abc"));
    EXPECT_EQ(raw[0], 0x90);
    EXPECT_EQ(raw[15], 0x72);
    EXPECT_EQ(md5Data(Data(std::string_view("abc")).span()).length(), 16u);
    EXPECT_EQ(md5Hex(Data(std::string_view("abc"))), md5Hex(std::string_view("abc")));
    // A text digests as its UTF-8 bytes.
    EXPECT_EQ(md5Hex(std::string_view("直播")), md5Hex(Data(std::string_view("\xe7\x9b\xb4\xe6\x92\xad"))));
}

TEST(MD5Digest, AgreesWithMd5sumOnArbitraryBytes) {
    for (size_t length : {1u, 55u, 56u, 64u, 65u, 1000u, 100000u}) {
        std::string bytes = pseudoRandomBytes(length, static_cast<uint32_t>(length));
        EXPECT_EQ(md5Hex(Data(std::string_view(bytes))), runOn("md5sum", bytes).substr(0, 32)) << length;
    }
}

TEST(HexString, WritesTwoDigitsPerByteInTheAskedCase) {
    const uint8_t bytes[] = {0x00, 0x0f, 0xa0, 0xff};
    EXPECT_EQ(hexString(bytes), "000fa0ff");
    EXPECT_EQ(hexString(bytes, HexCase::Upper), "000FA0FF");
    EXPECT_EQ(hexString({}), "");
}

// Workers may still be hashing (an image download's cache key) while the process ends: the crypto
// library's own clean-up at exit must not free its tables under them. Run in a fresh process of this
// program, which starts four threads hashing without end and then ends as a test program does;
// before the calls under way were waited for, it failed about every other time (a use after free, a
// double free, or a digest the torn-down library could not compute).
TEST(MD5Digest, WorkersStillHashingWhenTheProcessEndsAreNotPulledFromUnder) {
    if (std::getenv(kHashingAtExitVariable)) {
        workOnWhileTheProgramEnds([] { (void)md5(std::string_view("cache key of a picture")); });
        return;
    }
    EXPECT_TRUE(endedCleanly(waitStatusOfThisTestInAChild(kHashingAtExitVariable)));
}
