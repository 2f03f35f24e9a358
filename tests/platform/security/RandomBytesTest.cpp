#include "platform/security/RandomBytes.h"

#include <gtest/gtest.h>
#include <set>

using namespace platform;

TEST(RandomBytes, AnswersTheAskedLengthAndFreshBytesEachTime) {
    auto first = randomBytes(32);
    auto second = randomBytes(32);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->length(), 32u);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(randomBytes(0)->length(), 0u);

    uint8_t buffer[1000] = {};
    EXPECT_EQ(copyRandomBytes(buffer, sizeof buffer), errSecSuccess);
    std::set<uint8_t> seen(std::begin(buffer), std::end(buffer));
    EXPECT_GT(seen.size(), 200u); // 1000 uniform bytes cover far more than 200 values

    std::set<uint32_t> values;
    for (int i = 0; i < 100; ++i)
        values.insert(randomUInt32());
    EXPECT_GT(values.size(), 95u);
}
